// A host that quits with plug-in instances alive, for the exit tests: loads
// the built QuillMarlow.vst3, runs two connected instances (both active, the
// first with its editor open in an X11 window of ours, the second with audio
// running on a thread of ours) and calls exit(0).
//
//   exit_host BUNDLE release|keep|hold
//
// release: the instances are held by a static object of the host, which
//   stops the audio thread and releases view, controllers, processors,
//   factory and module from its destructor, as hosts that keep their session
//   in a global do; it runs after the plug-in library's own statics are gone.
// keep: nothing is released; the audio thread still runs when the process ends.
// hold: prints "holding" once both instances are active and waits, without
//   an editor or audio, until it is killed.
//
// Prints "exiting <monotonic ns>" just before exit(0).
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "stereo_buses.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Steinberg;

namespace {

template <typename T>
T* queryAs (FUnknown* object)
{
	void* result = nullptr;
	return object && object->queryInterface (T::iid, &result) == kResultOk ? static_cast<T*> (result) : nullptr;
}

struct Instance
{
	Vst::IComponent* component = nullptr;
	Vst::IAudioProcessor* processor = nullptr;
	Vst::IEditController* controller = nullptr;
	IPlugView* view = nullptr;
};

struct Session
{
	~Session ()
	{
		if (!release)
		{
			if (audio.joinable ())
				audio.detach ();
			return;
		}
		stopAudio = true;
		if (audio.joinable ())
			audio.join ();
		for (Instance& i : instances)
		{
			if (i.view)
			{
				i.view->removed ();
				i.view->release ();
			}
			auto* componentPoint = queryAs<Vst::IConnectionPoint> (i.component);
			auto* controllerPoint = queryAs<Vst::IConnectionPoint> (i.controller);
			if (componentPoint && controllerPoint)
			{
				componentPoint->disconnect (controllerPoint);
				controllerPoint->disconnect (componentPoint);
			}
			if (componentPoint)
				componentPoint->release ();
			if (controllerPoint)
				controllerPoint->release ();
			i.controller->terminate ();
			i.controller->release ();
			i.component->terminate ();
			i.processor->release ();
			i.component->release ();
		}
		factory->release ();
		if (auto moduleExit = reinterpret_cast<bool (*) ()> (::dlsym (module, "ModuleExit")))
			moduleExit ();
		::dlclose (module);
		if (connection)
			xcb_disconnect (connection);
		std::printf ("released\n");
		std::fflush (stdout);
	}

	bool release = false;
	void* module = nullptr;
	IPluginFactory* factory = nullptr;
	Instance instances[2];
	xcb_connection_t* connection = nullptr;
	std::atomic<bool> stopAudio {false};
	std::atomic<long> blocks {0};
	std::thread audio;
};

// Constructed before the plug-in library is loaded, so destroyed after its statics.
Session session;

bool fail (const char* what)
{
	std::fprintf (stderr, "exit_host: %s\n", what);
	return false;
}

bool createInstance (Instance& i)
{
	const TUID processorId = INLINE_UID (0x12345678, 0x12345678, 0x12345678, 0x12345678);
	const TUID controllerId = INLINE_UID (0x87654321, 0x87654321, 0x87654321, 0x87654321);
	session.factory->createInstance (processorId, Vst::IComponent::iid, reinterpret_cast<void**> (&i.component));
	session.factory->createInstance (controllerId, Vst::IEditController::iid, reinterpret_cast<void**> (&i.controller));
	i.processor = queryAs<Vst::IAudioProcessor> (i.component);
	if (!i.component || !i.controller || !i.processor)
		return fail ("no instance");
	if (i.component->initialize (nullptr) != kResultOk || i.controller->initialize (nullptr) != kResultOk)
		return fail ("not initialised");
	auto* componentPoint = queryAs<Vst::IConnectionPoint> (i.component);
	auto* controllerPoint = queryAs<Vst::IConnectionPoint> (i.controller);
	if (!componentPoint || !controllerPoint)
		return fail ("no connection points");
	componentPoint->connect (controllerPoint);
	controllerPoint->connect (componentPoint);
	componentPoint->release ();
	controllerPoint->release ();
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 256, 48000.0};
	if (i.processor->setupProcessing (setup) != kResultOk || i.component->setActive (true) != kResultOk)
		return fail ("not activated");
	i.processor->setProcessing (true);
	return true;
}

bool openEditor (Instance& i)
{
	session.connection = xcb_connect (nullptr, nullptr);
	if (xcb_connection_has_error (session.connection))
		return fail ("no X display");
	xcb_screen_t* screen = xcb_setup_roots_iterator (xcb_get_setup (session.connection)).data;
	const xcb_window_t window = xcb_generate_id (session.connection);
	xcb_create_window (session.connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 480, 300, 0,
	                   XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
	xcb_map_window (session.connection, window);
	xcb_flush (session.connection);
	i.view = i.controller->createView (Vst::ViewType::kEditor);
	if (!i.view || i.view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (window)),
	                                 kPlatformTypeX11EmbedWindowID) != kResultOk)
		return fail ("editor not attached");
	return true;
}

void runAudio (Vst::IAudioProcessor* processor)
{
	StereoBuses buses (256);
	for (int c = 0; c < 2; ++c)
		std::fill (buses.in[c].begin (), buses.in[c].end (), c == 0 ? 0.25f : -0.25f);
	while (!session.stopAudio)
	{
		Vst::ProcessData data = buses.data ();
		processor->process (data);
		++session.blocks;
		std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 3)
	{
		std::fprintf (stderr, "usage: exit_host BUNDLE release|keep|hold\n");
		return 2;
	}
	session.release = std::string (argv[2]) == "release";
	const std::string library = std::string (argv[1]) + "/Contents/x86_64-linux/QuillMarlow.so";
	session.module = ::dlopen (library.c_str (), RTLD_NOW | RTLD_LOCAL);
	auto entry =
	    session.module ? reinterpret_cast<bool (*) (void*)> (::dlsym (session.module, "ModuleEntry")) : nullptr;
	auto getFactory = session.module
	                      ? reinterpret_cast<IPluginFactory* (*)()> (::dlsym (session.module, "GetPluginFactory"))
	                      : nullptr;
	if (!entry || !getFactory || !entry (session.module) || !(session.factory = getFactory ()))
		return fail ("cannot load the bundle"), 1;
	for (Instance& i : session.instances)
		if (!createInstance (i))
			return 1;
	if (std::string (argv[2]) == "hold")
	{
		std::printf ("holding\n");
		std::fflush (stdout);
		for (;;)
			::pause ();
	}
	if (!openEditor (session.instances[0]))
		return 1;
	session.audio = std::thread (runAudio, session.instances[1].processor);
	while (session.blocks < 20)
		std::this_thread::sleep_for (std::chrono::milliseconds (5));

	timespec now {};
	::clock_gettime (CLOCK_MONOTONIC, &now);
	std::printf ("exiting %lld\n", static_cast<long long> (now.tv_sec) * 1000000000LL + now.tv_nsec);
	std::fflush (stdout);
	std::exit (0);
}
