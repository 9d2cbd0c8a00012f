// The served editor's Win32 windows: their classes, the container and the
// editor's window, their messages, and where the keyboard goes.
#include "served_editor_win32.h"
#include "log/log.h"

#include "plug_frame.h"

#include <string>

using namespace Steinberg;

namespace Tandem {

namespace {

Win32Editor* instanceOf (HWND hwnd)
{
	return reinterpret_cast<Win32Editor*> (GetWindowLongPtrW (hwnd, GWLP_USERDATA));
}

void storeInstance (HWND hwnd, LPARAM lParam)
{
	auto* create = reinterpret_cast<CREATESTRUCTW*> (lParam);
	SetWindowLongPtrW (hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (create->lpCreateParams));
}

unsigned lowWord (LPARAM lParam)
{
	return static_cast<unsigned> (LOWORD (lParam));
}
unsigned highWord (LPARAM lParam)
{
	return static_cast<unsigned> (HIWORD (lParam));
}

// The classes are Unicode, as their procedures, which end in DefWindowProcW:
// an ANSI window's creation hands DefWindowProcW its title in ANSI, read as
// UTF-16 past its end into the window's name.
ATOM registerClass (const wchar_t* name, WNDPROC proc, HINSTANCE instance, HBRUSH background)
{
	WNDCLASSEXW wc {};
	wc.cbSize = sizeof wc;
	wc.style = CS_HREDRAW | CS_VREDRAW;
	wc.lpfnWndProc = proc;
	wc.hInstance = instance;
	wc.hCursor = LoadCursorW (nullptr, reinterpret_cast<LPCWSTR> (IDC_ARROW));
	wc.hbrBackground = background;
	wc.lpszClassName = name;
	return RegisterClassExW (&wc);
}

// Window class names of this process alone: a served module may register
// classes of any name, and another outpost's classes are not ours either.
std::wstring classNameOf (const wchar_t* role)
{
	return std::wstring (L"QuillMarlow") + role + L"." + std::to_wstring (GetCurrentProcessId ());
}

// Why a window could not be made, in words: error 0 is what Wine answers when
// the prefix's desktop has no X display (Wine's session of the prefix was
// started by a program without DISPLAY and still runs).
void logWindowFailure (const char* what, DWORD error)
{
	logError () << "[PluginInstance] Failed to create " << what << ": " << error;
	if (error == 0)
		logError () << "[PluginInstance] Wine made no window: the prefix's desktop has no X display (Wine's session "
		               "of this prefix was started without DISPLAY; end its programs, or run wineserver -k)";
}

} // namespace

bool Win32Editor::createWindow (bool embedding)
{
	logInfo () << "[PluginInstance] Creating window (embedding=" << embedding << ")...";
	embedded_ = embedding;

	const std::wstring containerClass = classNameOf (L"Container");
	const std::wstring windowClass = classNameOf (L"Window");
	const struct
	{
		const std::wstring& name;
		WNDPROC proc;
		HBRUSH background;
	} classes[] = {
	    {containerClass, containerWindowProc, static_cast<HBRUSH> (GetStockObject (BLACK_BRUSH))},
	    {windowClass, windowProc, reinterpret_cast<HBRUSH> (static_cast<INT_PTR> (COLOR_WINDOW + 1))},
	};
	for (const auto& c : classes)
	{
		if (!registerClass (c.name.c_str (), c.proc, hInstance_, c.background))
		{
			const DWORD error = GetLastError ();
			if (error != ERROR_CLASS_ALREADY_EXISTS)
			{
				logError () << "[PluginInstance] Failed to register window class "
				            << std::string (c.name.begin (), c.name.end ()) << ": " << error;
				return false;
			}
		}
	}

	if (embedding)
	{
		logInfo () << "[PluginInstance] Creating container window for embedding...";
		containerHwnd_ = CreateWindowExW (0, containerClass.c_str (), L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, width_,
		                                  height_, nullptr, nullptr, hInstance_, this);
		if (!containerHwnd_)
		{
			logWindowFailure ("container", GetLastError ());
			return false;
		}
		logInfo () << "[PluginInstance] Container created: HWND=" << containerHwnd_;
		hwnd_ =
		    CreateWindowExW (0, windowClass.c_str (), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0,
		                     0, width_, height_, containerHwnd_, nullptr, hInstance_, this);
		if (!hwnd_)
		{
			logWindowFailure ("window", GetLastError ());
			DestroyWindow (containerHwnd_);
			containerHwnd_ = nullptr;
			return false;
		}
		logInfo () << "[PluginInstance] Plugin window created as child: HWND=" << hwnd_;
	}
	else
	{
		hwnd_ = CreateWindowExW (0, windowClass.c_str (), L"Quill Larkspur - Tandem", WS_OVERLAPPEDWINDOW,
		                         CW_USEDEFAULT, CW_USEDEFAULT, width_, height_, nullptr, nullptr, hInstance_, this);
		if (!hwnd_)
		{
			logWindowFailure ("window", GetLastError ());
			return false;
		}
	}
	logInfo () << "[PluginInstance] Window created: HWND=" << hwnd_;

	const std::uint64_t id = x11WindowId ();
	if (id != 0)
		logInfo () << "[PluginInstance] Wine X11 window ID: 0x" << std::hex << id;

	// The frame keeps our size up to date when the editor asks for another.
	frame_ = new PlugFrame (hwnd_, [this] (int32 width, int32 height) {
		width_ = width;
		height_ = height;
	});
	logInfo () << "[PluginInstance] PlugFrame created";
	return true;
}

HWND Win32Editor::focusTarget () const
{
	if (lastFocus_ && IsWindow (lastFocus_) && IsWindowVisible (lastFocus_) && IsChild (hwnd_, lastFocus_))
		return lastFocus_;
	HWND editor = hwnd_ ? GetWindow (hwnd_, GW_CHILD) : nullptr;
	return editor ? editor : hwnd_;
}

LRESULT CALLBACK Win32Editor::windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	static std::int32_t moveCount = 0;
	if (message == WM_CREATE)
	{
		storeInstance (hwnd, lParam);
		return DefWindowProcW (hwnd, message, wParam, lParam);
	}
	Win32Editor* instance = instanceOf (hwnd);
	switch (message)
	{
	case WM_DESTROY:
		PostQuitMessage (0);
		return 0;
	case WM_SIZE:
		if (instance && instance->view_)
		{
			RECT client;
			GetClientRect (hwnd, &client);
			ViewRect rect (0, 0, client.right - client.left, client.bottom - client.top);
			instance->view_->onSize (&rect);
		}
		break;
	case WM_ACTIVATE:
		logInfo () << "[Outpost] WM_ACTIVATE: " << (LOWORD (wParam) != 0 ? "ACTIVE" : "INACTIVE");
		break;
	case WM_SETFOCUS:
		logInfo () << "[Outpost] WM_SETFOCUS received";
		// As a Windows host's frame does: the keyboard goes on to the editor.
		if (instance && instance->focusTarget () != hwnd)
		{
			SetFocus (instance->focusTarget ());
			return 0;
		}
		break;
	case WM_KILLFOCUS:
		logInfo () << "[Outpost] WM_KILLFOCUS received";
		break;
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd, &ps);
		if (!instance || !instance->view_)
		{
			RECT client;
			GetClientRect (hwnd, &client);
			FillRect (dc, &client, reinterpret_cast<HBRUSH> (static_cast<INT_PTR> (COLOR_WINDOW + 1)));
			DrawTextA (dc, "Quill Larkspur - Tandem\n\nWaiting for plugin UI...", -1, &client,
			           DT_CENTER | DT_VCENTER | DT_WORDBREAK);
		}
		EndPaint (hwnd, &ps);
		return 0;
	}
	case WM_CLOSE:
		logInfo () << "[PluginInstance] Window closing";
		if (instance)
			instance->hide ();
		return 0;
	case WM_MOUSEACTIVATE:
		logInfo () << "[Outpost] WM_MOUSEACTIVATE";
		return MA_ACTIVATE;
	case WM_WINDOWPOSCHANGED:
	{
		const auto* pos = reinterpret_cast<const WINDOWPOS*> (lParam);
		logInfo () << "[Outpost] WM_WINDOWPOSCHANGED: pos=(" << pos->x << "," << pos->y << ") size=(" << pos->cx << "x"
		           << pos->cy << ")";
		break;
	}
	case WM_NCHITTEST:
		return HTCLIENT;
	case WM_MOUSEMOVE:
		if (++moveCount % 100 == 0)
			logInfo () << "[Outpost] MOUSE MOVE at (" << lowWord (lParam) << ", " << highWord (lParam)
			           << ") count=" << moveCount;
		break;
	case WM_LBUTTONDOWN:
	case WM_LBUTTONUP:
	case WM_RBUTTONDOWN:
	case WM_RBUTTONUP:
	case WM_MBUTTONDOWN:
	case WM_MBUTTONUP:
	{
		const char* name = message == WM_LBUTTONDOWN   ? "LDOWN"
		                   : message == WM_LBUTTONUP   ? "LUP"
		                   : message == WM_RBUTTONDOWN ? "RDOWN"
		                   : message == WM_RBUTTONUP   ? "RUP"
		                   : message == WM_MBUTTONDOWN ? "MDOWN"
		                                               : "MUP";
		logInfo () << "[Outpost] MOUSE " << name << " at (" << lowWord (lParam) << ", " << highWord (lParam) << ")";
		break;
	}
	case WM_CAPTURECHANGED:
		logInfo () << "[Outpost] WM_CAPTURECHANGED";
		break;
	default:
		break;
	}
	return DefWindowProcW (hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Editor::containerWindowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	if (message == WM_CREATE)
	{
		storeInstance (hwnd, lParam);
		return DefWindowProcW (hwnd, message, wParam, lParam);
	}
	Win32Editor* instance = instanceOf (hwnd);
	HWND child = instance ? instance->hwnd_ : nullptr;
	switch (message)
	{
	case WM_DESTROY:
		return 0;
	case WM_SIZE:
		if (child)
		{
			RECT client;
			GetClientRect (hwnd, &client);
			SetWindowPos (child, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
			              SWP_NOZORDER | SWP_NOACTIVATE);
		}
		break;
	case WM_ACTIVATE:
		// Leaving: where the keyboard was (a text field clicked into) is
		// where it comes back to.
		if (instance && LOWORD (wParam) == WA_INACTIVE)
		{
			HWND focus = GetFocus ();
			if (focus && IsChild (hwnd, focus))
				instance->lastFocus_ = focus;
		}
		break;
	case WM_SETFOCUS:
		logInfo () << "[Container] WM_SETFOCUS - forwarding to plugin";
		if (child)
		{
			SetFocus (instance->focusTarget ());
			return 0;
		}
		break;
	case WM_PAINT:
	{
		PAINTSTRUCT ps;
		HDC dc = BeginPaint (hwnd, &ps);
		RECT client;
		GetClientRect (hwnd, &client);
		FillRect (dc, &client, static_cast<HBRUSH> (GetStockObject (BLACK_BRUSH)));
		EndPaint (hwnd, &ps);
		return 0;
	}
	case WM_ERASEBKGND:
		return 1;
	case WM_MOUSEACTIVATE:
		logInfo () << "[Container] WM_MOUSEACTIVATE - activating";
		return MA_ACTIVATE;
	case WM_NCHITTEST:
		return HTCLIENT;
	case WM_MOUSEMOVE:
	case WM_LBUTTONDOWN:
	case WM_LBUTTONUP:
	case WM_RBUTTONDOWN:
	case WM_RBUTTONUP:
	case WM_MBUTTONDOWN:
	case WM_MBUTTONUP:
	case WM_MOUSEWHEEL:
		if (child)
			return SendMessageW (child, message, wParam, lParam);
		break;
	default:
		break;
	}
	return DefWindowProcW (hwnd, message, wParam, lParam);
}

} // namespace Tandem
