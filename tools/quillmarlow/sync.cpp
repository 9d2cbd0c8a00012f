// `quillmarlow sync`: one Linux bundle per Windows plug-in of the prefix.
// Unchanged plug-ins cost a stat each; new and changed ones are read under
// Wine in one start; bundles of plug-ins that are gone are removed; what
// sync did not make is never touched.
#include "bundle_maker.h"
#include "commands.h"
#include "failed_reads.h"
#include "finder.h"
#include "made_bundles.h"
#include "module_info.h"
#include "reader.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

struct Counts
{
	int added = 0, refreshed = 0, unchanged = 0, removed = 0, skipped = 0;
};

bool moduleStat (const std::string& path, std::int64_t& size, std::int64_t& time)
{
	struct stat info
	{};
	if (::stat (path.c_str (), &info) != 0)
		return false;
	size = info.st_size;
	time = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
	return true;
}

bool servedClass (const Tandem::ServedClass& c)
{
	return c.category == Tandem::kAudioModuleClass || c.category == Tandem::kComponentControllerClass;
}

// Plug-in to be made: found, and what sync knows of it.
struct Work
{
	FoundPlugin found;
	std::string name; // bundle name
	const MadeBundle* made = nullptr;
	std::int64_t size = 0, time = 0;
};

// What an interrupted sync left: bundles written under a temporary name
// (".X.vst3.new-PID", ".X.vst3.old-PID") by a sync that no longer runs.
void removeLeftovers (const std::string& dir)
{
	std::error_code error;
	for (fs::directory_iterator it (dir, error), end; !error && it != end; it.increment (error))
	{
		const std::string name = it->path ().filename ().string ();
		size_t mark = name.rfind (".vst3.new-");
		if (mark == std::string::npos)
			mark = name.rfind (".vst3.old-");
		if (name.front () != '.' || mark == std::string::npos)
			continue;
		const pid_t pid = static_cast<pid_t> (std::atol (name.c_str () + mark + 10));
		if (pid > 0 && pid != ::getpid () && ::kill (pid, 0) == 0)
			continue;
		std::error_code ignored;
		fs::remove_all (it->path (), ignored);
	}
}

bool underUnreadable (const std::string& source, const std::vector<std::string>& unreadable)
{
	for (const std::string& folder : unreadable)
		if (source.compare (0, folder.size () + 1, folder + "/") == 0)
			return true;
	return false;
}

} // namespace

int syncCommand (const Options& options)
{
	const std::string vst3 = options.prefix + "/drive_c/Program Files/Common Files/VST3";
	if (!fs::is_directory (options.prefix))
	{
		std::fprintf (stderr,
		              "quillmarlow: there is no Wine prefix at %s (set WINEPREFIX, or create it: run a plug-in's "
		              "installer with wine)\n",
		              options.prefix.c_str ());
		return 1;
	}
	if (!fs::is_directory (vst3))
	{
		std::fprintf (stderr, "quillmarlow: the prefix has no VST 3 folder: %s (install a plug-in into it first)\n",
		              vst3.c_str ());
		return 1;
	}
	if (::access (vst3.c_str (), R_OK | X_OK) != 0)
	{
		std::fprintf (stderr, "quillmarlow: cannot read %s\n", vst3.c_str ());
		return 1;
	}
	std::error_code error;
	fs::create_directories (options.dir, error);
	if (!fs::is_directory (options.dir) || ::access (options.dir.c_str (), W_OK) != 0)
	{
		std::fprintf (stderr, "quillmarlow: cannot write into %s\n", options.dir.c_str ());
		return 1;
	}
	Bridge bridge;
	std::string why;
	if (!findBridge (bridge, why))
	{
		std::fprintf (stderr, "quillmarlow: %s\n", why.c_str ());
		return 1;
	}

	// One sync at a time in a folder.
	const std::string lockPath = options.dir + "/.quillmarlow-sync.lock";
	const int lock = ::open (lockPath.c_str (), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
	if (lock < 0 || ::flock (lock, LOCK_EX | LOCK_NB) != 0)
	{
		std::fprintf (stderr, "quillmarlow: another sync is running in %s\n", options.dir.c_str ());
		return 1;
	}
	removeLeftovers (options.dir);
	const FoundPlugins found = findPlugins (options.prefix, vst3);
	const BundlesInDir bundles = bundlesIn (options.dir);
	std::map<std::string, const MadeBundle*> madeBySource;
	std::set<std::string> takenNames (bundles.others.begin (), bundles.others.end ());
	for (const MadeBundle& made : bundles.made)
	{
		if (made.record.prefix == options.prefix)
			madeBySource[made.record.source] = &made;
		takenNames.insert (made.name + ".vst3");
	}

	Counts counts;
	FailedReads failedReads;
	for (const std::string& folder : found.unreadable)
	{
		std::printf ("skipped  %s: the folder cannot be read\n", folder.c_str ());
		++counts.skipped;
	}

	// Class ids already served by bundles that stay as they are; each new
	// plug-in's ids are checked against them and against each other.
	std::map<std::string, std::string> servedIds;
	for (const MadeBundle& made : bundles.made)
		if (made.record.prefix != options.prefix)
			for (const Tandem::ServedClass& c : made.record.classes)
				if (servedClass (c))
					servedIds.emplace (c.cid, made.path + " (from the prefix " + made.record.prefix + ")");
	std::vector<Work> toRead;
	std::set<std::string> seenSources;
	for (const FoundPlugin& plugin : found.plugins)
	{
		seenSources.insert (plugin.source);
		if (!plugin.skipped.empty ())
		{
			std::printf ("skipped  %s: %s\n", plugin.relative.c_str (), plugin.skipped.c_str ());
			++counts.skipped;
			continue;
		}
		Work work;
		work.found = plugin;
		const auto made = madeBySource.find (plugin.source);
		work.made = made == madeBySource.end () ? nullptr : made->second;
		moduleStat (plugin.module, work.size, work.time);
		if (work.made && work.made->record.module == plugin.module && work.made->record.moduleSize == work.size &&
		    work.made->record.moduleTime == work.time && work.made->record.bridge == bridge.id)
		{
			std::printf ("unchanged %s (%s.vst3)\n", plugin.relative.c_str (), work.made->name.c_str ());
			++counts.unchanged;
			for (const Tandem::ServedClass& c : work.made->record.classes)
				if (servedClass (c))
					servedIds.emplace (c.cid, plugin.relative);
			continue;
		}
		const std::string failedBefore = failedReads.reason (plugin.module, work.size, work.time, bridge.id);
		if (!failedBefore.empty ())
		{
			std::printf ("skipped  %s: %s (unchanged since then)\n", plugin.relative.c_str (), failedBefore.c_str ());
			++counts.skipped;
			continue;
		}
		toRead.push_back (work);
	}

	// A bundle's own moduleinfo.json answers without Wine; the rest are
	// read under Wine, all in one start.
	std::vector<ModuleClasses> answers (toRead.size ());
	std::vector<size_t> underWine;
	for (size_t i = 0; i < toRead.size (); ++i)
		if (toRead[i].found.source == toRead[i].found.module ||
		    !classesFromModuleInfo (toRead[i].found.source, answers[i]))
			underWine.push_back (i);
	if (!underWine.empty ())
	{
		ReadRequest request;
		request.prefix = options.prefix;
		request.outpost = bridge.outpost;
		for (size_t i : underWine)
			request.windowsModules.push_back (toRead[i].found.windowsModule);
		if (::access (request.wine.c_str (), X_OK) != 0)
		{
			std::fprintf (stderr, "quillmarlow: Wine is not installed (%s): apt-get install wine wine64\n",
			              request.wine.c_str ());
			return 1;
		}
		std::fprintf (stderr, "quillmarlow: reading %zu plug-in%s under Wine...\n", underWine.size (),
		              underWine.size () == 1 ? "" : "s");
		size_t done = 0;
		request.progress = [&] (size_t index, const ModuleClasses&) {
			std::fprintf (stderr, "quillmarlow: [%zu/%zu] %s\n", ++done, underWine.size (),
			              toRead[underWine[index]].found.relative.c_str ());
		};
		std::vector<ModuleClasses> read;
		if (!readModules (request, read, why))
		{
			std::fprintf (stderr, "quillmarlow: %s\n", why.c_str ());
			return 1;
		}
		for (size_t k = 0; k < underWine.size (); ++k)
			answers[underWine[k]] = read[k];
	}

	const std::map<std::string, std::string> nativeIds =
	    toRead.empty () ? std::map<std::string, std::string> {} : nativeClassIds (options.dir, bundles.others);
	for (size_t i = 0; i < toRead.size (); ++i)
	{
		const Work& work = toRead[i];
		const ModuleClasses& answer = answers[i];
		const char* relative = work.found.relative.c_str ();
		auto skip = [&] (const std::string& reason) {
			std::printf ("skipped  %s: %s\n", relative, reason.c_str ());
			++counts.skipped;
		};
		if (!answer.ok)
		{
			failedReads.failed (work.found.module, work.size, work.time, bridge.id, answer.error);
			skip (answer.error);
			continue;
		}
		failedReads.read (work.found.module);
		Tandem::ServedRecord record;
		record.prefix = options.prefix;
		record.source = work.found.source;
		record.module = work.found.module;
		record.windowsModule = work.found.windowsModule;
		record.moduleSize = work.size;
		record.moduleTime = work.time;
		record.bridge = bridge.id;
		record.factory = answer.factory;
		// The user's choice, not the module's: a refreshed bundle keeps it.
		if (work.made)
			record.group = work.made->record.group;
		int audio = 0;
		for (const Tandem::ServedClass& c : answer.classes)
		{
			if (!servedClass (c))
				continue;
			record.classes.push_back (c);
			audio += c.category == Tandem::kAudioModuleClass;
		}
		if (audio == 0)
		{
			skip ("no audio class: not an effect or an instrument");
			continue;
		}
		std::string clash;
		for (const Tandem::ServedClass& c : record.classes)
		{
			if (const auto other = servedIds.find (c.cid); other != servedIds.end () && clash.empty ())
				clash = "class id " + c.cid + " is already served by " + other->second;
			if (const auto native = nativeIds.find (c.cid); native != nativeIds.end () && clash.empty ())
				clash = "class id " + c.cid + " is that of the native plug-in " + native->second;
		}
		if (!clash.empty ())
		{
			skip (clash);
			continue;
		}
		// The name: the plug-in's own, or the one its bundle already has;
		// another plug-in of the same name gets its folder added.
		std::string name = work.made ? work.made->name : work.found.stem;
		if (!work.made && takenNames.count (name + ".vst3"))
		{
			const fs::path owner = fs::path (options.dir) / (name + ".vst3");
			Tandem::ServedRecord theirs;
			std::string notMade;
			if (!Tandem::readServedRecord (owner.string (), theirs, notMade))
			{
				skip (owner.string () + " exists and was not made by quillmarlow: left alone");
				continue;
			}
			const std::string folder = fs::path (work.found.relative).parent_path ().filename ().string ();
			name += " (" + (folder.empty () ? std::string ("2") : folder) + ")";
			if (takenNames.count (name + ".vst3"))
			{
				skip ("another plug-in already has the name " + name);
				continue;
			}
		}
		if (!makeBundle (bridge, options.dir, name, record, why))
		{
			skip (why);
			continue;
		}
		takenNames.insert (name + ".vst3");
		for (const Tandem::ServedClass& c : record.classes)
			servedIds.emplace (c.cid, work.found.relative);
		std::printf ("%s %s -> %s.vst3 (%d class%s)\n", work.made ? "refreshed" : "new     ", relative, name.c_str (),
		             static_cast<int> (record.classes.size ()), record.classes.size () == 1 ? "" : "es");
		++(work.made ? counts.refreshed : counts.added);
	}

	// Bundles of this prefix whose plug-in is gone (not merely unreadable).
	for (const MadeBundle& made : bundles.made)
	{
		if (made.record.prefix != options.prefix || seenSources.count (made.record.source) ||
		    underUnreadable (made.record.source, found.unreadable))
			continue;
		fs::remove_all (made.path, error);
		if (error)
		{
			std::printf ("skipped  %s.vst3: cannot remove it (%s)\n", made.name.c_str (), error.message ().c_str ());
			++counts.skipped;
			continue;
		}
		std::printf ("removed  %s.vst3 (%s is gone)\n", made.name.c_str (), made.record.source.c_str ());
		++counts.removed;
	}

	failedReads.save ();
	std::printf ("%d new, %d refreshed, %d unchanged, %d removed, %d skipped; bundles in %s\n", counts.added,
	             counts.refreshed, counts.unchanged, counts.removed, counts.skipped, options.dir.c_str ());
	if (found.plugins.empty ())
	{
		std::fprintf (stderr, "quillmarlow: no VST 3 plug-ins found in %s\n", vst3.c_str ());
		return 1;
	}
	if (counts.added + counts.refreshed + counts.unchanged == 0)
	{
		std::fprintf (stderr, "quillmarlow: none of the plug-ins found can be served\n");
		return 1;
	}
	return 0;
}

} // namespace quillmarlow
