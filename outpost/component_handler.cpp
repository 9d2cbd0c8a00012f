#include "component_handler.h"
#include "log/log.h"

#include "parameter_queue.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

tresult PLUGIN_API ComponentHandler::queryInterface(const TUID iid, void** obj) {
    if (!obj) return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, IComponentHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = static_cast<IComponentHandler*>(this);
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, IComponentHandler2::iid)) {
        addRef();
        *obj = static_cast<IComponentHandler2*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ComponentHandler::addRef() { return static_cast<uint32>(refCount_.fetch_add(1) + 1); }

uint32 PLUGIN_API ComponentHandler::release() {
    const int32 left = refCount_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return static_cast<uint32>(left);
}

tresult PLUGIN_API ComponentHandler::beginEdit(ParamID id) {
    logInfo() << "[ComponentHandler] beginEdit " << id;
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(ParamID id, ParamValue valueNormalized) {
    if (!edits_) return kResultFalse;
    if (valueNormalized != valueNormalized) return kInvalidArgument;  // NaN reaches no processor
    edits_->post(id, valueNormalized);
    changes_.fetch_add(1, std::memory_order_relaxed);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(ParamID id) {
    logInfo() << "[ComponentHandler] endEdit " << id;
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags) {
    logInfo() << "[ComponentHandler] restartComponent flags=0x" << std::hex << flags;
    if (flags & (kParamValuesChanged | kParamTitlesChanged))
        logInfo() << "[ComponentHandler] Parameter values or titles changed";
    if (flags & kLatencyChanged) logInfo() << "[ComponentHandler] Latency changed: reading latency and tail again";
    if (flags & (kIoChanged | kReloadComponent))
        logInfo() << "[ComponentHandler] I/O change or reload requested; not supported, the plug-in keeps running";
    if (flags & (kLatencyChanged | kIoChanged | kReloadComponent))
        latencyAnnounced_.store(true, std::memory_order_relaxed);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::setDirty(TBool state) {
    if (state) changes_.fetch_add(1, std::memory_order_relaxed);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::requestOpenEditor(FIDString) { return kResultFalse; }
tresult PLUGIN_API ComponentHandler::startGroupEdit() { return kResultOk; }
tresult PLUGIN_API ComponentHandler::finishGroupEdit() { return kResultOk; }

}  // namespace Tandem
