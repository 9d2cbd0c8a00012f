// Quill's editor that repaints the way JUCE 7 editors do on Windows: a value
// change only marks the picture stale; a thread of the editor's own waits on
// IDXGIOutput::WaitForVBlank of the first output and, when it returns S_OK
// with the picture stale, asks the window to render again (a posted message,
// then InvalidateRect). When the wait fails the thread sleeps 1 ms and asks
// again, so where WaitForVBlank is missing the editor paints once and then
// never changes, just as JUCE's do.
//
// WM_PAINT only copies what was last rendered (an off-screen bitmap), so an
// expose or resize shows the old picture too until the next S_OK.
//
// What it shows: a row of twelve coloured bands at the top, the title, the
// line "Gain: <dB> dB", the gain slider (a track filled up to the value) and
// at the bottom a solid band of kVBlankBandColour. A left-button drag on the
// slider sets the gain (one edit through the controller for each move).
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "pluginterfaces/gui/iplugview.h"
#include "quill_view.h"

namespace Quill {

class QuillController;

// Steel blue, RGB(0x46, 0x82, 0xB4).
constexpr COLORREF kVBlankBandColour = RGB (0x46, 0x82, 0xB4);
// The slider: its track, and the fill up to the value.
constexpr COLORREF kVBlankTrackColour = RGB (0x40, 0x46, 0x50);
constexpr COLORREF kVBlankFillColour = RGB (0xC8, 0xA0, 0x3C);
constexpr int kVBlankBandHeight = 40;
constexpr Steinberg::int32 kVBlankEditorWidth = 480;
constexpr Steinberg::int32 kVBlankEditorHeight = 300;

class QuillVBlankEditor : public SliderEditor
{
public:
	explicit QuillVBlankEditor (QuillController* controller);

	// A value changed (from the host or the editor): the picture is stale
	// until the next vertical blank.
	void refresh () override { stale_.store (true); }
	// Pictures rendered so far (the first one at attached() included).
	int renders () const { return renders_.load (); }

private:
	bool opened () override;
	void closing () override;
	LRESULT editorMessage (UINT message, WPARAM wParam, LPARAM lParam) override;
	void waitForBlanks ();
	void stopWaiting ();
	void render ();

	HDC picture_ = nullptr; // the last rendered picture, selected into a memory DC
	HBITMAP pictureBitmap_ = nullptr;
	HGDIOBJ oldBitmap_ = nullptr;
	int pictureWidth_ = 0;
	int pictureHeight_ = 0;
	std::atomic<bool> stale_ {false};
	std::atomic<bool> waiting_ {false};
	std::atomic<int> renders_ {0};
	std::thread blanks_;
};

} // namespace Quill
