#include "child_opengl.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "log/log.h"
#include "wine_windows.h"

namespace Tandem {

namespace {

const char* const kTag = "[Outpost] Child-window OpenGL: ";
const wchar_t kStandInClass[] = L"TandemOpenGLStandIn";

// OpenGL's names that outpost reads frames with.
constexpr unsigned kBack = 0x0405, kFront = 0x0404, kReadBuffer = 0x0C02;
constexpr unsigned kPackAlignment = 0x0D05, kPackRowLength = 0x0D02, kPackSkipRows = 0x0D03, kPackSkipPixels = 0x0D04;
constexpr unsigned kReadFramebuffer = 0x8CA8, kReadFramebufferBinding = 0x8CAA;
constexpr unsigned kPixelPackBuffer = 0x88EB, kPixelPackBufferBinding = 0x88ED;
constexpr unsigned kBgra = 0x80E1, kUnsignedByte = 0x1401;

using SetFormat = BOOL (WINAPI*) (HDC, int, const PIXELFORMATDESCRIPTOR*);
using GetFormat = int (WINAPI*) (HDC);
using Swap = BOOL (WINAPI*) (HDC);
using CreateContext = HGLRC (WINAPI*) (HDC);
using CreateContextAttribs = HGLRC (WINAPI*) (HDC, HGLRC, const int*);
using MakeCurrent = BOOL (WINAPI*) (HDC, HGLRC);
using GetCurrentDC = HDC (WINAPI*) ();
using GetCurrentContext = HGLRC (WINAPI*) ();
using WglGetProc = PROC (WINAPI*) (LPCSTR);
using GetProc = FARPROC (WINAPI*) (HMODULE, LPCSTR);
using GetInteger = void (WINAPI*) (unsigned, int*);
using ReadBuffer = void (WINAPI*) (unsigned);
using PixelStore = void (WINAPI*) (unsigned, int);
using ReadPixels = void (WINAPI*) (int, int, int, int, unsigned, unsigned, void*);
using Bind = void (WINAPI*) (unsigned, unsigned);

// Wine's own entries, taken before any import is replaced.
struct Originals
{
	HMODULE opengl = nullptr, gdi = nullptr;
	SetFormat setPixelFormat = nullptr, wglSetPixelFormat = nullptr;
	GetFormat getPixelFormat = nullptr, wglGetPixelFormat = nullptr;
	Swap swapBuffers = nullptr, wglSwapBuffers = nullptr;
	CreateContext createContext = nullptr;
	std::atomic<CreateContextAttribs> createContextAttribs {nullptr};
	MakeCurrent makeCurrent = nullptr;
	GetCurrentDC currentDC = nullptr;
	GetCurrentContext currentContext = nullptr;
	WglGetProc wglGetProcAddress = nullptr;
	GetInteger getInteger = nullptr;
	ReadBuffer readBuffer = nullptr;
	PixelStore pixelStore = nullptr;
	ReadPixels readPixels = nullptr;
} g;

// A child window whose OpenGL draws into a stand-in, and the frame read
// back on its way to the child.
struct StandIn
{
	HWND child = nullptr;
	HWND window = nullptr; // changed under g_lock
	HDC dc = nullptr;      // the stand-in's own (CS_OWNDC)
	int format = 0;        // the pixel format the plug-in set
	PIXELFORMATDESCRIPTOR descriptor {};
	std::mutex use; // one thread at a time follows the size or reads a frame
	std::vector<std::uint32_t> frame;
};

std::mutex g_lock;
std::vector<std::shared_ptr<StandIn>> g_standIns;
std::atomic<bool> g_firstLogged {false};

// The stand-in of the window behind `dc`: the child's, or the stand-in's
// own (wglGetCurrentDC answers the stand-in's device context).
std::shared_ptr<StandIn> standInOf (HDC dc)
{
	HWND window = dc ? WindowFromDC (dc) : nullptr;
	if (!window)
		return nullptr;
	std::lock_guard<std::mutex> hold (g_lock);
	for (const auto& s : g_standIns)
		if (s->child == window || s->window == window)
			return s;
	return nullptr;
}

SIZE clientSize (HWND window)
{
	RECT r {};
	GetClientRect (window, &r);
	return SIZE {std::max<LONG> (r.right, 1), std::max<LONG> (r.bottom, 1)};
}

// Gives the stand-in the child's size. Wine keeps the OpenGL drawable of a
// window that has no X window at the size it was made with, so a stand-in
// of the new size takes over, with the same pixel format, and the context
// current on the old one moves to it.
void followChild (StandIn& s)
{
	const SIZE want = clientSize (s.child), have = clientSize (s.window);
	if (want.cx == have.cx && want.cy == have.cy)
		return;
	HWND fresh = makeStandIn (s.child, kStandInClass, CS_OWNDC);
	HDC dc = fresh ? GetDC (fresh) : nullptr;
	if (!dc || !g.setPixelFormat (dc, s.format, &s.descriptor))
	{
		if (fresh)
			DestroyWindow (fresh);
		return;
	}
	const bool current = g.currentDC () == s.dc;
	const HGLRC context = g.currentContext ();
	HWND old = s.window;
	{
		std::lock_guard<std::mutex> hold (g_lock);
		s.window = fresh;
		s.dc = dc;
	}
	if (current)
		g.makeCurrent (dc, context);
	// Its own thread takes it down (a render thread may have made it).
	if (GetWindowThreadProcessId (old, nullptr) == GetCurrentThreadId ())
		DestroyWindow (old);
	else
		PostMessageW (old, WM_CLOSE, 0, 0);
}

// The stand-in for a child window's device context, made on first use;
// null for top-level windows. Stand-ins of children that are gone are let
// go (closed through their own thread's queue).
std::shared_ptr<StandIn> standInFor (HDC dc, int index, const PIXELFORMATDESCRIPTOR* format)
{
	if (auto s = standInOf (dc))
		return s;
	HWND child = WindowFromDC (dc);
	if (!isChildWindow (child))
		return nullptr;
	auto s = std::make_shared<StandIn> ();
	s->child = child;
	s->window = makeStandIn (child, kStandInClass, CS_OWNDC);
	s->dc = s->window ? GetDC (s->window) : nullptr;
	if (!s->dc)
	{
		logError () << kTag << "no stand-in window (" << GetLastError () << "); the child's OpenGL stays blank";
		if (s->window)
			DestroyWindow (s->window);
		return nullptr;
	}
	s->format = index;
	if (!DescribePixelFormat (s->dc, index, sizeof s->descriptor, &s->descriptor) && format)
		s->descriptor = *format;
	std::lock_guard<std::mutex> hold (g_lock);
	g_standIns.erase (std::remove_if (g_standIns.begin (), g_standIns.end (),
	                                  [] (const std::shared_ptr<StandIn>& old) {
		                                  if (IsWindow (old->child))
			                                  return false;
		                                  PostMessageW (old->window, WM_CLOSE, 0, 0);
		                                  return true;
	                                  }),
	                  g_standIns.end ());
	g_standIns.push_back (s);
	return s;
}

// Reads the frame the current context drew for the stand-in and draws it
// into the child with GDI. The plug-in's reading state is put back.
void showFrame (StandIn& s)
{
	if (!g.currentDC || g.currentDC () != s.dc || !g.readPixels)
		return;
	const SIZE child = clientSize (s.child), drawn = clientSize (s.window);
	const int width = std::min (child.cx, drawn.cx), height = std::min (child.cy, drawn.cy);
	s.frame.resize (static_cast<std::size_t> (width) * static_cast<std::size_t> (height));

	auto bind = [] (const char* name) {
		return reinterpret_cast<Bind> (reinterpret_cast<void (*) ()> (g.wglGetProcAddress (name)));
	};
	const Bind bindFramebuffer = bind ("glBindFramebuffer");
	const Bind bindBuffer = bind ("glBindBuffer");
	int readBuffer = 0, alignment = 4, rowLength = 0, skipRows = 0, skipPixels = 0, framebuffer = 0, packBuffer = 0;
	g.getInteger (kReadBuffer, &readBuffer);
	g.getInteger (kPackAlignment, &alignment);
	g.getInteger (kPackRowLength, &rowLength);
	g.getInteger (kPackSkipRows, &skipRows);
	g.getInteger (kPackSkipPixels, &skipPixels);
	if (bindFramebuffer)
		g.getInteger (kReadFramebufferBinding, &framebuffer);
	if (bindBuffer)
		g.getInteger (kPixelPackBufferBinding, &packBuffer);
	if (framebuffer)
		bindFramebuffer (kReadFramebuffer, 0);
	if (packBuffer)
		bindBuffer (kPixelPackBuffer, 0);
	g.readBuffer (s.descriptor.dwFlags & PFD_DOUBLEBUFFER ? kBack : kFront);
	g.pixelStore (kPackAlignment, 4);
	g.pixelStore (kPackRowLength, 0);
	g.pixelStore (kPackSkipRows, 0);
	g.pixelStore (kPackSkipPixels, 0);
	g.readPixels (0, 0, width, height, kBgra, kUnsignedByte, s.frame.data ());
	g.pixelStore (kPackAlignment, alignment);
	g.pixelStore (kPackRowLength, rowLength);
	g.pixelStore (kPackSkipRows, skipRows);
	g.pixelStore (kPackSkipPixels, skipPixels);
	g.readBuffer (static_cast<unsigned> (readBuffer));
	if (packBuffer)
		bindBuffer (kPixelPackBuffer, static_cast<unsigned> (packBuffer));
	if (framebuffer)
		bindFramebuffer (kReadFramebuffer, static_cast<unsigned> (framebuffer));

	// OpenGL's rows run from the bottom, as a DIB of positive height's do.
	BITMAPINFO info {};
	info.bmiHeader.biSize = sizeof info.bmiHeader;
	info.bmiHeader.biWidth = width;
	info.bmiHeader.biHeight = height;
	info.bmiHeader.biPlanes = 1;
	info.bmiHeader.biBitCount = 32;
	info.bmiHeader.biCompression = BI_RGB;
	HDC target = GetDC (s.child);
	SetDIBitsToDevice (target, 0, child.cy - height, static_cast<DWORD> (width), static_cast<DWORD> (height), 0, 0, 0,
	                   static_cast<UINT> (height), s.frame.data (), &info, DIB_RGB_COLORS);
	ReleaseDC (s.child, target);
	if (!g_firstLogged.exchange (true))
		logInfo () << kTag << "the first child window's OpenGL (" << width << "x" << height
		           << ") draws for a stand-in; its frames are drawn into the child with GDI";
}

// The replacements. Each takes the child's device context where the plug-in
// gives it and hands Wine the stand-in's; gdi32's calls and opengl32's of
// the same kind share one body.
template <SetFormat Originals::*original>
BOOL WINAPI setPixelFormat (HDC dc, int index, const PIXELFORMATDESCRIPTOR* format)
{
	const auto s = standInFor (dc, index, format);
	return (g.*original) (s ? s->dc : dc, index, format);
}
template <GetFormat Originals::*original>
int WINAPI getPixelFormat (HDC dc)
{
	const auto s = standInOf (dc);
	return (g.*original) (s ? s->dc : dc);
}
template <Swap Originals::*original>
BOOL WINAPI swapBuffers (HDC dc)
{
	const auto s = standInOf (dc);
	if (!s)
		return (g.*original) (dc);
	std::lock_guard<std::mutex> hold (s->use);
	showFrame (*s);
	const BOOL swapped = (g.*original) (s->dc);
	followChild (*s);
	return swapped;
}
HGLRC WINAPI wglCreateContext (HDC dc)
{
	const auto s = standInOf (dc);
	return g.createContext (s ? s->dc : dc);
}
HGLRC WINAPI wglCreateContextAttribsARB (HDC dc, HGLRC share, const int* attributes)
{
	const auto s = standInOf (dc);
	return g.createContextAttribs.load () (s ? s->dc : dc, share, attributes);
}
BOOL WINAPI wglMakeCurrent (HDC dc, HGLRC context)
{
	const auto s = standInOf (dc);
	if (!s)
		return g.makeCurrent (dc, context);
	std::lock_guard<std::mutex> hold (s->use);
	followChild (*s);
	return g.makeCurrent (s->dc, context);
}
PROC WINAPI wglGetProcAddress (LPCSTR name)
{
	PROC found = g.wglGetProcAddress (name);
	if (!found || !name || std::strcmp (name, "wglCreateContextAttribsARB") != 0)
		return found;
	g.createContextAttribs.store (reinterpret_cast<CreateContextAttribs> (reinterpret_cast<void (*) ()> (found)));
	return reinterpret_cast<PROC> (reinterpret_cast<void (*) ()> (&wglCreateContextAttribsARB));
}

// What each replaced import is, by the library and name the module gives.
struct Replacement
{
	bool opengl; // opengl32.dll; else gdi32.dll
	const char* name;
	void* hook;
};
const Replacement kReplacements[] = {
    {false, "SetPixelFormat", reinterpret_cast<void*> (&setPixelFormat<&Originals::setPixelFormat>)},
    {false, "GetPixelFormat", reinterpret_cast<void*> (&getPixelFormat<&Originals::getPixelFormat>)},
    {false, "SwapBuffers", reinterpret_cast<void*> (&swapBuffers<&Originals::swapBuffers>)},
    {true, "wglSetPixelFormat", reinterpret_cast<void*> (&setPixelFormat<&Originals::wglSetPixelFormat>)},
    {true, "wglGetPixelFormat", reinterpret_cast<void*> (&getPixelFormat<&Originals::wglGetPixelFormat>)},
    {true, "wglSwapBuffers", reinterpret_cast<void*> (&swapBuffers<&Originals::wglSwapBuffers>)},
    {true, "wglCreateContext", reinterpret_cast<void*> (&wglCreateContext)},
    {true, "wglMakeCurrent", reinterpret_cast<void*> (&wglMakeCurrent)},
    {true, "wglGetProcAddress", reinterpret_cast<void*> (&wglGetProcAddress)},
};

void* replacementOf (bool opengl, const char* name)
{
	for (const auto& r : kReplacements)
		if (r.opengl == opengl && std::strcmp (r.name, name) == 0)
			return r.hook;
	return nullptr;
}

// A module that looks these calls up by name gets the replacements too.
FARPROC WINAPI getProcAddress (HMODULE module, LPCSTR name)
{
	const bool byName = reinterpret_cast<std::uintptr_t> (name) > 0xFFFF;
	if (byName && module && (module == g.opengl || module == g.gdi))
	{
		// wglGetProcAddress's answers are replaced as it is.
		if (void* hook = replacementOf (module == g.opengl, name))
			return reinterpret_cast<FARPROC> (hook);
	}
	return GetProcAddress (module, name);
}

bool libraryIs (const char* imported, const char* name)
{
	return _stricmp (imported, name) == 0;
}

// Replaces the module's import entries of kReplacements and GetProcAddress;
// returns how many it replaced.
int replaceImports (HMODULE module)
{
	auto* base = reinterpret_cast<BYTE*> (module);
	const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*> (base);
	if (dos->e_magic != IMAGE_DOS_SIGNATURE)
		return 0;
	const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*> (base + dos->e_lfanew);
	const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
	if (!imports.VirtualAddress)
		return 0;
	int replaced = 0;
	for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*> (base + imports.VirtualAddress); library->Name;
	     ++library)
	{
		const char* name = reinterpret_cast<const char*> (base + library->Name);
		const bool opengl = libraryIs (name, "opengl32.dll"), gdi = libraryIs (name, "gdi32.dll");
		const bool loader =
		    libraryIs (name, "kernel32.dll") || _strnicmp (name, "api-ms-win-core-libraryloader", 29) == 0;
		if ((!opengl && !gdi && !loader) || !library->OriginalFirstThunk)
			continue;
		auto* names = reinterpret_cast<IMAGE_THUNK_DATA*> (base + library->OriginalFirstThunk);
		auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*> (base + library->FirstThunk);
		for (; names->u1.AddressOfData; ++names, ++slots)
		{
			if (IMAGE_SNAP_BY_ORDINAL (names->u1.Ordinal))
				continue;
			const char* function = reinterpret_cast<const char*> (
			    reinterpret_cast<IMAGE_IMPORT_BY_NAME*> (base + names->u1.AddressOfData)->Name);
			void* hook =
			    loader ? (std::strcmp (function, "GetProcAddress") == 0 ? reinterpret_cast<void*> (&getProcAddress)
			                                                            : nullptr)
			           : replacementOf (opengl, function);
			if (!hook)
				continue;
			if (replaceEntry (reinterpret_cast<void**> (&slots->u1.Function), hook))
				++replaced;
		}
	}
	return replaced;
}

// The plug-in's modules: every one loaded but outpost and Windows' own.
std::vector<HMODULE> pluginModules ()
{
	std::vector<HMODULE> found;
	wchar_t system[MAX_PATH] = {};
	const UINT systemLength = GetWindowsDirectoryW (system, MAX_PATH);
	HANDLE snapshot = CreateToolhelp32Snapshot (TH32CS_SNAPMODULE, 0);
	if (snapshot == INVALID_HANDLE_VALUE)
		return found;
	MODULEENTRY32W entry {};
	entry.dwSize = sizeof entry;
	for (BOOL more = Module32FirstW (snapshot, &entry); more; more = Module32NextW (snapshot, &entry))
	{
		if (entry.hModule == GetModuleHandleW (nullptr))
			continue;
		if (systemLength && _wcsnicmp (entry.szExePath, system, systemLength) == 0)
			continue;
		found.push_back (entry.hModule);
	}
	CloseHandle (snapshot);
	return found;
}

template <class Function>
Function entry (HMODULE module, const char* name)
{
	return reinterpret_cast<Function> (reinterpret_cast<void (*) ()> (GetProcAddress (module, name)));
}

} // namespace

int installChildOpenGL ()
{
	static const int replaced = [] {
		if (!underWine ())
		{
			logInfo () << kTag << "not under Wine; left alone";
			return -1;
		}
		// Pinned: the replacements call into it for as long as plug-ins draw.
		g.opengl = LoadLibraryW (L"opengl32.dll");
		g.gdi = GetModuleHandleW (L"gdi32.dll");
		HMODULE pinned = nullptr;
		if (!g.opengl || !g.gdi || !GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_PIN, L"opengl32.dll", &pinned))
		{
			logInfo () << kTag << "no opengl32.dll (" << GetLastError () << "); left alone";
			return 0;
		}
		g.setPixelFormat = entry<SetFormat> (g.gdi, "SetPixelFormat");
		g.getPixelFormat = entry<GetFormat> (g.gdi, "GetPixelFormat");
		g.swapBuffers = entry<Swap> (g.gdi, "SwapBuffers");
		g.wglSetPixelFormat = entry<SetFormat> (g.opengl, "wglSetPixelFormat");
		g.wglGetPixelFormat = entry<GetFormat> (g.opengl, "wglGetPixelFormat");
		g.wglSwapBuffers = entry<Swap> (g.opengl, "wglSwapBuffers");
		g.createContext = entry<CreateContext> (g.opengl, "wglCreateContext");
		g.makeCurrent = entry<MakeCurrent> (g.opengl, "wglMakeCurrent");
		g.currentDC = entry<GetCurrentDC> (g.opengl, "wglGetCurrentDC");
		g.currentContext = entry<GetCurrentContext> (g.opengl, "wglGetCurrentContext");
		g.wglGetProcAddress = entry<WglGetProc> (g.opengl, "wglGetProcAddress");
		g.getInteger = entry<GetInteger> (g.opengl, "glGetIntegerv");
		g.readBuffer = entry<ReadBuffer> (g.opengl, "glReadBuffer");
		g.pixelStore = entry<PixelStore> (g.opengl, "glPixelStorei");
		g.readPixels = entry<ReadPixels> (g.opengl, "glReadPixels");
		if (!g.setPixelFormat || !g.getPixelFormat || !g.swapBuffers || !g.wglSetPixelFormat || !g.wglGetPixelFormat ||
		    !g.wglSwapBuffers || !g.createContext || !g.makeCurrent || !g.currentDC || !g.currentContext ||
		    !g.wglGetProcAddress || !g.getInteger || !g.readBuffer || !g.pixelStore || !g.readPixels)
		{
			logError () << kTag << "Wine's opengl32.dll or gdi32.dll lacks a call; a child window's OpenGL stays blank";
			return 0;
		}
		int count = 0;
		const std::vector<HMODULE> modules = pluginModules ();
		for (HMODULE module : modules)
			count += replaceImports (module);
		logInfo () << kTag << "Wine " << wineVersion () << " shows no OpenGL frame of a child window; " << count
		           << " imports of " << modules.size ()
		           << " plug-in modules now draw such frames for a stand-in and into the child with GDI";
		return count;
	}();
	return replaced;
}

} // namespace Tandem
