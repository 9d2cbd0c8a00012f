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

} // namespace Tandem
