#include "host_thread.h"
#include "log/log.h"
#include "win32.h"

#include <ole2.h>

namespace Tandem {

namespace {

// Per-monitor (v2) awareness where the system knows it, the older
// system-wide awareness otherwise. Looked up at run time: older systems and
// Wine versions lack the newer call.
const char* makeDpiAware ()
{
	using SetContext = BOOL (WINAPI*) (HANDLE);
	HMODULE user32 = GetModuleHandleA ("user32.dll");
	auto setContext = user32 ? reinterpret_cast<SetContext> (reinterpret_cast<void (*) ()> (
	                               GetProcAddress (user32, "SetProcessDpiAwarenessContext")))
	                         : nullptr;
	// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
	if (setContext && setContext (reinterpret_cast<HANDLE> (static_cast<INT_PTR> (-4))))
		return "per-monitor v2";
	if (SetProcessDPIAware ())
		return "system";
	return nullptr;
}

} // namespace

HostThread::~HostThread ()
{
	if (oleInitialized_)
		OleUninitialize ();
	if (wakeEvent_)
		CloseHandle (static_cast<HANDLE> (wakeEvent_));
}

bool HostThread::enter ()
{
	if (!wakeEvent_)
		wakeEvent_ = CreateEventA (nullptr, FALSE, FALSE, nullptr);
	if (oleInitialized_)
		return true;
	const HRESULT result = OleInitialize (nullptr);
	// S_FALSE: this thread was already in a single-threaded apartment; the
	// call still counts and is balanced by OleUninitialize.
	if (result == S_OK || result == S_FALSE)
	{
		oleInitialized_ = true;
		logInfo () << "[Outpost] OLE initialized (single-threaded apartment)";
	}
	else
	{
		logError () << "[Outpost] OleInitialize failed: 0x" << std::hex << static_cast<unsigned long> (result);
	}
	if (const char* awareness = makeDpiAware ())
		logInfo () << "[Outpost] DPI awareness: " << awareness;
	else
		logInfo () << "[Outpost] DPI awareness could not be set";
	return oleInitialized_;
}

void HostThread::dispatchMessages ()
{
	MSG msg;
	for (int i = 0; i < 200 && PeekMessageW (&msg, nullptr, 0, 0, PM_REMOVE); ++i)
	{
		TranslateMessage (&msg);
		DispatchMessageW (&msg);
	}
}

void HostThread::waitForMessages (std::chrono::milliseconds timeout)
{
	// MWMO_INPUTAVAILABLE: also returns at once for messages already queued
	// but not yet removed, so nothing waits a whole tick.
	HANDLE event = static_cast<HANDLE> (wakeEvent_);
	MsgWaitForMultipleObjectsEx (event ? 1 : 0, event ? &event : nullptr, static_cast<DWORD> (timeout.count ()),
	                             QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void HostThread::wake ()
{
	if (wakeEvent_)
		SetEvent (static_cast<HANDLE> (wakeEvent_));
}

} // namespace Tandem
