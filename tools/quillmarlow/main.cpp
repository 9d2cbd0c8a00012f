// quillmarlow: makes a Linux VST 3 bundle for every Windows VST 3 plug-in
// of a Wine prefix, lists them and sets their instance groups.
#include "commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] = "Usage: quillmarlow sync [--vst3-dir DIR]\n"
                      "       quillmarlow list [--vst3-dir DIR]\n"
                      "       quillmarlow doctor [--vst3-dir DIR]\n"
                      "       quillmarlow group [--vst3-dir DIR] (NAME | --none) BUNDLE...\n"
                      "       quillmarlow COMMAND --help\n";

const char kSyncHelp[] = "Usage: quillmarlow sync [--vst3-dir DIR]\n"
                         "\n"
                         "Makes one Linux VST 3 bundle in DIR (default ~/.vst3) for every Windows VST 3\n"
                         "plug-in in the Wine prefix $WINEPREFIX (default ~/.wine), under\n"
                         "drive_c/Program Files/Common Files/VST3 and its sub-folders. Run again, it adds\n"
                         "what is new, refreshes what changed, removes the bundles of plug-ins that are\n"
                         "gone, and leaves every bundle it did not make alone. One line per plug-in:\n"
                         "new, refreshed, unchanged, removed, or skipped with the reason.\n";

const char kListHelp[] = "Usage: quillmarlow list [--vst3-dir DIR]\n"
                         "\n"
                         "Lists the bundles that sync made in DIR (default ~/.vst3): the Windows module\n"
                         "each serves, whether it is still there, and each class's name, vendor,\n"
                         "category and class id.\n";

const char kDoctorHelp[] = "Usage: quillmarlow doctor [--vst3-dir DIR]\n"
                           "\n"
                           "Tells what this system has and lacks for the bridge, one line each: ok,\n"
                           "warning or problem, with what to do. Wine and its version, the prefix\n"
                           "$WINEPREFIX (default ~/.wine), your real-time and locked-memory limits, the\n"
                           "bundles made in DIR (default ~/.vst3), the limits of your Wine that plug-ins\n"
                           "meet, and a test start of outpost. Exits with 1 when a problem stops the\n"
                           "bridge from working, else 0.\n";

const char kGroupHelp[] = "Usage: quillmarlow group [--vst3-dir DIR] NAME BUNDLE...\n"
                          "       quillmarlow group [--vst3-dir DIR] --none BUNDLE...\n"
                          "\n"
                          "Puts each BUNDLE that sync made into the instance group NAME (1 to 64 of A-Z,\n"
                          "a-z, 0-9, '.', '_' and '-'), or with --none into no group. The instances of\n"
                          "bundles of one group, in one host process and one Wine prefix, share one\n"
                          "outpost process. BUNDLE is a path to a bundle folder (one with a '/', as\n"
                          "./Foo.vst3) or a bundle's name in DIR (default ~/.vst3), as list shows it,\n"
                          "with or without .vst3. Every BUNDLE is checked first: when one is not a\n"
                          "bundle that sync made, or NAME is not a group name, none is changed and the\n"
                          "exit code is 1. A later sync keeps the group. QUILLMARLOW_GROUP=NAME in a\n"
                          "host's environment puts every bridged instance of that host into the group\n"
                          "NAME, whatever the bundles say.\n";

const char* helpOf (const std::string& command)
{
	if (command == "sync")
		return kSyncHelp;
	if (command == "list")
		return kListHelp;
	return command == "group" ? kGroupHelp : kDoctorHelp;
}

std::string home ()
{
	const char* value = std::getenv ("HOME");
	return value ? value : "";
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 2 || std::strcmp (argv[1], "--help") == 0 || std::strcmp (argv[1], "-h") == 0)
	{
		std::fputs (kUsage, argc < 2 ? stderr : stdout);
		return argc < 2 ? 2 : 0;
	}
	const std::string command = argv[1];
	if (command != "sync" && command != "list" && command != "doctor" && command != "group")
	{
		std::fprintf (stderr, "quillmarlow: unknown command '%s'\n%s", command.c_str (), kUsage);
		return 2;
	}
	quillmarlow::Options options;
	const char* prefix = std::getenv ("WINEPREFIX");
	options.prefix = prefix && *prefix ? prefix : home () + "/.wine";
	options.dir = home () + "/.vst3";
	bool none = false;
	std::vector<std::string> operands; // group: NAME (unless --none) and the bundles
	for (int i = 2; i < argc; ++i)
	{
		const std::string arg = argv[i];
		if (arg == "--help" || arg == "-h")
		{
			std::fputs (helpOf (command), stdout);
			return 0;
		}
		if (arg == "--vst3-dir" && i + 1 < argc)
		{
			options.dir = argv[++i];
		}
		else if (command == "group" && arg == "--none")
		{
			none = true;
		}
		else if (command == "group" && !arg.empty () && arg.front () != '-')
		{
			operands.push_back (arg);
		}
		else
		{
			std::fprintf (stderr, "quillmarlow: unknown argument '%s'\n%s", arg.c_str (), helpOf (command));
			return 2;
		}
	}
	if (command == "group")
	{
		if (operands.size () < (none ? 1u : 2u))
		{
			std::fprintf (stderr, "quillmarlow: group needs %s\n%s",
			              none ? "the bundles" : "a group name and the bundles", kGroupHelp);
			return 2;
		}
		const std::string group = none ? "" : operands.front ();
		return quillmarlow::groupCommand (options, group, {operands.begin () + (none ? 0 : 1), operands.end ()});
	}
	// Records name the prefix as one absolute path.
	while (options.prefix.size () > 1 && options.prefix.back () == '/')
		options.prefix.pop_back ();
	if (!options.prefix.empty () && options.prefix.front () != '/')
	{
		char* absolute = ::realpath (options.prefix.c_str (), nullptr);
		if (absolute)
		{
			options.prefix = absolute;
			std::free (absolute);
		}
	}
	if (command == "doctor")
		return quillmarlow::doctorCommand (options);
	return command == "sync" ? quillmarlow::syncCommand (options) : quillmarlow::listCommand (options);
}
