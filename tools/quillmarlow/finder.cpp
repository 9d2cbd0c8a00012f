#include "finder.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace quillmarlow {

namespace {

bool hasExtension (const fs::path& path, const char* extension)
{
	std::string ext = path.extension ().string ();
	std::transform (ext.begin (), ext.end (), ext.begin (), [] (unsigned char c) { return std::tolower (c); });
	return ext == extension;
}

// C:\... for a path below the prefix's drive_c.
std::string windowsPath (const std::string& prefix, const fs::path& path)
{
	const std::string below = path.lexically_relative (fs::path (prefix) / "drive_c").generic_string ();
	std::string out = "C:\\" + below;
	std::replace (out.begin (), out.end (), '/', '\\');
	return out;
}

void addBundle (const std::string& prefix, const fs::path& bundle, FoundPlugin& found)
{
	const fs::path folder = bundle / "Contents" / "x86_64-win";
	std::vector<fs::path> modules;
	std::error_code error;
	for (fs::directory_iterator it (folder, error), end; !error && it != end; it.increment (error))
		if (hasExtension (it->path (), ".vst3") && !it->is_directory ())
			modules.push_back (it->path ());
	if (modules.empty ())
	{
		found.skipped = fs::exists (bundle / "Contents" / "x86-win")
		                    ? "a 32-bit plug-in only (Contents/x86-win): only 64-bit plug-ins can be served"
		                    : "no 64-bit Windows module in Contents/x86_64-win";
		return;
	}
	if (modules.size () > 1)
	{
		found.skipped =
		    std::to_string (modules.size ()) + " modules in Contents/x86_64-win: cannot tell which is the plug-in";
		return;
	}
	found.module = modules.front ().string ();
	found.windowsModule = windowsPath (prefix, modules.front ());
}

} // namespace

std::string checkWindowsModule (const std::string& path)
{
	std::ifstream in (path, std::ios::binary);
	unsigned char header[64] = {};
	if (!in.read (reinterpret_cast<char*> (header), sizeof header) || header[0] != 'M' || header[1] != 'Z')
		return "not a Windows module";
	const std::uint32_t peOffset =
	    header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | static_cast<std::uint32_t> (header[0x3F]) << 24;
	unsigned char pe[6] = {};
	if (!in.seekg (peOffset) || !in.read (reinterpret_cast<char*> (pe), sizeof pe) || pe[0] != 'P' || pe[1] != 'E' ||
	    pe[2] != 0 || pe[3] != 0)
		return "not a Windows module";
	const unsigned machine = pe[4] | pe[5] << 8;
	if (machine == 0x014C)
		return "a 32-bit module: only 64-bit plug-ins can be served";
	if (machine != 0x8664)
		return "not a 64-bit x86 Windows module";
	return {};
}

FoundPlugins findPlugins (const std::string& prefix, const std::string& vst3Folder)
{
	FoundPlugins result;
	std::vector<fs::path> folders {vst3Folder};
	while (!folders.empty ())
	{
		const fs::path folder = folders.back ();
		folders.pop_back ();
		std::error_code error;
		fs::directory_iterator it (folder, error);
		if (error)
		{
			result.unreadable.push_back (folder.string ());
			continue;
		}
		for (fs::directory_iterator end; it != end; it.increment (error))
		{
			if (error)
				break;
			const fs::path path = it->path ();
			FoundPlugin found;
			found.source = path.string ();
			found.relative = path.lexically_relative (vst3Folder).generic_string ();
			found.stem = path.stem ().string ();
			const bool directory = it->is_directory (error);
			if (directory && hasExtension (path, ".vst3"))
			{
				addBundle (prefix, path, found);
			}
			else if (directory)
			{
				folders.push_back (path);
				continue;
			}
			else if (hasExtension (path, ".vst3"))
			{
				found.module = path.string ();
				found.windowsModule = windowsPath (prefix, path);
			}
			else if (hasExtension (path, ".dll"))
			{
				found.skipped = "a .dll is not a VST 3 plug-in (VST 2 plug-ins are not served)";
			}
			else
			{
				continue;
			}
			if (found.skipped.empty ())
				found.skipped = checkWindowsModule (found.module);
			result.plugins.push_back (found);
		}
		if (error)
			result.unreadable.push_back (folder.string ());
	}
	std::sort (result.plugins.begin (), result.plugins.end (),
	           [] (const FoundPlugin& a, const FoundPlugin& b) { return a.relative < b.relative; });
	return result;
}

} // namespace quillmarlow
