#include "vst3_loader.h"
#include "log/log.h"

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
    logInfo() << "[VST3Loader] Loading plugin: " << path;
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        const std::string candidate = path + kBundleModule;
        logInfo() << "[VST3Loader] Trying: " << candidate;
        module_ = LoadLibraryA(candidate.c_str());
        if (!module_) {
            const DWORD error = GetLastError();
            logError() << "[VST3Loader] Failed to load module: " << error;
            return false;
        }
    }
    logInfo() << "[VST3Loader] Module loaded successfully";

    getFactoryProc_ = reinterpret_cast<GetFactoryProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "GetPluginFactory")));
    if (!getFactoryProc_) {
        logError() << "[VST3Loader] GetPluginFactory not found";
        unload();
        return false;
    }
    factory_ = getFactoryProc_();
    if (!factory_) {
        logError() << "[VST3Loader] GetPluginFactory returned null";
        unload();
        return false;
    }
    logInfo() << "[VST3Loader] Plugin factory obtained successfully";
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
