// PluginInstance without Win32, for native builds of the instance logic: no
// module handle, and no window can be made.
#include "plugin_instance.h"

namespace Tandem {

HINSTANCE PluginInstance::ownModuleHandle() { return nullptr; }
HWND PluginInstance::focusTarget() const { return nullptr; }

bool PluginInstance::createWindow(bool) { return false; }
std::uint64_t PluginInstance::getX11WindowId() const { return 0; }
bool PluginInstance::createEditor() { return false; }
bool PluginInstance::prepareEditor() { return false; }
bool PluginInstance::showWindow() { return false; }
void PluginInstance::hideWindow() {}
void PluginInstance::processMessages() {}
bool PluginInstance::constrainEditorSize(std::int32_t&, std::int32_t&) { return false; }
bool PluginInstance::resizeEditor(std::int32_t&, std::int32_t&) { return false; }
bool PluginInstance::setContentScale(float) { return false; }

}  // namespace Tandem
