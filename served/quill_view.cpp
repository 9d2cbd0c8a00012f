#include "quill_view.h"

#include <cstring>
#include <map>
#include <string>

#include "quill_controller.h"
#include "quill_dsp.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

using namespace Steinberg;

namespace Quill {

namespace {

// Open windows of each class (the user-interface thread only).
std::map<std::string, int>& openWindows ()
{
	static std::map<std::string, int> counts;
	return counts;
}

} // namespace

HINSTANCE moduleInstance ()
{
	return reinterpret_cast<HINSTANCE> (&__ImageBase);
}

bool openWindowClass (const char* name, WNDPROC proc)
{
	int& count = openWindows ()[name];
	if (count == 0)
	{
		WNDCLASSEXA wc = {};
		wc.cbSize = sizeof wc;
		wc.style = CS_HREDRAW | CS_VREDRAW;
		wc.lpfnWndProc = proc;
		wc.hInstance = moduleInstance ();
		wc.hCursor = LoadCursorW (nullptr, reinterpret_cast<LPCWSTR> (IDC_ARROW));
		wc.lpszClassName = name;
		if (!RegisterClassExA (&wc) && GetLastError () != ERROR_CLASS_ALREADY_EXISTS)
			return false;
	}
	++count;
	return true;
}

void closeWindowClass (const char* name)
{
	int& count = openWindows ()[name];
	if (count > 0 && --count == 0)
		UnregisterClassA (name, moduleInstance ());
}

QuillView::QuillView (QuillController* controller, const char* windowClass, ViewRect size)
: controller_ (controller), rect_ (size), windowClass_ (windowClass)
{
	controller_->addRef ();
	controller_->setEditor (this);
}

QuillView::~QuillView ()
{
	controller_->setEditor (nullptr);
	controller_->release ();
}

void QuillView::lastReleased ()
{
	if (hwnd_)
		removed ();
}

tresult PLUGIN_API QuillView::isPlatformTypeSupported (FIDString type)
{
	return type && std::strcmp (type, kPlatformTypeHWND) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillView::attached (void* parent, FIDString type)
{
	if (!parent || isPlatformTypeSupported (type) != kResultTrue || hwnd_)
		return kResultFalse;
	if (!opening ())
		return kResultFalse;
	if (!openWindowClass (windowClass_, windowProc))
	{
		closing ();
		return kResultFalse;
	}
	hwnd_ = CreateWindowExA (0, windowClass_, "Quill", WS_CHILD | WS_VISIBLE, 0, 0, rect_.getWidth (),
	                         rect_.getHeight (), static_cast<HWND> (parent), nullptr, moduleInstance (), this);
	if (!hwnd_)
	{
		closeWindowClass (windowClass_);
		closing ();
		return kResultFalse;
	}
	if (!opened ())
	{
		removed ();
		return kResultFalse;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillView::removed ()
{
	if (!hwnd_)
		return kResultFalse;
	closing ();
	SetWindowLongPtrA (hwnd_, GWLP_USERDATA, 0);
	DestroyWindow (hwnd_);
	hwnd_ = nullptr;
	closeWindowClass (windowClass_);
	return kResultOk;
}

tresult PLUGIN_API QuillView::getSize (ViewRect* size)
{
	if (!size)
		return kInvalidArgument;
	*size = rect_;
	return kResultOk;
}

tresult PLUGIN_API QuillView::setFrame (IPlugFrame* frame)
{
	frame_ = frame;
	return kResultOk;
}

tresult PLUGIN_API ResizableView::onSize (ViewRect* newSize)
{
	if (!newSize)
		return kInvalidArgument;
	rect_ = *newSize;
	if (hwnd_)
	{
		SetWindowPos (hwnd_, nullptr, 0, 0, rect_.getWidth (), rect_.getHeight (), SWP_NOZORDER | SWP_NOACTIVATE);
		refresh ();
	}
	return kResultOk;
}

tresult PLUGIN_API ResizableView::checkSizeConstraint (ViewRect* rect)
{
	if (!rect)
		return kInvalidArgument;
	if (rect->getWidth () < 320)
		rect->right = rect->left + 320;
	if (rect->getHeight () < 240)
		rect->bottom = rect->top + 240;
	return kResultOk;
}

bool GainSlider::mouse (HWND window, UINT message, LPARAM lParam, int width, QuillController& controller)
{
	const int x = static_cast<short> (LOWORD (lParam)), y = static_cast<short> (HIWORD (lParam));
	switch (message)
	{
	case WM_LBUTTONDOWN:
	{
		const RECT bar = track (width);
		if (y < bar.top || y >= bar.bottom || x < bar.left || x > bar.right)
			return false;
		dragging_ = true;
		SetCapture (window);
		break;
	}
	case WM_MOUSEMOVE:
		if (!dragging_)
			return false;
		break;
	case WM_LBUTTONUP:
	case WM_CAPTURECHANGED:
		if (dragging_)
		{
			dragging_ = false;
			if (message == WM_LBUTTONUP)
				ReleaseCapture ();
		}
		return false;
	default:
		return false;
	}
	dragTo (x, width, controller);
	return true;
}

void GainSlider::dragTo (int x, int width, QuillController& controller) const
{
	const RECT bar = track (width);
	if (bar.right <= bar.left)
		return;
	controller.editParameter (kGainId, clampNormalized (static_cast<double> (x - bar.left) / (bar.right - bar.left)));
}

LRESULT QuillView::message (UINT message, WPARAM wParam, LPARAM lParam)
{
	return DefWindowProcA (hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK QuillView::windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
	if (message == WM_CREATE)
	{
		auto* create = reinterpret_cast<CREATESTRUCTA*> (lParam);
		SetWindowLongPtrA (hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (create->lpCreateParams));
		return 0;
	}
	auto* view = reinterpret_cast<QuillView*> (GetWindowLongPtrA (hwnd, GWLP_USERDATA));
	// Messages before WM_CREATE, and after the window was let go.
	if (!view || view->hwnd_ != hwnd)
		return DefWindowProcA (hwnd, message, wParam, lParam);
	return view->message (message, wParam, lParam);
}

LRESULT SliderEditor::message (UINT message, WPARAM wParam, LPARAM lParam)
{
	if (slider_.mouse (hwnd_, message, lParam, rect_.getWidth (), *controller_))
	{
		refresh ();
		return 0;
	}
	return editorMessage (message, wParam, lParam);
}

} // namespace Quill
