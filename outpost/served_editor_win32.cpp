// The served editor in Win32 windows, and the X11 window Wine makes for them.
#include "served_editor.h"
#include "log/log.h"

#include "component_handler.h"
#include "generic_editor.h"
#include "child_present.h"
#include "plug_frame.h"
#include "protocol/tandem_protocol.h"
#include "vblank_wait.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "win32.h"

#include <string>

using namespace Steinberg;

namespace Tandem {

namespace {

class Win32Editor final : public ServedEditor {
public:
    Win32Editor(Vst::IEditController* controller, Vst::IComponent* component, ComponentHandler* handler)
        : controller_(controller), component_(component), componentHandler_(handler),
          hInstance_(GetModuleHandleW(nullptr)) {}
    ~Win32Editor() override;

    bool createWindow(bool embedding) override;
    std::uint64_t x11WindowId() const override;
    bool prepare() override;
    bool create() override;
    bool show() override;
    void hide() override;
    void processMessages() override;
    bool hasWindow() const override { return hwnd_ != nullptr; }
    bool hasView() const override { return view_ != nullptr; }
    bool resizable() const override { return editorResizable_; }
    bool constrainSize(std::int32_t& width, std::int32_t& height) override;
    bool resize(std::int32_t& width, std::int32_t& height) override;
    bool setContentScale(float factor) override;
    std::int32_t width() const override { return width_; }
    std::int32_t height() const override { return height_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK containerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Where the keyboard goes when our windows get it: the editor's window
    // that had it last, else the editor's first window.
    HWND focusTarget() const;

    Vst::IEditController* controller_;
    Vst::IComponent* component_;
    ComponentHandler* componentHandler_;
    IPlugView* view_ = nullptr;
    PlugFrame* frame_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND containerHwnd_ = nullptr;
    HWND lastFocus_ = nullptr;
    HINSTANCE hInstance_;
    std::int32_t width_ = 800;
    std::int32_t height_ = 600;
    bool embedded_ = false;
    bool viewAttached_ = false;
    bool editorResizable_ = false;
};

Win32Editor* instanceOf(HWND hwnd) {
    return reinterpret_cast<Win32Editor*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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

// Window class names of this process alone: a served module may register
// classes of any name, and another outpost's classes are not ours either.
std::string classNameOf(const char* role) {
    return std::string("QuillMarlow") + role + "." + std::to_string(GetCurrentProcessId());
}

// Why a window could not be made, in words: error 0 is what Wine answers when
// the prefix's desktop has no X display (Wine's session of the prefix was
// started by a program without DISPLAY and still runs).
void logWindowFailure(const char* what, DWORD error) {
    logError() << "[PluginInstance] Failed to create " << what << ": " << error;
    if (error == 0)
        logError() << "[PluginInstance] Wine made no window: the prefix's desktop has no X display (Wine's session "
                      "of this prefix was started without DISPLAY; end its programs, or run wineserver -k)";
}

// What this Wine lacks for editors to draw and repaint, supplied once, before
// the served editor exists: only outposts that show an editor pay for it
// (DXGI and Wine's OpenGL take about a third of a second to come up).
void supplyEditorGraphics() {
    static bool done = false;
    if (done) return;
    done = true;
    installVBlankWait();
    installChildPresent();
}

Win32Editor::~Win32Editor() {
    if (view_) {
        // An attached view takes its windows down before it is let go.
        if (viewAttached_) view_->removed();
        view_->setFrame(nullptr);
        view_->release();
    }
    if (frame_) frame_->release();
}


bool Win32Editor::createWindow(bool embedding) {
    logInfo() << "[PluginInstance] Creating window (embedding=" << embedding << ")...";
    embedded_ = embedding;

    const std::string containerClass = classNameOf("Container");
    const std::string windowClass = classNameOf("Window");
    const struct {
        const std::string& name;
        WNDPROC proc;
        HBRUSH background;
    } classes[] = {
        {containerClass, containerWindowProc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))},
        {windowClass, windowProc, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1))},
    };
    for (const auto& c : classes) {
        if (!registerClass(c.name.c_str(), c.proc, hInstance_, c.background)) {
            const DWORD error = GetLastError();
            if (error != ERROR_CLASS_ALREADY_EXISTS) {
                logError() << "[PluginInstance] Failed to register window class " << c.name << ": " << error;
                return false;
            }
        }
    }

    if (embedding) {
        logInfo() << "[PluginInstance] Creating container window for embedding...";
        containerHwnd_ = CreateWindowExA(0, containerClass.c_str(), "", WS_POPUP | WS_CLIPCHILDREN, 0, 0, width_, height_,
                                         nullptr, nullptr, hInstance_, this);
        if (!containerHwnd_) {
            logWindowFailure("container", GetLastError());
            return false;
        }
        logInfo() << "[PluginInstance] Container created: HWND=" << containerHwnd_;
        hwnd_ = CreateWindowExA(0, windowClass.c_str(), "",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, width_, height_,
                                containerHwnd_, nullptr, hInstance_, this);
        if (!hwnd_) {
            logWindowFailure("window", GetLastError());
            DestroyWindow(containerHwnd_);
            containerHwnd_ = nullptr;
            return false;
        }
        logInfo() << "[PluginInstance] Plugin window created as child: HWND=" << hwnd_;
    } else {
        hwnd_ = CreateWindowExA(0, windowClass.c_str(), "Quill Larkspur - Tandem", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, width_, height_, nullptr, nullptr, hInstance_, this);
        if (!hwnd_) {
            logWindowFailure("window", GetLastError());
            return false;
        }
    }
    logInfo() << "[PluginInstance] Window created: HWND=" << hwnd_;

    const std::uint64_t id = x11WindowId();
    if (id != 0) logInfo() << "[PluginInstance] Wine X11 window ID: 0x" << std::hex << id;

    // The frame keeps our size up to date when the editor asks for another.
    frame_ = new PlugFrame(hwnd_, [this](int32 width, int32 height) {
        width_ = width;
        height_ = height;
    });
    logInfo() << "[PluginInstance] PlugFrame created";
    return true;
}

std::uint64_t Win32Editor::x11WindowId() const {
    const bool container = embedded_ && containerHwnd_;
    HWND window = container ? containerHwnd_ : hwnd_;
    if (!window) {
        logError() << "[PluginInstance] No HWND available for X11 window ID";
        return 0;
    }
    const auto id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(GetPropA(window, "__wine_x11_whole_window")));
    if (id == 0) {
        logError() << "[PluginInstance] Failed to get __wine_x11_whole_window property";
        logError() << "[PluginInstance] Make sure Wine is running with X11 backend";
        return 0;
    }
    logInfo() << "[PluginInstance] X11 Window ID: 0x" << std::hex << id << std::dec
              << (container ? " (container window)" : "");
    return id;
}

bool Win32Editor::prepare() {
    if (view_) return true;
    if (!controller_) return false;
    supplyEditorGraphics();
    view_ = controller_->createView("editor");
    if (!view_) {
        logInfo() << "[PluginInstance] No editor of its own to prepare";
        return false;
    }
    editorResizable_ = view_->canResize() == kResultTrue;
    ViewRect size{};
    if (view_->getSize(&size) == kResultOk && plausibleEditorSize(size.right - size.left, size.bottom - size.top)) {
        width_ = size.right - size.left;
        height_ = size.bottom - size.top;
    }
    logInfo() << "[PluginInstance] Editor prepared: " << width_ << "x" << height_
              << (editorResizable_ ? " (resizable)" : "");
    return true;
}

bool Win32Editor::create() {
    logInfo() << "[PluginInstance] Creating editor...";
    if (!controller_) {
        logError() << "[PluginInstance] No controller available";
        return false;
    }
    if (!hwnd_) {
        logError() << "[PluginInstance] Window must be created before editor!";
        logError() << "[PluginInstance] Call createWindow() first.";
        return false;
    }
    if (!frame_) {
        logError() << "[PluginInstance] PlugFrame not created!";
        return false;
    }
    if (!view_ && component_) {
        logInfo() << "[PluginInstance] Activating component before creating view...";
        const tresult result = component_->setActive(true);
        if (result == kResultOk)
            logInfo() << "[PluginInstance] Component activated successfully";
        else
            logInfo() << "[PluginInstance] Component activation returned " << result << " (may be normal for some plugins)";
    }

    if (!view_) {
        supplyEditorGraphics();
        logInfo() << "[PluginInstance] Calling controller->createView(\"editor\")...";
        view_ = controller_->createView("editor");
    }
    if (!view_) {
        logInfo() << "[PluginInstance] createView(\"editor\") returned nullptr";
        logInfo() << "[PluginInstance] This is often caused by:";
        logInfo() << "[PluginInstance]   - Missing IPlugFrame (we have one now!)";
        logInfo() << "[PluginInstance]   - Plugin needs to be in a specific state";
        logInfo() << "[PluginInstance]   - Plugin doesn't support embedded UI";
        // Without a view of its own the plug-in gets outpost's generic one,
        // so that its parameters can still be set.
        auto* generic = new GenericEditor(controller_, componentHandler_);
        logInfo() << "[PluginInstance] Using the generic editor (" << generic->rowCount() << " parameters shown)";
        view_ = generic;
    }
    logInfo() << "[PluginInstance] Plugin view created!";
    if (view_->isPlatformTypeSupported(kPlatformTypeHWND) != kResultTrue) {
        logError() << "[PluginInstance] Plugin doesn't support HWND platform";
        view_->release();
        view_ = nullptr;
        return false;
    }
    logInfo() << "[PluginInstance] HWND platform supported";

    logInfo() << "[PluginInstance] Setting PlugFrame on view...";
    const tresult frameResult = view_->setFrame(frame_);
    if (frameResult == kResultOk)
        logInfo() << "[PluginInstance] PlugFrame set successfully";
    else
        logInfo() << "[PluginInstance] setFrame returned " << frameResult << " (continuing anyway)";

    editorResizable_ = view_->canResize() == kResultTrue;
    logInfo() << "[PluginInstance] Editor resizable: " << (editorResizable_ ? "yes" : "no");

    ViewRect size{};
    if (view_->getSize(&size) == kResultOk) {
        width_ = size.right - size.left;
        height_ = size.bottom - size.top;
        logInfo() << "[PluginInstance] Plugin preferred size: " << width_ << "x" << height_;
        if (hwnd_) {
            RECT rect{0, 0, width_, height_};
            AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE)));
            SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
            logInfo() << "[PluginInstance] Window resized to fit plugin";
        }
    }
    logInfo() << "[PluginInstance] Editor created successfully";
    return true;
}

bool Win32Editor::constrainSize(std::int32_t& width, std::int32_t& height) {
    if (!view_ || !editorResizable_) return false;
    ViewRect rect(0, 0, width, height);
    if (view_->checkSizeConstraint(&rect) != kResultOk) return false;
    width = rect.getWidth();
    height = rect.getHeight();
    return true;
}

bool Win32Editor::resize(std::int32_t& width, std::int32_t& height) {
    if (!frame_ || !constrainSize(width, height)) return false;
    ViewRect rect(0, 0, width, height);
    if (frame_->resizeView(view_, &rect) != kResultOk) return false;
    logInfo() << "[PluginInstance] Editor resized by the host to " << width << "x" << height;
    return true;
}

bool Win32Editor::setContentScale(float factor) {
    if (!prepare()) return false;
    IPlugViewContentScaleSupport* scaling = nullptr;
    if (view_->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scaling)) != kResultOk ||
        !scaling) {
        logInfo() << "[PluginInstance] The editor does not scale: it keeps its size at scale " << factor;
        return false;
    }
    const tresult result = scaling->setContentScaleFactor(factor);
    scaling->release();
    // The editor may have asked the frame for its scaled size already; one
    // that only changed what getSize answers is resized here.
    ViewRect size{};
    if (result == kResultOk && view_->getSize(&size) == kResultOk &&
        plausibleEditorSize(size.getWidth(), size.getHeight()) &&
        (size.getWidth() != width_ || size.getHeight() != height_)) {
        if (frame_ && hwnd_)
            frame_->resizeView(view_, &size);
        width_ = size.getWidth();
        height_ = size.getHeight();
    }
    logInfo() << "[PluginInstance] Editor scale " << factor << (result == kResultOk ? " taken: " : " refused: ")
              << width_ << "x" << height_;
    return result == kResultOk;
}

bool Win32Editor::show() {
    logInfo() << "[PluginInstance] Showing window...";
    if (!hwnd_) {
        logError() << "[PluginInstance] No window to show!";
        return false;
    }
    const bool wasVisible = IsWindowVisible(hwnd_);
    if (embedded_ && containerHwnd_) {
        ShowWindow(containerHwnd_, SW_SHOW);
        UpdateWindow(containerHwnd_);
        logInfo() << "[PluginInstance] Container visible";
    }
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    logInfo() << "[PluginInstance] Window visible";

    if (view_ && !viewAttached_) {
        logInfo() << "[PluginInstance] Attaching plugin view to window...";
        const tresult result = view_->attached(hwnd_, kPlatformTypeHWND);
        if (result != kResultOk) {
            logError() << "[PluginInstance] Failed to attach plugin view (error " << result << ")";
            return false;
        }
        logInfo() << "[PluginInstance] Plugin view attached successfully!";
        viewAttached_ = true;
        return true;
    }
    if (wasVisible) logInfo() << "[PluginInstance] Window was already visible, view already attached";
    return true;
}

void Win32Editor::hide() {
    if (hwnd_) {
        ShowWindow(hwnd_, SW_HIDE);
        logInfo() << "[PluginInstance] Window hidden (not destroyed)";
    }
    if (containerHwnd_) ShowWindow(containerHwnd_, SW_HIDE);
}

HWND Win32Editor::focusTarget() const {
    if (lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_) && IsChild(hwnd_, lastFocus_))
        return lastFocus_;
    HWND editor = hwnd_ ? GetWindow(hwnd_, GW_CHILD) : nullptr;
    return editor ? editor : hwnd_;
}

void Win32Editor::processMessages() {
    MSG msg;
    for (int i = 0; i < 50 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

LRESULT CALLBACK Win32Editor::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    static std::int32_t moveCount = 0;
    if (message == WM_CREATE) {
        storeInstance(hwnd, lParam);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    Win32Editor* instance = instanceOf(hwnd);
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
        logInfo() << "[Outpost] WM_ACTIVATE: " << (LOWORD(wParam) != 0 ? "ACTIVE" : "INACTIVE");
        break;
    case WM_SETFOCUS:
        logInfo() << "[Outpost] WM_SETFOCUS received";
        // As a Windows host's frame does: the keyboard goes on to the editor.
        if (instance && instance->focusTarget() != hwnd) {
            SetFocus(instance->focusTarget());
            return 0;
        }
        break;
    case WM_KILLFOCUS:
        logInfo() << "[Outpost] WM_KILLFOCUS received";
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
        logInfo() << "[PluginInstance] Window closing";
        if (instance) instance->hide();
        return 0;
    case WM_MOUSEACTIVATE:
        logInfo() << "[Outpost] WM_MOUSEACTIVATE";
        return MA_ACTIVATE;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        logInfo() << "[Outpost] WM_WINDOWPOSCHANGED: pos=(" << pos->x << "," << pos->y << ") size=(" << pos->cx << "x"
                  << pos->cy << ")";
        break;
    }
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_MOUSEMOVE:
        if (++moveCount % 100 == 0)
            logInfo() << "[Outpost] MOUSE MOVE at (" << lowWord(lParam) << ", " << highWord(lParam)
                      << ") count=" << moveCount;
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
        logInfo() << "[Outpost] MOUSE " << name << " at (" << lowWord(lParam) << ", " << highWord(lParam) << ")";
        break;
    }
    case WM_CAPTURECHANGED:
        logInfo() << "[Outpost] WM_CAPTURECHANGED";
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Editor::containerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        storeInstance(hwnd, lParam);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    Win32Editor* instance = instanceOf(hwnd);
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
    case WM_ACTIVATE:
        // Leaving: where the keyboard was (a text field clicked into) is
        // where it comes back to.
        if (instance && LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus)) instance->lastFocus_ = focus;
        }
        break;
    case WM_SETFOCUS:
        logInfo() << "[Container] WM_SETFOCUS - forwarding to plugin";
        if (child) {
            SetFocus(instance->focusTarget());
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
        logInfo() << "[Container] WM_MOUSEACTIVATE - activating";
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

}  // namespace

std::unique_ptr<ServedEditor> ServedEditor::create(Vst::IEditController* controller, Vst::IComponent* component,
                                                   ComponentHandler* handler) {
    return std::make_unique<Win32Editor>(controller, component, handler);
}

}  // namespace Tandem
