#include "plugin/controller.h"

#include "plugin/edit_watcher.h"
#include "plugin/processor.h"
#include "plugin/view.h"

#include <cstring>
#include <iostream>

namespace Steinberg {
namespace QuillMarlow {

FUnknown* QuillMarlowController::createInstance (void*)
{
	return static_cast<Vst::IEditController*> (new QuillMarlowController ());
}

tresult PLUGIN_API QuillMarlowController::initialize (FUnknown* context)
{
	return EditController::initialize (context);
}

tresult PLUGIN_API QuillMarlowController::terminate ()
{
	return EditController::terminate ();
}

IPlugView* PLUGIN_API QuillMarlowController::createView (FIDString name)
{
	std::cout << "[QuillMarlowController] createView(" << (name ? name : "") << ") called" << std::endl;
	if (!name || std::strcmp (name, "editor") != 0)
	{
		std::cout << "[QuillMarlowController] Unknown view type: " << (name ? name : "") << std::endl;
		return nullptr;
	}
	// The view talks to the outpost of the first active processor of this
	// process, which is not necessarily the one paired with this controller.
	Tandem::UICommand* uiCommand = QuillMarlowProcessor::findActiveUICommand ();
	if (!uiCommand)
	{
		std::cerr << "[QuillMarlowController] ERROR: No active UICommand found" << std::endl;
		std::cerr << "[QuillMarlowController] Make sure the plugin is activated first!" << std::endl;
		return nullptr;
	}
	std::cout << "[QuillMarlowController] Creating QuillMarlowView" << std::endl;
	auto* view = new QuillMarlowView (uiCommand);
	// Edits in the served editor mark the host's project as changed.
	if (Vst::IComponentHandler* handler = getComponentHandler ())
	{
		auto* watcher = new EditWatcher (uiCommand, handler);
		view->watchEdits (watcher);
		watcher->release ();
	}
	return view;
}

} // namespace QuillMarlow
} // namespace Steinberg
