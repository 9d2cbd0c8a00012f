// PlugFrame and Quill's editor under Wine (needs an X display): the editor
// opens only on a thread whose host initialised COM, opens in a host window,
// paints its colour band, passes a click on its gain bar through the host's
// component handler to the audio module, and resizes itself through the
// frame.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_thread.h"
#include "plug_frame.h"
#include "plugin_instance.h"
#include "protocol/tandem_protocol.h"
#include "quill_state.h"
#include "vst3_loader.h"

using namespace Steinberg;
using Tandem::HostThread;
using Tandem::PlugFrame;
using Tandem::PluginInstance;
using Tandem::VST3Loader;

namespace {

const char kInstalledBundle[] = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";
const COLORREF kQuillBand = RGB (0x2E, 0x8B, 0x57);

bool contains (const std::string& text, const std::string& needle)
{
	return text.find (needle) != std::string::npos;
}

// A view that only records the sizes it is given.
class RecordingView : public IPlugView
{
public:
	tresult PLUGIN_API queryInterface (const TUID, void** obj) override
	{
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API isPlatformTypeSupported (FIDString) override { return kResultTrue; }
	tresult PLUGIN_API attached (void*, FIDString) override { return kResultOk; }
	tresult PLUGIN_API removed () override { return kResultOk; }
	tresult PLUGIN_API onWheel (float) override { return kResultOk; }
	tresult PLUGIN_API onKeyDown (char16, int16, int16) override { return kResultOk; }
	tresult PLUGIN_API onKeyUp (char16, int16, int16) override { return kResultOk; }
	tresult PLUGIN_API getSize (ViewRect*) override { return kResultOk; }
	tresult PLUGIN_API onSize (ViewRect* size) override
	{
		++sizes;
		last = *size;
		return kResultOk;
	}
	tresult PLUGIN_API onFocus (TBool) override { return kResultOk; }
	tresult PLUGIN_API setFrame (IPlugFrame*) override { return kResultOk; }
	tresult PLUGIN_API canResize () override { return kResultTrue; }
	tresult PLUGIN_API checkSizeConstraint (ViewRect*) override { return kResultOk; }

	int sizes = 0;
	ViewRect last;
};

// A window of the test's plain class, which is registered on first use.
HWND createTestWindow (const char* title, DWORD style, HWND parent)
{
	static bool registered = false;
	if (!registered)
	{
		WNDCLASSEXA wc = {};
		wc.cbSize = sizeof wc;
		wc.lpfnWndProc = DefWindowProcA;
		wc.hInstance = GetModuleHandleW (nullptr);
		wc.lpszClassName = "EditorTestHost";
		registered = RegisterClassExA (&wc) != 0;
	}
	return CreateWindowExA (0, "EditorTestHost", title, style, parent ? 0 : 10, parent ? 0 : 10, 300, 200, parent,
	                        nullptr, GetModuleHandleW (nullptr), nullptr);
}

HWND createHostWindow ()
{
	return createTestWindow ("Editor test", WS_OVERLAPPEDWINDOW, nullptr);
}

SIZE clientSize (HWND hwnd)
{
	RECT r {};
	GetClientRect (hwnd, &r);
	return SIZE {r.right - r.left, r.bottom - r.top};
}

void pumpMessages ()
{
	MSG msg;
	for (int i = 0; i < 200 && PeekMessageW (&msg, nullptr, 0, 0, PM_REMOVE); ++i)
	{
		TranslateMessage (&msg);
		DispatchMessageW (&msg);
	}
}

// The test program's main thread is set up the way outpost sets up its own.
class HostThreadEnvironment : public testing::Environment
{
public:
	void SetUp () override
	{
		testing::internal::CaptureStdout ();
		ASSERT_TRUE (hostThread_.enter ());
		testing::internal::GetCapturedStdout ();
	}

private:
	HostThread hostThread_;
};
testing::Environment* const s_hostThread = testing::AddGlobalTestEnvironment (new HostThreadEnvironment);

} // namespace

// Quill's editor, like those of the common GUI toolkits, needs COM on the
// thread that opens it: a host that forgets OleInitialize gets no editor.
TEST (HostThreadSetup, QuillEditorOpensOnlyWhereTheHostInitialisedCom)
{
	VST3Loader loader;
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (loader.load (kInstalledBundle));
	auto instance = std::make_unique<PluginInstance> (loader.factory ());
	ASSERT_TRUE (instance->createInstance ());
	testing::internal::GetCapturedStdout ();

	tresult withoutCom = kResultOk;
	tresult withCom = kResultFalse;
	std::string log;
	std::thread uiThread ([&] {
		HWND host = createHostWindow ();
		IPlugView* view = instance->controller ()->createView ("editor");
		if (!host || !view)
			return;
		testing::internal::CaptureStdout ();
		withoutCom = view->attached (host, "HWND");
		HostThread hostThread;
		if (hostThread.enter ())
			withCom = view->attached (host, "HWND");
		log = testing::internal::GetCapturedStdout ();
		if (withCom == kResultOk)
			view->removed ();
		view->release ();
		DestroyWindow (host);
	});
	uiThread.join ();
	EXPECT_NE (withoutCom, kResultOk);
	EXPECT_TRUE (contains (log, "[Quill] Editor cannot create the imaging factory")) << log;
	EXPECT_EQ (withCom, kResultOk) << log;
	EXPECT_TRUE (contains (log, "[Outpost] OLE initialized (single-threaded apartment)\n")) << log;
	testing::internal::CaptureStdout ();
	instance.reset ();
	testing::internal::GetCapturedStdout ();
}

TEST (PlugFrameResize, RefusesWithoutViewWindowOrSize)
{
	HWND hwnd = createHostWindow ();
	ASSERT_NE (hwnd, nullptr);
	PlugFrame* frame = new PlugFrame (hwnd);
	ViewRect rect (0, 0, 320, 240);

	testing::internal::CaptureStdout ();
	EXPECT_EQ (frame->resizeView (nullptr, &rect), kInvalidArgument);
	EXPECT_EQ (testing::internal::GetCapturedStdout (), "[PlugFrame] resizeView called: 320x240\n");

	RecordingView view;
	EXPECT_EQ (frame->resizeView (&view, nullptr), kInvalidArgument);
	PlugFrame* windowless = new PlugFrame (nullptr);
	testing::internal::CaptureStdout ();
	EXPECT_EQ (windowless->resizeView (&view, &rect), kInvalidArgument);
	testing::internal::GetCapturedStdout ();
	EXPECT_EQ (view.sizes, 0);

	EXPECT_EQ (windowless->release (), 0u);
	EXPECT_EQ (frame->release (), 0u);
	DestroyWindow (hwnd);
}

TEST (PlugFrameResize, SizesTheWindowsClientAreaAndTellsTheView)
{
	HWND hwnd = createHostWindow ();
	ASSERT_NE (hwnd, nullptr);
	PlugFrame* frame = new PlugFrame (hwnd);
	RecordingView view;
	ViewRect rect (0, 0, 420, 260);
	testing::internal::CaptureStdout ();
	EXPECT_EQ (frame->resizeView (&view, &rect), kResultOk);
	testing::internal::GetCapturedStdout ();
	const SIZE size = clientSize (hwnd);
	EXPECT_EQ (size.cx, 420);
	EXPECT_EQ (size.cy, 260);
	EXPECT_EQ (view.sizes, 1);
	EXPECT_EQ (view.last.right, 420);

	void* asFrame = nullptr;
	EXPECT_EQ (frame->queryInterface (IPlugFrame::iid, &asFrame), kResultOk);
	EXPECT_EQ (asFrame, static_cast<void*> (frame));
	EXPECT_EQ (frame->release (), 1u);
	EXPECT_EQ (frame->release (), 0u);
	DestroyWindow (hwnd);
}

// The embedded layout: the plug-in's window is the child of a borderless
// container, whose X11 window is what the Linux side embeds. A resize the
// editor asks for must resize the container too, or the editor is cut off;
// the frame's owner learns the granted size.
TEST (PlugFrameResize, AChildWindowsContainerFollowsAndTheOwnerLearnsTheSize)
{
	HWND container = createTestWindow ("", WS_POPUP | WS_CLIPCHILDREN, nullptr);
	ASSERT_NE (container, nullptr);
	HWND child = createTestWindow ("", WS_CHILD | WS_VISIBLE, container);
	ASSERT_NE (child, nullptr);
	std::vector<std::pair<int32, int32>> granted;
	PlugFrame* frame = new PlugFrame (child, [&] (int32 width, int32 height) { granted.emplace_back (width, height); });
	RecordingView view;
	ViewRect rect (0, 0, 640, 400);
	testing::internal::CaptureStdout ();
	EXPECT_EQ (frame->resizeView (&view, &rect), kResultOk);
	const std::string log = testing::internal::GetCapturedStdout ();
	EXPECT_TRUE (contains (log, "[PlugFrame] Container resized to 640x400\n")) << log;
	EXPECT_EQ (clientSize (child).cx, 640);
	EXPECT_EQ (clientSize (child).cy, 400);
	EXPECT_EQ (clientSize (container).cx, 640);
	EXPECT_EQ (clientSize (container).cy, 400);
	EXPECT_EQ (view.sizes, 1);
	EXPECT_EQ (granted, (std::vector<std::pair<int32, int32>> {{640, 400}}));
	EXPECT_EQ (frame->release (), 0u);
	DestroyWindow (container);
}

TEST (QuillEditor, PaintsClicksAndResizesThroughTheFrame)
{
	VST3Loader loader;
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (loader.load (kInstalledBundle));
	auto instance = std::make_unique<PluginInstance> (loader.factory ());
	ASSERT_TRUE (instance->createInstance ());
	testing::internal::GetCapturedStdout ();

	HWND host = createHostWindow ();
	ASSERT_NE (host, nullptr);
	PlugFrame* frame = new PlugFrame (host);

	IPlugView* view = instance->controller ()->createView ("editor");
	ASSERT_NE (view, nullptr);
	EXPECT_EQ (view->isPlatformTypeSupported ("HWND"), kResultTrue);
	EXPECT_NE (view->isPlatformTypeSupported ("X11EmbedWindowID"), kResultTrue);
	EXPECT_EQ (view->setFrame (frame), kResultOk);
	ViewRect size;
	ASSERT_EQ (view->getSize (&size), kResultOk);
	ASSERT_EQ (view->attached (host, "HWND"), kResultOk);

	HWND editor = GetWindow (host, GW_CHILD);
	ASSERT_NE (editor, nullptr);
	EXPECT_EQ (clientSize (editor).cx, size.getWidth ());
	EXPECT_EQ (clientSize (editor).cy, size.getHeight ());

	// The colour band along the bottom edge, painted into a bitmap.
	pumpMessages ();
	HDC screen = GetDC (editor);
	HDC memory = CreateCompatibleDC (screen);
	HBITMAP bitmap = CreateCompatibleBitmap (screen, size.getWidth (), size.getHeight ());
	HGDIOBJ old = SelectObject (memory, bitmap);
	SendMessageA (editor, WM_PRINTCLIENT, reinterpret_cast<WPARAM> (memory), PRF_CLIENT);
	const COLORREF band = GetPixel (memory, size.getWidth () / 2, size.getHeight () - 5);
	const COLORREF above = GetPixel (memory, size.getWidth () / 2, 5);
	SelectObject (memory, old);
	DeleteObject (bitmap);
	DeleteDC (memory);
	ReleaseDC (editor, screen);
	EXPECT_EQ (band, kQuillBand);
	EXPECT_NE (above, kQuillBand);

	// A click a quarter along the gain bar (x 20..width-20, y 110..138) is an
	// edit the controller reports to the instance's component handler; a
	// 0-sample process() hands it to the audio module.
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (instance->setupAudio (48000.0, Tandem::kMaxBlockSize));
	testing::internal::GetCapturedStdout ();
	const int x = 20 + (size.getWidth () - 40) / 4;
	testing::internal::CaptureStdout ();
	SendMessageA (editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM (x, 120));
	const std::string clickLog = testing::internal::GetCapturedStdout ();
	EXPECT_TRUE (contains (clickLog, "[Quill] Editor click at " + std::to_string (x) + ",120\n")) << clickLog;
	EXPECT_TRUE (contains (clickLog, "[ComponentHandler] beginEdit 0\n[ComponentHandler] endEdit 0\n")) << clickLog;
	EXPECT_TRUE (instance->hasPendingEdits ());
	EXPECT_TRUE (instance->flushParameterChanges ());
	EXPECT_FALSE (instance->hasPendingEdits ());
	std::vector<std::uint8_t> state (Tandem::kMaxStateSize);
	testing::internal::CaptureStdout ();
	const std::int32_t stateSize = instance->state ().getState (state.data (), Tandem::kMaxStateSize);
	testing::internal::GetCapturedStdout ();
	Quill::QuillParams params {};
	ASSERT_TRUE (Quill::decodeState (state.data (), static_cast<std::size_t> (stateSize), params));
	EXPECT_DOUBLE_EQ (params.gain, 0.25);

	// A right click asks the frame for the large size.
	testing::internal::CaptureStdout ();
	SendMessageA (editor, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM (5, 5));
	const std::string log = testing::internal::GetCapturedStdout ();
	EXPECT_TRUE (contains (log, "[PlugFrame] resizeView called: 640x400\n")) << log;
	EXPECT_EQ (clientSize (host).cx, 640);
	EXPECT_EQ (clientSize (host).cy, 400);
	EXPECT_EQ (clientSize (editor).cx, 640);
	EXPECT_EQ (clientSize (editor).cy, 400);

	EXPECT_EQ (view->removed (), kResultOk);
	EXPECT_EQ (GetWindow (host, GW_CHILD), nullptr);
	view->setFrame (nullptr);
	view->release ();
	frame->release ();
	DestroyWindow (host);
	testing::internal::CaptureStdout ();
	instance.reset ();
	testing::internal::GetCapturedStdout ();
}
