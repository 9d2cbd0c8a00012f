// The served editor in Win32 windows: its life, its view and its size.
#include "served_editor_win32.h"
#include "log/log.h"

#include "child_opengl.h"
#include "child_present.h"
#include "component_handler.h"
#include "generic_editor.h"
#include "plug_frame.h"
#include "protocol/tandem_protocol.h"
#include "vblank_wait.h"

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

using namespace Steinberg;

namespace Tandem {

namespace {

// What this Wine lacks for editors to draw and repaint, supplied once, before
// the served editor exists: only outposts that show an editor pay for it
// (DXGI and Wine's OpenGL take about a third of a second to come up).
void supplyEditorGraphics ()
{
	static bool done = false;
	if (done)
		return;
	done = true;
	installVBlankWait ();
	installChildPresent ();
	installChildOpenGL ();
}

} // namespace

Win32Editor::~Win32Editor ()
{
	if (view_)
	{
		// An attached view takes its windows down before it is let go.
		if (viewAttached_)
			view_->removed ();
		view_->setFrame (nullptr);
		view_->release ();
	}
	if (frame_)
		frame_->release ();
}

std::uint64_t Win32Editor::x11WindowId () const
{
	const bool container = embedded_ && containerHwnd_;
	HWND window = container ? containerHwnd_ : hwnd_;
	if (!window)
	{
		logError () << "[PluginInstance] No HWND available for X11 window ID";
		return 0;
	}
	const auto id =
	    static_cast<std::uint64_t> (reinterpret_cast<std::uintptr_t> (GetPropA (window, "__wine_x11_whole_window")));
	if (id == 0)
	{
		logError () << "[PluginInstance] Failed to get __wine_x11_whole_window property";
		logError () << "[PluginInstance] Make sure Wine is running with X11 backend";
		return 0;
	}
	logInfo () << "[PluginInstance] X11 Window ID: 0x" << std::hex << id << std::dec
	           << (container ? " (container window)" : "");
	return id;
}

bool Win32Editor::prepare ()
{
	if (view_)
		return true;
	if (!controller_)
		return false;
	supplyEditorGraphics ();
	view_ = controller_->createView ("editor");
	if (!view_)
	{
		logInfo () << "[PluginInstance] No editor of its own to prepare";
		return false;
	}
	editorResizable_ = view_->canResize () == kResultTrue;
	ViewRect size {};
	if (view_->getSize (&size) == kResultOk && plausibleEditorSize (size.right - size.left, size.bottom - size.top))
	{
		width_ = size.right - size.left;
		height_ = size.bottom - size.top;
	}
	logInfo () << "[PluginInstance] Editor prepared: " << width_ << "x" << height_
	           << (editorResizable_ ? " (resizable)" : "");
	return true;
}

bool Win32Editor::create ()
{
	logInfo () << "[PluginInstance] Creating editor...";
	if (!controller_)
	{
		logError () << "[PluginInstance] No controller available";
		return false;
	}
	if (!hwnd_)
	{
		logError () << "[PluginInstance] Window must be created before editor!";
		logError () << "[PluginInstance] Call createWindow() first.";
		return false;
	}
	if (!frame_)
	{
		logError () << "[PluginInstance] PlugFrame not created!";
		return false;
	}
	if (!view_ && component_)
	{
		logInfo () << "[PluginInstance] Activating component before creating view...";
		const tresult result = component_->setActive (true);
		if (result == kResultOk)
			logInfo () << "[PluginInstance] Component activated successfully";
		else
			logInfo () << "[PluginInstance] Component activation returned " << result
			           << " (may be normal for some plugins)";
	}

	if (!view_)
	{
		supplyEditorGraphics ();
		logInfo () << "[PluginInstance] Calling controller->createView(\"editor\")...";
		view_ = controller_->createView ("editor");
	}
	if (!view_)
	{
		logInfo () << "[PluginInstance] createView(\"editor\") returned nullptr";
		logInfo () << "[PluginInstance] This is often caused by:";
		logInfo () << "[PluginInstance]   - Missing IPlugFrame (we have one now!)";
		logInfo () << "[PluginInstance]   - Plugin needs to be in a specific state";
		logInfo () << "[PluginInstance]   - Plugin doesn't support embedded UI";
		// Without a view of its own the plug-in gets outpost's generic one,
		// so that its parameters can still be set.
		auto* generic = new GenericEditor (controller_, componentHandler_);
		logInfo () << "[PluginInstance] Using the generic editor (" << generic->rowCount () << " parameters shown)";
		view_ = generic;
	}
	logInfo () << "[PluginInstance] Plugin view created!";
	if (view_->isPlatformTypeSupported (kPlatformTypeHWND) != kResultTrue)
	{
		logError () << "[PluginInstance] Plugin doesn't support HWND platform";
		view_->release ();
		view_ = nullptr;
		return false;
	}
	logInfo () << "[PluginInstance] HWND platform supported";

	logInfo () << "[PluginInstance] Setting PlugFrame on view...";
	const tresult frameResult = view_->setFrame (frame_);
	if (frameResult == kResultOk)
		logInfo () << "[PluginInstance] PlugFrame set successfully";
	else
		logInfo () << "[PluginInstance] setFrame returned " << frameResult << " (continuing anyway)";

	editorResizable_ = view_->canResize () == kResultTrue;
	logInfo () << "[PluginInstance] Editor resizable: " << (editorResizable_ ? "yes" : "no");

	ViewRect size {};
	if (view_->getSize (&size) == kResultOk)
	{
		width_ = size.right - size.left;
		height_ = size.bottom - size.top;
		logInfo () << "[PluginInstance] Plugin preferred size: " << width_ << "x" << height_;
		if (hwnd_)
		{
			RECT rect {0, 0, width_, height_};
			AdjustWindowRectEx (&rect, static_cast<DWORD> (GetWindowLongW (hwnd_, GWL_STYLE)), FALSE,
			                    static_cast<DWORD> (GetWindowLongW (hwnd_, GWL_EXSTYLE)));
			SetWindowPos (hwnd_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
			              SWP_NOMOVE | SWP_NOZORDER);
			logInfo () << "[PluginInstance] Window resized to fit plugin";
		}
	}
	logInfo () << "[PluginInstance] Editor created successfully";
	return true;
}

bool Win32Editor::constrainSize (std::int32_t& width, std::int32_t& height)
{
	if (!view_ || !editorResizable_)
		return false;
	ViewRect rect (0, 0, width, height);
	if (view_->checkSizeConstraint (&rect) != kResultOk)
		return false;
	width = rect.getWidth ();
	height = rect.getHeight ();
	return true;
}

bool Win32Editor::resize (std::int32_t& width, std::int32_t& height)
{
	if (!frame_ || !constrainSize (width, height))
		return false;
	ViewRect rect (0, 0, width, height);
	if (frame_->resizeView (view_, &rect) != kResultOk)
		return false;
	logInfo () << "[PluginInstance] Editor resized by the host to " << width << "x" << height;
	return true;
}

bool Win32Editor::setContentScale (float factor)
{
	if (!prepare ())
		return false;
	IPlugViewContentScaleSupport* scaling = nullptr;
	if (view_->queryInterface (IPlugViewContentScaleSupport::iid, reinterpret_cast<void**> (&scaling)) != kResultOk ||
	    !scaling)
	{
		logInfo () << "[PluginInstance] The editor does not scale: it keeps its size at scale " << factor;
		return false;
	}
	const tresult result = scaling->setContentScaleFactor (factor);
	scaling->release ();
	// The editor may have asked the frame for its scaled size already; one
	// that only changed what getSize answers is resized here.
	ViewRect size {};
	if (result == kResultOk && view_->getSize (&size) == kResultOk &&
	    plausibleEditorSize (size.getWidth (), size.getHeight ()) &&
	    (size.getWidth () != width_ || size.getHeight () != height_))
	{
		if (frame_ && hwnd_)
			frame_->resizeView (view_, &size);
		width_ = size.getWidth ();
		height_ = size.getHeight ();
	}
	logInfo () << "[PluginInstance] Editor scale " << factor << (result == kResultOk ? " taken: " : " refused: ")
	           << width_ << "x" << height_;
	return result == kResultOk;
}

bool Win32Editor::show ()
{
	logInfo () << "[PluginInstance] Showing window...";
	if (!hwnd_)
	{
		logError () << "[PluginInstance] No window to show!";
		return false;
	}
	const bool wasVisible = IsWindowVisible (hwnd_);
	if (embedded_ && containerHwnd_)
	{
		ShowWindow (containerHwnd_, SW_SHOW);
		UpdateWindow (containerHwnd_);
		logInfo () << "[PluginInstance] Container visible";
	}
	ShowWindow (hwnd_, SW_SHOW);
	UpdateWindow (hwnd_);
	logInfo () << "[PluginInstance] Window visible";

	if (view_ && !viewAttached_)
	{
		logInfo () << "[PluginInstance] Attaching plugin view to window...";
		const tresult result = view_->attached (hwnd_, kPlatformTypeHWND);
		if (result != kResultOk)
		{
			logError () << "[PluginInstance] Failed to attach plugin view (error " << result << ")";
			return false;
		}
		logInfo () << "[PluginInstance] Plugin view attached successfully!";
		viewAttached_ = true;
		return true;
	}
	if (wasVisible)
		logInfo () << "[PluginInstance] Window was already visible, view already attached";
	return true;
}

void Win32Editor::hide ()
{
	if (hwnd_)
	{
		ShowWindow (hwnd_, SW_HIDE);
		logInfo () << "[PluginInstance] Window hidden (not destroyed)";
	}
	if (containerHwnd_)
		ShowWindow (containerHwnd_, SW_HIDE);
}

std::unique_ptr<ServedEditor> ServedEditor::create (Vst::IEditController* controller, Vst::IComponent* component,
                                                    ComponentHandler* handler)
{
	return std::make_unique<Win32Editor> (controller, component, handler);
}

} // namespace Tandem
