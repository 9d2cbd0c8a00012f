// The served plug-in's editor in windows of outpost's own: a container
// window that the Linux side embeds (its X11 window), the window the editor
// is attached to inside it, and the frame through which the editor asks for
// another size. A plug-in without an editor of its own gets the generic one.
// Everything here runs on outpost's main thread. Each platform has its own
// (served_editor_win32.cpp; served_editor_headless.cpp, where no window can
// be made, for native builds of the instance logic).
#pragma once

#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <cstdint>
#include <memory>

namespace Tandem {

class ComponentHandler;

class ServedEditor
{
public:
	// The editor of `controller`; `component` is activated before a view is
	// asked for, `handler` serves the generic editor's edits.
	static std::unique_ptr<ServedEditor> create (Steinberg::Vst::IEditController* controller,
	                                             Steinberg::Vst::IComponent* component, ComponentHandler* handler);
	// An attached view is removed and let go; the windows stay Wine's to end.
	virtual ~ServedEditor () = default;

	// The windows; `embedding`: in a container for the Linux side, else a
	// top-level window of its own.
	virtual bool createWindow (bool embedding) = 0;
	// The X11 window Wine made for the outer window; 0 when there is none.
	virtual std::uint64_t x11WindowId () const = 0;
	// Asks the plug-in for its view (once) to learn its size and whether it
	// resizes, before any window exists; false when it has none.
	virtual bool prepare () = 0;
	// The view in the window (the generic one when the plug-in has none).
	virtual bool create () = 0;
	virtual bool show () = 0;
	virtual void hide () = 0;

	virtual bool hasWindow () const = 0;
	virtual bool hasView () const = 0;
	virtual bool resizable () const = 0;
	// The size the editor takes closest to the one asked for; false when it
	// does not resize.
	virtual bool constrainSize (std::int32_t& width, std::int32_t& height) = 0;
	// Resizes the editor as its host would; the size becomes what it took.
	virtual bool resize (std::int32_t& width, std::int32_t& height) = 0;
	// The host's scale; false when the editor does not scale.
	virtual bool setContentScale (float factor) = 0;
	virtual std::int32_t width () const = 0;
	virtual std::int32_t height () const = 0;
};

} // namespace Tandem
