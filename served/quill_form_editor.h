// Quill's form editor: what a musician types into and picks from, drawn with
// GDI as the common toolkits draw their own controls (no native controls).
//
// A text field with the gain in dB: a click opens it for typing (white, with
// a caret), Return sets the typed value through the controller, Escape
// leaves it unchanged. A combo box with the tone: a click opens its menu, a
// top-level pop-up of its own placed under the box in screen coordinates;
// a click on an item picks it, Escape or a click elsewhere closes it. Along
// the bottom, a strip of sixteen colours.
//
// It cannot be resized, and it scales with the host's content scale
// (IPlugViewContentScaleSupport): every length is multiplied by the factor.
//
// Lines on standard output: "[Quill] Menu opened at x,y" (screen), "[Quill]
// Menu closed: <item|escape|outside>", "[Quill] Typed gain <dB> dB".
#pragma once

#include <windows.h>

#include <string>

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "quill_form_layout.h"
#include "quill_view.h"

namespace Quill {

class QuillController;

class QuillFormEditor : public Tandem::Extends<QuillView, Steinberg::IPlugViewContentScaleSupport>
{
public:
	explicit QuillFormEditor (QuillController* controller);

	Steinberg::tresult PLUGIN_API onSize (Steinberg::ViewRect* newSize) override;
	Steinberg::tresult PLUGIN_API canResize () override { return Steinberg::kResultFalse; }
	Steinberg::tresult PLUGIN_API checkSizeConstraint (Steinberg::ViewRect* rect) override;

	Steinberg::tresult PLUGIN_API setContentScaleFactor (ScaleFactor factor) override;

	void refresh () override;

private:
	void closing () override { closeMenu ("editor closed"); }
	LRESULT message (UINT message, WPARAM wParam, LPARAM lParam) override;
	static LRESULT CALLBACK menuProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
	RECT scaled (const FormBox& r) const;
	void paint (HDC dc);
	void paintMenu (HDC dc);
	void click (int x, int y);
	// True when the key was taken.
	bool key (WPARAM key);
	void typed (wchar_t c);
	void openMenu ();
	void closeMenu (const char* why, int item = -1);

	float scale_ = 1.0f;
	HWND menu_ = nullptr;
	bool editing_ = false;
	std::string typedText_;
};

} // namespace Quill
