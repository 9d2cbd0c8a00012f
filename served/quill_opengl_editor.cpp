#include "quill_opengl_editor.h"

#include <GL/gl.h>

#include <cstdio>

#include "quill_controller.h"

using namespace Steinberg;

namespace Quill {

namespace {

// WGL_ARB_create_context's names, as the extension's header gives them.
constexpr int kContextMajorVersion = 0x2091;
constexpr int kContextMinorVersion = 0x2092;
using CreateContextAttribs = HGLRC (WINAPI*) (HDC, HGLRC, const int*);

void report (const char* text)
{
	std::printf ("[Quill] OpenGL editor %s\n", text);
	std::fflush (stdout);
}

// Fills a rectangle given from the window's top left (OpenGL counts rows from
// the bottom).
void fill (int windowHeight, int left, int top, int right, int bottom, COLORREF c)
{
	if (right <= left || bottom <= top)
		return;
	glScissor (left, windowHeight - bottom, right - left, bottom - top);
	glClearColor (GetRValue (c) / 255.0f, GetGValue (c) / 255.0f, GetBValue (c) / 255.0f, 1.0f);
	glClear (GL_COLOR_BUFFER_BIT);
}

} // namespace

IPlugView* makeOpenGLEditor (QuillController* controller)
{
	return new QuillOpenGLEditor (controller);
}

QuillOpenGLEditor::QuillOpenGLEditor (QuillController* controller)
: SliderEditor (controller, "QuillOpenGLEditorWindow", ViewRect (0, 0, kOpenGLEditorWidth, kOpenGLEditorHeight))
{
}

bool QuillOpenGLEditor::opened ()
{
	dc_ = GetDC (hwnd_);
	PIXELFORMATDESCRIPTOR format = {};
	format.nSize = sizeof format;
	format.nVersion = 1;
	format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
	format.iPixelType = PFD_TYPE_RGBA;
	format.cColorBits = 32;
	format.iLayerType = PFD_MAIN_PLANE;
	const int chosen = ChoosePixelFormat (dc_, &format);
	if (!chosen || !SetPixelFormat (dc_, chosen, &format) || !(context_ = wglCreateContext (dc_)) ||
	    !wglMakeCurrent (dc_, context_))
	{
		report ("finds no pixel format or context");
		return false;
	}
	auto createAttribs = reinterpret_cast<CreateContextAttribs> (
	    reinterpret_cast<void (*) ()> (wglGetProcAddress ("wglCreateContextAttribsARB")));
	const int attributes[] = {kContextMajorVersion, 3, kContextMinorVersion, 0, 0};
	HGLRC modern = createAttribs ? createAttribs (dc_, nullptr, attributes) : nullptr;
	if (modern && wglMakeCurrent (dc_, modern))
	{
		wglDeleteContext (context_);
		context_ = modern;
		report ("draws through a context of wglCreateContextAttribsARB");
	}
	else
	{
		if (modern)
			wglDeleteContext (modern);
		report ("draws through a legacy context");
	}
	wglMakeCurrent (nullptr, nullptr);
	wake_ = CreateEventW (nullptr, FALSE, TRUE, nullptr);
	rendering_.store (true);
	renderer_ = std::thread ([this] { renderLoop (); });
	return true;
}

void QuillOpenGLEditor::closing ()
{
	rendering_.store (false);
	if (renderer_.joinable ())
	{
		SetEvent (wake_);
		renderer_.join ();
	}
	if (wake_)
		CloseHandle (wake_);
	wake_ = nullptr;
	if (context_)
		wglDeleteContext (context_);
	context_ = nullptr;
	if (dc_)
		ReleaseDC (hwnd_, dc_);
	dc_ = nullptr;
}

void QuillOpenGLEditor::refresh ()
{
	if (wake_)
		SetEvent (wake_);
}

void QuillOpenGLEditor::renderLoop ()
{
	if (!wglMakeCurrent (dc_, context_))
		return;
	while (WaitForSingleObject (wake_, INFINITE) == WAIT_OBJECT_0 && rendering_.load ())
		render ();
	wglMakeCurrent (nullptr, nullptr);
}

// On the render thread, with the context current there.
void QuillOpenGLEditor::render ()
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	const int width = client.right, height = client.bottom;
	glViewport (0, 0, width, height);
	glEnable (GL_SCISSOR_TEST);
	fill (height, 0, 0, width, height, RGB (0x1E, 0x22, 0x28));
	// Twelve bands around the colour wheel: a drawn picture, never a flat one.
	static const COLORREF bands[] = {RGB (0xE6, 0x3C, 0x3C), RGB (0xE6, 0x82, 0x3C), RGB (0xE6, 0xC8, 0x3C),
	                                 RGB (0xA0, 0xE6, 0x3C), RGB (0x3C, 0xE6, 0x5A), RGB (0x3C, 0xE6, 0xB4),
	                                 RGB (0x3C, 0xC8, 0xE6), RGB (0x3C, 0x78, 0xE6), RGB (0x5A, 0x3C, 0xE6),
	                                 RGB (0xA0, 0x3C, 0xE6), RGB (0xE6, 0x3C, 0xC8), RGB (0xE6, 0x3C, 0x78)};
	const int count = static_cast<int> (sizeof bands / sizeof bands[0]);
	for (int i = 0; i < count; ++i)
		fill (height, width * i / count, 0, width * (i + 1) / count, 48, bands[i]);
	const RECT track = slider_.track (width);
	const int end =
	    track.left + static_cast<int> ((track.right - track.left) * controller_->getParamNormalized (kGainId));
	fill (height, track.left, track.top, track.right, track.bottom, RGB (0x40, 0x46, 0x50));
	fill (height, track.left, track.top, end, track.bottom, RGB (0x3C, 0xB4, 0xC8));
	fill (height, end - 2 < track.left ? track.left : end - 2, track.top - 4, end + 2, track.bottom + 4,
	      RGB (0xFF, 0xFF, 0xFF));
	fill (height, 0, height - kOpenGLBandHeight, width, height, kOpenGLBandColour);
	glDisable (GL_SCISSOR_TEST);
	SwapBuffers (dc_);
	renders_.fetch_add (1);
}

LRESULT QuillOpenGLEditor::editorMessage (UINT message, WPARAM wParam, LPARAM lParam)
{
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		BeginPaint (hwnd_, &ps);
		EndPaint (hwnd_, &ps);
		refresh ();
		return 0;
	}
	case WM_SIZE:
		refresh ();
		return 0;
	case WM_ERASEBKGND:
		return 1;
	default:
		return QuillView::message (message, wParam, lParam);
	}
}

} // namespace Quill
