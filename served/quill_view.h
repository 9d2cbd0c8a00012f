// What Quill's editors have in common: an IPlugView for the "HWND" platform
// that opens one child window of a class of its own in the host's window,
// and hears the controller's value changes (EditorRefresh). Each editor
// draws, sizes and takes the mouse in its own way: it answers its window's
// messages (message) and may do more when its window opens and closes.
#pragma once

#include <windows.h>

#include "pluginterfaces/gui/iplugview.h"
#include "quill_live_object.h"
#include "sdk/ref_counted.h"

namespace Quill {

class QuillController;

// What the controller asks of its open editor, whatever draws it: to show
// values that changed.
class EditorRefresh
{
public:
	virtual void refresh () = 0;

protected:
	~EditorRefresh () = default;
};

// This module's instance handle: windows and classes are registered with it.
HINSTANCE moduleInstance ();

class QuillView : public Tandem::RefCounted<Steinberg::IPlugView>, public EditorRefresh, private LiveObject
{
public:
	Steinberg::tresult PLUGIN_API isPlatformTypeSupported (Steinberg::FIDString type) override;
	Steinberg::tresult PLUGIN_API attached (void* parent, Steinberg::FIDString type) override;
	Steinberg::tresult PLUGIN_API removed () override;
	// Keys and the wheel come to the window as messages: a host's offer is
	// not taken.
	Steinberg::tresult PLUGIN_API onWheel (float) override { return Steinberg::kResultFalse; }
	Steinberg::tresult PLUGIN_API onKeyDown (Steinberg::char16, Steinberg::int16, Steinberg::int16) override
	{
		return Steinberg::kResultFalse;
	}
	Steinberg::tresult PLUGIN_API onKeyUp (Steinberg::char16, Steinberg::int16, Steinberg::int16) override
	{
		return Steinberg::kResultFalse;
	}
	Steinberg::tresult PLUGIN_API getSize (Steinberg::ViewRect* size) override;
	Steinberg::tresult PLUGIN_API onFocus (Steinberg::TBool) override { return Steinberg::kResultOk; }
	Steinberg::tresult PLUGIN_API setFrame (Steinberg::IPlugFrame* frame) override;

	HWND window () const { return hwnd_; }

protected:
	// `windowClass` names the class of the editor's window.
	QuillView (QuillController* controller, const char* windowClass, Steinberg::ViewRect size);
	virtual ~QuillView ();

	// Before the window is made; false refuses the attachment.
	virtual bool opening () { return true; }
	// Once the window is there; false closes it again and refuses.
	virtual bool opened () { return true; }
	// Before the window goes.
	virtual void closing () {}
	// The last reference went: the window is closed here, while the editor
	// is still whole.
	void lastReleased () override;
	// The window's messages (WM_CREATE aside).
	virtual LRESULT message (UINT message, WPARAM wParam, LPARAM lParam);

	QuillController* controller_;
	Steinberg::IPlugFrame* frame_ = nullptr; // not owned, as the host owns its frame
	Steinberg::ViewRect rect_;
	HWND hwnd_ = nullptr;

private:
	static LRESULT CALLBACK windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

	const char* windowClass_;
};

// An editor the host may resize, down to 320x240: its window takes the size
// it is given and draws again.
class ResizableView : public QuillView
{
public:
	Steinberg::tresult PLUGIN_API onSize (Steinberg::ViewRect* newSize) override;
	Steinberg::tresult PLUGIN_API canResize () override { return Steinberg::kResultTrue; }
	Steinberg::tresult PLUGIN_API checkSizeConstraint (Steinberg::ViewRect* rect) override;

protected:
	using QuillView::QuillView;
};

// The gain as a horizontal slider `margin` pixels from either side of the
// editor, that follows a left-button drag as the toolkits' sliders do: an
// edit at the press and at each move while the button is down.
class GainSlider
{
public:
	GainSlider (int margin, int top, int height) : margin_ (margin), top_ (top), height_ (height) {}
	RECT track (int width) const { return RECT {margin_, top_, width - margin_, top_ + height_}; }
	// Follows the mouse messages of a drag in `window` (`width` wide); true
	// when one set the gain.
	bool mouse (HWND window, UINT message, LPARAM lParam, int width, QuillController& controller);

private:
	void dragTo (int x, int width, QuillController& controller) const;

	int margin_, top_, height_;
	bool dragging_ = false;
};

// An editor that resizes and draws Quill's gain as a GainSlider along its
// top: the slider takes its mouse messages first (and draws again after an
// edit), the editor the rest (editorMessage).
constexpr int kSliderLeft = 20; // and as far from the right edge
constexpr int kSliderTop = 130;
constexpr int kSliderHeight = 30;

class SliderEditor : public ResizableView
{
protected:
	using ResizableView::ResizableView;
	LRESULT message (UINT message, WPARAM wParam, LPARAM lParam) final;
	virtual LRESULT editorMessage (UINT message, WPARAM wParam, LPARAM lParam) = 0;

	GainSlider slider_ {kSliderLeft, kSliderTop, kSliderHeight};
};

// Registers a window class of this module while windows of it exist: the
// first open registers it, the last close unregisters it, so that a later
// load of the module at another address does not find a class pointing
// into the old one.
bool openWindowClass (const char* name, WNDPROC proc);
void closeWindowClass (const char* name);

} // namespace Quill
