// Class ids and the parameter of Quill Census (quill_census.h), a test class
// that counts the instances living in its module.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/vsttypes.h"

namespace Quill {

static const Steinberg::FUID kCensusUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5704);
static const Steinberg::FUID kCensusControllerUID (0x51C1A7E0, 0x4B1D4E11, 0x9A7F0C3D, 0x2E8B5705);

// "Instances", read-only, after Quill's gain and tone: the audio modules of
// the class alive in the module's process. Plain value: the count;
// normalised: count / kCensusSteps.
constexpr Steinberg::Vst::ParamID kInstancesId = 2;
constexpr Steinberg::int32 kCensusSteps = 63;

} // namespace Quill
