#include "made_bundles.h"

#include "outpost/class_id.h"
#include "pluginterfaces/base/ipluginbase.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

constexpr auto kFactoryBound = std::chrono::seconds (10);

void idsFromModuleInfo (const fs::path& file, const std::string& bundle, std::map<std::string, std::string>& ids)
{
	std::ifstream in (file, std::ios::binary);
	// The SDK writes JSON5; what we need reads as JSON in the files seen so far.
	const nlohmann::json info = nlohmann::json::parse (in, nullptr, false, true);
	if (!info.is_object () || !info.contains ("Classes") || !info["Classes"].is_array ())
		return;
	for (const nlohmann::json& c : info["Classes"])
	{
		std::string cid;
		if (c.is_object () && Tandem::normaliseClassId (c.value ("CID", std::string ()), cid))
			ids.emplace (cid, bundle);
	}
}

// In a child: loads the library, prints its class ids to `fd`.
[[noreturn]] void printFactoryIds (const std::string& library, int fd)
{
	void* handle = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	using GetFactory = Steinberg::IPluginFactory* (*)();
	auto get = handle ? reinterpret_cast<GetFactory> (::dlsym (handle, "GetPluginFactory")) : nullptr;
	Steinberg::IPluginFactory* factory = get ? get () : nullptr;
	std::string out;
	for (Steinberg::int32 i = 0; factory && i < factory->countClasses (); ++i)
	{
		Steinberg::PClassInfo info {};
		if (factory->getClassInfo (i, &info) != Steinberg::kResultOk)
			continue;
		out += Tandem::classIdText (info.cid) + "\n";
	}
	(void)!::write (fd, out.data (), out.size ());
	::_exit (0);
}

void idsFromFactory (const fs::path& library, const std::string& bundle, std::map<std::string, std::string>& ids)
{
	int pipeFds[2];
	if (::pipe (pipeFds) != 0)
		return;
	const pid_t pid = ::fork ();
	if (pid == 0)
	{
		::close (pipeFds[0]);
		printFactoryIds (library.string (), pipeFds[1]);
	}
	::close (pipeFds[1]);
	if (pid < 0)
	{
		::close (pipeFds[0]);
		return;
	}
	const auto deadline = std::chrono::steady_clock::now () + kFactoryBound;
	int status = 0;
	while (::waitpid (pid, &status, WNOHANG) == 0)
	{
		if (std::chrono::steady_clock::now () > deadline)
		{
			::kill (pid, SIGKILL);
			::waitpid (pid, &status, 0);
			break;
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	std::string text;
	char buffer[4096];
	for (ssize_t n; (n = ::read (pipeFds[0], buffer, sizeof buffer)) > 0;)
		text.append (buffer, static_cast<size_t> (n));
	::close (pipeFds[0]);
	for (size_t begin = 0, end; (end = text.find ('\n', begin)) != std::string::npos; begin = end + 1)
		ids.emplace (text.substr (begin, end - begin), bundle);
}

} // namespace

BundlesInDir bundlesIn (const std::string& dir)
{
	BundlesInDir found;
	std::error_code error;
	for (fs::directory_iterator it (dir, error), end; !error && it != end; it.increment (error))
	{
		const fs::path path = it->path ();
		if (path.extension () != ".vst3" || path.filename ().string ().front () == '.')
			continue;
		MadeBundle bundle;
		std::string why;
		if (fs::is_directory (path) && Tandem::readServedRecord (path.string (), bundle.record, why))
		{
			bundle.name = path.stem ().string ();
			bundle.path = path.string ();
			found.made.push_back (bundle);
		}
		else
		{
			found.others.push_back (path.filename ().string ());
		}
	}
	return found;
}

std::map<std::string, std::string> nativeClassIds (const std::string& dir, const std::vector<std::string>& others)
{
	std::map<std::string, std::string> ids;
	for (const std::string& name : others)
	{
		const fs::path bundle = fs::path (dir) / name;
		const std::string shown = bundle.string ();
		if (fs::exists (bundle / "Contents/Resources/moduleinfo.json"))
		{
			idsFromModuleInfo (bundle / "Contents/Resources/moduleinfo.json", shown, ids);
			continue;
		}
		std::error_code error;
		for (fs::directory_iterator it (bundle / "Contents/x86_64-linux", error), end; !error && it != end;
		     it.increment (error))
			if (it->path ().extension () == ".so")
				idsFromFactory (it->path (), shown, ids);
		if (fs::is_regular_file (bundle))
			idsFromFactory (bundle, shown, ids);
	}
	return ids;
}

} // namespace quillmarlow
