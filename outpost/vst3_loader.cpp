#include "vst3_loader.h"

#include <iostream>

namespace Tandem {

namespace {
// Where a bundle folder keeps the 64-bit Windows module.
const char kBundleModule[] = "\\Contents\\x86_64-win\\Quill.vst3";
}

VST3Loader::~VST3Loader() {
    if (factory_) factory_->release();
    if (module_) FreeLibrary(module_);
}

bool VST3Loader::load(const std::string& path) {
    std::cout << "[VST3Loader] Loading plugin: " << path << std::endl;
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        const std::string candidate = path + kBundleModule;
        std::cout << "[VST3Loader] Trying: " << candidate << std::endl;
        module_ = LoadLibraryA(candidate.c_str());
        if (!module_) {
            const DWORD error = GetLastError();
            std::cerr << "[VST3Loader] Failed to load module: " << error << std::endl;
            return false;
        }
    }
    std::cout << "[VST3Loader] Module loaded successfully" << std::endl;

    getFactoryProc_ = reinterpret_cast<GetFactoryProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "GetPluginFactory")));
    if (!getFactoryProc_) {
        std::cerr << "[VST3Loader] GetPluginFactory not found" << std::endl;
        unload();
        return false;
    }
    factory_ = getFactoryProc_();
    if (!factory_) {
        std::cerr << "[VST3Loader] GetPluginFactory returned null" << std::endl;
        unload();
        return false;
    }
    std::cout << "[VST3Loader] Plugin factory obtained successfully" << std::endl;
    return true;
}

void VST3Loader::unload() {
    if (factory_) {
        factory_->release();
        factory_ = nullptr;
    }
    if (module_) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
    getFactoryProc_ = nullptr;
}

}  // namespace Tandem
