// PluginInstance without Win32, for native builds of the instance logic: no
// module handle, and no window ever exists to hide.
#include "plugin_instance.h"

namespace Tandem {

HINSTANCE PluginInstance::ownModuleHandle() { return nullptr; }

void PluginInstance::hideWindowsForTeardown() {}

}  // namespace Tandem
