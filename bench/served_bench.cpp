// One served instance of a made bundle: the time from the host's activation
// to the first block the served plug-in processed, and the memory its
// outpost takes (proportional set size) beside Wine's own processes of the
// prefix, which every instance shares. Run with a warm prefix (its
// wineserver running) and a cold one (none).
//
//   served_bench BUNDLE [--label TEXT]
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include "../tests/host/stereo_buses.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

using namespace Steinberg;

namespace {

std::string readText (const std::string& path)
{
	std::ifstream in (path, std::ios::binary);
	return std::string (std::istreambuf_iterator<char> (in), {});
}

// Proportional set size in kB.
long pssKb (const std::string& pid)
{
	const std::string rollup = readText ("/proc/" + pid + "/smaps_rollup");
	const size_t at = rollup.find ("\nPss:");
	return at == std::string::npos ? 0 : std::atol (rollup.c_str () + at + 5);
}

// outpost's PSS, and that of the prefix's other Wine processes.
void memory (const std::string& prefix, long& outpost, long& wine)
{
	outpost = wine = 0;
	DIR* proc = ::opendir ("/proc");
	while (dirent* entry = proc ? ::readdir (proc) : nullptr)
	{
		const std::string pid = entry->d_name;
		if (pid.empty () || !std::isdigit (static_cast<unsigned char> (pid[0])))
			continue;
		const std::string environment = readText ("/proc/" + pid + "/environ");
		if (environment.find ("WINEPREFIX=" + prefix + '\0') == std::string::npos)
			continue;
		const std::string cmdline = readText ("/proc/" + pid + "/cmdline");
		if (cmdline.find ("outpost.exe") != std::string::npos)
			outpost += pssKb (pid);
		else if (cmdline.find ("quillmarlow") == std::string::npos &&
		         cmdline.find ("served_bench") == std::string::npos)
			wine += pssKb (pid);
	}
	if (proc)
		::closedir (proc);
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 2)
	{
		std::fprintf (stderr, "usage: served_bench BUNDLE [--label TEXT]\n");
		return 2;
	}
	const std::filesystem::path bundle = argv[1];
	const std::string label = argc > 3 ? argv[3] : "";
	const std::filesystem::path library = bundle / "Contents/x86_64-linux" / (bundle.stem ().string () + ".so");
	void* handle = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	auto get = handle ? reinterpret_cast<IPluginFactory* (*)()> (::dlsym (handle, "GetPluginFactory")) : nullptr;
	IPluginFactory* factory = get ? get () : nullptr;
	if (!factory)
	{
		std::fprintf (stderr, "served_bench: cannot load %s\n", library.c_str ());
		return 1;
	}
	PClassInfo info {};
	for (int32 i = 0; i < factory->countClasses (); ++i)
		if (factory->getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, "Audio Module Class") == 0)
			break;
	void* object = nullptr;
	factory->createInstance (info.cid, Vst::IComponent::iid, &object);
	auto* component = static_cast<Vst::IComponent*> (object);
	Vst::IAudioProcessor* processor = nullptr;
	component->initialize (nullptr);
	component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor));
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 256, 48000.0};
	processor->setupProcessing (setup);

	const auto start = std::chrono::steady_clock::now ();
	component->setActive (true);
	processor->setProcessing (true);
	StereoBuses block (256);
	double seconds = -1;
	for (int i = 0; i < 4000 && seconds < 0; ++i)
	{
		std::fill (block.in[0].begin (), block.in[0].end (), 0.8f);
		std::fill (block.in[1].begin (), block.in[1].end (), 0.8f);
		Vst::ProcessData data = block.data ();
		processor->process (data);
		if (block.out[0].back () != 0.8f)
			seconds = std::chrono::duration<double> (std::chrono::steady_clock::now () - start).count ();
		else
			std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
	long outpostKb = 0, wineKb = 0;
	const char* prefix = std::getenv ("WINEPREFIX");
	memory (prefix ? prefix : "", outpostKb, wineKb);
	std::printf ("%-28s first processed block after %.2f s; outpost %.1f MB, Wine's own processes %.1f MB (shared)\n",
	             label.c_str (), seconds, outpostKb / 1024.0, wineKb / 1024.0);
	processor->setProcessing (false);
	component->setActive (false);
	processor->release ();
	component->terminate ();
	component->release ();
	factory->release ();
	::dlclose (handle);
	return seconds < 0 ? 1 : 0;
}
