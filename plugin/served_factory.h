// The factory of a bundle made by `quillmarlow sync`: the served module's
// own classes and factory info, from the bundle's record. Its audio classes
// create processors that serve that class; its controller classes are our
// controller under the served controller's id.
#pragma once

#include "plugin/served_record.h"

#include "public.sdk/source/main/pluginfactory.h"

namespace Steinberg {
namespace QuillMarlow {

// A factory listing `record`'s classes; the caller owns its one reference.
CPluginFactory* makeServedFactory (const Tandem::ServedRecord& record);

// The class id's TUID as this platform orders it.
FUID servedClassId (const std::string& cid);

} // namespace QuillMarlow
} // namespace Steinberg
