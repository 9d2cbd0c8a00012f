// Quill's editor: a GDI-painted child window for the "HWND" platform.
//
// What it shows, from top to bottom: the title "Quill", the line
// "Gain: <dB> dB   Tone: <Hz> Hz", whether a host takes the controller's edits
// audio module, two bars (gain, tone) that set their parameter where they are
// clicked, and at the bottom a solid band of kBandColour, 40 pixels high and
// as wide as the editor, for screenshot tests to find.
//
// Like editors made with the common Windows GUI toolkits, it creates its
// drawing objects through COM (the Windows imaging factory) when it is
// attached, so it only opens on a thread where the host initialised COM;
// without it attached() fails and logs why.
//
// Mouse: a left click logs "[Quill] Editor click at x,y" and, on a bar, sets
// that parameter; a right click asks the frame (IPlugFrame::resizeView) to
// switch between the normal and the large size.
#pragma once

#include <windows.h>

#include "quill_view.h"

namespace Quill {

// Sea green, RGB(0x2E, 0x8B, 0x57).
constexpr COLORREF kBandColour = RGB (0x2E, 0x8B, 0x57);
constexpr int kBandHeight = 40;
constexpr Steinberg::int32 kEditorWidth = 480;
constexpr Steinberg::int32 kEditorHeight = 300;
constexpr Steinberg::int32 kLargeEditorWidth = 640;
constexpr Steinberg::int32 kLargeEditorHeight = 400;

class QuillEditor : public ResizableView
{
public:
	explicit QuillEditor (QuillController* controller);

	void refresh () override;

private:
	bool opening () override;
	void closing () override;
	LRESULT message (UINT message, WPARAM wParam, LPARAM lParam) override;
	void paint (HDC dc, const RECT& client);
	void click (int x, int y);
	void toggleSize ();

	IUnknown* imagingFactory_ = nullptr; // held while the window exists
};

} // namespace Quill
