// PluginInstance: the parts that call Win32.
#include "plugin_instance.h"

#include <iostream>

namespace Tandem {

HINSTANCE PluginInstance::ownModuleHandle() { return GetModuleHandleW(nullptr); }

// Windows are only hidden at teardown, never destroyed.
void PluginInstance::hideWindowsForTeardown() {
    if (hwnd_) {
        ShowWindow(hwnd_, SW_HIDE);
        std::cout << "[PluginInstance] Window hidden (not destroyed)" << std::endl;
    }
    if (containerHwnd_) ShowWindow(containerHwnd_, SW_HIDE);
}

}  // namespace Tandem
