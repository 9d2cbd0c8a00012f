#include "quill_vblank_editor.h"

#include <dxgi.h>

#include <cstdio>
#include <cstring>

#include "quill_controller.h"
#include "quill_dsp.h"

using namespace Steinberg;

namespace Quill {

namespace {

// Posted by the blank thread: render the picture again, then invalidate.
constexpr UINT kRenderMessage = WM_APP + 0x51;

void fill (HDC dc, const RECT& rect, COLORREF colour)
{
	HBRUSH brush = CreateSolidBrush (colour);
	FillRect (dc, &rect, brush);
	DeleteObject (brush);
}

// The first output of the first adapter, as JUCE 7 finds its outputs. Loaded
// at run time so that Quill's other editors do not import dxgi.dll; the
// caller frees `library` after releasing the output, whose code lives there.
IDXGIOutput* firstOutput (HMODULE& library)
{
	library = LoadLibraryW (L"dxgi.dll");
	if (!library)
		return nullptr;
	using Create = HRESULT (WINAPI*) (REFIID, void**);
	auto create =
	    reinterpret_cast<Create> (reinterpret_cast<void (*) ()> (GetProcAddress (library, "CreateDXGIFactory")));
	IDXGIFactory* factory = nullptr;
	IDXGIAdapter* adapter = nullptr;
	IDXGIOutput* output = nullptr;
	if (create && SUCCEEDED (create (__uuidof(IDXGIFactory), reinterpret_cast<void**> (&factory))) && factory)
	{
		if (SUCCEEDED (factory->EnumAdapters (0, &adapter)) && adapter)
			adapter->EnumOutputs (0, &output);
		if (adapter)
			adapter->Release ();
		factory->Release ();
	}
	return output;
}

} // namespace

QuillVBlankEditor::QuillVBlankEditor (QuillController* controller)
: SliderEditor (controller, "QuillVBlankEditorWindow", ViewRect (0, 0, kVBlankEditorWidth, kVBlankEditorHeight))
{
}

bool QuillVBlankEditor::opened ()
{
	// The first picture is rendered at once, as JUCE paints its first frame
	// without waiting for a blank; every later one waits for one.
	render ();
	waiting_.store (true);
	blanks_ = std::thread (&QuillVBlankEditor::waitForBlanks, this);
	return true;
}

void QuillVBlankEditor::closing ()
{
	// Stopped before the window goes: the thread posts to it.
	stopWaiting ();
	if (picture_)
	{
		SelectObject (picture_, oldBitmap_);
		DeleteObject (pictureBitmap_);
		DeleteDC (picture_);
		picture_ = nullptr;
		pictureBitmap_ = nullptr;
	}
}

void QuillVBlankEditor::stopWaiting ()
{
	waiting_.store (false);
	if (blanks_.joinable ())
		blanks_.join ();
}

void QuillVBlankEditor::waitForBlanks ()
{
	HMODULE library = nullptr;
	IDXGIOutput* output = firstOutput (library);
	bool reported = false;
	while (waiting_.load ())
	{
		const HRESULT result = output ? output->WaitForVBlank () : DXGI_ERROR_NOT_FOUND;
		if (result != S_OK)
		{
			if (!reported)
			{
				std::printf ("[Quill] VBlank editor: WaitForVBlank answers 0x%08lx; asking again every 1 ms\n",
				             static_cast<unsigned long> (result));
				std::fflush (stdout);
				reported = true;
			}
			Sleep (1);
			continue;
		}
		if (stale_.exchange (false))
			PostMessageA (hwnd_, kRenderMessage, 0, 0);
	}
	if (output)
		output->Release ();
	if (library)
		FreeLibrary (library);
}

void QuillVBlankEditor::render ()
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	const int width = client.right > 0 ? client.right : 1;
	const int height = client.bottom > 0 ? client.bottom : 1;
	if (!picture_ || width != pictureWidth_ || height != pictureHeight_)
	{
		HDC screen = GetDC (hwnd_);
		HBITMAP bitmap = CreateCompatibleBitmap (screen, width, height);
		if (!picture_)
		{
			picture_ = CreateCompatibleDC (screen);
			oldBitmap_ = SelectObject (picture_, bitmap);
		}
		else
		{
			SelectObject (picture_, bitmap);
			DeleteObject (pictureBitmap_);
		}
		ReleaseDC (hwnd_, screen);
		pictureBitmap_ = bitmap;
		pictureWidth_ = width;
		pictureHeight_ = height;
	}
	HDC dc = picture_;
	fill (dc, RECT {0, 0, width, height}, RGB (0x1E, 0x22, 0x28));
	// Twelve bands around the colour wheel: a drawn picture, never a flat one.
	static const COLORREF bands[] = {RGB (0xE6, 0x3C, 0x3C), RGB (0xE6, 0x82, 0x3C), RGB (0xE6, 0xC8, 0x3C),
	                                 RGB (0xA0, 0xE6, 0x3C), RGB (0x3C, 0xE6, 0x5A), RGB (0x3C, 0xE6, 0xB4),
	                                 RGB (0x3C, 0xC8, 0xE6), RGB (0x3C, 0x78, 0xE6), RGB (0x5A, 0x3C, 0xE6),
	                                 RGB (0xA0, 0x3C, 0xE6), RGB (0xE6, 0x3C, 0xC8), RGB (0xE6, 0x3C, 0x78)};
	const int count = static_cast<int> (sizeof bands / sizeof bands[0]);
	for (int i = 0; i < count; ++i)
		fill (dc, RECT {width * i / count, 0, width * (i + 1) / count, 48}, bands[i]);

	const double gain = controller_->getParamNormalized (kGainId);
	SetBkMode (dc, TRANSPARENT);
	SetTextColor (dc, RGB (0xF0, 0xF0, 0xF0));
	RECT line {20, 64, width - 20, 88};
	DrawTextA (dc, "Quill (repaints at vertical blanks)", -1, &line, DT_LEFT | DT_SINGLELINE);
	char text[64];
	std::snprintf (text, sizeof text, "Gain: %.1f dB", gainDb (gain));
	line = RECT {20, 92, width - 20, 116};
	DrawTextA (dc, text, -1, &line, DT_LEFT | DT_SINGLELINE);

	const RECT track = slider_.track (width);
	fill (dc, track, kVBlankTrackColour);
	RECT filled = track;
	filled.right = track.left + static_cast<LONG> ((track.right - track.left) * gain);
	fill (dc, filled, kVBlankFillColour);

	fill (dc, RECT {0, height - kVBlankBandHeight, width, height}, kVBlankBandColour);
	renders_.fetch_add (1);
	InvalidateRect (hwnd_, nullptr, FALSE);
}

LRESULT QuillVBlankEditor::editorMessage (UINT message, WPARAM wParam, LPARAM lParam)
{
	switch (message)
	{
	case WM_PAINT:
	{
		// Only what was last rendered: a stale value stays on screen
		// until the blank thread asks for a new picture.
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd_, &ps);
		if (picture_)
			BitBlt (dc, 0, 0, pictureWidth_, pictureHeight_, picture_, 0, 0, SRCCOPY);
		EndPaint (hwnd_, &ps);
		return 0;
	}
	case kRenderMessage:
		render ();
		return 0;
	case WM_ERASEBKGND:
		return 1;
	default:
		return QuillView::message (message, wParam, lParam);
	}
}

} // namespace Quill
