// VST3Loader: loads the served plug-in's module and obtains its factory
// through the GetPluginFactory export.
#pragma once

#include <string>

#include "pluginterfaces/base/ipluginbase.h"
#include "win32.h"

namespace Tandem {

class VST3Loader {
public:
    VST3Loader() = default;
    ~VST3Loader();
    VST3Loader(const VST3Loader&) = delete;
    VST3Loader& operator=(const VST3Loader&) = delete;

    // `path` names the module file or a bundle folder, whose module is then
    // looked for at <path>\Contents\x86_64-win\Quill.vst3.
    bool load(const std::string& path);
    void unload();
    std::string getPluginName() const { return "VST3 Plugin"; }

    Steinberg::IPluginFactory* factory() const { return factory_; }

private:
    using GetFactoryProc = Steinberg::IPluginFactory* (PLUGIN_API*)();

    HMODULE module_ = nullptr;
    Steinberg::IPluginFactory* factory_ = nullptr;
    GetFactoryProc getFactoryProc_ = nullptr;
};

}  // namespace Tandem
