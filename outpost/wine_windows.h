// What outpost's answers for Wine's editor limits ask of a process and a
// window (Windows builds only).
#pragma once

#include "win32.h"

#include <utility>

namespace Tandem {

// Wine's version; null on Windows, whose ntdll has no wine_get_version.
inline const char* wineVersion ()
{
	using Version = const char*(CDECL*)();
	auto version = reinterpret_cast<Version> (
	    reinterpret_cast<void (*) ()> (GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "wine_get_version")));
	return version ? version () : nullptr;
}

inline bool underWine ()
{
	return wineVersion () != nullptr;
}

// Windows that are not top-level: Wine shows neither swap chains nor OpenGL
// frames drawn there.
inline bool isChildWindow (HWND window)
{
	return window && IsWindow (window) && GetAncestor (window, GA_PARENT) != GetDesktopWindow ();
}

// A stand-in for a child window: a message-only window of the child's size
// (at least 1x1), of outpost's own class `windowClass` (registered on first
// use, with `classStyle`), never shown; Wine makes no X window for it that a
// search of the display for outpost's windows could find.
inline HWND makeStandIn (HWND child, const wchar_t* windowClass, UINT classStyle = 0)
{
	WNDCLASSEXW wc {};
	wc.cbSize = sizeof wc;
	wc.style = classStyle;
	wc.lpfnWndProc = DefWindowProcW;
	wc.hInstance = GetModuleHandleW (nullptr);
	wc.lpszClassName = windowClass;
	if (!RegisterClassExW (&wc) && GetLastError () != ERROR_CLASS_ALREADY_EXISTS)
		return nullptr;
	RECT client {};
	GetClientRect (child, &client);
	return CreateWindowExW (0, windowClass, L"", WS_POPUP, 0, 0, client.right > 0 ? client.right : 1,
	                        client.bottom > 0 ? client.bottom : 1, HWND_MESSAGE, nullptr, GetModuleHandleW (nullptr),
	                        nullptr);
}

// Whether `address` lies inside `module`: a table entry must still be
// Wine's own before it is replaced.
inline bool insideModule (void* address, HMODULE module)
{
	HMODULE owner = nullptr;
	return GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                           static_cast<LPCWSTR> (address), &owner) &&
	       owner == module;
}

// Replaces entries of an interface or import table in place, each in one
// store; `entries` are (slot, replacement) pairs within [first, last].
inline bool replaceEntries (void** table, int first, int last, const std::pair<int, void*>* entries, int count)
{
	const SIZE_T span = static_cast<SIZE_T> (last - first + 1) * sizeof (void*);
	DWORD old = 0;
	if (!VirtualProtect (table + first, span, PAGE_READWRITE, &old))
		return false;
	for (int i = 0; i < count; ++i)
		InterlockedExchangePointer (table + entries[i].first, entries[i].second);
	DWORD ignored = 0;
	VirtualProtect (table + first, span, old, &ignored);
	FlushInstructionCache (GetCurrentProcess (), table + first, span);
	return true;
}

inline bool replaceEntry (void** slot, void* replacement)
{
	const std::pair<int, void*> entry {0, replacement};
	return replaceEntries (slot, 0, 0, &entry, 1);
}

} // namespace Tandem
