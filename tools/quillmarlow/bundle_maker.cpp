#include "bundle_maker.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

std::string fileId (const std::string& path)
{
	struct stat info
	{};
	if (::stat (path.c_str (), &info) != 0)
		return {};
	return std::to_string (info.st_size) + ":" + std::to_string (info.st_mtim.tv_sec);
}

bool completeBridge (const fs::path& bundle, Bridge& bridge)
{
	bridge.bundle = bundle.string ();
	bridge.library = (bundle / "Contents/x86_64-linux/QuillMarlow.so").string ();
	bridge.outpost = (bundle / "Contents/Resources/outpost.exe").string ();
	bridge.id = fileId (bridge.library);
	return !bridge.id.empty () && fs::exists (bridge.outpost);
}

// The library is a copy, never a link: a host that loads two made bundles
// whose libraries are one file (a hard link, a symbolic link) gets that
// library once, and both bundles would list the first one's classes. The
// copy leaves the debugging information out (a tenth of the size) where
// strip is installed.
bool copyLibrary (const fs::path& from, const fs::path& to, std::error_code& error)
{
	if (!fs::copy_file (from, to, fs::copy_options::overwrite_existing, error))
		return false;
	const pid_t pid = ::fork ();
	if (pid == 0)
	{
		const int null = ::open ("/dev/null", O_WRONLY);
		if (null >= 0)
		{
			::dup2 (null, 1);
			::dup2 (null, 2);
		}
		::execlp ("strip", "strip", "--strip-debug", to.c_str (), static_cast<char*> (nullptr));
		::_exit (127);
	}
	int status = 0;
	if (pid > 0)
		::waitpid (pid, &status, 0);
	return true;
}

// outpost.exe: a hard link where the folder shares the bridge's file system
// (no space taken; a new install replaces the bridge's files rather than
// writing into them), or else a copy.
bool linkOrCopy (const fs::path& from, const fs::path& to, std::error_code& error)
{
	fs::create_hard_link (from, to, error);
	if (!error)
		return true;
	error.clear ();
	return fs::copy_file (from, to, fs::copy_options::overwrite_existing, error);
}

bool writeFile (const fs::path& path, const std::string& text)
{
	std::ofstream out (path, std::ios::binary);
	out << text;
	out.close ();
	return static_cast<bool> (out);
}

nlohmann::json subCategories (const std::string& text)
{
	nlohmann::json list = nlohmann::json::array ();
	std::stringstream in (text);
	for (std::string item; std::getline (in, item, '|');)
		if (!item.empty ())
			list.push_back (item);
	return list;
}

} // namespace

bool findBridge (Bridge& bridge, std::string& error)
{
	char self[4096] = {};
	const ssize_t length = ::readlink ("/proc/self/exe", self, sizeof self - 1);
	if (length > 0)
	{
		const fs::path installed = fs::path (self).parent_path ().parent_path () / "lib/quillmarlow/QuillMarlow.vst3";
		if (completeBridge (installed, bridge))
			return true;
	}
#ifdef QM_BUILD_BUNDLE
	if (completeBridge (QM_BUILD_BUNDLE, bridge))
		return true;
#endif
	error = "the QuillMarlow bundle is not installed beside quillmarlow (lib/quillmarlow/QuillMarlow.vst3): run make "
	        "install";
	return false;
}

std::string moduleInfoJson (const std::string& name, const Tandem::ServedRecord& record)
{
	using nlohmann::json;
	json classes = json::array ();
	std::string version;
	bool bridgeController = false;
	auto add = [&] (const std::string& cid, const std::string& category, const std::string& className,
	                const std::string& vendor, const std::string& classVersion, const std::string& sdk,
	                const std::string& sub, std::uint32_t flags, std::int32_t cardinality) {
		classes.push_back ({{"CID", cid},
		                    {"Category", category},
		                    {"Name", className},
		                    {"Vendor", vendor},
		                    {"Version", classVersion},
		                    {"SDKVersion", sdk},
		                    {"Sub Categories", subCategories (sub)},
		                    {"Class Flags", flags},
		                    {"Cardinality", cardinality},
		                    {"Snapshots", json::array ()}});
	};
	for (const Tandem::ServedClass& c : record.classes)
	{
		if (c.category != Tandem::kAudioModuleClass && c.category != Tandem::kComponentControllerClass)
			continue;
		if (c.category == Tandem::kAudioModuleClass)
		{
			if (version.empty ())
				version = c.version;
			bridgeController = bridgeController || c.controller.empty ();
		}
		add (c.cid, c.category, c.name, c.vendor, c.version, c.sdkVersion, c.subCategories, c.classFlags,
		     c.cardinality);
	}
	// The bridge's own controller, for classes that are their own.
	if (bridgeController)
		add ("87654321876543218765432187654321", Tandem::kComponentControllerClass, "Quill Marlow Controller",
		     record.factory.vendor, "", "", "", 0, 0x7FFFFFFF);
	const json info = {{"Name", name},
	                   {"Version", version},
	                   {"Factory Info",
	                    {{"Vendor", record.factory.vendor},
	                     {"URL", record.factory.url},
	                     {"E-Mail", record.factory.email},
	                     {"Flags",
	                      {{"Unicode", true},
	                       {"Classes Discardable", (record.factory.flags & 1) != 0},
	                       {"Component Non Discardable", (record.factory.flags & 8) != 0}}}}},
	                   {"Compatibility", json::array ()},
	                   {"Classes", classes}};
	return info.dump (2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool makeBundle (const Bridge& bridge, const std::string& dir, const std::string& name,
                 const Tandem::ServedRecord& record, std::string& error)
{
	const fs::path target = fs::path (dir) / (name + ".vst3");
	const std::string pid = std::to_string (::getpid ());
	const fs::path temp = fs::path (dir) / ("." + name + ".vst3.new-" + pid);
	const fs::path old = fs::path (dir) / ("." + name + ".vst3.old-" + pid);
	std::error_code failure;
	fs::remove_all (temp, failure);
	const fs::path linuxDir = temp / "Contents/x86_64-linux";
	const fs::path resources = temp / "Contents/Resources";
	bool ok = fs::create_directories (linuxDir, failure) && fs::create_directories (resources, failure);
	ok = ok && copyLibrary (bridge.library, linuxDir / (name + ".so"), failure);
	ok = ok && linkOrCopy (bridge.outpost, resources / "outpost.exe", failure);
	ok = ok && writeFile (resources / "served.json", Tandem::servedRecordJson (record));
	ok = ok && writeFile (resources / "moduleinfo.json", moduleInfoJson (name, record));
	if (ok && fs::exists (target))
	{
		fs::rename (target, old, failure);
		ok = !failure;
	}
	if (ok)
	{
		fs::rename (temp, target, failure);
		ok = !failure;
		if (!ok)
			fs::rename (old, target, failure);
	}
	std::error_code ignored;
	fs::remove_all (old, ignored);
	if (!ok)
	{
		fs::remove_all (temp, ignored);
		error = "cannot write " + target.string () + (failure ? ": " + failure.message () : std::string ());
	}
	return ok;
}

} // namespace quillmarlow
