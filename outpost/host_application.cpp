#include "host_application.h"
#include "log/log.h"

using namespace Steinberg;

namespace Tandem {

namespace {
const char kHostName[] = "Tandem";
}

tresult PLUGIN_API HostApplication::queryInterface(const TUID iid, void** obj) {
    if (!obj) return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, Vst::IHostApplication::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = this;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API HostApplication::addRef() { return static_cast<uint32>(refCount_.fetch_add(1) + 1); }

uint32 PLUGIN_API HostApplication::release() {
    // The new count comes from this thread's own decrement, never a re-read.
    const int32 left = refCount_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return static_cast<uint32>(left);
}

tresult PLUGIN_API HostApplication::getName(Vst::String128 name) {
    if (!name) return kInvalidArgument;
    int i = 0;
    for (; kHostName[i] != '\0' && i < 127; ++i) name[i] = static_cast<Vst::TChar>(static_cast<unsigned char>(kHostName[i]));
    name[i] = 0;
    name[127] = 0;
    logInfo() << "[HostApplication] getName() called, returning: " << kHostName;
    return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(TUID, TUID, void** obj) {
    logInfo() << "[HostApplication] createInstance() called (not implemented)";
    if (obj) *obj = nullptr;
    return kNotImplemented;
}

}  // namespace Tandem
