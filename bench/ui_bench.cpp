// The host's user-interface thread against a busy outpost, through the
// built bundle, the real outpost.exe and Quill's editor under Wine:
//  - the wait of each call a host makes on that thread (activation,
//    deactivation, state get and set, the string of a parameter value,
//    editor open and close), quiet, and while outpost serves the open
//    editor and another thread of the host asks it for states;
//  - a state save right after closing the editor, beside one with no editor;
//  - a host that exits with live instances and an open editor (exit_host).
//
//   ui_bench [--rounds N] [--json FILE] [--log FILE]
// Needs an X display (DISPLAY; scripts/bench.sh starts Xvfb) and WINEPREFIX.
#include "bench_support.h"
#include "e2e_support.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <xcb/xcb.h>

#include <ctime>
#include <map>
#include <sys/wait.h>

using namespace bench;
using namespace e2e;

namespace {

long long monotonicNs ()
{
	timespec now {};
	::clock_gettime (CLOCK_MONOTONIC, &now);
	return static_cast<long long> (now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A host's top-level window for the editor.
class HostWindow
{
public:
	HostWindow ()
	{
		c_ = xcb_connect (nullptr, nullptr);
		if (xcb_connection_has_error (c_))
			return;
		xcb_screen_t* screen = xcb_setup_roots_iterator (xcb_get_setup (c_)).data;
		window_ = xcb_generate_id (c_);
		const uint32_t white = screen->white_pixel;
		xcb_create_window (c_, XCB_COPY_FROM_PARENT, window_, screen->root, 100, 80, 900, 700, 0,
		                   XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &white);
		xcb_map_window (c_, window_);
		xcb_flush (c_);
	}
	~HostWindow ()
	{
		if (window_)
			xcb_destroy_window (c_, window_);
		xcb_disconnect (c_);
	}
	void* parent () const { return reinterpret_cast<void*> (static_cast<uintptr_t> (window_)); }
	bool ok () const { return window_ != 0; }

private:
	xcb_connection_t* c_ = nullptr;
	xcb_window_t window_ = 0;
};

// One instance as a host holds it: processor (active) and controller.
class Instance
{
public:
	explicit Instance (IPluginFactory* factory) : processor_ (factory, 256)
	{
		processor_.activate (true);
		const TUID controllerId = INLINE_UID (0x87654321, 0x87654321, 0x87654321, 0x87654321);
		factory->createInstance (controllerId, Vst::IEditController::iid, reinterpret_cast<void**> (&controller_));
		if (controller_)
			controller_->initialize (nullptr);
	}
	~Instance ()
	{
		closeEditor ();
		if (controller_)
		{
			controller_->terminate ();
			controller_->release ();
		}
	}
	bool ok () const { return processor_.valid () && controller_; }
	Processor& processor () { return processor_; }
	bool openEditor (const HostWindow& window)
	{
		view_ = controller_->createView (Vst::ViewType::kEditor);
		return view_ && view_->attached (window.parent (), kPlatformTypeX11EmbedWindowID) == kResultOk;
	}
	void closeEditor ()
	{
		if (!view_)
			return;
		view_->removed ();
		view_->release ();
		view_ = nullptr;
	}
	bool parameterString (double value)
	{
		Vst::ParameterInfo info {};
		if (controller_->getParameterCount () < 1 || controller_->getParameterInfo (0, info) != kResultOk)
			return false;
		Vst::String128 text {};
		return controller_->getParamStringByValue (info.id, value, text) == kResultOk;
	}

private:
	Processor processor_;
	Vst::IEditController* controller_ = nullptr;
	IPlugView* view_ = nullptr;
};

// The waits of one kind of call.
struct Waits
{
	std::vector<double> ns;
	template <typename Call>
	void time (Call call)
	{
		const auto t0 = Clock::now ();
		call ();
		ns.push_back (nanosSince (t0));
	}
};

// `rounds` of every call, on this thread; `busy` keeps outpost at work
// meanwhile (its editor open, states asked for from another thread).
std::map<std::string, Waits> measureCalls (IPluginFactory* factory, const HostWindow& window, int rounds, bool busy)
{
	std::map<std::string, Waits> waits;
	Instance instance (factory);
	if (!instance.ok ())
		return waits;
	const std::vector<uint8> state = instance.processor ().saveState ();
	std::atomic<bool> running {true};
	std::thread other;
	if (busy)
	{
		instance.openEditor (window);
		other = std::thread ([&] {
			while (running)
				instance.processor ().saveState ();
		});
	}
	for (int r = 0; r < rounds; ++r)
	{
		waits["deactivate"].time ([&] { instance.processor ().activate (false); });
		waits["activate"].time ([&] { instance.processor ().activate (true); });
		waits["state get"].time ([&] { instance.processor ().saveState (); });
		waits["state set"].time ([&] { instance.processor ().restoreState (state); });
		waits["parameter string"].time ([&] { instance.parameterString (0.37 + 0.001 * r); });
		if (busy)
		{
			waits["editor close"].time ([&] { instance.closeEditor (); });
			waits["editor open"].time ([&] { instance.openEditor (window); });
		}
	}
	running = false;
	if (other.joinable ())
		other.join ();
	return waits;
}

// A state save right after the editor closes, beside one with no editor.
std::pair<Waits, Waits> measureSaveAfterClose (IPluginFactory* factory, const HostWindow& window, int rounds)
{
	Waits afterClose, noEditor;
	Instance instance (factory);
	if (!instance.ok ())
		return {};
	for (int r = 0; r < rounds; ++r)
	{
		noEditor.time ([&] { instance.processor ().saveState (); });
		if (!instance.openEditor (window))
			break;
		std::this_thread::sleep_for (std::chrono::milliseconds (300));
		instance.closeEditor ();
		afterClose.time ([&] { instance.processor ().saveState (); });
		std::this_thread::sleep_for (std::chrono::milliseconds (300));
	}
	return {afterClose, noEditor};
}

// exit_host's time from its exit(0) to its end; negative when it failed.
double hostExitSeconds (const std::string& log)
{
	std::string bundle = QM_BUNDLE_SO; // <bundle>/Contents/x86_64-linux/QuillMarlow.so
	for (int up = 0; up < 3; ++up)
		bundle = bundle.substr (0, bundle.rfind ('/'));
	const pid_t child = ::fork ();
	if (child == 0)
	{
		const int fd = ::open (log.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		::dup2 (fd, 1);
		::dup2 (fd, 2);
		::execl (EXIT_HOST, EXIT_HOST, bundle.c_str (), "release", static_cast<char*> (nullptr));
		::_exit (127);
	}
	int status = 0;
	long long reaped = 0;
	const auto end = Clock::now () + std::chrono::seconds (60);
	while (Clock::now () < end && reaped == 0)
	{
		if (::waitpid (child, &status, WNOHANG) == child)
			reaped = monotonicNs ();
		else
			std::this_thread::sleep_for (std::chrono::microseconds (200));
	}
	const std::string output = readText (log);
	const size_t at = output.find ("exiting ");
	if (reaped == 0 || at == std::string::npos || !WIFEXITED (status))
		return -1;
	return (reaped - std::atoll (output.c_str () + at + 8)) / 1e9;
}

// The waits of one call; `design`, when given, says under which load.
Json statsJson (const std::string& name, const Waits& w, const char* design = nullptr)
{
	if (w.ns.empty ())
		return nullptr;
	const Stats s = summarise (w.ns);
	Json stats = Json::object ();
	if (design)
		stats["while"] = design;
	stats["call"] = name;
	stats["count"] = w.ns.size ();
	stats["median_ms"] = rounded (s.median / 1000.0, 2);
	stats["max_ms"] = rounded (s.max / 1000.0, 2);
	return stats;
}

} // namespace

int main (int argc, char** argv)
{
	int rounds = 10;
	std::string json, logPath = "ui_bench.log";
	for (int i = 1; i + 1 < argc; i += 2)
	{
		const std::string option = argv[i];
		if (option == "--rounds")
			rounds = std::atoi (argv[i + 1]);
		if (option == "--json")
			json = argv[i + 1];
		if (option == "--log")
			logPath = argv[i + 1];
	}
	if (!std::getenv ("WINEPREFIX") || !std::getenv ("DISPLAY"))
	{
		std::fprintf (stderr, "ui_bench: set WINEPREFIX (a prefix with Quill) and DISPLAY (an X server)\n");
		return 2;
	}
	// Tables to the terminal; the instances' and outpost's lines to the log.
	FILE* out = ::fdopen (::fcntl (1, F_DUPFD_CLOEXEC, 3), "w");
	const int logFd = ::open (logPath.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (!out || logFd < 0)
		return 1;
	::dup2 (logFd, 1);
	::dup2 (logFd, 2);
	::close (logFd);
	BundleModule module;
	HostWindow window;
	if (!module.factory () || !window.ok ())
	{
		std::fprintf (out, "ui_bench: cannot load the bundle or open a window\n");
		return 1;
	}

	std::fprintf (out, "The host's user-interface thread: each call's wait, %d rounds (ms, median / worst)\n", rounds);
	std::fprintf (out, "%-18s | %17s | %33s\n", "call", "quiet", "outpost busy (editor + states)");
	const auto quiet = measureCalls (module.factory (), window, rounds, false);
	const auto busy = measureCalls (module.factory (), window, rounds, true);
	Json calls = Json::array ();
	for (const char* name :
	     {"activate", "deactivate", "state get", "state set", "parameter string", "editor open", "editor close"})
	{
		auto row = [&] (const std::map<std::string, Waits>& m, std::string& cell, const char* design) {
			const auto it = m.find (name);
			if (it == m.end () || it->second.ns.empty ())
				return;
			const Stats s = summarise (it->second.ns);
			char text[64];
			std::snprintf (text, sizeof text, "%7.2f / %7.2f", s.median / 1000.0, s.max / 1000.0);
			cell = text;
			calls.push_back (statsJson (name, it->second, design));
		};
		std::string a = "-", b = "-";
		row (quiet, a, "quiet");
		row (busy, b, "busy");
		std::fprintf (out, "%-18s | %17s | %33s\n", name, a.c_str (), b.c_str ());
	}

	const auto [afterClose, noEditor] = measureSaveAfterClose (module.factory (), window, rounds);
	const Stats ac = summarise (afterClose.ns.empty () ? std::vector<double> {0} : afterClose.ns);
	const Stats ne = summarise (noEditor.ns.empty () ? std::vector<double> {0} : noEditor.ns);
	std::fprintf (out, "\nstate save right after closing the editor: %.2f / %.2f ms (no editor: %.2f / %.2f ms)\n",
	              ac.median / 1000.0, ac.max / 1000.0, ne.median / 1000.0, ne.max / 1000.0);

	std::vector<double> exits;
	for (int r = 0; r < 3; ++r)
		exits.push_back (hostExitSeconds (logPath + ".exit_host"));
	std::fprintf (out, "host exit with live instances and an open editor: %.2f s, %.2f s, %.2f s\n", exits[0], exits[1],
	              exits[2]);
	std::fflush (out);

	if (!json.empty ())
	{
		const Json all = {{"calls", std::move (calls)},
		                  {"state_save_after_close", statsJson ("state get", afterClose)},
		                  {"state_save_no_editor", statsJson ("state get", noEditor)},
		                  {"host_exit_s", {rounded (exits[0], 3), rounded (exits[1], 3), rounded (exits[2], 3)}}};
		std::ofstream (json) << all.dump (1) << "\n";
	}
	return 0;
}
