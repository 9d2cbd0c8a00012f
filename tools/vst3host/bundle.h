// A loaded Linux VST 3 bundle: its library, module entry and factory, and
// the audio effect it offers.
#pragma once

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <string>
#include <vector>

namespace vst3host {

class Bundle {
public:
    Bundle() = default;
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // Loads <path>/Contents/x86_64-linux/<name>.so; false with `error` set.
    bool load(const std::string& path, std::string& error);
    Steinberg::IPluginFactory* factory() const { return factory_; }
    Steinberg::PFactoryInfo factoryInfo() const;
    // Every class of the factory, in the second-generation description
    // (filled from the first-generation one where the factory has no other).
    std::vector<Steinberg::PClassInfo2> classes() const;

private:
    void* library_ = nullptr;
    bool entered_ = false;
    Steinberg::IPluginFactory* factory_ = nullptr;
};

// The first audio effect of a factory with its edit controller, initialised
// and set up for 32-bit processing; torn down in the right order.
class Effect {
public:
    ~Effect();
    bool create(Steinberg::IPluginFactory* factory, std::string& error);
    bool setup(double sampleRate, int maxBlock, std::string& error);
    bool activate(std::string& error);

    // Channel count of the main audio bus in the given direction.
    int mainChannels(Steinberg::Vst::BusDirection direction) const;
    bool saveState(const std::string& file, std::string& error);
    bool loadState(const std::string& file, std::string& error);

    Steinberg::Vst::IComponent* component = nullptr;
    Steinberg::Vst::IAudioProcessor* processor = nullptr;
    Steinberg::Vst::IEditController* controller = nullptr;

private:
    bool active_ = false;
    bool processing_ = false;
};

}  // namespace vst3host
