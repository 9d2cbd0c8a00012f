// The served editor in Win32 windows: a borderless top-level container
// (whose X11 window the Linux side embeds) holding the window the editor is
// attached to, or one top-level window of its own. served_editor_win32.cpp
// holds the editor's life, served_editor_win32_windows.cpp its windows.
#pragma once

#include "served_editor.h"
#include "win32.h"

#include "pluginterfaces/gui/iplugview.h"

namespace Tandem {

class PlugFrame;

class Win32Editor final : public ServedEditor
{
public:
	Win32Editor (Steinberg::Vst::IEditController* controller, Steinberg::Vst::IComponent* component,
	             ComponentHandler* handler)
	: controller_ (controller), component_ (component), componentHandler_ (handler),
	  hInstance_ (GetModuleHandleW (nullptr))
	{
	}
	~Win32Editor () override;

	bool createWindow (bool embedding) override;
	std::uint64_t x11WindowId () const override;
	bool prepare () override;
	bool create () override;
	bool show () override;
	void hide () override;
	bool hasWindow () const override { return hwnd_ != nullptr; }
	bool hasView () const override { return view_ != nullptr; }
	bool resizable () const override { return editorResizable_; }
	bool constrainSize (std::int32_t& width, std::int32_t& height) override;
	bool resize (std::int32_t& width, std::int32_t& height) override;
	bool setContentScale (float factor) override;
	std::int32_t width () const override { return width_; }
	std::int32_t height () const override { return height_; }

private:
	static LRESULT CALLBACK windowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
	static LRESULT CALLBACK containerWindowProc (HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
	// Where the keyboard goes when our windows get it: the editor's window
	// that had it last, else the editor's first window.
	HWND focusTarget () const;

	Steinberg::Vst::IEditController* controller_;
	Steinberg::Vst::IComponent* component_;
	ComponentHandler* componentHandler_;
	Steinberg::IPlugView* view_ = nullptr;
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

} // namespace Tandem
