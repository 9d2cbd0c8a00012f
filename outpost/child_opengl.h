// Makes OpenGL pictures of child windows visible under Wine.
//
// Under Debian's Wine 8 a frame that OpenGL draws into a child window never
// reaches the screen, and every plug-in editor's window is a child of its
// host's. Once a pixel format is set on a child, Wine renders its OpenGL
// into an off-screen X window of its own and paints the child through the
// child's X drawable, which is 0: the frame is copied nowhere, and the
// child is cut out of the top-level's surface, so GDI drawing there is lost
// as well. (Swap chains into child windows fail the same way; see
// child_present.h.)
//
// The fix, inside outpost's process, without changing the plug-in: the
// served module's imports of the pixel-format and WGL calls are replaced
// (and so are GetProcAddress's answers for them):
//  - SetPixelFormat on a child window's device context sets the format on a
//    stand-in instead: a message-only window of the child's size, never
//    shown. The child keeps no pixel format, so GDI drawing there shows.
//  - GetPixelFormat, wglCreateContext, wglCreateContextAttribsARB and
//    wglMakeCurrent given the child's device context use the stand-in's.
//  - SwapBuffers and wglSwapBuffers of the child (or of the stand-in, as
//    wglGetCurrentDC answers) read the frame back and draw it into the
//    child with GDI before the stand-in swaps; the stand-in follows the
//    child's size.
// Top-level windows are left to Wine; nothing is changed outside Wine.
#pragma once

namespace Tandem {

// Call once on outpost's main thread, after the served module loaded and
// before its editor is made. Logs one line saying what was done; the first
// child window drawn through a stand-in logs one more. Returns the number of
// import entries replaced, or -1 when not under Wine.
int installChildOpenGL ();

} // namespace Tandem
