// Makes Direct3D and Direct2D pictures of child windows visible under Wine.
//
// Under Debian's Wine 8 nothing presented through a DXGI swap chain into a
// child window reaches the screen, and every plug-in editor's window is a
// child of its host's. Direct2D's HWND render target presents through such a
// swap chain too. The cause is Wine's: the device context of a child window
// has no X drawable (0). A plain child still shows, because its GDI drawing
// lands in the top-level's window surface; but once a swap chain renders into
// a child it sets an OpenGL pixel format there, and Wine then paints that
// child without the surface (and cuts it out of the surface), through its
// X drawable 0: the frame, which sits in an off-screen X window of Wine's,
// is copied nowhere, and GDI drawing there is lost as well. Top-level windows
// have their own X window and are shown.
//
// The fix, inside outpost's process, without changing the plug-in: Wine's
// DXGI factories and swap chains share one interface table per kind, whose
// entries are replaced before the served module loads.
//  - CreateSwapChainForHwnd (CreateSwapChain goes through it) for a window
//    that is not top-level makes the swap chain for a stand-in instead: a
//    message-only window of the child's size, never shown and without an X
//    window. OpenGL never touches the child, so GDI drawing there shows.
//  - Present and Present1 of such a swap chain read the back buffer back (a
//    staging texture kept with the swap chain) and draw it into the child
//    with GDI, then present to the stand-in as before.
//  - ResizeBuffers first gives the stand-in the child's size (a size of 0
//    means the window's); GetDesc and GetHwnd report the child.
// Swap chains of top-level windows are left to Wine. Nothing is installed
// outside Wine.
#pragma once

#include <cstdint>

namespace Tandem {

enum class ChildPresentOutcome
{
	Installed, // swap chains of child windows now draw there
	NotWine,   // Windows shows child swap chains itself: left alone
	NoFactory, // no DXGI (headless): nothing to patch
	Failed,    // the table could not be changed (logged)
};

// Call once on outpost's main thread, before the served module loads. Logs
// one line saying what was done; the first swap chain moved to a stand-in
// logs one more. A second call answers as the first did.
ChildPresentOutcome installChildPresent ();

// Frames drawn into child windows so far, and the time spent reading them
// back and drawing them (for benches and logs).
struct ChildPresentCounts
{
	std::uint64_t swapChains = 0; // made for a stand-in
	std::uint64_t frames = 0;
	std::uint64_t microseconds = 0;
};
ChildPresentCounts childPresentCounts ();

} // namespace Tandem
