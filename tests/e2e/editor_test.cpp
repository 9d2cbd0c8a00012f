// Quill's editor, drawn by the real outpost under Wine, embedded in a test
// host's top-level X11 window through the built bundle's view; checked
// against the X server's own view of the windows, on the prefix's display,
// once bare and once with openbox managing it.
#include "e2e_support.h"
#include "host_frame.h"
#include "x_host.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <memory>
#include <regex>

namespace e2e {
namespace {

using QuillMarlowTest::countOf;
using QuillMarlowTest::hex;
using QuillMarlowTest::HostDisplay;
using QuillMarlowTest::OutputTap;
using ::testing::HasSubstr;
using ::testing::Not;

// Quill's editor: 480 x 300, a sea-green band along its bottom 40 rows.
constexpr uint32_t kBand = 0x2e8b57;
constexpr uint32_t kHostWhite = 0xffffff;
constexpr int kQuillWidth = 480, kQuillHeight = 300, kBandHeight = 40;

enum class Manager
{
	None,
	Openbox
};

std::string managerName (const testing::TestParamInfo<Manager>& info)
{
	return info.param == Manager::None ? "NoWindowManager" : "Openbox";
}

// openbox managing the prefix's display for the duration of one test. The
// prefix is bound to that display, so the window manager comes to it.
class Openbox
{
public:
	bool start ()
	{
		pid_ = QuillMarlowTest::startOpenbox (WINE_TEST_DISPLAY);
		return pid_ > 0;
	}
	~Openbox () { QuillMarlowTest::stopChild (pid_); }

private:
	pid_t pid_ = -1;
};

// Fraction of the pixels of the rectangle that have `colour`.
double share (const HostDisplay::Image& image, int x0, int y0, int x1, int y1, uint32_t colour)
{
	long hits = 0, all = 0;
	for (int y = y0; y < y1 && y < image.height; ++y)
		for (int x = x0; x < x1 && x < image.width; ++x, ++all)
			hits += image.at (x, y) == colour;
	return all ? static_cast<double> (hits) / all : 0.0;
}

// A host as an audio host runs the bundle: the processor activated (which
// starts outpost serving Quill), the controller, a top-level window of its
// own, and the editor view from the controller.
class RealEditor : public testing::TestWithParam<Manager>
{
protected:
	void SetUp () override
	{
		if (GetParam () == Manager::Openbox)
		{
			openbox = std::make_unique<Openbox> ();
			ASSERT_TRUE (openbox->start ()) << "openbox did not take the display";
		}
		host = std::make_unique<HostDisplay> (WINE_TEST_DISPLAY);
		ASSERT_TRUE (host->ok ());
		// Before outpost starts, so that its output and Quill's land here too.
		tap = std::make_unique<OutputTap> ();
		module = std::make_unique<BundleModule> ();
		ASSERT_NE (module->factory (), nullptr);
		processor = std::make_unique<Processor> (module->factory (), 512);
		ASSERT_TRUE (processor->valid ());
		ASSERT_EQ (processor->activate (true), kResultOk) << tap->err ();
		const TUID controllerId = INLINE_UID (0x87654321, 0x87654321, 0x87654321, 0x87654321);
		ASSERT_EQ (module->factory ()->createInstance (controllerId, Vst::IEditController::iid,
		                                               reinterpret_cast<void**> (&controller)),
		           kResultOk);
		ASSERT_EQ (controller->initialize (nullptr), kResultOk);
		hostWindow = host->createHostWindow (100, 80, 900, 700);
		ASSERT_NE (hostWindow, 0u);
		if (openbox)
		{
			ASSERT_NE (host->parentOf (hostWindow), host->screen->root) << "openbox did not frame the host window";
		}
		view = controller->createView (Vst::ViewType::kEditor);
		ASSERT_NE (view, nullptr);
	}

	void TearDown () override
	{
		if (view)
			view->release ();
		if (controller)
		{
			controller->terminate ();
			controller->release ();
		}
		processor.reset ();
		module.reset ();
		tap.reset ();
		openbox.reset ();
	}

	// Attaches the view and finds the wrapper (the host window's only child)
	// and Wine's window (the id the view was given).
	void attach ()
	{
		const size_t from = tap->out ().size ();
		ASSERT_EQ (view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (hostWindow)),
		                           kPlatformTypeX11EmbedWindowID),
		           kResultOk)
		    << tap->err ();
		const std::vector<xcb_window_t> children = host->children (hostWindow);
		ASSERT_EQ (children.size (), 1u);
		wrapper = children[0];
		std::smatch id;
		const std::string out = tap->out ().substr (from);
		ASSERT_TRUE (std::regex_search (out, id, std::regex ("Wine X11 Window ID: 0x([0-9a-f]+)\n"))) << out;
		wine = static_cast<xcb_window_t> (std::stoul (id[1], nullptr, 16));
	}

	// host window > wrapper > Wine's window, both viewable, Wine's window at
	// the wrapper's origin with the editor's size and marked normal. Checked
	// again a little later: a window manager that framed Wine's window while
	// outpost showed it at the top level must not take it back afterwards.
	void expectEmbedded (int width = kQuillWidth, int height = kQuillHeight)
	{
		for (int round = 0; round < 2; ++round)
		{
			SCOPED_TRACE (round == 0 ? "at once" : "after 300 ms");
			expectEmbeddedTree (*host, hostWindow, wrapper, wine, width, height);
			if (round == 0)
				std::this_thread::sleep_for (std::chrono::milliseconds (300));
		}
	}

	// Quill's band shows in the host window along the bottom of the editor,
	// the editor's other pixels are not the band's, the host's are white.
	void expectQuillOnScreen ()
	{
		HostDisplay::Image image;
		const bool band = QuillMarlowTest::waitFor ([&] {
			image = host->capture (hostWindow);
			return !image.empty () &&
			       share (image, 0, kQuillHeight - kBandHeight, kQuillWidth, kQuillHeight, kBand) == 1.0;
		});
		ASSERT_FALSE (image.empty ());
		EXPECT_TRUE (band) << "band rows hold "
		                   << share (image, 0, kQuillHeight - kBandHeight, kQuillWidth, kQuillHeight, kBand)
		                   << " band colour; " << scene ();
		EXPECT_EQ (share (image, 0, 0, kQuillWidth, kQuillHeight - kBandHeight, kBand), 0.0);
		EXPECT_EQ (share (image, kQuillWidth + 10, 0, image.width, image.height, kHostWhite), 1.0);
		EXPECT_EQ (share (image, 0, kQuillHeight + 10, kQuillWidth, image.height, kHostWhite), 1.0);
	}

	// Where pointer, focus and windows are, for a failure's message.
	std::string scene ()
	{
		const auto pointer = host->pointer ();
		const auto hostAt = host->rootPosition (hostWindow), wineAt = host->rootPosition (wine);
		return "pointer at " + std::to_string (pointer.x) + "," + std::to_string (pointer.y) + " over " +
		       hex (pointer.under) + ", focus " + hex (host->focus ()) + ", host " + hex (hostWindow) + " at " +
		       std::to_string (hostAt.first) + "," + std::to_string (hostAt.second) + ", wrapper " + hex (wrapper) +
		       ", Wine's " + hex (wine) + " at " + std::to_string (wineAt.first) + "," +
		       std::to_string (wineAt.second) + " in " + hex (host->parentOf (wine));
	}

	std::string noticeTo (std::pair<int, int> pos, int w = kQuillWidth, int h = kQuillHeight) const
	{
		return "[QuillMarlowView] Sent ConfigureNotify to " + hex (wine) + " pos=(" + std::to_string (pos.first) + "," +
		       std::to_string (pos.second) + ") size=" + std::to_string (w) + "x" + std::to_string (h) + "\n";
	}

	std::unique_ptr<Openbox> openbox;
	std::unique_ptr<HostDisplay> host;
	std::unique_ptr<OutputTap> tap;
	std::unique_ptr<BundleModule> module;
	std::unique_ptr<Processor> processor;
	Vst::IEditController* controller = nullptr;
	IPlugView* view = nullptr;
	xcb_window_t hostWindow = 0, wrapper = 0, wine = 0;
};

TEST_P (RealEditor, EmbedsQuillAndPassesPositionFocusClicksAndSize)
{
	attach ();
	expectEmbedded ();
	ViewRect size {};
	view->getSize (&size);
	EXPECT_EQ (size.getWidth (), kQuillWidth);
	EXPECT_EQ (size.getHeight (), kQuillHeight);
	expectQuillOnScreen ();
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));

	// The host's top-level window moves, then the pointer enters the editor:
	// Wine learns the new position exactly once and gets the focus.
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "mousemove 1270 1015"));
	const auto before = host->rootPosition (hostWindow);
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] Initial position: (" + std::to_string (before.first) + "," +
	                              std::to_string (before.second) + ")\n"))
	    << scene ();
	std::this_thread::sleep_for (std::chrono::milliseconds (100)); // let the thread see the early events
	xcb_set_input_focus (host->c, XCB_INPUT_FOCUS_PARENT, hostWindow, XCB_CURRENT_TIME);
	xcb_flush (host->c);
	ASSERT_TRUE (QuillMarlowTest::waitFor ([&] { return host->focus () == hostWindow; }));
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	const size_t beforeMove = tap->out ().size ();
	host->move (hostWindow, before.first + 10, before.second + 20);
	// Through a window manager the frame lands there, not the window: any move.
	ASSERT_TRUE (QuillMarlowTest::waitFor ([&] { return host->rootPosition (hostWindow) != before; }));
	std::this_thread::sleep_for (std::chrono::milliseconds (50));
	const auto after = host->rootPosition (hostWindow);
	const int clickX = 50, clickY = kQuillHeight - 20; // on the band
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "mousemove " + std::to_string (after.first + clickX) +
	                                                              " " + std::to_string (after.second + clickY)));
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] { return host->focus () == wine; })) << scene ();
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return tap->out ().find ("[QuillMarlowView] Setting focus to Wine window on enter\n", beforeMove) !=
		       std::string::npos;
	})) << scene ();
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	std::string out = tap->out ().substr (beforeMove);
	EXPECT_EQ (countOf (out, "[QuillMarlowView] Position changed"), 1u) << out;
	EXPECT_EQ (countOf (out, ") -> (" + std::to_string (after.first) + "," + std::to_string (after.second) + ")\n"), 1u)
	    << out;
	EXPECT_EQ (countOf (out, "Sent ConfigureNotify"), 1u) << out;
	EXPECT_EQ (countOf (out, noticeTo (after)), 1u) << out;

	// A click on the editor reaches Quill's window procedure, at the point
	// of the editor that is under the pointer.
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "click 1"));
	const std::string click =
	    "[Quill] Editor click at " + std::to_string (clickX) + "," + std::to_string (clickY) + "\n";
	EXPECT_TRUE (tap->waitForOut (click)) << scene () << "\n" << tap->out ().substr (beforeMove);
	expectEmbedded ();

	// The host resizes the view: Wine's window follows.
	ViewRect large {0, 0, 1024, 768};
	EXPECT_EQ (view->onSize (&large), kResultOk);
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return host->geometry (wine) == HostDisplay::Rect {0, 0, 1024, 768};
	})) << host->geometry (wine).width
	    << "x" << host->geometry (wine).height << ", " << scene ();
	view->getSize (&size);
	EXPECT_EQ (size.getWidth (), 1024);
	EXPECT_EQ (size.getHeight (), 768);
	EXPECT_EQ (host->parentOf (wine), wrapper);
	EXPECT_EQ (view->removed (), kResultOk);
}

TEST_P (RealEditor, RemovedHandsWineWindowBackAndAttachedEmbedsItAgain)
{
	attach ();
	const xcb_window_t firstWrapper = wrapper, firstWine = wine;
	ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));
	expectQuillOnScreen ();

	const size_t from = tap->out ().size ();
	EXPECT_EQ (view->removed (), kResultOk);
	const std::string out = tap->out ();
	EXPECT_GT (out.rfind ("[QuillMarlowView] WM event thread stopped\n"), from) << "stopped by this removed";
	EXPECT_TRUE (host->children (hostWindow).empty ());
	EXPECT_TRUE (tap->waitForOut ("[Outpost] Received HideEditor command\n", 10000)) << "HideEditor reached outpost";
	EXPECT_TRUE (tap->waitForOut ("[PluginInstance] Window hidden (not destroyed)\n"));
	expectHandedBack (*host, out, firstWine, firstWrapper);

	// Again: outpost keeps its window, and it comes back in a new wrapper.
	attach ();
	EXPECT_EQ (wine, firstWine);
	EXPECT_NE (wrapper, firstWrapper);
	expectEmbedded ();
	expectQuillOnScreen ();
	EXPECT_EQ (countOf (tap->out (), "[QuillMarlowView] Started event forwarding thread\n"), 2u);
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));
	EXPECT_EQ (view->removed (), kResultOk);
}

// Sizes with a host frame of our own: the host window takes Quill's size
// after attaching; Quill's right click (it asks its frame for the large
// size) resizes outpost's container, the wrapper, Wine's window and, asked
// through the host's run loop, the host window; and a resize by the host
// reaches Quill, which keeps to its minimum.
TEST_P (RealEditor, SizesFollowQuillAndTheHost)
{
	// Hosts make their window from the size before attaching: the served
	// editor's own, although outpost never showed an editor yet.
	ViewRect before {};
	ASSERT_EQ (view->getSize (&before), kResultOk);
	EXPECT_EQ (before.getWidth (), kQuillWidth);
	EXPECT_EQ (before.getHeight (), kQuillHeight);
	const uint32_t wh[] = {static_cast<uint32_t> (before.getWidth ()), static_cast<uint32_t> (before.getHeight ())};
	xcb_configure_window (host->c, hostWindow, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wh);
	xcb_flush (host->c);
	QuillMarlowTest::HostFrame frame (*host, hostWindow);
	view->setFrame (&frame);
	attach ();
	EXPECT_TRUE (frame.requests.empty ()) << "the host's window has the size already";
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		const auto g = host->geometry (hostWindow);
		return g.width == kQuillWidth && g.height == kQuillHeight;
	}));
	expectEmbedded ();
	EXPECT_EQ (view->canResize (), kResultTrue);

	const auto origin = host->rootPosition (hostWindow);
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "mousemove " + std::to_string (origin.first + 40) + " " +
	                                                              std::to_string (origin.second + 20)));
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "click 3"));
	EXPECT_TRUE (tap->waitForOut ("[Quill] Editor asks for 640x400\n", 10000)) << tap->out ();
	EXPECT_TRUE (frame.runUntil ([&] { return frame.requests.size () == 1; }, 10000)) << tap->out ();
	ASSERT_EQ (frame.requests.size (), 1u);
	EXPECT_EQ (frame.requests[0], std::make_pair (640, 400));
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return host->geometry (hostWindow).width == 640 &&
		       host->geometry (wrapper) == HostDisplay::Rect {0, 0, 640, 400};
	}));
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return host->geometry (wine) == HostDisplay::Rect {0, 0, 640, 400};
	})) << host->geometry (wine).width
	    << "x" << host->geometry (wine).height;
	EXPECT_THAT (tap->out (), HasSubstr ("[PlugFrame] Container resized to 640x400\n"));
	ViewRect size {};
	view->getSize (&size);
	EXPECT_EQ (size.getWidth (), 640);

	// The host's turn: Quill takes no less than 320 x 240.
	ViewRect small {0, 0, 200, 100};
	EXPECT_EQ (view->checkSizeConstraint (&small), kResultOk);
	EXPECT_EQ (small.getWidth (), 320);
	EXPECT_EQ (small.getHeight (), 240);
	ViewRect wide {0, 0, 720, 450};
	EXPECT_EQ (view->onSize (&wide), kResultOk);
	EXPECT_THAT (tap->out (), HasSubstr ("[QuillMarlowView] Served editor resized to 720x450\n"));
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return host->geometry (wine) == HostDisplay::Rect {0, 0, 720, 450};
	})) << host->geometry (wine).width
	    << "x" << host->geometry (wine).height;
	EXPECT_EQ (host->geometry (wrapper), (HostDisplay::Rect {0, 0, 720, 450}));
	frame.runUntil ([] { return false; }, 300);
	EXPECT_EQ (frame.requests.size (), 1u) << "the host's own size is not asked back";

	// A host without a run loop: our windows follow Quill, and the host is
	// not called from the event thread.
	QuillMarlowTest::HostFrame plainFrame (*host, hostWindow, false);
	view->setFrame (&plainFrame);
	ASSERT_TRUE (QuillMarlowTest::xdotool (WINE_TEST_DISPLAY, "click 3"));
	EXPECT_TRUE (
	    tap->waitForOut ("[QuillMarlowView] Host offers no run loop: its window is not asked for 480x300\n", 10000));
	EXPECT_TRUE (QuillMarlowTest::waitFor ([&] {
		return host->geometry (wrapper) == HostDisplay::Rect {0, 0, kQuillWidth, kQuillHeight};
	}));
	EXPECT_TRUE (plainFrame.requests.empty ());
	EXPECT_THAT (tap->err (), Not (HasSubstr ("ERROR")));
	EXPECT_EQ (view->removed (), kResultOk);
	view->setFrame (nullptr);
}

INSTANTIATE_TEST_SUITE_P (, RealEditor, testing::Values (Manager::None, Manager::Openbox), managerName);

// Wine says when it gave up waiting for a window manager to withdraw or
// show a window (two seconds of outpost's main thread, and of every command
// behind it): its fixme lines of that kind are let through for these tests.
class RealEditorTraced : public RealEditor
{
protected:
	void SetUp () override
	{
		::setenv ("WINEDEBUG", "-all,fixme+event", 1);
		RealEditor::SetUp ();
	}
	void TearDown () override
	{
		RealEditor::TearDown ();
		::setenv ("WINEDEBUG", "-all", 1);
	}
};

TEST_P (RealEditorTraced, AStateCallRightAfterClosingTheEditorDoesNotWaitForWine)
{
	for (int round = 0; round < 2; ++round)
	{
		SCOPED_TRACE (round == 0 ? "first close" : "closed after opening again");
		attach ();
		ASSERT_TRUE (tap->waitForOut ("[QuillMarlowView] WM event thread started\n"));
		EXPECT_EQ (view->removed (), kResultOk);
		tresult result = kResultFalse;
		EXPECT_FALSE (processor->saveState (&result).empty ());
		EXPECT_EQ (result, kResultOk);
		// The state was read after the window was hidden, and nothing waited.
		const std::string out = tap->out ();
		const size_t hidden = out.rfind ("[PluginInstance] Window hidden (not destroyed)\n");
		ASSERT_NE (hidden, std::string::npos);
		EXPECT_GT (out.rfind ("[Outpost] State saved: "), hidden);
	}
	EXPECT_THAT (tap->out () + tap->err (), Not (HasSubstr ("wait timed out")));
}

INSTANTIATE_TEST_SUITE_P (, RealEditorTraced, testing::Values (Manager::None), managerName);

// Every instance of the test in one group: one instance's editor is open
// while another instance of its outpost has its state set and saved.
class GroupedEditor : public RealEditor
{
protected:
	void SetUp () override
	{
		::setenv ("QUILLMARLOW_GROUP", "editor", 1);
		RealEditor::SetUp ();
	}
	void TearDown () override
	{
		RealEditor::TearDown ();
		::unsetenv ("QUILLMARLOW_GROUP");
	}
};

TEST_P (GroupedEditor, AnotherInstanceOfTheOutpostSavesItsStateWhileTheEditorIsOpen)
{
	attach ();
	expectQuillOnScreen ();
	Processor other (module->factory (), 512);
	ASSERT_TRUE (other.valid ());
	ASSERT_EQ (other.activate (true), kResultOk);
	EXPECT_EQ (runningOutposts ().size (), 1u) << "both instances in one outpost";
	const std::vector<uint8> state = quillStateStream (0.9, 0.5);
	ASSERT_EQ (other.restoreState (state), kResultOk);
	EXPECT_EQ (other.saveState (), state);
	expectQuillOnScreen ();
	EXPECT_THAT (tap->out () + tap->err (), Not (HasSubstr ("timed out")));
}

INSTANTIATE_TEST_SUITE_P (, GroupedEditor, testing::Values (Manager::None), managerName);

} // namespace
} // namespace e2e
