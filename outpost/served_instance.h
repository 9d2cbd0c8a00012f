// One served instance as outpost's services see it: the regions of the
// shared file it is served through and the plug-in serving it (null until
// it is created, and in tests that serve none). Each service (editor,
// latency, session, state, parameters, buses, audio) works on one.
#pragma once

#include <memory>

#include "plugin_instance.h"
#include "protocol/file_regions.h"

namespace Tandem {

struct ServedInstance
{
	Regions regions {};
	std::unique_ptr<PluginInstance> plugin;
};

} // namespace Tandem
