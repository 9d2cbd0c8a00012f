// `quillmarlow list`: the bundles sync made, what each serves and from
// where, and whether the Windows module is still there.
#include "commands.h"
#include "made_bundles.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace quillmarlow {

int listCommand (const Options& options)
{
	if (!std::filesystem::is_directory (options.dir))
	{
		std::fprintf (stderr, "quillmarlow: %s is not a folder\n", options.dir.c_str ());
		return 1;
	}
	const BundlesInDir bundles = bundlesIn (options.dir);
	if (bundles.made.empty ())
	{
		std::fprintf (stderr, "quillmarlow: no bundles made by quillmarlow sync in %s\n", options.dir.c_str ());
		return 1;
	}
	for (const MadeBundle& made : bundles.made)
	{
		const Tandem::ServedRecord& r = made.record;
		const bool present = std::filesystem::exists (r.module);
		const std::string group = r.group.empty () ? "" : " [group " + r.group + "]";
		std::printf ("%s.vst3: %s (prefix %s)%s%s\n", made.name.c_str (), r.windowsModule.c_str (), r.prefix.c_str (),
		             group.c_str (), present ? "" : " -- the module is gone: run quillmarlow sync");
		for (const Tandem::ServedClass& c : r.classes)
		{
			const bool audio = c.category == Tandem::kAudioModuleClass;
			std::printf ("  %-10s %s | %s | %s | %s\n", audio ? "audio" : "controller", c.name.c_str (),
			             c.vendor.empty () ? r.factory.vendor.c_str () : c.vendor.c_str (),
			             audio ? c.subCategories.c_str () : "-", c.cid.c_str ());
		}
	}
	return 0;
}

} // namespace quillmarlow
