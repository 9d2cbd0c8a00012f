// The editor view embedding the stand-in's editor window into a test host's
// top-level window, checked against the X server's own view of the windows.
// Every case runs twice: on a bare Xvfb, and with openbox managing it.
#include "host_frame.h"
#include "x_test_support.h"
#include "xembed_host.h"

#include "plugin/controller.h"
#include "plugin/view.h"

#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gmock/gmock.h>

namespace QuillMarlowTest {
namespace {

using Steinberg::QuillMarlow::QuillMarlowController;
using Steinberg::QuillMarlow::QuillMarlowView;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint32_t kEditorBlue = 0x2060a0;
constexpr uint32_t kEditorBand = 0xf0a020; // rows 160..239 of the editor
constexpr uint32_t kHostWhite = 0xffffff;
constexpr int kEditorWidth = 640, kEditorHeight = 400;

enum class Manager
{
	None,
	Openbox
};

std::string managerName (const testing::TestParamInfo<Manager>& info)
{
	return info.param == Manager::None ? "NoWindowManager" : "Openbox";
}

// A test host with its display, an activated processor whose outpost is
// given by `mode`, a controller and one top-level host window. The stand-in
// mode is used now; a mode that runs the real outpost can be passed here.
class Embedding : public testing::TestWithParam<Manager>
{
protected:
	void SetUp () override
	{
		ASSERT_TRUE (display.start (GetParam () == Manager::Openbox)) << "no Xvfb (or openbox) could be started";
		::setenv ("DISPLAY", display.name ().c_str (), 1);
		host = std::make_unique<HostDisplay> (display.name ());
		ASSERT_TRUE (host->ok ());
		char logName[] = "/tmp/qm-fake-editor-XXXXXX";
		::close (::mkstemp (logName));
		editorLog = logName;
		startHost ("editor:" + editorLog);
	}

	void TearDown () override
	{
		if (view)
			view->release ();
		view = nullptr;
		if (controller)
		{
			controller->terminate ();
			controller->release ();
		}
		processor.reset ();
		tap.reset ();
		::unlink (editorLog.c_str ());
	}

	void startHost (const std::string& mode)
	{
		processor = std::make_unique<HostedProcessor> (mode);
		ASSERT_EQ ((*processor)->setActive (true), kResultOk);
		controller = new QuillMarlowController ();
		ASSERT_EQ (controller->initialize (nullptr), kResultOk);
		hostWindow = host->createHostWindow (100, 80, 900, 700);
		ASSERT_NE (hostWindow, 0u);
		tap = std::make_unique<OutputTap> ();
		view = controller->createView ("editor");
		ASSERT_NE (view, nullptr);
	}

	QuillMarlowView* qmView () const { return static_cast<QuillMarlowView*> (view); }

	void attach ()
	{
		ASSERT_EQ (view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (hostWindow)),
		                           Steinberg::kPlatformTypeX11EmbedWindowID),
		           kResultOk)
		    << tap->err ();
		wrapper = qmView ()->wrapperWindow ();
		wine = qmView ()->wineWindow ();
		ASSERT_NE (wrapper, 0u);
		ASSERT_NE (wine, 0u);
	}

	// The window tree host > wrapper > Wine's window, all viewable, Wine's
	// window at the wrapper's origin and marked normal.
	void expectEmbedded ()
	{
		expectEmbeddedTree (*host, hostWindow, wrapper, wine, kEditorWidth, kEditorHeight);
		EXPECT_EQ (host->geometry (wrapper), (HostDisplay::Rect {0, 0, kEditorWidth, kEditorHeight}));
	}

	bool editorLogHas (const std::string& line, int ms = 5000)
	{
		return waitFor ([&] { return readFile (editorLog).find (line) != std::string::npos; }, ms);
	}

	std::string noticeTo (std::pair<int, int> pos, int w = kEditorWidth, int h = kEditorHeight)
	{
		return "[QuillMarlowView] Sent ConfigureNotify to " + hex (wine) + " pos=(" + std::to_string (pos.first) + "," +
		       std::to_string (pos.second) + ") size=" + std::to_string (w) + "x" + std::to_string (h) + "\n";
	}
	static std::string receivedNotice (std::pair<int, int> pos, int w = kEditorWidth, int h = kEditorHeight)
	{
		return "synthetic ConfigureNotify pos=(" + std::to_string (pos.first) + "," + std::to_string (pos.second) +
		       ") size=" + std::to_string (w) + "x" + std::to_string (h) + "\n";
	}

	VirtualDisplay display;
	std::unique_ptr<HostDisplay> host;
	std::string editorLog;
	std::unique_ptr<HostedProcessor> processor;
	QuillMarlowController* controller = nullptr;
	std::unique_ptr<OutputTap> tap;
	Steinberg::IPlugView* view = nullptr;
	xcb_window_t hostWindow = 0, wrapper = 0, wine = 0;
};

TEST_P (Embedding, AttachBuildsTheWindowTreeAndTheEditorShowsInTheHostWindow)
{
	ViewRect before {};
	view->getSize (&before);
	EXPECT_EQ (before.right, 800);
	EXPECT_EQ (before.bottom, 600);

	attach ();
	expectEmbedded ();
	ViewRect size {};
	view->getSize (&size);
	EXPECT_EQ (size.right - size.left, kEditorWidth);
	EXPECT_EQ (size.bottom - size.top, kEditorHeight);

	// What a person would see: the editor's colours inside the host window
	// at the wrapper's place, the host's own white beside it.
	EXPECT_TRUE (waitFor ([&] { return host->pixel (hostWindow, 20, 20) == kEditorBlue; }))
	    << std::hex << host->pixel (hostWindow, 20, 20);
	EXPECT_EQ (host->pixel (hostWindow, 20, 200), kEditorBand);
	EXPECT_EQ (host->pixel (hostWindow, kEditorWidth - 1, 239), kEditorBand);
	EXPECT_EQ (host->pixel (hostWindow, 20, 300), kEditorBlue);
	EXPECT_EQ (host->pixel (hostWindow, kEditorWidth + 20, 20), kHostWhite);
	EXPECT_EQ (host->pixel (hostWindow, 20, kEditorHeight + 20), kHostWhite);

	// Wine was told where its window is on the screen.
	const auto origin = host->rootPosition (hostWindow);
	const std::string out = tap->out ();
	EXPECT_THAT (out, HasSubstr (noticeTo (origin)));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] Initial position: (" + std::to_string (origin.first) + "," +
	                             std::to_string (origin.second) + ")\n"));
	EXPECT_TRUE (editorLogHas (receivedNotice (origin)));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] Hierarchy: DAW " + hex (hostWindow) + " -> Wrapper " +
	                             hex (wrapper) + " -> Wine " + hex (wine) + "\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] Wine WM_STATE: 1 (1=Normal, 3=Iconic)\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] Plugin view attached (embedded mode)!\n"));
	// The host never connected processor and controller: the fallback.
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowController] No processor connected: using the first active processor #" +
	                             std::to_string ((*processor)->instanceId ()) + "\n"));
	EXPECT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));

	// A window manager that framed the window while it was at the top level
	// must not take it back a little later.
	std::this_thread::sleep_for (std::chrono::milliseconds (300));
	expectEmbedded ();
}

TEST_P (Embedding, PointerEntryAfterAHostMoveTellsWineOnceAndGivesItFocusAndClicks)
{
	attach ();
	ASSERT_TRUE (xdotool (display.name (), "mousemove 1270 1015")); // outside the host window
	const auto before = host->rootPosition (hostWindow);
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] Initial position: (" + std::to_string (before.first) + "," +
	                              std::to_string (before.second) + ")\n"));
	std::this_thread::sleep_for (std::chrono::milliseconds (100)); // let the thread see the early events
	// The focus starts elsewhere, so that its move into Wine's window shows.
	xcb_set_input_focus (host->c, XCB_INPUT_FOCUS_PARENT, hostWindow, XCB_CURRENT_TIME);
	xcb_flush (host->c);
	ASSERT_TRUE (waitFor ([&] { return host->focus () == hostWindow; }));
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	const size_t beforeMove = tap->out ().size ();
	host->move (hostWindow, before.first + 10, before.second + 20);
	// With a window manager the request goes through it, and it places the
	// frame, not the window, at the requested point: wait for any move.
	ASSERT_TRUE (waitFor ([&] { return host->rootPosition (hostWindow) != before; }));
	std::this_thread::sleep_for (std::chrono::milliseconds (50));
	const auto after = host->rootPosition (hostWindow);
	ASSERT_NE (after, before);

	ASSERT_TRUE (xdotool (display.name (), "mousemove " + std::to_string (after.first + 50) + " " +
	                                           std::to_string (after.second + 200)));
	EXPECT_TRUE (waitFor ([&] { return host->focus () == wine; }));
	EXPECT_TRUE (waitFor ([&] {
		return tap->out ().find ("[QuillMarlowView] Setting focus to Wine window on enter\n", beforeMove) !=
		       std::string::npos;
	}));
	EXPECT_TRUE (editorLogHas ("focus in\n"));

	// The new position reached Wine exactly once, whichever came first: the
	// host window's move or the pointer's entry.
	const std::string out = tap->out ().substr (beforeMove);
	const std::string move = "," + std::to_string (before.second) + ") -> (" + std::to_string (after.first) + "," +
	                         std::to_string (after.second) + ")\n";
	EXPECT_EQ (countOf (out, "[QuillMarlowView] Position changed"), 1u) << out;
	EXPECT_EQ (countOf (out, move), 1u) << out;
	EXPECT_EQ (countOf (out, noticeTo (after)), 1u) << out;
	EXPECT_TRUE (editorLogHas (receivedNotice (after)));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] X11 ENTER window " + hex (wrapper)));

	// A click inside the embedded editor reaches its window (the band).
	ASSERT_TRUE (xdotool (display.name (), "click 1"));
	EXPECT_TRUE (editorLogHas ("click at (50,200)\n")) << readFile (editorLog);
}

TEST_P (Embedding, ThreadKeepsWineWindowInPlaceAndFollowsWrapperMoves)
{
	attach ();
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));

	// The Windows side moves its window to where it thinks it is on screen;
	// it goes back to the wrapper's origin. (Which of the thread's paths puts
	// it back, the move's own event or a position update that came first,
	// depends on the machine's load: only where it ends is checked.)
	host->move (wine, 37, 21);
	host->geometry (wine); // a round trip: the move has been made
	EXPECT_TRUE (waitFor ([&] { return host->geometry (wine).x == 0 && host->geometry (wine).y == 0; }))
	    << host->geometry (wine).x;

	// A move of the wrapper inside the host window: a notice with the new
	// root position. (A window manager may move Wine's window meanwhile; the
	// thread then sends the notice while putting it back, before the
	// wrapper's own event says "Position changed".)
	const auto origin = host->rootPosition (hostWindow);
	host->move (wrapper, 30, 40);
	const std::pair<int, int> moved {origin.first + 30, origin.second + 40};
	EXPECT_TRUE (tap->waitForOut (noticeTo (moved))) << tap->out ();
	EXPECT_TRUE (tap->waitForOut ("[QuillMarlowView] Wrapper ConfigureNotify: (30,40) 640x400\n")) << tap->out ();

	// A restack changes nothing on the screen: no notice.
	const size_t notices = countOf (tap->out (), "Sent ConfigureNotify");
	const uint32_t above = XCB_STACK_MODE_ABOVE;
	xcb_configure_window (host->c, wrapper, XCB_CONFIG_WINDOW_STACK_MODE, &above);
	xcb_flush (host->c);
	EXPECT_TRUE (tap->waitForOut ("[QuillMarlowView] Wrapper ConfigureNotify: (30,40) 640x400\n"));
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	EXPECT_EQ (countOf (tap->out (), "Sent ConfigureNotify"), notices);

	// The host resizes the editor: the wrapper and Wine's window follow.
	ViewRect large {0, 0, 1024, 768};
	EXPECT_EQ (view->onSize (&large), kResultOk);
	EXPECT_TRUE (waitFor ([&] { return host->geometry (wine) == HostDisplay::Rect {0, 0, 1024, 768}; }));
	ViewRect size {};
	view->getSize (&size);
	EXPECT_EQ (size.right, 1024);
	EXPECT_EQ (size.bottom, 768);
	EXPECT_EQ (host->geometry (wrapper), (HostDisplay::Rect {30, 40, 1024, 768}));

	// The host gives the view the focus.
	EXPECT_EQ (view->onFocus (true), kResultOk);
	EXPECT_TRUE (waitFor ([&] { return host->focus () == wine; }));
}

TEST_P (Embedding, RemovedHandsTheWindowBackAndAttachEmbedsItAgain)
{
	attach ();
	const xcb_window_t firstWrapper = wrapper, firstWine = wine;
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));

	EXPECT_EQ (view->removed (), kResultOk);
	EXPECT_FALSE (qmView ()->eventThreadRunning ());
	expectHandedBack (*host, tap->out (), firstWine, firstWrapper);
	EXPECT_TRUE (editorLogHas ("hidden\n")) << "HideEditor reached outpost";
	// Left for Wine's hide (it waits for it while it still takes the window
	// for mapped); the next show removes it.
	EXPECT_EQ (host->wmState (firstWine), (std::vector<uint32_t> {1, 0}));

	// Again, with the same Wine window (outpost keeps it) in a new wrapper.
	attach ();
	EXPECT_EQ (wine, firstWine);
	EXPECT_NE (wrapper, firstWrapper);
	expectEmbedded ();
	EXPECT_EQ (countOf (tap->out (), "[QuillMarlowView] Started event forwarding thread\n"), 2u);
	EXPECT_TRUE (waitFor ([&] { return host->pixel (hostWindow, 20, 200) == kEditorBand; }));
}

// outpost killed while its editor is embedded: the processor restarts it,
// and the view embeds the new outpost's editor in the same wrapper.
TEST_P (Embedding, TheEditorOfARestartedOutpostComesBackInTheSameWrapper)
{
	attach ();
	const xcb_window_t firstWine = wine;
	const pid_t first = (*processor)->outpostPid ();
	ASSERT_GT (first, 0);
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));

	ASSERT_EQ (::kill (first, SIGKILL), 0);
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] Editor of the restarted outpost embedded", 10000)) << tap->err ();
	EXPECT_NE ((*processor)->outpostPid (), first);
	EXPECT_EQ (qmView ()->wrapperWindow (), wrapper) << "the same wrapper";
	wine = qmView ()->wineWindow ();
	(void)firstWine; // the server may hand the new client the same ids
	auto* owner = xcb_get_property_reply (
	    host->c, xcb_get_property (host->c, 0, wine, host->atom ("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1), nullptr);
	ASSERT_NE (owner, nullptr);
	ASSERT_EQ (xcb_get_property_value_length (owner), 4);
	EXPECT_EQ (*static_cast<const uint32_t*> (xcb_get_property_value (owner)),
	           static_cast<uint32_t> ((*processor)->outpostPid ()))
	    << "the new outpost's window";
	free (owner);
	expectEmbedded ();
	EXPECT_TRUE (waitFor ([&] { return host->pixel (hostWindow, 20, 200) == kEditorBand; }));
}

TEST_P (Embedding, ReleasingAnAttachedViewLeavesWineWindowAlive)
{
	attach ();
	view->release ();
	view = nullptr;
	EXPECT_FALSE (host->exists (wrapper));
	EXPECT_TRUE (host->exists (wine)) << "Wine's window went down with the wrapper";
	EXPECT_EQ (host->parentOf (wine), host->screen->root);

	// A new view embeds the same window again.
	view = controller->createView ("editor");
	attach ();
	expectEmbedded ();
}

// A host that speaks XEmbed strictly gives up on a child without
// `_XEMBED_INFO`, or one already marked mapped, and maps it itself only when
// the property asks for it; its focus messages must bring the keyboard focus
// into Wine's window.
TEST_P (Embedding, AnXEmbedStrictHostEmbedsTheEditorAndItsFocusReachesWine)
{
	ASSERT_TRUE (xdotool (display.name (), "mousemove 1270 1015")); // the pointer gives no focus
	xcb_set_input_focus (host->c, XCB_INPUT_FOCUS_PARENT, hostWindow, XCB_CURRENT_TIME);
	xcb_flush (host->c);
	ASSERT_TRUE (waitFor ([&] { return host->focus () == hostWindow; }));

	XEmbedStrictHost strict (display.name (), hostWindow);
	attach ();
	ASSERT_EQ (strict.embed (), "");
	EXPECT_EQ (strict.child (), wrapper);
	expectEmbedded ();
	EXPECT_TRUE (waitFor ([&] { return host->focus () == wine; }));
	EXPECT_TRUE (tap->waitForOut ("[QuillMarlowView] XEmbed: focus in - setting focus to Wine window\n"));
	const std::string out = tap->out ();
	EXPECT_THAT (out,
	             HasSubstr ("[QuillMarlowView] XEmbed: embedded by " + hex (hostWindow) + " (protocol version 0)\n"));
	EXPECT_THAT (out, HasSubstr ("[QuillMarlowView] XEmbed: window activate - setting focus to Wine window\n"));
	EXPECT_EQ (countOf (out, "asks its embedder to map it"), 1u);
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));
}

// Two plug-in instances as a host runs them: each controller connected to
// its own processor, both active, both editors open at once. Each editor
// must show its own outpost's window, not the first active processor's (the
// fixture's, which is active too).
TEST_P (Embedding, EachConnectedControllerEmbedsItsOwnOutpostsWindow)
{
	Steinberg::Vst::HostApplication hostContext;
	struct Pair
	{
		std::unique_ptr<HostedProcessor> processor;
		QuillMarlowController* controller = nullptr;
		Steinberg::IPlugView* view = nullptr;
		xcb_window_t hostWindow = 0;
	};
	Pair pairs[2];
	for (Pair& pair : pairs)
	{
		pair.processor = std::make_unique<HostedProcessor> ("editor:" + editorLog, 1024, 48000.0, &hostContext);
		ASSERT_EQ ((*pair.processor)->setActive (true), kResultOk);
		pair.controller = new QuillMarlowController ();
		ASSERT_EQ (pair.controller->initialize (&hostContext), kResultOk);
		auto* processorPoint = static_cast<Steinberg::Vst::IConnectionPoint*> (pair.processor->p);
		auto* controllerPoint = static_cast<Steinberg::Vst::IConnectionPoint*> (pair.controller);
		ASSERT_EQ (processorPoint->connect (controllerPoint), kResultOk);
		ASSERT_EQ (controllerPoint->connect (processorPoint), kResultOk);
	}
	for (Pair& pair : pairs)
	{
		pair.hostWindow = host->createHostWindow (50, 50, 700, 500);
		ASSERT_NE (pair.hostWindow, 0u);
		pair.view = pair.controller->createView ("editor");
		ASSERT_NE (pair.view, nullptr);
		ASSERT_EQ (pair.view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (pair.hostWindow)),
		                                Steinberg::kPlatformTypeX11EmbedWindowID),
		           kResultOk);
	}
	const xcb_atom_t pidAtom = host->atom ("_NET_WM_PID");
	for (Pair& pair : pairs)
	{
		auto* v = static_cast<QuillMarlowView*> (pair.view);
		expectEmbeddedTree (*host, pair.hostWindow, v->wrapperWindow (), v->wineWindow (), kEditorWidth, kEditorHeight);
		auto* reply = xcb_get_property_reply (
		    host->c, xcb_get_property (host->c, 0, v->wineWindow (), pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
		ASSERT_NE (reply, nullptr);
		ASSERT_EQ (xcb_get_property_value_length (reply), 4);
		EXPECT_EQ (*static_cast<const uint32_t*> (xcb_get_property_value (reply)),
		           static_cast<uint32_t> ((*pair.processor)->outpostPid ()));
		free (reply);
		EXPECT_THAT (tap->out (), HasSubstr ("[QuillMarlowController] Using the editor of connected processor #" +
		                                     std::to_string ((*pair.processor)->instanceId ()) + "\n"));
	}
	for (Pair& pair : pairs)
	{
		EXPECT_EQ (pair.view->removed (), kResultOk);
		pair.view->release ();
		static_cast<Steinberg::Vst::IConnectionPoint*> (pair.controller)->disconnect (pair.processor->p);
		pair.processor->p->disconnect (pair.controller);
		pair.controller->terminate ();
		pair.controller->release ();
	}
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));
}

// The host sizes its window from getSize before attaching. The first time
// outpost has no editor yet; after attaching the view asks the host's frame
// for the real size. outpost keeps that size, so the next view knows it at
// once and need not ask.
TEST_P (Embedding, TheHostWindowTakesTheEditorsSizeAndTheNextViewKnowsItAtOnce)
{
	HostFrame frame (*host, hostWindow);
	EXPECT_EQ (view->setFrame (&frame), kResultOk);
	ViewRect told {};
	view->getSize (&told);
	EXPECT_EQ (told.getWidth (), 800);
	attach ();
	EXPECT_EQ (frame.requests, (std::vector<std::pair<int, int>> {{kEditorWidth, kEditorHeight}}));
	EXPECT_TRUE (waitFor ([&] {
		const auto g = host->geometry (hostWindow);
		return g.width == kEditorWidth && g.height == kEditorHeight;
	}));
	expectEmbedded ();
	EXPECT_EQ (frame.handlerCount (), 1u) << "the view registered with the host's run loop";
	EXPECT_EQ (view->removed (), kResultOk);
	EXPECT_EQ (frame.handlerCount (), 0u);
	view->setFrame (nullptr);
	view->release ();

	view = controller->createView ("editor");
	ASSERT_NE (view, nullptr);
	view->setFrame (&frame);
	view->getSize (&told);
	EXPECT_EQ (told.getWidth (), kEditorWidth);
	EXPECT_EQ (told.getHeight (), kEditorHeight);
	attach ();
	EXPECT_EQ (frame.requests.size (), 1u) << "no second request";
	EXPECT_EQ (view->removed (), kResultOk);
	view->setFrame (nullptr);
}

INSTANTIATE_TEST_SUITE_P (, Embedding, testing::Values (Manager::None, Manager::Openbox), managerName);

} // namespace
} // namespace QuillMarlowTest
