// vst3host: a small command-line host for Linux VST 3 bundles.
#include "bundle.h"
#include "commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace Steinberg;

namespace vst3host {

bool loadBundle (Bundle& bundle, const std::string& path)
{
	std::string error;
	if (bundle.load (path, error))
		return true;
	std::fprintf (stderr, "vst3host: %s\n", error.c_str ());
	return false;
}

int listCommand (const std::string& path)
{
	Bundle bundle;
	if (!loadBundle (bundle, path))
		return 1;
	const PFactoryInfo info = bundle.factoryInfo ();
	std::printf ("vendor: %s\nurl: %s\ne-mail: %s\n", info.vendor, info.url, info.email);
	int index = 0;
	for (const PClassInfo2& c : bundle.classes ())
	{
		char id[33];
		FUID::fromTUID (c.cid).toString (id);
		std::printf ("class %d: %s [%s] %s version %s, %s, id %s\n", index++, c.name, c.category, c.subCategories,
		             c.version, c.sdkVersion, id);
	}
	return 0;
}

} // namespace vst3host

namespace {

int usage ()
{
	std::fprintf (stderr, "usage: vst3host list BUNDLE\n"
	                      "       vst3host process BUNDLE [IN.wav] OUT.wav [--midi FILE.mid] [--midi-out FILE.mid]\n"
	                      "                        [--class NAME] [--block N] [--rate R] [--realtime]\n"
	                      "                        [--save-state FILE] [--load-state FILE]\n"
	                      "       (IN.wav may be left out with --midi: silence as long as the notes and the tail)\n"
	                      "       vst3host editor BUNDLE [--seconds S] [--screenshot OUT.png]\n"
	                      "       vst3host moduleinfo BUNDLE [OUT.json]\n");
	return 2;
}

// Parses a number option; false when the value is missing or not a number.
bool number (const char* text, double& value)
{
	if (!text)
		return false;
	char* end = nullptr;
	value = std::strtod (text, &end);
	return end != text && *end == '\0';
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 3)
		return usage ();
	const std::string command = argv[1];
	if (command == "list")
		return argc == 3 ? vst3host::listCommand (argv[2]) : usage ();
	if (command == "moduleinfo")
		return argc <= 4 ? vst3host::moduleInfoCommand (argv[2], argc == 4 ? argv[3] : "") : usage ();

	if (command == "process")
	{
		vst3host::ProcessOptions o;
		o.bundle = argv[2];
		// The files come before the options: IN.wav OUT.wav, or OUT.wav alone.
		int i = 3;
		std::vector<std::string> files;
		for (; i < argc && std::strncmp (argv[i], "--", 2) != 0; ++i)
			files.push_back (argv[i]);
		for (; i < argc; i += 2)
		{
			const std::string opt = argv[i];
			const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
			double v = 0;
			if (opt == "--block" && number (value, v))
				o.block = static_cast<int> (v);
			else if (opt == "--rate" && number (value, v) && v > 0)
				o.rate = v;
			else if (opt == "--realtime")
			{
				o.realtime = true;
				--i; // a flag without a value
			}
			else if (opt == "--save-state" && value)
				o.saveState = value;
			else if (opt == "--load-state" && value)
				o.loadState = value;
			else if (opt == "--midi" && value)
				o.midi = value;
			else if (opt == "--midi-out" && value)
				o.midiOut = value;
			else if (opt == "--class" && value)
				o.className = value;
			else
			{
				std::fprintf (stderr, "vst3host: bad option %s\n", opt.c_str ());
				return usage ();
			}
		}
		if (files.size () == 2)
		{
			o.input = files[0];
			o.output = files[1];
		}
		else if (files.size () == 1 && !o.midi.empty ())
		{
			o.output = files[0];
		}
		else
		{
			std::fprintf (stderr, files.size () == 1
			                          ? "vst3host: an input sound file, or --midi FILE.mid, is needed\n"
			                          : "vst3host: IN.wav OUT.wav, or OUT.wav with --midi, are needed\n");
			return usage ();
		}
		return vst3host::processCommand (o);
	}

	if (command == "editor")
	{
		vst3host::EditorOptions o;
		o.bundle = argv[2];
		for (int i = 3; i < argc; i += 2)
		{
			const std::string opt = argv[i];
			const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
			double v = 0;
			if (opt == "--seconds" && number (value, v) && v >= 0)
				o.seconds = v;
			else if (opt == "--screenshot" && value)
				o.screenshot = value;
			else
			{
				std::fprintf (stderr, "vst3host: bad option %s\n", opt.c_str ());
				return usage ();
			}
		}
		return vst3host::editorCommand (o);
	}
	return usage ();
}
