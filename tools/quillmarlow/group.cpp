// `quillmarlow group`: sets or clears the instance group in the records of
// made bundles. Every bundle named is checked before any is changed, so a
// mistake in one name changes nothing. Only served.json is rewritten, under
// a temporary name beside it and renamed over it, so that a host's scan
// never reads half a record.
#include "commands.h"

#include "plugin/served_record.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

struct Target
{
	fs::path bundle;
	Tandem::ServedRecord record;
};

// A path (it has a '/') or the name of a bundle in `dir`, with or without
// its ".vst3".
fs::path bundlePath (const std::string& arg, const std::string& dir)
{
	if (arg.find ('/') != std::string::npos)
	{
		std::string path = arg;
		while (path.size () > 1 && path.back () == '/')
			path.pop_back ();
		return fs::absolute (path).lexically_normal ();
	}
	const std::string name = fs::path (arg).extension () == ".vst3" ? arg : arg + ".vst3";
	return fs::path (dir) / name;
}

constexpr int kBusy = -2;

// Takes sync's lock of `folder`: its descriptor, kBusy while a sync holds
// it, -1 where there is no lock file and none can be made.
int lockFolder (const fs::path& folder)
{
	const std::string path = (folder / ".quillmarlow-sync.lock").string ();
	int fd = ::open (path.c_str (), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
	if (fd < 0)
		fd = ::open (path.c_str (), O_RDONLY | O_CLOEXEC);
	if (fd >= 0 && ::flock (fd, LOCK_EX | LOCK_NB) != 0)
	{
		::close (fd);
		return kBusy;
	}
	return fd;
}

bool writeRecord (const Target& target, std::string& error)
{
	const fs::path file = target.bundle / Tandem::kServedRecordFile;
	const fs::path temp = file.string () + ".new-" + std::to_string (::getpid ());
	{
		std::ofstream out (temp, std::ios::binary | std::ios::trunc);
		out << Tandem::servedRecordJson (target.record);
		out.close ();
		if (!out)
		{
			std::error_code ignored;
			fs::remove (temp, ignored);
			error = "cannot write " + temp.string ();
			return false;
		}
	}
	std::error_code failure;
	fs::rename (temp, file, failure);
	if (failure)
	{
		std::error_code ignored;
		fs::remove (temp, ignored);
		error = "cannot replace " + file.string () + ": " + failure.message ();
		return false;
	}
	return true;
}

} // namespace

int groupCommand (const Options& options, const std::string& group, const std::vector<std::string>& bundles)
{
	if (!group.empty () && !Tandem::validGroupName (group))
	{
		std::fprintf (stderr, "quillmarlow: '%s' is not a group name: 1 to 64 of A-Z, a-z, 0-9, '.', '_' and '-'\n",
		              group.c_str ());
		return 1;
	}
	// A sync of a folder writes the records it read when it started: no
	// change while one runs, and none starts before the changes are made.
	std::map<fs::path, int> locks;
	std::vector<Target> targets;
	bool refused = false;
	for (const std::string& arg : bundles)
	{
		Target target;
		target.bundle = bundlePath (arg, options.dir);
		const fs::path folder = target.bundle.parent_path ();
		if (!locks.count (folder))
			locks[folder] = lockFolder (folder);
		std::string why;
		if (!fs::is_directory (target.bundle))
		{
			std::fprintf (stderr, "quillmarlow: %s: there is no bundle folder %s\n", arg.c_str (),
			              target.bundle.c_str ());
			refused = true;
		}
		else if (locks[folder] == kBusy)
		{
			std::fprintf (stderr, "quillmarlow: a sync is running in %s: %s not changed\n", folder.c_str (),
			              target.bundle.filename ().c_str ());
			refused = true;
		}
		else if (!Tandem::readServedRecord (target.bundle.string (), target.record, why))
		{
			std::fprintf (stderr, "quillmarlow: %s was not made by quillmarlow sync (%s): left alone\n",
			              target.bundle.c_str (), why.c_str ());
			refused = true;
		}
		else
		{
			targets.push_back (target);
		}
	}
	int result = 0;
	if (refused)
	{
		std::fprintf (stderr, "quillmarlow: no bundle changed\n");
		result = 1;
	}
	for (size_t i = 0; result == 0 && i < targets.size (); ++i)
	{
		Target& target = targets[i];
		target.record.group = group;
		std::string why;
		if (!writeRecord (target, why))
		{
			std::fprintf (stderr, "quillmarlow: %s\n", why.c_str ());
			result = 1;
		}
		else if (group.empty ())
			std::printf ("ungrouped %s\n", target.bundle.filename ().c_str ());
		else
			std::printf ("grouped  %s in \"%s\"\n", target.bundle.filename ().c_str (), group.c_str ());
	}
	for (const auto& [folder, fd] : locks)
		if (fd >= 0)
			::close (fd);
	return result;
}

} // namespace quillmarlow
