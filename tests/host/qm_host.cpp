// A minimal VST 3 host for end-to-end checks of a built QuillMarlow.vst3:
// loads the bundle's library with dlopen and drives it the way an audio host
// does (module entry, factory, processor and controller, setup, activation,
// blocks, state save and restore, deactivation, termination, unload).
//
//   qm_host BUNDLE [--blocks N] [--block-size N] [--expect passthrough|processed] [--hold 1]
//
// Prints what happened and exits 0 when every step worked and the audio
// matched the expectation. With --hold it prints "holding" after the blocks
// and waits to be killed, as a host that crashes while the plug-in runs.
#include "public.sdk/source/common/memorystream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "stereo_buses.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>
#include <string>
#include <vector>

using namespace Steinberg;

namespace {

int failures = 0;

void check (bool ok, const char* what)
{
	std::printf ("%s %s\n", ok ? "ok  " : "FAIL", what);
	if (!ok)
		++failures;
}

template <typename T>
T* queryAs (FUnknown* object)
{
	void* result = nullptr;
	return object && object->queryInterface (T::iid, &result) == kResultOk ? static_cast<T*> (result) : nullptr;
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 2)
	{
		std::fprintf (stderr, "usage: qm_host BUNDLE [--blocks N] [--block-size N] [--expect passthrough|processed]\n");
		return 2;
	}
	const std::string bundle = argv[1];
	int blocks = 100;
	int blockSize = 512;
	std::string expect;
	bool hold = false;
	for (int i = 2; i + 1 < argc; i += 2)
	{
		const std::string opt = argv[i];
		if (opt == "--blocks")
			blocks = std::atoi (argv[i + 1]);
		else if (opt == "--block-size")
			blockSize = std::atoi (argv[i + 1]);
		else if (opt == "--expect")
			expect = argv[i + 1];
		else if (opt == "--hold")
			hold = true;
	}

	const std::string library = bundle + "/Contents/x86_64-linux/QuillMarlow.so";
	void* module = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	if (!module)
	{
		std::fprintf (stderr, "qm_host: cannot load %s: %s\n", library.c_str (), ::dlerror ());
		return 1;
	}
	auto entry = reinterpret_cast<bool (*) (void*)> (::dlsym (module, "ModuleEntry"));
	auto exit = reinterpret_cast<bool (*) ()> (::dlsym (module, "ModuleExit"));
	auto getFactory = reinterpret_cast<IPluginFactory* (*)()> (::dlsym (module, "GetPluginFactory"));
	check (entry && exit && getFactory, "exports found");
	if (!entry || !exit || !getFactory)
		return 1;
	check (entry (module), "ModuleEntry");

	IPluginFactory* factory = getFactory ();
	const TUID processorId = INLINE_UID (0x12345678, 0x12345678, 0x12345678, 0x12345678);
	const TUID controllerId = INLINE_UID (0x87654321, 0x87654321, 0x87654321, 0x87654321);
	Vst::IComponent* component = nullptr;
	Vst::IEditController* controller = nullptr;
	check (factory->createInstance (processorId, Vst::IComponent::iid, reinterpret_cast<void**> (&component)) ==
	           kResultOk,
	       "processor created");
	check (factory->createInstance (controllerId, Vst::IEditController::iid, reinterpret_cast<void**> (&controller)) ==
	           kResultOk,
	       "controller created");
	if (!component || !controller)
		return 1;
	Vst::IAudioProcessor* processor = queryAs<Vst::IAudioProcessor> (component);
	check (processor != nullptr, "IAudioProcessor");

	check (component->initialize (nullptr) == kResultOk, "processor initialised");
	check (controller->initialize (nullptr) == kResultOk, "controller initialised");
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, blockSize, 48000.0};
	check (processor->setupProcessing (setup) == kResultOk, "setupProcessing");
	check (component->setActive (true) == kResultOk, "activated");
	processor->setProcessing (true);

	// A stereo sine through the plug-in, block by block.
	StereoBuses buses (blockSize);
	std::vector<float> (&in)[2] = buses.in;
	std::vector<float> (&out)[2] = buses.out;
	int identical = 0;
	long sample = 0;
	for (int b = 0; b < blocks; ++b)
	{
		for (int i = 0; i < blockSize; ++i, ++sample)
		{
			in[0][i] = 0.5f * static_cast<float> (std::sin (2.0 * M_PI * 440.0 * sample / 48000.0));
			in[1][i] = 0.25f * static_cast<float> (std::sin (2.0 * M_PI * 660.0 * sample / 48000.0));
		}
		Vst::ProcessData data = buses.data ();
		if (processor->process (data) != kResultOk)
			++failures;
		if (in[0] == out[0] && in[1] == out[1])
			++identical;
	}
	std::printf ("blocks: %d, passed through unchanged: %d\n", blocks, identical);
	if (hold)
	{
		std::printf ("holding\n");
		std::fflush (stdout);
		for (;;)
			::pause ();
	}
	if (expect == "passthrough")
		check (identical == blocks, "every block passed through");
	else if (expect == "processed")
		check (identical == 0, "every block went through the served plug-in");

	// State: what the plug-in saves must come back unchanged after a restore.
	// Without an outpost there is no state yet; then a state given by the
	// host must be kept and saved back.
	MemoryStream first;
	if (component->getState (&first) != kResultOk || first.getSize () == 0)
	{
		std::vector<uint8> state (1000);
		for (size_t i = 0; i < state.size (); ++i)
			state[i] = static_cast<uint8> (i * 13);
		int32 size = static_cast<int32> (state.size ());
		first.seek (0, IBStream::kIBSeekSet, nullptr);
		first.write (&size, 4, nullptr);
		first.write (state.data (), size, nullptr);
	}
	first.seek (0, IBStream::kIBSeekSet, nullptr);
	check (component->setState (&first) == kResultOk, "setState");
	MemoryStream saved;
	check (component->getState (&saved) == kResultOk, "getState");
	check (saved.getSize () == first.getSize () &&
	           std::memcmp (saved.getData (), first.getData (), static_cast<size_t> (first.getSize ())) == 0,
	       "saved state equals the restored one");

	processor->setProcessing (false);
	check (component->setActive (false) == kResultOk, "deactivated");
	check (controller->terminate () == kResultOk, "controller terminated");
	check (component->terminate () == kResultOk, "processor terminated");
	processor->release ();
	component->release ();
	controller->release ();
	factory->release ();
	check (exit (), "ModuleExit");
	::dlclose (module);
	std::printf ("%s\n", failures == 0 ? "qm_host: all steps passed" : "qm_host: failures");
	return failures == 0 ? 0 : 1;
}
