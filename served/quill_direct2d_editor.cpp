#include "quill_direct2d_editor.h"

#include <d2d1_1.h>
#include <d3d11.h>
#include <dcomp.h>
#include <dxgi1_2.h>

#include <cstdio>
#include <cstring>

#include "quill_controller.h"
#include "quill_dsp.h"

using namespace Steinberg;

namespace Quill {

namespace {

template <class Function>
Function lookUp (HMODULE module, const char* name)
{
	return module ? reinterpret_cast<Function> (reinterpret_cast<void (*) ()> (GetProcAddress (module, name)))
	              : nullptr;
}

template <class Object>
void releaseAndClear (Object*& object)
{
	if (object)
		object->Release ();
	object = nullptr;
}

D2D1_COLOR_F colour (COLORREF c)
{
	return D2D1::ColorF (GetRValue (c) / 255.0f, GetGValue (c) / 255.0f, GetBValue (c) / 255.0f);
}

D2D1_RECT_F sliderRect (float width)
{
	return D2D1::RectF (static_cast<float> (kSliderLeft), static_cast<float> (kSliderTop), width - kSliderLeft,
	                    static_cast<float> (kSliderTop + kSliderHeight));
}

void report (const char* text, HRESULT why)
{
	if (why == S_OK)
		std::printf ("[Quill] Direct2D editor %s\n", text);
	else
		std::printf ("[Quill] Direct2D editor %s (0x%08lx)\n", text, static_cast<unsigned long> (why));
	std::fflush (stdout);
}

} // namespace

QuillDirect2DEditor::QuillDirect2DEditor (QuillController* controller)
: SliderEditor (controller, "QuillDirect2DEditorWindow", ViewRect (0, 0, kDirect2DEditorWidth, kDirect2DEditorHeight))
{
}

bool QuillDirect2DEditor::opened ()
{
	if (!createDevices ())
		return false;
	HRESULT why = E_FAIL;
	if (createComposition (why))
	{
		report ("draws through DirectComposition", S_OK);
	}
	else
	{
		report ("draws through an HWND render target (DirectComposition: no device)", why);
		if (!createHwndTarget ())
			return false;
	}
	InvalidateRect (hwnd_, nullptr, FALSE);
	return true;
}

bool QuillDirect2DEditor::createDevices ()
{
	d2d1_ = LoadLibraryW (L"d2d1.dll");
	d3d11_ = LoadLibraryW (L"d3d11.dll");
	using CreateFactory = HRESULT (WINAPI*) (D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);
	auto createFactory = lookUp<CreateFactory> (d2d1_, "D2D1CreateFactory");
	auto createDevice = lookUp<PFN_D3D11_CREATE_DEVICE> (d3d11_, "D3D11CreateDevice");
	if (!createFactory || !createDevice)
	{
		report ("finds no d2d1.dll or d3d11.dll", E_FAIL);
		return false;
	}
	HRESULT result = createFactory (D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
	                                reinterpret_cast<void**> (&factory_));
	if (FAILED (result))
	{
		report ("cannot make an ID2D1Factory1", result);
		return false;
	}
	result = createDevice (nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
	                       D3D11_SDK_VERSION, &d3dDevice_, nullptr, nullptr);
	if (FAILED (result))
		result = createDevice (nullptr, D3D_DRIVER_TYPE_WARP, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
		                       D3D11_SDK_VERSION, &d3dDevice_, nullptr, nullptr);
	if (FAILED (result))
	{
		report ("cannot make a Direct3D 11 device", result);
		return false;
	}
	IDXGIDevice* dxgiDevice = nullptr;
	result = d3dDevice_->QueryInterface (__uuidof(IDXGIDevice), reinterpret_cast<void**> (&dxgiDevice));
	if (SUCCEEDED (result))
		result = factory_->CreateDevice (dxgiDevice, &d2dDevice_);
	if (SUCCEEDED (result))
		result = d2dDevice_->CreateDeviceContext (D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context_);
	releaseAndClear (dxgiDevice);
	if (FAILED (result))
	{
		report ("cannot make its Direct2D device context", result);
		return false;
	}
	return true;
}

bool QuillDirect2DEditor::createComposition (HRESULT& why)
{
	dcomp_ = LoadLibraryW (L"dcomp.dll");
	using CreateDevice2 = HRESULT (WINAPI*) (IUnknown*, REFIID, void**);
	auto createDevice2 = lookUp<CreateDevice2> (dcomp_, "DCompositionCreateDevice2");
	if (!createDevice2)
	{
		why = HRESULT_FROM_WIN32 (ERROR_PROC_NOT_FOUND);
		return false;
	}
	why = createDevice2 (d2dDevice_, __uuidof(IDCompositionDesktopDevice), reinterpret_cast<void**> (&composition_));
	if (FAILED (why) || !composition_)
	{
		if (SUCCEEDED (why))
			why = E_POINTER;
		composition_ = nullptr;
		return false;
	}
	IDXGIDevice* dxgiDevice = nullptr;
	IDXGIAdapter* adapter = nullptr;
	IDXGIFactory2* dxgiFactory = nullptr;
	why = d3dDevice_->QueryInterface (__uuidof(IDXGIDevice), reinterpret_cast<void**> (&dxgiDevice));
	if (SUCCEEDED (why))
		why = dxgiDevice->GetAdapter (&adapter);
	if (SUCCEEDED (why))
		why = adapter->GetParent (__uuidof(IDXGIFactory2), reinterpret_cast<void**> (&dxgiFactory));
	if (SUCCEEDED (why))
	{
		DXGI_SWAP_CHAIN_DESC1 desc = {};
		desc.Width = static_cast<UINT> (rect_.getWidth ());
		desc.Height = static_cast<UINT> (rect_.getHeight ());
		desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
		desc.SampleDesc.Count = 1;
		desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
		desc.BufferCount = 2;
		desc.Scaling = DXGI_SCALING_STRETCH;
		desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL;
		desc.AlphaMode = DXGI_ALPHA_MODE_PREMULTIPLIED;
		why = dxgiFactory->CreateSwapChainForComposition (d3dDevice_, &desc, nullptr, &swapChain_);
	}
	releaseAndClear (dxgiFactory);
	releaseAndClear (adapter);
	releaseAndClear (dxgiDevice);
	if (SUCCEEDED (why))
		why = composition_->CreateTargetForHwnd (hwnd_, TRUE, &compositionTarget_);
	if (SUCCEEDED (why))
		why = composition_->CreateVisual (&visual_);
	if (SUCCEEDED (why))
		why = visual_->SetContent (swapChain_);
	if (SUCCEEDED (why))
		why = compositionTarget_->SetRoot (visual_);
	if (SUCCEEDED (why))
		why = composition_->Commit ();
	if (FAILED (why))
	{
		releaseAndClear (visual_);
		releaseAndClear (compositionTarget_);
		releaseAndClear (swapChain_);
		releaseAndClear (composition_);
		return false;
	}
	return true;
}

bool QuillDirect2DEditor::createHwndTarget ()
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	const HRESULT result = factory_->CreateHwndRenderTarget (
	    D2D1::RenderTargetProperties (),
	    D2D1::HwndRenderTargetProperties (
	        hwnd_, D2D1::SizeU (static_cast<UINT32> (client.right), static_cast<UINT32> (client.bottom))),
	    &hwndTarget_);
	if (FAILED (result))
	{
		report ("cannot make an HWND render target", result);
		hwndTarget_ = nullptr;
		return false;
	}
	return true;
}

void QuillDirect2DEditor::releaseDrawing ()
{
	releaseAndClear (hwndTarget_);
	releaseAndClear (visual_);
	releaseAndClear (compositionTarget_);
	releaseAndClear (swapChain_);
	releaseAndClear (composition_);
	releaseAndClear (context_);
	releaseAndClear (d2dDevice_);
	releaseAndClear (d3dDevice_);
	releaseAndClear (factory_);
	// After every object: their code lives in these libraries.
	for (HMODULE* module : {&dcomp_, &d3d11_, &d2d1_})
	{
		if (*module)
			FreeLibrary (*module);
		*module = nullptr;
	}
}

void QuillDirect2DEditor::refresh ()
{
	if (hwnd_)
		InvalidateRect (hwnd_, nullptr, FALSE);
}

void QuillDirect2DEditor::resizeSurface (int width, int height)
{
	if (width <= 0 || height <= 0)
		return;
	if (hwndTarget_)
		hwndTarget_->Resize (D2D1::SizeU (static_cast<UINT32> (width), static_cast<UINT32> (height)));
	if (swapChain_)
		swapChain_->ResizeBuffers (0, static_cast<UINT> (width), static_cast<UINT> (height), DXGI_FORMAT_UNKNOWN, 0);
}

void QuillDirect2DEditor::draw (ID2D1RenderTarget* target, float width, float height)
{
	ID2D1SolidColorBrush* brush = nullptr;
	if (FAILED (target->CreateSolidColorBrush (D2D1::ColorF (0, 0, 0), &brush)))
		return;
	target->Clear (colour (RGB (0x1E, 0x22, 0x28)));
	// Twelve bands around the colour wheel: a drawn picture, never a flat one.
	static const COLORREF bands[] = {RGB (0xE6, 0x3C, 0x3C), RGB (0xE6, 0x82, 0x3C), RGB (0xE6, 0xC8, 0x3C),
	                                 RGB (0xA0, 0xE6, 0x3C), RGB (0x3C, 0xE6, 0x5A), RGB (0x3C, 0xE6, 0xB4),
	                                 RGB (0x3C, 0xC8, 0xE6), RGB (0x3C, 0x78, 0xE6), RGB (0x5A, 0x3C, 0xE6),
	                                 RGB (0xA0, 0x3C, 0xE6), RGB (0xE6, 0x3C, 0xC8), RGB (0xE6, 0x3C, 0x78)};
	const int count = static_cast<int> (sizeof bands / sizeof bands[0]);
	for (int i = 0; i < count; ++i)
	{
		// Whole pixels, so that every band keeps its exact colour.
		const float left = static_cast<float> (static_cast<int> (width) * i / count);
		const float right = static_cast<float> (static_cast<int> (width) * (i + 1) / count);
		brush->SetColor (colour (bands[i]));
		target->FillRectangle (D2D1::RectF (left, 0, right, 48), brush);
	}
	const double gain = controller_->getParamNormalized (kGainId);
	const D2D1_RECT_F track = sliderRect (width);
	brush->SetColor (colour (kDirect2DTrackColour));
	target->FillRectangle (track, brush);
	const float end = track.left + static_cast<float> (static_cast<int> ((track.right - track.left) * gain));
	brush->SetColor (colour (kDirect2DFillColour));
	target->FillRectangle (D2D1::RectF (track.left, track.top, end, track.bottom), brush);
	brush->SetColor (D2D1::ColorF (1, 1, 1));
	target->FillRectangle (
	    D2D1::RectF (end - 2 < track.left ? track.left : end - 2, track.top - 4, end + 2, track.bottom + 4), brush);
	brush->SetColor (colour (kDirect2DBandColour));
	target->FillRectangle (D2D1::RectF (0, height - kDirect2DBandHeight, width, height), brush);
	brush->Release ();
}

void QuillDirect2DEditor::render ()
{
	RECT client {};
	GetClientRect (hwnd_, &client);
	const float width = static_cast<float> (client.right);
	const float height = static_cast<float> (client.bottom);
	if (swapChain_)
	{
		IDXGISurface* surface = nullptr;
		ID2D1Bitmap1* bitmap = nullptr;
		if (FAILED (swapChain_->GetBuffer (0, __uuidof(IDXGISurface), reinterpret_cast<void**> (&surface))))
			return;
		const D2D1_BITMAP_PROPERTIES1 properties =
		    D2D1::BitmapProperties1 (D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
		                             D2D1::PixelFormat (DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
		if (SUCCEEDED (context_->CreateBitmapFromDxgiSurface (surface, &properties, &bitmap)))
		{
			context_->SetTarget (bitmap);
			context_->BeginDraw ();
			draw (context_, width, height);
			const HRESULT drawn = context_->EndDraw ();
			context_->SetTarget (nullptr);
			bitmap->Release ();
			if (SUCCEEDED (drawn))
			{
				swapChain_->Present (1, 0);
				renders_.fetch_add (1);
			}
		}
		surface->Release ();
		return;
	}
	if (!hwndTarget_ && !createHwndTarget ())
		return;
	hwndTarget_->BeginDraw ();
	draw (hwndTarget_, width, height);
	if (hwndTarget_->EndDraw () == static_cast<HRESULT> (D2DERR_RECREATE_TARGET))
		releaseAndClear (hwndTarget_); // made again for the next frame
	else
		renders_.fetch_add (1);
}

LRESULT QuillDirect2DEditor::editorMessage (UINT message, WPARAM wParam, LPARAM lParam)
{
	switch (message)
	{
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		BeginPaint (hwnd_, &ps);
		render ();
		EndPaint (hwnd_, &ps);
		return 0;
	}
	case WM_SIZE:
		resizeSurface (LOWORD (lParam), HIWORD (lParam));
		InvalidateRect (hwnd_, nullptr, FALSE);
		return 0;
	case WM_ERASEBKGND:
		return 1;
	default:
		return QuillView::message (message, wParam, lParam);
	}
}

} // namespace Quill
