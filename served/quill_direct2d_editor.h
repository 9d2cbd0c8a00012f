// Quill's editor that draws the way VSTGUI 4.14 editors do on Windows: an
// ID2D1Factory1, a Direct3D 11 device made with BGRA support, an ID2D1Device
// and its ID2D1DeviceContext; DirectComposition when
// DCompositionCreateDevice2 (looked up in dcomp.dll) gives a device, with a
// composition swap chain whose buffers the device context draws into, and a
// plain ID2D1HwndRenderTarget on the editor's window when it does not.
//
// What it shows: twelve coloured bands at the top, the gain slider (a track
// filled up to the value, with a white thumb) and at the bottom a solid band
// of kDirect2DBandColour; no text, so that nothing but Direct2D draws. A
// left-button drag on the slider sets the gain (one edit through the
// controller for each move) and draws again at once.
//
// attached() logs which way it draws: "[Quill] Direct2D editor draws through
// DirectComposition" or "... through an HWND render target (DirectComposition:
// <why not>)".
#pragma once

#include <windows.h>

#include <atomic>

#include "pluginterfaces/gui/iplugview.h"
#include "quill_view.h"

struct ID2D1Factory1;
struct ID2D1Device;
struct ID2D1DeviceContext;
struct ID2D1HwndRenderTarget;
struct ID2D1RenderTarget;
struct ID2D1SolidColorBrush;
struct ID3D11Device;
struct IDXGISwapChain1;
struct IDCompositionDesktopDevice;
struct IDCompositionTarget;
struct IDCompositionVisual2;

namespace Quill {

class QuillController;

// Dark orange, RGB(0xFF, 0x8C, 0x00).
constexpr COLORREF kDirect2DBandColour = RGB (0xFF, 0x8C, 0x00);
constexpr COLORREF kDirect2DTrackColour = RGB (0x40, 0x46, 0x50);
constexpr COLORREF kDirect2DFillColour = RGB (0x3C, 0xB4, 0xC8);
constexpr int kDirect2DBandHeight = 40;
constexpr Steinberg::int32 kDirect2DEditorWidth = 500;
constexpr Steinberg::int32 kDirect2DEditorHeight = 300;

class QuillDirect2DEditor : public SliderEditor
{
public:
	explicit QuillDirect2DEditor (QuillController* controller);

	// A value changed: draw again.
	void refresh () override;
	// Frames drawn so far; whether they go through DirectComposition.
	int renders () const { return renders_.load (); }
	bool composed () const { return swapChain_ != nullptr; }

private:
	bool opened () override;
	void closing () override { releaseDrawing (); }
	LRESULT editorMessage (UINT message, WPARAM wParam, LPARAM lParam) override;
	bool createDevices ();
	bool createComposition (HRESULT& why);
	bool createHwndTarget ();
	void releaseDrawing ();
	void resizeSurface (int width, int height);
	void render ();
	void draw (ID2D1RenderTarget* target, float width, float height);

	std::atomic<int> renders_ {0};

	// Loaded at run time, so that Quill's other editors import none of them.
	HMODULE d2d1_ = nullptr;
	HMODULE d3d11_ = nullptr;
	HMODULE dcomp_ = nullptr;
	ID2D1Factory1* factory_ = nullptr;
	ID3D11Device* d3dDevice_ = nullptr;
	ID2D1Device* d2dDevice_ = nullptr;
	ID2D1DeviceContext* context_ = nullptr;
	// DirectComposition's way.
	IDCompositionDesktopDevice* composition_ = nullptr;
	IDCompositionTarget* compositionTarget_ = nullptr;
	IDCompositionVisual2* visual_ = nullptr;
	IDXGISwapChain1* swapChain_ = nullptr;
	// The other way.
	ID2D1HwndRenderTarget* hwndTarget_ = nullptr;
};

} // namespace Quill
