// Interface ids of the editor interfaces, which no source of the Debian SDK
// subset defines. Without them the plug-in would link but fail in the host's
// dlopen with an undefined id symbol.
#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

namespace Steinberg {
DEF_CLASS_IID (IPlugView)
DEF_CLASS_IID (IPlugFrame)
DEF_CLASS_IID (IPlugViewContentScaleSupport)
#if SMTG_OS_LINUX
namespace Linux {
DEF_CLASS_IID (IRunLoop)
DEF_CLASS_IID (IEventHandler)
DEF_CLASS_IID (ITimerHandler)
}
#endif
} // namespace Steinberg
