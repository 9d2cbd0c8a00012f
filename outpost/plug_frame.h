// PlugFrame: the IPlugFrame given to the served plug-in's editor view, so the
// view can ask for a new size of the window it lives in. When that window is
// a child (the embedded layout), its top-level container is resized with it.
#pragma once

#include <functional>

#include "pluginterfaces/gui/iplugview.h"
#include "sdk/ref_counted.h"
#include "win32.h"

namespace Tandem {

class PlugFrame : public RefCounted<Steinberg::IPlugFrame>
{
public:
	// `resized` learns every size the frame granted.
	using ResizeListener = std::function<void (Steinberg::int32 width, Steinberg::int32 height)>;
	explicit PlugFrame (HWND hwnd, ResizeListener resized = {}) : hwnd_ (hwnd), resized_ (std::move (resized)) {}

	Steinberg::tresult PLUGIN_API resizeView (Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) override;

private:
	virtual ~PlugFrame () = default;

	HWND hwnd_;
	ResizeListener resized_;
};

} // namespace Tandem
