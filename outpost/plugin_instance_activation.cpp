// PluginInstance: the host's activation of the served processor (set-up,
// activation, deactivation) and its processing state.

#include "plugin_instance.h"
#include "log/log.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <chrono>
#include <thread>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

// A block in the served processor ends long before this; one that does not
// is a hung plug-in, and the activation goes on without it.
constexpr auto kAudioLeaveTimeout = std::chrono::seconds(2);

}  // namespace

PluginInstance::AudioTurn::AudioTurn(PluginInstance& instance) : instance_(instance) {
    // Sequentially consistent both ways: either suspendAudio sees us inside,
    // or we see the processor taken away.
    instance_.audioInside_.store(true, std::memory_order_seq_cst);
    ready_ = instance_.audioSetup_.load(std::memory_order_seq_cst) && instance_.audioProcessor_;
}

PluginInstance::AudioTurn::~AudioTurn() {
    instance_.audioInside_.store(false, std::memory_order_release);
}

void PluginInstance::suspendAudio() {
    audioSetup_.store(false, std::memory_order_seq_cst);
    const auto deadline = std::chrono::steady_clock::now() + kAudioLeaveTimeout;
    while (audioInside_.load(std::memory_order_seq_cst)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            logError() << "[PluginInstance] The audio thread did not leave the processor: going on all the same";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

tresult PluginInstance::activate(const ProcessSetup& wanted) {
    if (!component_) {
        logError() << "[PluginInstance] No component for audio setup";
        return kResultFalse;
    }
    suspendAudio();
    // A set-up is only taken by an inactive processor.
    deactivate();
    if (!processor()) {
        logError() << "[PluginInstance] Component doesn't support IAudioProcessor";
        return kNoInterface;
    }

    // The buses the block is built from (a host that never asked gets the defaults).
    activateDefaultBuses();
    readLayout();
    ProcessSetup setup = wanted;
    tresult result = audioProcessor_->setupProcessing(setup);
    if (result != kResultOk) {
        logError() << "[PluginInstance] setupProcessing failed: " << result;
        return result;
    }
    logInfo() << "[PluginInstance] Audio setup: " << setup.sampleRate << " Hz, " << setup.maxSamplesPerBlock
              << " samples" << (setup.processMode == kOffline ? ", offline" : "")
              << (setup.processMode == kPrefetch ? ", prefetch" : "");

    result = component_->setActive(true);
    if (result != kResultOk) {
        logError() << "[PluginInstance] setActive(true) failed: " << result;
        return result;
    }
    logInfo() << "[PluginInstance] Component activated";
    active_ = true;
    sampleRate_ = setup.sampleRate;
    maxBlockSize_ = setup.maxSamplesPerBlock;
    processMode_ = setup.processMode;
    sampleSize_ = setup.symbolicSampleSize;
    audioSetup_.store(true, std::memory_order_release);
    return kResultOk;
}

void PluginInstance::deactivate() {
    suspendAudio();
    if (!active_) return;
    if (processing_) {
        audioProcessor_->setProcessing(false);
        processing_ = false;
        logInfo() << "[PluginInstance] Processing stopped";
    }
    component_->setActive(false);
    active_ = false;
    logInfo() << "[PluginInstance] Component deactivated";
}

void PluginInstance::followProcessing(bool processing) {
    const AudioTurn turn(*this);
    if (turn.ready()) applyProcessing(processing);
}

void PluginInstance::applyProcessing(bool processing) {
    if (processing == processing_) return;
    // Plug-ins that do nothing here answer kNotImplemented: the state follows
    // the host's all the same.
    const tresult result = audioProcessor_->setProcessing(processing);
    processing_ = processing;
    logFromAudio("[PluginInstance] Processing %s (%d)", processing ? "started" : "stopped", static_cast<int>(result));
}

bool PluginInstance::setupAudio(double sampleRate, std::int32_t maxBlockSize) {
    const ProcessSetup setup{kRealtime, kSample32, maxBlockSize, sampleRate};
    if (activate(setup) != kResultOk) return false;
    followProcessing(true);
    logInfo() << "[PluginInstance] Audio processing enabled";
    return true;
}

}  // namespace Tandem
