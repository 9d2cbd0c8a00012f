// The controller's state: the served controller's own, which our processor
// carries through outpost (see ServedState).
#include "plugin/controller.h"

#include "plugin/instance_registry.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

tresult PLUGIN_API QuillMarlowController::getState (IBStream* state)
{
	tresult result = kNotImplemented;
	// Only the processor the host paired us with knows whose state it is.
	if (!processorKnown_ ||
	    !InstanceRegistry::withInstance (processorId_,
	                                     [&] (RegisteredInstance& p) { result = p.getControllerState (state); }))
		Tandem::logError () << "[QuillMarlowController] No processor connected: the served controller's state is not saved";
	return result;
}

tresult PLUGIN_API QuillMarlowController::setState (IBStream* state)
{
	tresult result = kNotImplemented;
	if (!processorKnown_ ||
	    !InstanceRegistry::withInstance (processorId_,
	                                     [&] (RegisteredInstance& p) { result = p.setControllerState (state); }))
	{
		Tandem::logError () << "[QuillMarlowController] No processor connected: the served controller's state is not restored";
		return result;
	}
	// The served controller's values may have come with it.
	const int32 flags = parameters_.refresh (true);
	passEdits ();
	if (flags && getComponentHandler ())
		getComponentHandler ()->restartComponent (flags);
	return result;
}

} // namespace QuillMarlow
} // namespace Steinberg
