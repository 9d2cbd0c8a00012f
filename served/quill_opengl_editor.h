// Quill's editor that draws the way editors with an OpenGL renderer do on
// Windows (JUCE's OpenGLContext and the like): a pixel format set on the
// editor's own child window, a WGL context made through
// wglCreateContextAttribsARB where the driver offers it (the legacy context
// otherwise), every frame drawn with OpenGL on a thread of the editor's own
// (as JUCE's renderer does) and shown by SwapBuffers. The
// module imports opengl32.dll and gdi32.dll's pixel-format calls, as such
// plug-ins do; nothing is drawn with GDI.
//
// What it shows: twelve coloured bands at the top, the gain slider (a track
// filled up to the value, with a white thumb) and at the bottom a solid band
// of kOpenGLBandColour. A left-button drag on the slider sets the gain (one
// edit through the controller for each move) and draws again at once.
//
// opened() logs how it draws: "[Quill] OpenGL editor draws through a
// context of wglCreateContextAttribsARB" or "... through a legacy context".
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "pluginterfaces/gui/iplugview.h"
#include "quill_view.h"

namespace Quill {

class QuillController;

// Medium violet red, RGB(0xC7, 0x15, 0x85).
constexpr COLORREF kOpenGLBandColour = RGB (0xC7, 0x15, 0x85);
constexpr int kOpenGLBandHeight = 40;
constexpr Steinberg::int32 kOpenGLEditorWidth = 460;
constexpr Steinberg::int32 kOpenGLEditorHeight = 300;

class QuillOpenGLEditor : public SliderEditor
{
public:
	explicit QuillOpenGLEditor (QuillController* controller);

	// A value changed: draw again.
	void refresh () override;
	int renders () const { return renders_.load (); }

private:
	bool opened () override;
	void closing () override;
	LRESULT editorMessage (UINT message, WPARAM wParam, LPARAM lParam) override;
	// The render thread: a frame each time it is woken.
	void renderLoop ();
	void render ();

	std::atomic<int> renders_ {0};
	HDC dc_ = nullptr;
	HGLRC context_ = nullptr;
	HANDLE wake_ = nullptr; // auto-reset
	std::atomic<bool> rendering_ {false};
	std::thread renderer_;
};

// The controller's maker for this editor (only its module links OpenGL).
Steinberg::IPlugView* makeOpenGLEditor (QuillController* controller);

} // namespace Quill
