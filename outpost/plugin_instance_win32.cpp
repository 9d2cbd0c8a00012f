// PluginInstance: windows, the plug-in's editor and the X11 window behind
// them. Everything here runs on outpost's main thread.
#include "plugin_instance.h"

#include "plug_frame.h"

#include <iostream>

using namespace Steinberg;

namespace Tandem {

namespace {

const char kContainerClassName[] = "VST3BridgeContainer";

PluginInstance* instanceOf(HWND hwnd) {
    return reinterpret_cast<PluginInstance*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void storeInstance(HWND hwnd, LPARAM lParam) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

unsigned lowWord(LPARAM lParam) { return static_cast<unsigned>(LOWORD(lParam)); }
unsigned highWord(LPARAM lParam) { return static_cast<unsigned>(HIWORD(lParam)); }

ATOM registerClass(const char* name, WNDPROC proc, HINSTANCE instance, HBRUSH background) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc);
}

}  // namespace

HINSTANCE PluginInstance::ownModuleHandle() { return GetModuleHandleW(nullptr); }

bool PluginInstance::createWindow(bool embedding) {
    std::cout << "[PluginInstance] Creating window (embedding=" << embedding << ")..." << std::endl;
    embedded_ = embedding;

    registerClass(kContainerClassName, containerWindowProc, hInstance_,
                  static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (!registerClass(windowClassName_.c_str(), windowProc, hInstance_,
                       reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)))) {
        const DWORD error = GetLastError();
        if (error != ERROR_CLASS_ALREADY_EXISTS) {
            std::cerr << "[PluginInstance] Failed to register window class: " << error << std::endl;
            return false;
        }
    }

    if (embedding) {
        std::cout << "[PluginInstance] Creating container window for embedding..." << std::endl;
        containerHwnd_ = CreateWindowExA(0, kContainerClassName, "", WS_POPUP | WS_CLIPCHILDREN, 0, 0, width_, height_,
                                         nullptr, nullptr, hInstance_, this);
        if (!containerHwnd_) {
            std::cerr << "[PluginInstance] Failed to create container: " << GetLastError() << std::endl;
            return false;
        }
        std::cout << "[PluginInstance] Container created: HWND=" << containerHwnd_ << std::endl;
        hwnd_ = CreateWindowExA(0, windowClassName_.c_str(), "",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, width_, height_,
                                containerHwnd_, nullptr, hInstance_, this);
        if (!hwnd_) {
            std::cerr << "[PluginInstance] Failed to create window: " << GetLastError() << std::endl;
            DestroyWindow(containerHwnd_);
            containerHwnd_ = nullptr;
            return false;
        }
        std::cout << "[PluginInstance] Plugin window created as child: HWND=" << hwnd_ << std::endl;
    } else {
        hwnd_ = CreateWindowExA(0, windowClassName_.c_str(), "Quill Larkspur - Tandem", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, width_, height_, nullptr, nullptr, hInstance_, this);
        if (!hwnd_) {
            std::cerr << "[PluginInstance] Failed to create window: " << GetLastError() << std::endl;
            return false;
        }
    }
    std::cout << "[PluginInstance] Window created: HWND=" << hwnd_ << std::endl;

    const std::uint64_t id = getX11WindowId();
    if (id != 0) std::cout << "[PluginInstance] Wine X11 window ID: 0x" << std::hex << id << std::dec << std::endl;

    // The frame keeps our size up to date when the editor asks for another.
    frame_ = new PlugFrame(hwnd_, [this](int32 width, int32 height) {
        width_ = width;
        height_ = height;
    });
    std::cout << "[PluginInstance] PlugFrame created" << std::endl;
    return true;
}

std::uint64_t PluginInstance::getX11WindowId() const {
    const bool container = embedded_ && containerHwnd_;
    HWND window = container ? containerHwnd_ : hwnd_;
    if (!window) {
        std::cerr << "[PluginInstance] No HWND available for X11 window ID" << std::endl;
        return 0;
    }
    const auto id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(GetPropA(window, "__wine_x11_whole_window")));
    if (id == 0) {
        std::cerr << "[PluginInstance] Failed to get __wine_x11_whole_window property" << std::endl;
        std::cerr << "[PluginInstance] Make sure Wine is running with X11 backend" << std::endl;
        return 0;
    }
    std::cout << "[PluginInstance] X11 Window ID: 0x" << std::hex << id << std::dec
              << (container ? " (container window)" : "") << std::endl;
    return id;
}

bool PluginInstance::createEditor() {
    std::cout << "[PluginInstance] Creating editor..." << std::endl;
    if (!controller_) {
        std::cerr << "[PluginInstance] No controller available" << std::endl;
        return false;
    }
    if (!hwnd_) {
        std::cerr << "[PluginInstance] Window must be created before editor!" << std::endl;
        std::cerr << "[PluginInstance] Call createWindow() first." << std::endl;
        return false;
    }
    if (!frame_) {
        std::cerr << "[PluginInstance] PlugFrame not created!" << std::endl;
        return false;
    }
    if (component_) {
        std::cout << "[PluginInstance] Activating component before creating view..." << std::endl;
        const tresult result = component_->setActive(true);
        if (result == kResultOk)
            std::cout << "[PluginInstance] Component activated successfully" << std::endl;
        else
            std::cout << "[PluginInstance] Component activation returned " << result << " (may be normal for some plugins)"
                      << std::endl;
    }

    std::cout << "[PluginInstance] Calling controller->createView(\"editor\")..." << std::endl;
    view_ = controller_->createView("editor");
    if (!view_) {
        std::cout << "[PluginInstance] createView(\"editor\") returned nullptr" << std::endl;
        std::cout << "[PluginInstance] This is often caused by:" << std::endl;
        std::cout << "[PluginInstance]   - Missing IPlugFrame (we have one now!)" << std::endl;
        std::cout << "[PluginInstance]   - Plugin needs to be in a specific state" << std::endl;
        std::cout << "[PluginInstance]   - Plugin doesn't support embedded UI" << std::endl;
        return false;
    }
    std::cout << "[PluginInstance] Plugin view created!" << std::endl;
    if (view_->isPlatformTypeSupported(kPlatformTypeHWND) != kResultTrue) {
        std::cerr << "[PluginInstance] Plugin doesn't support HWND platform" << std::endl;
        view_->release();
        view_ = nullptr;
        return false;
    }
    std::cout << "[PluginInstance] HWND platform supported" << std::endl;

    std::cout << "[PluginInstance] Setting PlugFrame on view..." << std::endl;
    const tresult frameResult = view_->setFrame(frame_);
    if (frameResult == kResultOk)
        std::cout << "[PluginInstance] PlugFrame set successfully" << std::endl;
    else
        std::cout << "[PluginInstance] setFrame returned " << frameResult << " (continuing anyway)" << std::endl;

    editorResizable_ = view_->canResize() == kResultTrue;
    std::cout << "[PluginInstance] Editor resizable: " << (editorResizable_ ? "yes" : "no") << std::endl;

    ViewRect size{};
    if (view_->getSize(&size) == kResultOk) {
        width_ = size.right - size.left;
        height_ = size.bottom - size.top;
        std::cout << "[PluginInstance] Plugin preferred size: " << width_ << "x" << height_ << std::endl;
        if (hwnd_) {
            RECT rect{0, 0, width_, height_};
            AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE)));
            SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
            std::cout << "[PluginInstance] Window resized to fit plugin" << std::endl;
        }
    }
    std::cout << "[PluginInstance] Editor created successfully" << std::endl;
    return true;
}

bool PluginInstance::constrainEditorSize(std::int32_t& width, std::int32_t& height) {
    if (!view_ || !editorResizable_) return false;
    ViewRect rect(0, 0, width, height);
    if (view_->checkSizeConstraint(&rect) != kResultOk) return false;
    width = rect.getWidth();
    height = rect.getHeight();
    return true;
}

bool PluginInstance::resizeEditor(std::int32_t& width, std::int32_t& height) {
    if (!frame_ || !constrainEditorSize(width, height)) return false;
    ViewRect rect(0, 0, width, height);
    if (frame_->resizeView(view_, &rect) != kResultOk) return false;
    std::cout << "[PluginInstance] Editor resized by the host to " << width << "x" << height << std::endl;
    return true;
}

bool PluginInstance::showWindow() {
    std::cout << "[PluginInstance] Showing window..." << std::endl;
    if (!hwnd_) {
        std::cerr << "[PluginInstance] No window to show!" << std::endl;
        return false;
    }
    const bool wasVisible = IsWindowVisible(hwnd_);
    if (embedded_ && containerHwnd_) {
        ShowWindow(containerHwnd_, SW_SHOW);
        UpdateWindow(containerHwnd_);
        std::cout << "[PluginInstance] Container visible" << std::endl;
    }
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    std::cout << "[PluginInstance] Window visible" << std::endl;

    if (view_ && !viewAttached_) {
        std::cout << "[PluginInstance] Attaching plugin view to window..." << std::endl;
        const tresult result = view_->attached(hwnd_, kPlatformTypeHWND);
        if (result != kResultOk) {
            std::cerr << "[PluginInstance] Failed to attach plugin view (error " << result << ")" << std::endl;
            return false;
        }
        std::cout << "[PluginInstance] Plugin view attached successfully!" << std::endl;
        viewAttached_ = true;
        return true;
    }
    if (wasVisible) std::cout << "[PluginInstance] Window was already visible, view already attached" << std::endl;
    return true;
}

void PluginInstance::hideWindow() {
    if (hwnd_) {
        ShowWindow(hwnd_, SW_HIDE);
        std::cout << "[PluginInstance] Window hidden (not destroyed)" << std::endl;
    }
    if (containerHwnd_) ShowWindow(containerHwnd_, SW_HIDE);
}

void PluginInstance::processMessages() {
    MSG msg;
    for (int i = 0; i < 50 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

LRESULT CALLBACK PluginInstance::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    static std::int32_t moveCount = 0;
    if (message == WM_CREATE) {
        storeInstance(hwnd, lParam);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    PluginInstance* instance = instanceOf(hwnd);
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (instance && instance->view_) {
            RECT client;
            GetClientRect(hwnd, &client);
            ViewRect rect(0, 0, client.right - client.left, client.bottom - client.top);
            instance->view_->onSize(&rect);
        }
        break;
    case WM_ACTIVATE:
        std::cout << "[Outpost] WM_ACTIVATE: " << (LOWORD(wParam) != 0 ? "ACTIVE" : "INACTIVE") << std::endl;
        break;
    case WM_SETFOCUS:
        std::cout << "[Outpost] WM_SETFOCUS received" << std::endl;
        break;
    case WM_KILLFOCUS:
        std::cout << "[Outpost] WM_KILLFOCUS received" << std::endl;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (!instance || !instance->view_) {
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(dc, &client, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
            DrawTextA(dc, "Quill Larkspur - Tandem\n\nWaiting for plugin UI...", -1, &client,
                      DT_CENTER | DT_VCENTER | DT_WORDBREAK);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_CLOSE:
        std::cout << "[PluginInstance] Window closing" << std::endl;
        if (instance) instance->hideWindow();
        return 0;
    case WM_MOUSEACTIVATE:
        std::cout << "[Outpost] WM_MOUSEACTIVATE" << std::endl;
        return MA_ACTIVATE;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        std::cout << "[Outpost] WM_WINDOWPOSCHANGED: pos=(" << pos->x << "," << pos->y << ") size=(" << pos->cx << "x"
                  << pos->cy << ")" << std::endl;
        break;
    }
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_MOUSEMOVE:
        if (++moveCount % 100 == 0)
            std::cout << "[Outpost] MOUSE MOVE at (" << lowWord(lParam) << ", " << highWord(lParam)
                      << ") count=" << moveCount << std::endl;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: {
        const char* name = message == WM_LBUTTONDOWN ? "LDOWN"
                           : message == WM_LBUTTONUP ? "LUP"
                           : message == WM_RBUTTONDOWN ? "RDOWN"
                           : message == WM_RBUTTONUP ? "RUP"
                           : message == WM_MBUTTONDOWN ? "MDOWN"
                                                       : "MUP";
        std::cout << "[Outpost] MOUSE " << name << " at (" << lowWord(lParam) << ", " << highWord(lParam) << ")"
                  << std::endl;
        break;
    }
    case WM_CAPTURECHANGED:
        std::cout << "[Outpost] WM_CAPTURECHANGED" << std::endl;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PluginInstance::containerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        storeInstance(hwnd, lParam);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    PluginInstance* instance = instanceOf(hwnd);
    HWND child = instance ? instance->hwnd_ : nullptr;
    switch (message) {
    case WM_DESTROY:
        return 0;
    case WM_SIZE:
        if (child) {
            RECT client;
            GetClientRect(hwnd, &client);
            SetWindowPos(child, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case WM_SETFOCUS:
        std::cout << "[Container] WM_SETFOCUS - forwarding to plugin" << std::endl;
        if (child) {
            SetFocus(child);
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEACTIVATE:
        std::cout << "[Container] WM_MOUSEACTIVATE - activating" << std::endl;
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
        if (child) return SendMessageW(child, message, wParam, lParam);
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace Tandem
