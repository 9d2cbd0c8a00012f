#include "plugin/command_region_link.h"

#include "plugin/instance_registry.h"

namespace Steinberg {
namespace QuillMarlow {

CommandRegionLink CommandRegionLink::toProcessor (int32 instanceId)
{
	CommandRegionLink link;
	link.processor_ = true;
	link.instanceId_ = instanceId;
	return link;
}

CommandRegionLink CommandRegionLink::toRegion (Tandem::UICommand* region)
{
	int32 instanceId = 0;
	if (InstanceRegistry::instanceIdOfUICommand (region, instanceId))
		return toProcessor (instanceId);
	CommandRegionLink link;
	link.region_ = region;
	return link;
}

bool CommandRegionLink::with (const std::function<void (Tandem::UICommand&)>& use) const
{
	if (processor_)
		return InstanceRegistry::withUICommand (instanceId_, use);
	if (!region_)
		return false;
	use (*region_);
	return true;
}

bool CommandRegionLink::outpostStatus (bool& up, int32& restarts) const
{
	return processor_ && InstanceRegistry::outpostStatus (instanceId_, up, restarts);
}

} // namespace QuillMarlow
} // namespace Steinberg
