// createView, the view's plain IPlugView operations and the failures of
// `attached`, with and without an X11 display.
#include "x_test_support.h"

#include "plugin/controller.h"
#include "plugin/view.h"

#include <gmock/gmock.h>

namespace QuillMarlowTest {
namespace {

using Steinberg::IPlugView;
using Steinberg::QuillMarlow::InstanceRegistry;
using Steinberg::QuillMarlow::QuillMarlowController;
using Steinberg::QuillMarlow::QuillMarlowView;
using ::testing::HasSubstr;
using ::testing::Not;

struct Controller
{
	Controller () : c (new QuillMarlowController ()) { EXPECT_EQ (c->initialize (nullptr), kResultOk); }
	~Controller ()
	{
		c->terminate ();
		c->release ();
	}
	QuillMarlowController* operator->() const { return c; }
	QuillMarlowController* c;
};

// A command slot as the processor creates it: idle, no window.
void initCommandSlot (Tandem::UICommand& ui)
{
	ui.command = static_cast<int32> (Tandem::CommandCode::Idle);
	ui.processed.store (true);
	ui.editorWidth = 800;
	ui.editorHeight = 600;
}

void* windowArg (uint32_t id)
{
	return reinterpret_cast<void*> (static_cast<uintptr_t> (id));
}

TEST (EditorViewCreation, OnlyAnEditorOfAnActiveProcessorIsHandedOut)
{
	Controller controller;
	OutputTap tap;
	EXPECT_EQ (controller->createView ("editor"), nullptr) << "no processor is active";
	EXPECT_EQ (controller->createView ("Editor"), nullptr);
	EXPECT_EQ (controller->createView (nullptr), nullptr);
	tap.restore ();
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowController] ERROR: No active UICommand found\n"
	                                    "[QuillMarlowController] Make sure the plugin is activated first!\n"));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowController] createView(editor) called\n"));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowController] Unknown view type: Editor\n"));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowController] createView() called\n"
	                                    "[QuillMarlowController] Unknown view type: \n"));
}

// No DISPLAY: the view exists, has no connection, and `attached` fails
// without touching the command slot; its other operations work as usual.
TEST (EditorViewWithoutDisplay, AttachFailsCleanlyAndTheViewStillBehaves)
{
	::unsetenv ("DISPLAY");
	HostedProcessor processor ("serve");
	ASSERT_EQ (processor->setActive (true), kResultOk);
	Tandem::UICommand* ui = processor->sharedMemory ().uiCommand ();
	Controller controller;

	OutputTap tap;
	IPlugView* view = controller->createView ("editor");
	IPlugView* other = controller->createView ("editor");
	ASSERT_NE (view, nullptr);
	ASSERT_NE (other, nullptr);
	EXPECT_NE (view, other);
	other->release ();
	EXPECT_FALSE (static_cast<QuillMarlowView*> (view)->hasConnection ());

	const int32 lastCommand = ui->command;
	EXPECT_EQ (view->attached (windowArg (0x1234), Steinberg::kPlatformTypeX11EmbedWindowID), kResultFalse);
	EXPECT_EQ (ui->command, lastCommand) << "nothing was posted";
	EXPECT_TRUE (ui->processed.load ());

	// Reference counting.
	void* obj = nullptr;
	EXPECT_EQ (view->queryInterface (IPlugView::iid, &obj), kResultOk);
	EXPECT_EQ (obj, view);
	EXPECT_EQ (view->release (), 1u) << "queryInterface added one reference";
	EXPECT_EQ (view->queryInterface (Steinberg::Vst::IEditController::iid, &obj), Steinberg::kNoInterface);
	EXPECT_EQ (obj, nullptr);

	// Size, platform types, focus before attaching.
	ViewRect rect {};
	EXPECT_EQ (view->getSize (&rect), kResultOk);
	EXPECT_EQ (rect.right, 800);
	EXPECT_EQ (rect.bottom, 600);
	EXPECT_EQ (view->getSize (nullptr), kResultOk);
	EXPECT_EQ (view->canResize (), kResultFalse);
	EXPECT_EQ (view->isPlatformTypeSupported ("X11EmbedWindowID"), kResultOk);
	EXPECT_EQ (view->isPlatformTypeSupported ("HWND"), kResultOk);
	EXPECT_EQ (view->onFocus (true), kResultOk);
	ViewRect big {0, 0, 1024, 768};
	EXPECT_EQ (view->onSize (&big), kResultOk);
	view->getSize (&rect);
	EXPECT_EQ (rect.right, 800) << "nothing embedded: the size stays";

	// Before attaching, the size is the one outpost keeps in the region; a
	// size no editor can have (the other process wrote it) is not taken.
	ui->editorWidth = -7;
	ui->editorHeight = 1 << 30;
	view->getSize (&rect);
	EXPECT_EQ (rect.right, 800);
	EXPECT_EQ (rect.bottom, 600);
	ui->editorWidth = 512;
	ui->editorHeight = 384;
	view->getSize (&rect);
	EXPECT_EQ (rect.right, 512);
	EXPECT_EQ (rect.bottom, 384);

	// `removed` after a failed attach still tells outpost to hide.
	EXPECT_EQ (view->removed (), kResultOk);
	EXPECT_EQ (ui->command, static_cast<int32> (Tandem::CommandCode::HideEditor));
	EXPECT_TRUE (waitFor ([&] { return ui->processed.load (); })) << "the stand-in acknowledges";
	EXPECT_EQ (view->release (), 0u);

	tap.restore ();
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowView] Failed to connect to X11 display!\n"));
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowView] ERROR: No XCB connection!\n"));
	EXPECT_THAT (tap.out (), Not (HasSubstr ("Focus gained")));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowView] Destroyed\n"));
}

// The failures of `attached` that involve outpost's answer.
class AttachFailures : public testing::Test
{
protected:
	void SetUp () override
	{
		ASSERT_TRUE (display.start (false));
		::setenv ("DISPLAY", display.name ().c_str (), 1);
		host = std::make_unique<HostDisplay> (display.name ());
		ASSERT_TRUE (host->ok ());
		hostWindow = host->createHostWindow (0, 0, 900, 700);
		ASSERT_NE (hostWindow, 0u);
	}
	VirtualDisplay display;
	std::unique_ptr<HostDisplay> host;
	xcb_window_t hostWindow = 0;
};

TEST_F (AttachFailures, OutpostWithoutAWindowOrANullParentFailsAndRemovedCopes)
{
	// "serve" acknowledges ShowEditor without a window, as outpost does
	// without a plug-in instance.
	HostedProcessor processor ("serve");
	ASSERT_EQ (processor->setActive (true), kResultOk);
	Tandem::UICommand* ui = processor->sharedMemory ().uiCommand ();
	Controller controller;
	OutputTap tap;
	IPlugView* view = controller->createView ("editor");
	ASSERT_NE (view, nullptr);
	EXPECT_EQ (view->attached (windowArg (hostWindow), nullptr), kResultFalse);
	EXPECT_EQ (ui->parentWindow, hostWindow);
	EXPECT_EQ (ui->command, static_cast<int32> (Tandem::CommandCode::ShowEditor));
	EXPECT_FALSE (static_cast<QuillMarlowView*> (view)->eventThreadRunning ());
	EXPECT_EQ (view->removed (), kResultOk);

	view->release ();

	// Outpost answers with a window, but the host gave no parent.
	Tandem::UICommand own {};
	initCommandSlot (own);
	view = new QuillMarlowView (&own);
	std::thread fakeReply ([&] {
		waitFor ([&] { return !own.processed.load (); });
		own.wineWindow = 0x400001;
		own.processed.store (true);
	});
	EXPECT_EQ (view->attached (nullptr, "X11EmbedWindowID"), kResultFalse);
	fakeReply.join ();
	EXPECT_EQ (static_cast<QuillMarlowView*> (view)->wrapperWindow (), 0u);
	EXPECT_EQ (view->removed (), kResultOk);
	EXPECT_EQ (own.command, static_cast<int32> (Tandem::CommandCode::HideEditor));
	view->release ();

	tap.restore ();
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowView] ERROR: outpost did not provide X11 window handle!\n"));
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowView] Missing required data for wrapper window\n"
	                                    "[QuillMarlowView] Failed to create wrapper window!\n"));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowView] Platform type: null\n"));
	EXPECT_THAT (tap.out (), HasSubstr ("[QuillMarlowView] Reparenting Wine window to root...\n"))
	    << "a Wine window known from a failed attach goes back to the root";
}

TEST_F (AttachFailures, SilentOutpostTimesOutAfterTenSecondsAndTheCommandStaysPosted)
{
	Tandem::UICommand ui {}; // nobody answers
	initCommandSlot (ui);
	OutputTap tap;
	IPlugView* view = new QuillMarlowView (&ui);
	const auto start = std::chrono::steady_clock::now ();
	EXPECT_EQ (view->attached (windowArg (hostWindow), "X11EmbedWindowID"), kResultFalse);
	EXPECT_GE (std::chrono::steady_clock::now () - start, std::chrono::seconds (10));
	EXPECT_FALSE (ui.processed.load ());
	EXPECT_EQ (ui.command, static_cast<int32> (Tandem::CommandCode::ShowEditor));
	view->release ();
	tap.restore ();
	EXPECT_THAT (tap.err (), HasSubstr ("[QuillMarlowView] TIMEOUT waiting for outpost!\n"));
}

// The command region lives in the processor's shared file. A host may
// terminate or destroy the processor before it removes or releases the view;
// the view must then leave the region alone instead of writing into memory
// that is no longer mapped.
TEST_F (AttachFailures, ARegionOfATerminatedProcessorIsNeverTouched)
{
	Tandem::UICommand own {};
	initCommandSlot (own);
	EXPECT_FALSE (InstanceRegistry::isUICommandMapped (nullptr));
	EXPECT_FALSE (InstanceRegistry::isUICommandMapped (&own)) << "not a processor's region";

	auto processor = std::make_unique<HostedProcessor> ("serve");
	EXPECT_FALSE (InstanceRegistry::isUICommandMapped ((*processor)->sharedMemory ().uiCommand ()))
	    << "nothing mapped before activation";
	ASSERT_EQ ((*processor)->setActive (true), kResultOk);
	Tandem::UICommand* ui = (*processor)->sharedMemory ().uiCommand ();
	EXPECT_TRUE (InstanceRegistry::isUICommandMapped (ui));
	Controller controller;
	OutputTap tap;
	IPlugView* attachedLate = controller->createView ("editor");
	IPlugView* removedLate = controller->createView ("editor");
	ASSERT_NE (attachedLate, nullptr);
	ASSERT_NE (removedLate, nullptr);
	(*processor)->terminate ();
	EXPECT_FALSE (InstanceRegistry::isUICommandMapped (ui));
	EXPECT_EQ (attachedLate->attached (windowArg (hostWindow), "X11EmbedWindowID"), kResultFalse);
	EXPECT_EQ (removedLate->removed (), kResultOk);

	// Destroyed outright: its region is gone from the registry as well.
	processor.reset ();
	EXPECT_FALSE (InstanceRegistry::isUICommandMapped (ui));
	EXPECT_EQ (attachedLate->removed (), kResultOk);
	attachedLate->release ();
	removedLate->release ();

	tap.restore ();
	EXPECT_EQ (countOf (tap.err (), "[QuillMarlowView] ERROR: outpost's shared file is gone (processor terminated)\n"),
	           1u);
	EXPECT_EQ (countOf (tap.out (), "[QuillMarlowView] HideEditor not posted: outpost's shared file is gone\n"), 2u);
}

// A view reaches its region through its processor, under the registry's
// lock, by instance id: once that processor unmapped its file, nothing the
// view does may touch the old address, not even when another processor's new
// mapping now lies there, and not while the unmapping happens on another
// thread. (Run under ASan by `make test-sanitize`.)
TEST (EditorViewRegion, NoAccessAfterItsProcessorUnmappedEvenAtAReusedAddress)
{
	::unsetenv ("DISPLAY");
	OutputTap tap;
	for (int round = 0; round < 20; ++round)
	{
		HostedProcessor owner;
		ASSERT_TRUE (owner->initSharedMemory ());
		IPlugView* view = new QuillMarlowView (owner->sharedMemory ().uiCommand ());
		std::atomic<bool> stop {false};
		std::thread host ([&] {
			while (!stop)
			{
				view->removed ();
				ViewRect rect {};
				view->getSize (&rect);
				view->canResize ();
			}
		});
		std::this_thread::sleep_for (std::chrono::milliseconds (2));
		owner->cleanupSharedMemory ();
		stop = true;
		host.join ();

		HostedProcessor next;
		ASSERT_TRUE (next->initSharedMemory ());
		Tandem::UICommand* ui = next->sharedMemory ().uiCommand ();
		EXPECT_EQ (view->removed (), kResultOk);
		ViewRect rect {0, 0, 300, 200};
		view->checkSizeConstraint (&rect);
		EXPECT_EQ (ui->command, static_cast<int32> (Tandem::CommandCode::Idle)) << "round " << round;
		EXPECT_TRUE (ui->processed.load ());
		view->release ();
	}
}

// `removed` does not wait for its HideEditor. An `attached` right after it
// must not post ShowEditor over the pending command: outpost's answer to the
// hide (no window) would be taken for the answer to the show.
TEST_F (AttachFailures, AttachWaitsForAPendingHideBeforeShowing)
{
	Tandem::UICommand own {};
	initCommandSlot (own);
	own.command = static_cast<int32> (Tandem::CommandCode::HideEditor);
	own.processed.store (false);
	const xcb_window_t wine = host->createHostWindow (0, 0, 320, 200);
	ASSERT_NE (wine, 0u);

	OutputTap tap;
	bool waitedFirst = false, hideKept = false, showPosted = false;
	std::thread fakeOutpost ([&] {
		waitedFirst = tap.waitForOut ("[QuillMarlowView] Waiting for outpost to finish the previous command...\n");
		hideKept = own.command == static_cast<int32> (Tandem::CommandCode::HideEditor);
		own.wineWindow = 0; // outpost's answer to HideEditor
		own.processed.store (true);
		showPosted = waitFor ([&] {
			return !own.processed.load () && own.command == static_cast<int32> (Tandem::CommandCode::ShowEditor);
		});
		own.wineWindow = wine;
		own.editorWidth = 320;
		own.editorHeight = 200;
		own.processed.store (true);
	});
	IPlugView* view = new QuillMarlowView (&own);
	EXPECT_EQ (view->attached (windowArg (hostWindow), "X11EmbedWindowID"), kResultOk);
	fakeOutpost.join ();
	EXPECT_TRUE (waitedFirst);
	EXPECT_TRUE (hideKept) << "ShowEditor was posted over the pending HideEditor";
	EXPECT_TRUE (showPosted);
	EXPECT_EQ (host->parentOf (wine), static_cast<QuillMarlowView*> (view)->wrapperWindow ());
	EXPECT_EQ (view->removed (), kResultOk);
	view->release ();
	tap.restore ();
	EXPECT_THAT (tap.err (), Not (HasSubstr ("ERROR")));
}

// libxcb must be a declared dependency: a host that has not loaded it must
// still be able to load the plug-in and open its editor.
TEST (EditorModule, DeclaresLibxcbAsADependency)
{
	const std::string command = std::string (READELF_PATH) + " -d '" + QM_BUNDLE_SO + "'";
	FILE* p = ::popen (command.c_str (), "r");
	ASSERT_NE (p, nullptr);
	std::string text;
	char buffer[512];
	while (std::fgets (buffer, sizeof buffer, p))
		text += buffer;
	EXPECT_EQ (::pclose (p), 0);
	EXPECT_THAT (text, HasSubstr ("(NEEDED)             Shared library: [libxcb.so.1]"));
}

} // namespace
} // namespace QuillMarlowTest
