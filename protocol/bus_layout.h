// The served component's BusInfo in the bus region, byte for byte: both
// programs compile VST 3's structure with the same layout, checked here on
// each side. A name read from the region always ends in a zero.
#pragma once

#include "protocol/bus_data.h"
#include "protocol/parameter_layout.h"

#include "pluginterfaces/vst/ivstcomponent.h"

#include <cstddef>
#include <cstring>

namespace Tandem {

static_assert (sizeof (Steinberg::Vst::BusInfo) == kBusInfoSize, "BusInfo layout");
static_assert (offsetof (Steinberg::Vst::BusInfo, channelCount) == 8, "BusInfo layout");
static_assert (offsetof (Steinberg::Vst::BusInfo, name) == 12, "BusInfo layout");
static_assert (offsetof (Steinberg::Vst::BusInfo, busType) == 268, "BusInfo layout");
static_assert (offsetof (Steinberg::Vst::BusInfo, flags) == 272, "BusInfo layout");
static_assert (sizeof (Steinberg::Vst::RoutingInfo) == 12, "RoutingInfo layout");

inline void writeBusInfo (BusRecord& record, const Steinberg::Vst::BusInfo& info)
{
	std::memcpy (record.info, &info, sizeof info);
}

inline void readBusInfo (const BusRecord& record, Steinberg::Vst::BusInfo& info)
{
	std::memcpy (&info, record.info, sizeof info);
	terminateText (info.name);
}

} // namespace Tandem
