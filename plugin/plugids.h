// Class ids of the plug-in's two classes, shared by the factory and the
// processor (which names the controller class to the host).
#pragma once

#include "pluginterfaces/base/funknown.h"

namespace Steinberg {
namespace QuillMarlow {

static const FUID kProcessorUID (0x12345678, 0x12345678, 0x12345678, 0x12345678);
static const FUID kControllerUID (0x87654321, 0x87654321, 0x87654321, 0x87654321);

} // namespace QuillMarlow
} // namespace Steinberg
