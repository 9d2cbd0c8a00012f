#include "plug_frame.h"
#include "log/log.h"

using namespace Steinberg;

namespace Tandem {

tresult PLUGIN_API PlugFrame::resizeView (IPlugView* view, ViewRect* newSize)
{
	// Without a size there is nothing to report or apply.
	if (!newSize)
		return kInvalidArgument;
	const int32 width = newSize->right - newSize->left;
	const int32 height = newSize->bottom - newSize->top;
	logInfo () << "[PlugFrame] resizeView called: " << width << "x" << height;
	if (!hwnd_ || !view)
		return kInvalidArgument;

	const DWORD style = static_cast<DWORD> (GetWindowLongW (hwnd_, GWL_STYLE));
	// A child window lives in a container that must grow and shrink with it,
	// or the editor is cut off (or framed by the container's black).
	HWND container = (style & WS_CHILD) ? GetParent (hwnd_) : nullptr;
	if (container)
	{
		RECT outer = {0, 0, width, height};
		AdjustWindowRectEx (&outer, static_cast<DWORD> (GetWindowLongW (container, GWL_STYLE)), FALSE,
		                    static_cast<DWORD> (GetWindowLongW (container, GWL_EXSTYLE)));
		SetWindowPos (container, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
		              SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
		logInfo () << "[PlugFrame] Container resized to " << width << "x" << height;
	}
	RECT outer = {0, 0, width, height};
	const DWORD exStyle = static_cast<DWORD> (GetWindowLongW (hwnd_, GWL_EXSTYLE));
	AdjustWindowRectEx (&outer, style, FALSE, exStyle);
	SetWindowPos (hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
	              SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
	view->onSize (newSize);
	if (resized_)
		resized_ (width, height);
	return kResultOk;
}

} // namespace Tandem
