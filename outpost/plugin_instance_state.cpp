// PluginInstance: the component's state in and out as opaque bytes.
#include <cstring>
#include <iostream>

#include "memory_stream.h"
#include "plugin_instance.h"

using namespace Steinberg;

namespace Tandem {

std::int32_t PluginInstance::getState(std::uint8_t* buffer, std::int32_t capacity) {
    if (!component_) {
        std::cerr << "[PluginInstance] No component for getState" << std::endl;
        return 0;
    }
    MemoryStream* stream = new MemoryStream;
    const tresult result = component_->getState(stream);
    if (result != kResultOk) {
        std::cerr << "[PluginInstance] getState failed: " << result << std::endl;
        stream->release();
        return 0;
    }
    const std::int64_t size = static_cast<std::int64_t>(stream->data().size());
    if (size <= 0 || size > capacity || !buffer) {
        std::cerr << "[PluginInstance] State size invalid: " << size << std::endl;
        stream->release();
        return 0;
    }
    stream->setPosition(0);
    int32 numRead = 0;
    stream->read(buffer, static_cast<int32>(size), &numRead);
    stream->release();
    std::cout << "[PluginInstance] State retrieved: " << numRead << " bytes" << std::endl;
    return numRead;
}

bool PluginInstance::setState(const std::uint8_t* data, std::int32_t size) {
    if (!component_) {
        std::cerr << "[PluginInstance] No component for setState" << std::endl;
        return false;
    }
    MemoryStream* stream = new MemoryStream;
    if (size > 0 && data) stream->data().assign(data, data + size);

    tresult result = component_->setState(stream);
    if (result != kResultOk) {
        std::cerr << "[PluginInstance] component->setState failed: " << result << std::endl;
        stream->release();
        return false;
    }
    if (controller_) {
        // The controller reads the same bytes from the start, wherever the
        // component stopped reading.
        stream->setPosition(0);
        result = controller_->setComponentState(stream);
        if (result != kResultOk && result != kNotImplemented)
            std::cout << "[PluginInstance] controller->setComponentState returned: " << result << std::endl;
    }
    stream->release();
    std::cout << "[PluginInstance] State restored: " << size << " bytes" << std::endl;
    return true;
}

}  // namespace Tandem
