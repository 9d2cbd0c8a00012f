#include "child_present.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "log/log.h"
#include "wine_windows.h"

namespace Tandem {

namespace {

// IDXGIFactory2's table: IUnknown (3), IDXGIObject (4), IDXGIFactory (5),
// IDXGIFactory1 (2), IsWindowedStereoEnabled, then CreateSwapChainForHwnd.
constexpr int kCreateForHwndSlot = 15;
// IDXGISwapChain1's table: IUnknown (3), IDXGIObject (4), GetDevice, then
// Present (8), GetBuffer, Set/GetFullscreenState, GetDesc (12),
// ResizeBuffers (13), ...; IDXGISwapChain1 adds GetDesc1 (18),
// GetFullscreenDesc, GetHwnd (20), GetCoreWindow, Present1 (22).
constexpr int kPresentSlot = 8;
constexpr int kGetDescSlot = 12;
constexpr int kResizeBuffersSlot = 13;
constexpr int kGetHwndSlot = 20;
constexpr int kPresent1Slot = 22;

using CreateForHwnd = HRESULT (STDMETHODCALLTYPE*) (IDXGIFactory2*, IUnknown*, HWND, const DXGI_SWAP_CHAIN_DESC1*,
                                                    const DXGI_SWAP_CHAIN_FULLSCREEN_DESC*, IDXGIOutput*,
                                                    IDXGISwapChain1**);
using Present = HRESULT (STDMETHODCALLTYPE*) (IDXGISwapChain*, UINT, UINT);
using Present1 = HRESULT (STDMETHODCALLTYPE*) (IDXGISwapChain1*, UINT, UINT, const DXGI_PRESENT_PARAMETERS*);
using GetDesc = HRESULT (STDMETHODCALLTYPE*) (IDXGISwapChain*, DXGI_SWAP_CHAIN_DESC*);
using ResizeBuffers = HRESULT (STDMETHODCALLTYPE*) (IDXGISwapChain*, UINT, UINT, UINT, DXGI_FORMAT, UINT);
using GetHwnd = HRESULT (STDMETHODCALLTYPE*) (IDXGISwapChain1*, HWND*);

CreateForHwnd g_createForHwnd = nullptr;
Present g_present = nullptr;
Present1 g_present1 = nullptr;
GetDesc g_getDesc = nullptr;
ResizeBuffers g_resizeBuffers = nullptr;
GetHwnd g_getHwnd = nullptr;
std::once_flag g_swapChainTable;
bool g_swapChainTablePatched = false;

std::atomic<std::uint64_t> g_swapChains {0};
std::atomic<std::uint64_t> g_frames {0};
std::atomic<std::uint64_t> g_microseconds {0};
LARGE_INTEGER g_frequency;

const char* const kTag = "[Outpost] Child-window presents: ";
const wchar_t kStandInClass[] = L"TandemSwapChainStandIn";

// Private data key under which a moved swap chain keeps its StandIn.
// {5A0C2F4E-7D31-4B8E-9C62-1F3E8A7B4D90}
const GUID kStandInKey = {0x5a0c2f4e, 0x7d31, 0x4b8e, {0x9c, 0x62, 0x1f, 0x3e, 0x8a, 0x7b, 0x4d, 0x90}};

// What a swap chain moved to a stand-in window keeps: the child it draws
// into, the stand-in, and the textures its frames are read back through.
// Held as the swap chain's private data, so it goes when the swap chain goes.
class StandIn final : public IUnknown
{
public:
	StandIn (HWND child, HWND standIn) : child_ (child), standIn_ (standIn), thread_ (GetCurrentThreadId ()) {}

	HRESULT STDMETHODCALLTYPE QueryInterface (REFIID iid, void** out) override
	{
		if (iid == __uuidof(IUnknown))
		{
			AddRef ();
			*out = this;
			return S_OK;
		}
		*out = nullptr;
		return E_NOINTERFACE;
	}
	ULONG STDMETHODCALLTYPE AddRef () override { return ++refs_; }
	ULONG STDMETHODCALLTYPE Release () override
	{
		const ULONG left = --refs_;
		if (left == 0)
			delete this;
		return left;
	}

	HWND child () const { return child_; }
	HWND standIn () const { return standIn_; }

	// The stand-in takes the child's client size (at least 1 x 1).
	void followChild () const
	{
		RECT client {};
		GetClientRect (child_, &client);
		const UINT flags =
		    SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | (GetCurrentThreadId () == thread_ ? 0 : SWP_ASYNCWINDOWPOS);
		SetWindowPos (standIn_, nullptr, 0, 0, client.right > 0 ? client.right : 1,
		              client.bottom > 0 ? client.bottom : 1, flags);
	}

	// The staging texture for this back buffer, made on first use and again
	// after the buffers changed; with a multisampled buffer also the texture
	// it is resolved into first.
	bool prepare (ID3D11Device* device, const D3D11_TEXTURE2D_DESC& back)
	{
		if (staging_ && back.Width == desc_.Width && back.Height == desc_.Height && back.Format == desc_.Format &&
		    back.SampleDesc.Count == desc_.SampleDesc.Count && device == device_)
			return true;
		releaseTextures ();
		D3D11_TEXTURE2D_DESC desc = back;
		desc.MipLevels = 1;
		desc.ArraySize = 1;
		desc.SampleDesc.Count = 1;
		desc.SampleDesc.Quality = 0;
		desc.BindFlags = 0;
		desc.MiscFlags = 0;
		desc.Usage = D3D11_USAGE_STAGING;
		desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
		if (FAILED (device->CreateTexture2D (&desc, nullptr, &staging_)))
			staging_ = nullptr;
		if (staging_ && back.SampleDesc.Count > 1)
		{
			desc.Usage = D3D11_USAGE_DEFAULT;
			desc.CPUAccessFlags = 0;
			if (FAILED (device->CreateTexture2D (&desc, nullptr, &resolved_)))
				releaseTextures ();
		}
		desc_ = back;
		device_ = device;
		return staging_ != nullptr;
	}
	ID3D11Texture2D* staging () const { return staging_; }
	ID3D11Texture2D* resolved () const { return resolved_; }
	std::vector<std::uint32_t>& swapped () { return swapped_; }

private:
	~StandIn ()
	{
		releaseTextures ();
		// A window can only be destroyed by its own thread.
		if (GetCurrentThreadId () == thread_)
			DestroyWindow (standIn_);
		else
			PostMessageW (standIn_, WM_CLOSE, 0, 0);
	}
	void releaseTextures ()
	{
		if (staging_)
			staging_->Release ();
		if (resolved_)
			resolved_->Release ();
		staging_ = resolved_ = nullptr;
	}

	std::atomic<ULONG> refs_ {1};
	HWND child_;
	HWND standIn_;
	DWORD thread_;
	ID3D11Texture2D* staging_ = nullptr;
	ID3D11Texture2D* resolved_ = nullptr; // multisampled back buffers only
	D3D11_TEXTURE2D_DESC desc_ {};
	ID3D11Device* device_ = nullptr;     // compared only; the textures hold the device
	std::vector<std::uint32_t> swapped_; // red-first frames, turned blue-first for GDI
};

// The swap chain's StandIn with a reference, or null for one left to Wine.
StandIn* standInOf (IUnknown* swapChain)
{
	IUnknown* stored = nullptr;
	UINT size = sizeof stored;
	auto* object = static_cast<IDXGISwapChain*> (swapChain);
	if (FAILED (object->GetPrivateData (kStandInKey, &size, &stored)) || size != sizeof stored)
		return nullptr;
	return static_cast<StandIn*> (stored);
}

bool readable (DXGI_FORMAT format)
{
	switch (format)
	{
	case DXGI_FORMAT_B8G8R8A8_UNORM:
	case DXGI_FORMAT_B8G8R8A8_UNORM_SRGB:
	case DXGI_FORMAT_B8G8R8X8_UNORM:
	case DXGI_FORMAT_R8G8B8A8_UNORM:
	case DXGI_FORMAT_R8G8B8A8_UNORM_SRGB:
		return true;
	default:
		return false;
	}
}

bool redFirst (DXGI_FORMAT format)
{
	return format == DXGI_FORMAT_R8G8B8A8_UNORM || format == DXGI_FORMAT_R8G8B8A8_UNORM_SRGB;
}

// Draws top-down 32-bit rows into the window's client area.
void drawRows (HWND window, const void* rows, UINT pitch, UINT width, UINT height)
{
	RECT client {};
	GetClientRect (window, &client);
	BITMAPINFO info {};
	info.bmiHeader.biSize = sizeof info.bmiHeader;
	info.bmiHeader.biWidth = static_cast<LONG> (pitch / 4);
	info.bmiHeader.biHeight = -static_cast<LONG> (height);
	info.bmiHeader.biPlanes = 1;
	info.bmiHeader.biBitCount = 32;
	info.bmiHeader.biCompression = BI_RGB;
	HDC dc = GetDC (window);
	if (!dc)
		return;
	const LONG w = static_cast<LONG> (width);
	const LONG h = static_cast<LONG> (height);
	if (client.right == w && client.bottom == h)
	{
		SetDIBitsToDevice (dc, 0, 0, width, height, 0, 0, 0, height, rows, &info, DIB_RGB_COLORS);
	}
	else
	{
		// DXGI stretches the buffers over the client area by default.
		SetStretchBltMode (dc, COLORONCOLOR);
		StretchDIBits (dc, 0, 0, client.right, client.bottom, 0, 0, w, h, rows, &info, DIB_RGB_COLORS, SRCCOPY);
	}
	ReleaseDC (window, dc);
}

// The frame is read before Wine presents it: with a flip model the buffer
// the caller drew into is no longer buffer 0 afterwards.
void drawIntoChild (IDXGISwapChain* swapChain, StandIn& standIn)
{
	if (!IsWindowVisible (standIn.child ()))
		return;
	LARGE_INTEGER start;
	QueryPerformanceCounter (&start);
	ID3D11Texture2D* back = nullptr;
	if (FAILED (swapChain->GetBuffer (0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**> (&back))) || !back)
		return;
	D3D11_TEXTURE2D_DESC desc {};
	back->GetDesc (&desc);
	ID3D11Device* device = nullptr;
	back->GetDevice (&device);
	ID3D11DeviceContext* context = nullptr;
	if (device)
		device->GetImmediateContext (&context);
	D3D11_MAPPED_SUBRESOURCE mapped {};
	if (context && readable (desc.Format) && standIn.prepare (device, desc))
	{
		if (standIn.resolved ())
		{
			context->ResolveSubresource (standIn.resolved (), 0, back, 0, desc.Format);
			context->CopyResource (standIn.staging (), standIn.resolved ());
		}
		else
		{
			context->CopyResource (standIn.staging (), back);
		}
		if (SUCCEEDED (context->Map (standIn.staging (), 0, D3D11_MAP_READ, 0, &mapped)))
		{
			if (redFirst (desc.Format))
			{
				std::vector<std::uint32_t>& out = standIn.swapped ();
				out.resize (static_cast<std::size_t> (desc.Width) * desc.Height);
				for (UINT y = 0; y < desc.Height; ++y)
				{
					const auto* row = reinterpret_cast<const std::uint32_t*> (
					    static_cast<const BYTE*> (mapped.pData) + static_cast<std::size_t> (y) * mapped.RowPitch);
					std::uint32_t* line = out.data () + static_cast<std::size_t> (y) * desc.Width;
					for (UINT x = 0; x < desc.Width; ++x)
						line[x] = (row[x] & 0xFF00FF00u) | ((row[x] & 0xFFu) << 16) | ((row[x] >> 16) & 0xFFu);
				}
				drawRows (standIn.child (), out.data (), desc.Width * 4, desc.Width, desc.Height);
			}
			else
			{
				drawRows (standIn.child (), mapped.pData, mapped.RowPitch, desc.Width, desc.Height);
			}
			context->Unmap (standIn.staging (), 0);
			LARGE_INTEGER end;
			QueryPerformanceCounter (&end);
			g_frames.fetch_add (1, std::memory_order_relaxed);
			g_microseconds.fetch_add (
			    static_cast<std::uint64_t> ((end.QuadPart - start.QuadPart) * 1000000 / g_frequency.QuadPart),
			    std::memory_order_relaxed);
		}
	}
	if (context)
		context->Release ();
	if (device)
		device->Release ();
	back->Release ();
}

HRESULT STDMETHODCALLTYPE present (IDXGISwapChain* swapChain, UINT syncInterval, UINT flags)
{
	if (StandIn* standIn = standInOf (swapChain))
	{
		if (!(flags & DXGI_PRESENT_TEST))
			drawIntoChild (swapChain, *standIn);
		standIn->Release ();
	}
	return g_present (swapChain, syncInterval, flags);
}

HRESULT STDMETHODCALLTYPE present1 (IDXGISwapChain1* swapChain, UINT syncInterval, UINT flags,
                                    const DXGI_PRESENT_PARAMETERS* parameters)
{
	if (StandIn* standIn = standInOf (swapChain))
	{
		if (!(flags & DXGI_PRESENT_TEST))
			drawIntoChild (swapChain, *standIn);
		standIn->Release ();
	}
	return g_present1 (swapChain, syncInterval, flags, parameters);
}

HRESULT STDMETHODCALLTYPE getDesc (IDXGISwapChain* swapChain, DXGI_SWAP_CHAIN_DESC* desc)
{
	const HRESULT result = g_getDesc (swapChain, desc);
	if (SUCCEEDED (result) && desc)
	{
		if (StandIn* standIn = standInOf (swapChain))
		{
			desc->OutputWindow = standIn->child ();
			standIn->Release ();
		}
	}
	return result;
}

HRESULT STDMETHODCALLTYPE getHwnd (IDXGISwapChain1* swapChain, HWND* window)
{
	const HRESULT result = g_getHwnd (swapChain, window);
	if (SUCCEEDED (result) && window)
	{
		if (StandIn* standIn = standInOf (swapChain))
		{
			*window = standIn->child ();
			standIn->Release ();
		}
	}
	return result;
}

HRESULT STDMETHODCALLTYPE resizeBuffers (IDXGISwapChain* swapChain, UINT count, UINT width, UINT height,
                                         DXGI_FORMAT format, UINT flags)
{
	if (StandIn* standIn = standInOf (swapChain))
	{
		standIn->followChild ();
		standIn->Release ();
	}
	return g_resizeBuffers (swapChain, count, width, height, format, flags);
}

// The swap chains' table, patched when the first swap chain is moved to a
// stand-in (no Direct3D device is made for it before a plug-in makes one).
void patchSwapChainTable (IDXGISwapChain1* swapChain)
{
	std::call_once (g_swapChainTable, [swapChain] {
		void** table = *reinterpret_cast<void***> (swapChain);
		HMODULE dxgi = GetModuleHandleW (L"dxgi.dll");
		for (int slot : {kPresentSlot, kGetDescSlot, kResizeBuffersSlot, kGetHwndSlot, kPresent1Slot})
			if (!insideModule (table[slot], dxgi))
				return;
		g_present = reinterpret_cast<Present> (table[kPresentSlot]);
		g_getDesc = reinterpret_cast<GetDesc> (table[kGetDescSlot]);
		g_resizeBuffers = reinterpret_cast<ResizeBuffers> (table[kResizeBuffersSlot]);
		g_getHwnd = reinterpret_cast<GetHwnd> (table[kGetHwndSlot]);
		g_present1 = reinterpret_cast<Present1> (table[kPresent1Slot]);
		const std::pair<int, void*> entries[] = {
		    {kPresentSlot, reinterpret_cast<void*> (&present)},
		    {kGetDescSlot, reinterpret_cast<void*> (&getDesc)},
		    {kResizeBuffersSlot, reinterpret_cast<void*> (&resizeBuffers)},
		    {kGetHwndSlot, reinterpret_cast<void*> (&getHwnd)},
		    {kPresent1Slot, reinterpret_cast<void*> (&present1)},
		};
		g_swapChainTablePatched = replaceEntries (table, kPresentSlot, kPresent1Slot, entries, 5);
	});
}

HRESULT STDMETHODCALLTYPE createForHwnd (IDXGIFactory2* factory, IUnknown* device, HWND window,
                                         const DXGI_SWAP_CHAIN_DESC1* desc,
                                         const DXGI_SWAP_CHAIN_FULLSCREEN_DESC* fullscreen, IDXGIOutput* output,
                                         IDXGISwapChain1** swapChain)
{
	const bool windowed = !fullscreen || fullscreen->Windowed;
	HWND standInWindow = windowed && isChildWindow (window) ? makeStandIn (window, kStandInClass) : nullptr;
	if (!standInWindow)
		return g_createForHwnd (factory, device, window, desc, fullscreen, output, swapChain);
	const HRESULT result = g_createForHwnd (factory, device, standInWindow, desc, fullscreen, output, swapChain);
	if (FAILED (result) || !swapChain || !*swapChain)
	{
		DestroyWindow (standInWindow);
		return result;
	}
	patchSwapChainTable (*swapChain);
	auto* standIn = new StandIn (window, standInWindow);
	(*swapChain)->SetPrivateDataInterface (kStandInKey, standIn);
	standIn->Release ();
	if (g_swapChains.fetch_add (1) == 0)
	{
		RECT client {};
		GetClientRect (window, &client);
		if (g_swapChainTablePatched)
			logInfo () << kTag << "the first swap chain of a child window (" << client.right << "x" << client.bottom
			           << ") renders for a hidden stand-in; its frames are drawn into the child with GDI";
		else
			logError () << kTag
			            << "the swap chains' table could not be changed; a child window's swap chain "
			               "stays blank";
	}
	return result;
}

ChildPresentOutcome install ()
{
	if (!underWine ())
	{
		logInfo () << kTag << "not under Wine; left alone";
		return ChildPresentOutcome::NotWine;
	}
	// Pinned: the patched tables live in dxgi.dll, and the code they now
	// point to calls into d3d11.dll; neither may unload while a plug-in
	// presents.
	HMODULE pinned = nullptr;
	HMODULE dxgi = LoadLibraryW (L"dxgi.dll");
	if (!dxgi || !LoadLibraryW (L"d3d11.dll") ||
	    !GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_PIN, L"dxgi.dll", &pinned) ||
	    !GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_PIN, L"d3d11.dll", &pinned))
	{
		logInfo () << kTag << "no dxgi.dll or d3d11.dll (" << GetLastError () << "); left alone";
		return ChildPresentOutcome::NoFactory;
	}
	using CreateFactory1 = HRESULT (WINAPI*) (REFIID, void**);
	auto create =
	    reinterpret_cast<CreateFactory1> (reinterpret_cast<void (*) ()> (GetProcAddress (dxgi, "CreateDXGIFactory1")));
	IDXGIFactory2* factory = nullptr;
	const HRESULT made = create ? create (__uuidof(IDXGIFactory2), reinterpret_cast<void**> (&factory)) : E_NOINTERFACE;
	if (FAILED (made) || !factory)
	{
		logInfo () << kTag << "no DXGI factory (0x" << std::hex << static_cast<unsigned long> (made)
		           << "; no display?); left alone";
		return ChildPresentOutcome::NoFactory;
	}
	QueryPerformanceFrequency (&g_frequency);
	void** table = *reinterpret_cast<void***> (factory);
	bool replaced = false;
	if (insideModule (table[kCreateForHwndSlot], dxgi))
	{
		g_createForHwnd = reinterpret_cast<CreateForHwnd> (table[kCreateForHwndSlot]);
		const std::pair<int, void*> entry {kCreateForHwndSlot, reinterpret_cast<void*> (&createForHwnd)};
		replaced = replaceEntries (table, kCreateForHwndSlot, kCreateForHwndSlot, &entry, 1);
	}
	factory->Release ();
	if (!replaced)
	{
		logError () << kTag << "the DXGI factories' table could not be changed (" << GetLastError ()
		            << "); Direct2D and Direct3D editors stay blank";
		return ChildPresentOutcome::Failed;
	}
	logInfo () << kTag << "Wine " << wineVersion ()
	           << " shows no swap chain of a child window; such swap chains will render for a stand-in and be "
	              "drawn into the child with GDI";
	return ChildPresentOutcome::Installed;
}

} // namespace

ChildPresentOutcome installChildPresent ()
{
	static const ChildPresentOutcome outcome = install ();
	return outcome;
}

ChildPresentCounts childPresentCounts ()
{
	ChildPresentCounts counts;
	counts.swapChains = g_swapChains.load (std::memory_order_relaxed);
	counts.frames = g_frames.load (std::memory_order_relaxed);
	counts.microseconds = g_microseconds.load (std::memory_order_relaxed);
	return counts;
}

} // namespace Tandem
