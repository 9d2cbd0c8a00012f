// Win32 for outpost. The parts of outpost that only hold window handles,
// without calling Win32 (the plug-in instance's core logic), also build
// natively for unit tests; there the handle types are opaque stand-ins.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
struct HWND__;
struct HINSTANCE__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
#endif
