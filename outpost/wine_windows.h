// What outpost's answers for Wine's editor limits ask of a process and a
// window (Windows builds only).
#pragma once

#include "win32.h"

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

} // namespace Tandem
