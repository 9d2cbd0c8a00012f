// PluginInstance: construction, creation of the plug-in's objects, teardown.
#include "plugin_instance.h"

#include <cstring>
#include <iostream>

#include "component_handler.h"
#include "host_application.h"
#include "memory_stream.h"
#include "plug_frame.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {
const char kAudioModuleCategory[] = "Audio Module Class";
const char kControllerCategory[] = "Component Controller Class";
}  // namespace

PluginInstance::PluginInstance(IPluginFactory* factory)
    : factory_(factory), hostApplication_(new HostApplication), hInstance_(ownModuleHandle()) {
    if (factory_) factory_->addRef();
    std::cout << "[PluginInstance] HostApplication created" << std::endl;
}

PluginInstance::~PluginInstance() {
    hideWindow();
    // A plug-in is stopped and deactivated before it is terminated; the
    // audio thread is gone by now.
    if (audioSetup_) {
        if (audioProcessor_) audioProcessor_->setProcessing(false);
        if (component_) component_->setActive(false);
    }
    if (componentHandler_) {
        if (controller_) controller_->setComponentHandler(nullptr);
        componentHandler_->detach();
        componentHandler_->release();
    }
    if (view_) {
        // An attached view takes its windows down before it is let go.
        if (viewAttached_) view_->removed();
        view_->setFrame(nullptr);
        view_->release();
    }
    if (frame_) frame_->release();
    if (hostApplication_) hostApplication_->release();
    if (controller_) {
        // One object is terminated once, as a component.
        if (!singleObject_) controller_->terminate();
        controller_->release();
    }
    if (audioProcessor_) audioProcessor_->release();
    if (component_) {
        component_->terminate();
        component_->release();
    }
    if (factory_) factory_->release();
}

bool PluginInstance::createInstance() {
    std::cout << "[PluginInstance] Creating plugin instance..." << std::endl;
    if (!factory_) {
        std::cerr << "[PluginInstance] No factory available" << std::endl;
        return false;
    }

    const int32 count = factory_->countClasses();
    std::cout << "[PluginInstance] Factory has " << count << " classes" << std::endl;

    PClassInfo scratch;
    PClassInfo processorInfo;
    PClassInfo controllerInfo;
    std::memset(static_cast<void*>(&scratch), 0, sizeof scratch);
    std::memset(static_cast<void*>(&processorInfo), 0, sizeof processorInfo);
    std::memset(static_cast<void*>(&controllerInfo), 0, sizeof controllerInfo);
    bool foundProcessor = false;
    bool foundController = false;

    for (int32 i = 0; i < count; ++i) {
        if (factory_->getClassInfo(i, &scratch) != kResultOk) continue;
        // The factory's texts are fixed-size fields; never read past them.
        scratch.category[PClassInfo::kCategorySize - 1] = '\0';
        scratch.name[PClassInfo::kNameSize - 1] = '\0';
        std::cout << "[PluginInstance] Class " << i << ": " << scratch.name << " (category: " << scratch.category
                  << ")" << std::endl;
        // The loop runs to the end: of several classes in one category the
        // last one is used.
        if (std::strcmp(scratch.category, kAudioModuleCategory) == 0) {
            processorInfo = scratch;
            foundProcessor = true;
            std::cout << "[PluginInstance] Found processor: " << scratch.name << std::endl;
        } else if (std::strcmp(scratch.category, kControllerCategory) == 0) {
            controllerInfo = scratch;
            foundController = true;
            std::cout << "[PluginInstance] Found controller: " << scratch.name << std::endl;
        }
    }

    if (count < 1 || !foundProcessor) {
        std::cerr << "[PluginInstance] No audio processor found in factory" << std::endl;
        return false;
    }

    std::cout << "[PluginInstance] Creating component instance..." << std::endl;
    void* object = nullptr;
    tresult result = factory_->createInstance(processorInfo.cid, IComponent::iid, &object);
    if (result != kResultOk || !object) {
        std::cerr << "[PluginInstance] Failed to create component (error " << result << ")" << std::endl;
        return false;
    }
    component_ = static_cast<IComponent*>(object);
    std::cout << "[PluginInstance] Component created" << std::endl;

    std::cout << "[PluginInstance] Initializing component with HostApplication context..." << std::endl;
    if (component_->initialize(hostApplication_) != kResultOk) {
        std::cerr << "[PluginInstance] Failed to initialize component" << std::endl;
        component_->release();
        component_ = nullptr;
        return false;
    }
    std::cout << "[PluginInstance] Component initialized" << std::endl;

    // One object: the component is its own controller.
    IEditController* ownController = nullptr;
    if (component_->queryInterface(IEditController::iid, reinterpret_cast<void**>(&ownController)) == kResultOk &&
        ownController) {
        controller_ = ownController;
        singleObject_ = true;
        std::cout << "[PluginInstance] Got controller from component (single component design)" << std::endl;
        connectComponentHandler();
        std::cout << "[PluginInstance] Plugin instance created successfully" << std::endl;
        return true;
    }

    if (!foundController) {
        std::cout << "[PluginInstance] No controller found" << std::endl;
        std::cout << "[PluginInstance] Plugin instance created successfully" << std::endl;
        return true;
    }

    std::cout << "[PluginInstance] Creating separate controller instance..." << std::endl;
    object = nullptr;
    result = factory_->createInstance(controllerInfo.cid, IEditController::iid, &object);
    if (result != kResultOk || !object) {
        std::cerr << "[PluginInstance] Failed to create controller (error " << result << ")" << std::endl;
        std::cout << "[PluginInstance] Plugin instance created successfully" << std::endl;
        return true;
    }
    controller_ = static_cast<IEditController*>(object);
    std::cout << "[PluginInstance] Separate controller created" << std::endl;
    std::cout << "[PluginInstance] Initializing controller with HostApplication context..." << std::endl;
    if (controller_->initialize(hostApplication_) != kResultOk) {
        std::cerr << "[PluginInstance] Failed to initialize controller" << std::endl;
        controller_->release();
        controller_ = nullptr;
        std::cout << "[PluginInstance] Plugin instance created successfully" << std::endl;
        return true;
    }
    std::cout << "[PluginInstance] Controller initialized" << std::endl;
    connectComponentHandler();

    // Bring the controller in line with the component's current state.
    std::cout << "[PluginInstance] Synchronizing component state to controller..." << std::endl;
    MemoryStream* stream = new MemoryStream;
    if (component_->getState(stream) != kResultOk || stream->data().empty()) {
        std::cout << "[PluginInstance] No component state to sync" << std::endl;
    } else {
        std::cout << "[PluginInstance] Component state: " << static_cast<std::uint64_t>(stream->data().size())
                  << " bytes" << std::endl;
        stream->setPosition(0);
        result = controller_->setComponentState(stream);
        if (result == kResultOk)
            std::cout << "[PluginInstance] Controller state synchronized!" << std::endl;
        else
            std::cout << "[PluginInstance] setComponentState returned " << result << " (may be normal for this plugin)"
                      << std::endl;
    }
    stream->release();

    // Connect the two in both directions.
    std::cout << "[PluginInstance] Establishing IConnectionPoint connection..." << std::endl;
    IConnectionPoint* componentPoint = nullptr;
    if (component_->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&componentPoint)) != kResultOk ||
        !componentPoint) {
        std::cout << "[PluginInstance] Component doesn't support IConnectionPoint" << std::endl;
    } else {
        std::cout << "[PluginInstance] Component supports IConnectionPoint" << std::endl;
        IConnectionPoint* controllerPoint = nullptr;
        if (controller_->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&controllerPoint)) !=
                kResultOk ||
            !controllerPoint) {
            std::cout << "[PluginInstance] Controller doesn't support IConnectionPoint" << std::endl;
            componentPoint->release();
        } else {
            std::cout << "[PluginInstance] Controller supports IConnectionPoint" << std::endl;
            const tresult r1 = componentPoint->connect(controllerPoint);
            const tresult r2 = controllerPoint->connect(componentPoint);
            if (r1 == kResultOk && r2 == kResultOk)
                std::cout << "[PluginInstance] IConnectionPoint connected successfully!" << std::endl;
            else
                std::cout << "[PluginInstance] IConnectionPoint connection returned: " << "comp->ctrl=" << r1
                          << ", ctrl->comp=" << r2 << std::endl;
            controllerPoint->release();
            componentPoint->release();
        }
    }

    std::cout << "[PluginInstance] Plugin instance created successfully" << std::endl;
    return true;
}

}  // namespace Tandem

namespace Tandem {

void PluginInstance::connectComponentHandler() {
    // Room for one change per parameter in every block, both ways; reserved
    // now, before the audio thread exists.
    const int32 parameters = controller_->getParameterCount();
    if (parameters > 0) {
        inputChanges_.reserve(parameters);
        outputChanges_.reserve(parameters);
    }
    componentHandler_ = new ComponentHandler(&toProcessor_);
    const tresult result = controller_->setComponentHandler(componentHandler_);
    if (result == kResultOk)
        std::cout << "[PluginInstance] Component handler set (" << parameters << " parameters)" << std::endl;
    else
        std::cout << "[PluginInstance] setComponentHandler returned " << result << std::endl;
}

std::uint32_t PluginInstance::changeCount() const {
    return componentHandler_ ? componentHandler_->changeCount() : 0;
}

void PluginInstance::serviceParameters() {
    toProcessor_.moveHeld();
    ParameterEdit edit{};
    while (fromProcessor_.pop(edit))
        if (controller_) controller_->setParamNormalized(edit.id, edit.value);
    const std::uint32_t dropped = droppedOutputs_.exchange(0, std::memory_order_relaxed);
    if (dropped > 0)
        std::cerr << "[PluginInstance] " << dropped << " parameter values from the processor were dropped" << std::endl;
}

}  // namespace Tandem
