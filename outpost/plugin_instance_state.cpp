// PluginInstance: the component's state in and out as opaque bytes.
#include <cstring>

#include "memory_stream.h"
#include "log/log.h"
#include "plugin_instance.h"

using namespace Steinberg;

namespace Tandem {

std::int32_t PluginInstance::getState(std::uint8_t* buffer, std::int32_t capacity) {
    if (!component_) {
        logError() << "[PluginInstance] No component for getState";
        return 0;
    }
    MemoryStream* stream = new MemoryStream;
    const tresult result = component_->getState(stream);
    if (result != kResultOk) {
        logError() << "[PluginInstance] getState failed: " << result;
        stream->release();
        return 0;
    }
    const std::int64_t size = static_cast<std::int64_t>(stream->data().size());
    if (size <= 0 || size > capacity || !buffer) {
        logError() << "[PluginInstance] State size invalid: " << size;
        stream->release();
        return 0;
    }
    stream->setPosition(0);
    int32 numRead = 0;
    stream->read(buffer, static_cast<int32>(size), &numRead);
    stream->release();
    logInfo() << "[PluginInstance] State retrieved: " << numRead << " bytes";
    return numRead;
}

bool PluginInstance::setState(const std::uint8_t* data, std::int32_t size) {
    if (!component_) {
        logError() << "[PluginInstance] No component for setState";
        return false;
    }
    MemoryStream* stream = new MemoryStream;
    if (size > 0 && data) stream->data().assign(data, data + size);

    tresult result = component_->setState(stream);
    if (result != kResultOk) {
        logError() << "[PluginInstance] component->setState failed: " << result;
        stream->release();
        return false;
    }
    if (controller_) {
        // The controller reads the same bytes from the start, wherever the
        // component stopped reading.
        stream->setPosition(0);
        result = controller_->setComponentState(stream);
        if (result != kResultOk && result != kNotImplemented)
            logInfo() << "[PluginInstance] controller->setComponentState returned: " << result;
    }
    stream->release();
    logInfo() << "[PluginInstance] State restored: " << size << " bytes";
    return true;
}

}  // namespace Tandem
