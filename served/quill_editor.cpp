#include "quill_editor.h"

#include <cstdio>
#include <cstring>

#include "quill_controller.h"
#include "quill_dsp.h"

using namespace Steinberg;

namespace Quill {

namespace {

// CLSID_WICImagingFactory, the Windows imaging factory.
const CLSID kImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

// Bar geometry inside a client rectangle: index 0 gain, 1 tone.
RECT barRect (const RECT& client, int index)
{
	const int top = 110 + index * 50;
	return RECT {20, top, client.right - 20, top + 28};
}

} // namespace

QuillEditor::QuillEditor (QuillController* controller)
: ResizableView (controller, "QuillEditorWindow", ViewRect (0, 0, kEditorWidth, kEditorHeight))
{
}

bool QuillEditor::opening ()
{
	const HRESULT com = CoCreateInstance (kImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
	                                      reinterpret_cast<void**> (&imagingFactory_));
	if (FAILED (com) || !imagingFactory_)
	{
		std::printf ("[Quill] Editor cannot create the imaging factory (0x%08lx): COM not initialised?\n",
		             static_cast<unsigned long> (com));
		std::fflush (stdout);
		imagingFactory_ = nullptr;
		return false;
	}
	return true;
}

void QuillEditor::closing ()
{
	if (imagingFactory_)
		imagingFactory_->Release ();
	imagingFactory_ = nullptr;
}

void QuillEditor::refresh ()
{
	if (hwnd_)
		InvalidateRect (hwnd_, nullptr, FALSE);
}

void QuillEditor::paint (HDC dc, const RECT& client)
{
	HBRUSH background = CreateSolidBrush (RGB (0x1E, 0x22, 0x28));
	FillRect (dc, &client, background);
	DeleteObject (background);

	SetBkMode (dc, TRANSPARENT);
	SetTextColor (dc, RGB (0xF0, 0xF0, 0xF0));
	const double gain = controller_->getParamNormalized (kGainId);
	const double tone = controller_->getParamNormalized (kToneId);
	RECT line {20, 16, client.right - 20, 46};
	DrawTextA (dc, "Quill", -1, &line, DT_LEFT | DT_SINGLELINE);
	char text[128];
	std::snprintf (text, sizeof text, "Gain: %.1f dB   Tone: %.0f Hz", gainDb (gain), toneHz (tone));
	line = RECT {20, 48, client.right - 20, 72};
	DrawTextA (dc, text, -1, &line, DT_LEFT | DT_SINGLELINE);
	line = RECT {20, 74, client.right - 20, 98};
	DrawTextA (dc, controller_->linked () ? "Edits go to the host" : "No host takes edits", -1, &line,
	           DT_LEFT | DT_SINGLELINE);

	HBRUSH track = CreateSolidBrush (RGB (0x40, 0x46, 0x50));
	HBRUSH fill = CreateSolidBrush (RGB (0xC8, 0xA0, 0x3C));
	for (int i = 0; i < 2; ++i)
	{
		RECT bar = barRect (client, i);
		FillRect (dc, &bar, track);
		RECT filled = bar;
		filled.right = bar.left + static_cast<LONG> ((bar.right - bar.left) * (i == 0 ? gain : tone));
		FillRect (dc, &filled, fill);
	}
	DeleteObject (track);
	DeleteObject (fill);

	HBRUSH band = CreateSolidBrush (kBandColour);
	RECT bandRect {0, client.bottom - kBandHeight, client.right, client.bottom};
	FillRect (dc, &bandRect, band);
	DeleteObject (band);
}

void QuillEditor::click (int x, int y)
{
	std::printf ("[Quill] Editor click at %d,%d\n", x, y);
	std::fflush (stdout);
	RECT client {};
	GetClientRect (hwnd_, &client);
	for (int i = 0; i < 2; ++i)
	{
		const RECT bar = barRect (client, i);
		if (x >= bar.left && x <= bar.right && y >= bar.top && y < bar.bottom && bar.right > bar.left)
			controller_->editParameter (static_cast<Vst::ParamID> (i),
			                            static_cast<double> (x - bar.left) / (bar.right - bar.left));
	}
}

void QuillEditor::toggleSize ()
{
	if (!frame_)
		return;
	const bool large = rect_.getWidth () >= kLargeEditorWidth;
	ViewRect wanted (0, 0, large ? kEditorWidth : kLargeEditorWidth, large ? kEditorHeight : kLargeEditorHeight);
	std::printf ("[Quill] Editor asks for %dx%d\n", wanted.getWidth (), wanted.getHeight ());
	std::fflush (stdout);
	// The frame answers by calling onSize with the size it granted.
	frame_->resizeView (this, &wanted);
}

LRESULT QuillEditor::message (UINT message, WPARAM wParam, LPARAM lParam)
{
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd_, &ps);
		RECT client {};
		GetClientRect (hwnd_, &client);
		paint (dc, client);
		EndPaint (hwnd_, &ps);
		return 0;
	}
	case WM_PRINTCLIENT:
	{
		// Painting into a caller's device context (PrintWindow, tests).
		RECT client {};
		GetClientRect (hwnd_, &client);
		paint (reinterpret_cast<HDC> (wParam), client);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_LBUTTONDOWN:
		click (static_cast<short> (LOWORD (lParam)), static_cast<short> (HIWORD (lParam)));
		return 0;
	case WM_RBUTTONDOWN:
		toggleSize ();
		return 0;
	default:
		return QuillView::message (message, wParam, lParam);
	}
}

} // namespace Quill
