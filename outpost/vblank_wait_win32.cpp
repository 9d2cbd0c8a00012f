#include "vblank_wait.h"

#include <windows.h>
#include <dxgi.h>

#include <string>

#include "log/log.h"
#include "wine_windows.h"

namespace Tandem {

namespace {

// IDXGIOutput's table: IUnknown (3), IDXGIObject (4), GetDesc,
// GetDisplayModeList, FindClosestMatchingMode, then WaitForVBlank.
constexpr int kWaitForVBlankSlot = 10;

using CreateFactory1 = HRESULT (WINAPI*) (REFIID, void**);
using DelayExecution = LONG (NTAPI*) (BOOLEAN, LARGE_INTEGER*);

struct Clock
{
	std::int64_t origin = 0;
	std::int64_t frequency = 1;
	unsigned hertz = kFallbackRefreshHertz;
	DelayExecution delay = nullptr;
};
Clock g_clock;

std::int64_t now ()
{
	LARGE_INTEGER counter;
	QueryPerformanceCounter (&counter);
	return counter.QuadPart;
}

// Sleeps `counts` of the performance counter. Wine's NtDelayExecution takes
// 100 ns units and sleeps in the kernel; Sleep's whole milliseconds would
// land the ticks up to a millisecond late.
void sleepCounts (std::int64_t counts)
{
	std::int64_t units = counts * 10000000 / g_clock.frequency;
	if (units < 1)
		units = 1;
	if (g_clock.delay)
	{
		LARGE_INTEGER relative;
		relative.QuadPart = -units;
		g_clock.delay (FALSE, &relative);
	}
	else
	{
		Sleep (static_cast<DWORD> ((units + 9999) / 10000));
	}
}

HRESULT STDMETHODCALLTYPE waitForTick (IDXGIOutput*)
{
	const std::int64_t tick = nextVBlankTick (now (), g_clock.origin, g_clock.frequency, g_clock.hertz);
	for (std::int64_t left = tick - now (); left > 0; left = tick - now ())
		sleepCounts (left);
	return S_OK;
}

// The rate the display reports: the desktop's mode first, else the output's
// mode of the desktop's size. 0 when neither says.
unsigned reportedHertz (IDXGIOutput* output)
{
	DEVMODEW mode {};
	mode.dmSize = sizeof mode;
	if (EnumDisplaySettingsW (nullptr, ENUM_CURRENT_SETTINGS, &mode) &&
	    plausibleRefreshHertz (mode.dmDisplayFrequency) == mode.dmDisplayFrequency)
		return mode.dmDisplayFrequency;
	UINT count = 0;
	if (FAILED (output->GetDisplayModeList (DXGI_FORMAT_B8G8R8A8_UNORM, 0, &count, nullptr)) || count == 0)
		return mode.dmDisplayFrequency;
	DXGI_MODE_DESC modes[64];
	if (count > 64)
		count = 64;
	if (FAILED (output->GetDisplayModeList (DXGI_FORMAT_B8G8R8A8_UNORM, 0, &count, modes)))
		return mode.dmDisplayFrequency;
	for (UINT i = 0; i < count; ++i)
	{
		const DXGI_RATIONAL rate = modes[i].RefreshRate;
		if (modes[i].Width != mode.dmPelsWidth || modes[i].Height != mode.dmPelsHeight || rate.Denominator == 0)
			continue;
		const unsigned hertz = (rate.Numerator + rate.Denominator / 2) / rate.Denominator;
		if (plausibleRefreshHertz (hertz) == hertz)
			return hertz;
	}
	return mode.dmDisplayFrequency;
}

const char* const kTag = "[Outpost] WaitForVBlank: ";

VBlankWaitResult install ()
{
	VBlankWaitResult result;
	// Pinned: the patched table lives in dxgi.dll, which must never unload
	// while a plug-in's thread may call through it.
	HMODULE dxgi = LoadLibraryW (L"dxgi.dll");
	HMODULE pinned = nullptr;
	if (!dxgi || !GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_PIN, L"dxgi.dll", &pinned))
	{
		logInfo () << kTag << "no dxgi.dll (" << GetLastError () << "); left alone";
		return result;
	}
	auto create =
	    reinterpret_cast<CreateFactory1> (reinterpret_cast<void (*) ()> (GetProcAddress (dxgi, "CreateDXGIFactory1")));
	IDXGIFactory1* factory = nullptr;
	const HRESULT made = create ? create (__uuidof(IDXGIFactory1), reinterpret_cast<void**> (&factory)) : E_NOINTERFACE;
	if (FAILED (made) || !factory)
	{
		logInfo () << kTag << "no DXGI factory (0x" << std::hex << static_cast<unsigned long> (made)
		           << "; no display?); left alone";
		return result;
	}
	IDXGIAdapter1* adapter = nullptr;
	IDXGIOutput* output = nullptr;
	if (SUCCEEDED (factory->EnumAdapters1 (0, &adapter)) && adapter)
		adapter->EnumOutputs (0, &output);
	if (adapter)
		adapter->Release ();
	factory->Release ();
	if (!output)
	{
		logInfo () << kTag << "no display adapter or output (headless); left alone";
		return result;
	}

	const HRESULT answer = output->WaitForVBlank ();
	if (answer != E_NOTIMPL)
	{
		output->Release ();
		result.outcome = VBlankWaitOutcome::Native;
		logInfo () << kTag << "Wine answers it (0x" << std::hex << static_cast<unsigned long> (answer)
		           << "); left alone";
		return result;
	}

	const unsigned reported = reportedHertz (output);
	LARGE_INTEGER frequency;
	QueryPerformanceFrequency (&frequency);
	g_clock.frequency = frequency.QuadPart;
	g_clock.hertz = plausibleRefreshHertz (reported);
	g_clock.origin = now ();
	g_clock.delay = reinterpret_cast<DelayExecution> (
	    reinterpret_cast<void (*) ()> (GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "NtDelayExecution")));

	void** table = *reinterpret_cast<void***> (output);
	void** slot = table + kWaitForVBlankSlot;
	if (!insideModule (*slot, dxgi) || !replaceEntry (slot, reinterpret_cast<void*> (&waitForTick)))
	{
		output->Release ();
		result.outcome = VBlankWaitOutcome::Failed;
		logError () << kTag << "Wine answers E_NOTIMPL and its interface table could not be changed ("
		            << GetLastError () << "); editors that wait for it will not repaint";
		return result;
	}
	// Through the object, as a plug-in calls it: proves the entry is the one.
	const HRESULT supplied = output->WaitForVBlank ();
	output->Release ();
	if (supplied != S_OK)
	{
		result.outcome = VBlankWaitOutcome::Failed;
		logError () << kTag << "supplied, yet it answers 0x" << std::hex << static_cast<unsigned long> (supplied);
		return result;
	}
	result.outcome = VBlankWaitOutcome::Supplied;
	result.hertz = g_clock.hertz;
	const std::string source = reported == g_clock.hertz ? std::string ("the display's rate")
	                                                     : "the display reports " + std::to_string (reported) + " Hz";
	logInfo () << kTag << "Wine answers E_NOTIMPL; supplied a wait for the next tick of " << g_clock.hertz << " Hz ("
	           << source << ")";
	return result;
}

} // namespace

VBlankWaitResult installVBlankWait ()
{
	static const VBlankWaitResult result = install ();
	return result;
}

} // namespace Tandem
