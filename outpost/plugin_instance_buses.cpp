// PluginInstance: the served component's buses, published for the host, and
// the host's calls about them.

#include "plugin_instance.h"
#include "log/log.h"
#include "protocol/bus_layout.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

IAudioProcessor* PluginInstance::processor() {
    if (!audioProcessor_ && component_) {
        IAudioProcessor* processor = nullptr;
        if (component_->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&processor)) == kResultOk &&
            processor) {
            audioProcessor_ = processor;
            logInfo() << "[PluginInstance] Got IAudioProcessor interface";
        }
    }
    return audioProcessor_;
}

void PluginInstance::activateDefaultBuses() {
    if (!component_ || busesActivated_) return;
    busesActivated_ = true;
    for (MediaType type : {kAudio, kEvent}) {
        for (BusDirection dir : {kInput, kOutput}) {
            const int32 count = component_->getBusCount(type, dir);
            for (int32 i = 0; i < count; ++i) {
                BusInfo info{};
                if (component_->getBusInfo(type, dir, i, info) != kResultOk) continue;
                // The main audio buses were always activated; others as their plug-in asks.
                const std::int32_t kind = (type == kEvent ? kEventInputs : kAudioInputs) + dir;
                if (((info.flags & BusInfo::kDefaultActive) || (type == kAudio && i == 0)) && i < maxBuses(kind) &&
                    component_->activateBus(type, dir, i, true) == kResultOk)
                    activeBuses_[kind][i] = true;
            }
        }
    }
}

void PluginInstance::readLayout(BusList* list) {
    ServedLayout layout;
    std::int32_t sampleSizes = 0;
    if (component_) {
        for (std::int32_t kind = 0; kind < kBusKinds; ++kind) {
            const MediaType type = kind < kEventInputs ? kAudio : kEvent;
            const BusDirection dir = kind % 2 == 0 ? kInput : kOutput;
            std::int32_t count = component_->getBusCount(type, dir);
            if (count > maxBuses(kind)) {
                logError() << "[PluginInstance] The served plug-in has " << count << " " << (type == kAudio ? "audio" : "event")
                           << (dir == kInput ? " inputs" : " outputs") << "; the host gets the first " << maxBuses(kind);
                count = maxBuses(kind);
            }
            count = count < 0 ? 0 : count;
            for (std::int32_t i = 0; i < count; ++i) {
                BusInfo info{};
                component_->getBusInfo(type, dir, i, info);
                SpeakerArrangement arrangement = 0;
                if (type == kAudio) {
                    if (processor()) audioProcessor_->getBusArrangement(dir, i, arrangement);
                    layout.channels[dir][i] = info.channelCount < 0 ? 0 : info.channelCount;
                }
                if (list) {
                    BusRecord& record = busRecord(*list, kind, i);
                    writeBusInfo(record, info);
                    record.arrangement = arrangement;
                    record.active = activeBuses_[kind][i] ? 1 : 0;
                }
            }
            if (type == kAudio)
                layout.audioBuses[dir] = count;
            else
                layout.eventBuses[dir] = count;
            if (list) list->counts[kind] = count;
        }
        if (processor()) {
            if (audioProcessor_->canProcessSampleSize(kSample32) == kResultTrue) sampleSizes |= kTakes32;
            if (audioProcessor_->canProcessSampleSize(kSample64) == kResultTrue) sampleSizes |= kTakes64;
        }
    }
    if (list) list->sampleSizes = sampleSizes;
    // The audio thread builds its blocks from the layout: it changes while
    // that thread leaves the processor alone.
    const bool running = audioSetup_.load(std::memory_order_seq_cst);
    if (running) suspendAudio();
    layout_ = layout;
    if (running) audioSetup_.store(true, std::memory_order_seq_cst);
}

void PluginInstance::publishBuses(BusList& list) {
    writeBusList(list, [this](BusList& to) { readLayout(&to); });
    logInfo() << "[PluginInstance] Buses published: audio " << layout_.audioBuses[0] << " in, " << layout_.audioBuses[1]
              << " out; events " << layout_.eventBuses[0] << " in, " << layout_.eventBuses[1] << " out";
}

tresult PluginInstance::setBusArrangements(const BusRequest& request) {
    if (!processor()) return kResultFalse;
    const int32 inputs = clampCount(request.inputCount, kMaxAudioBuses);
    const int32 outputs = clampCount(request.outputCount, kMaxAudioBuses);
    SpeakerArrangement in[kMaxAudioBuses], out[kMaxAudioBuses];
    for (int32 i = 0; i < inputs; ++i) in[i] = request.inputs[i];
    for (int32 i = 0; i < outputs; ++i) out[i] = request.outputs[i];
    const tresult result = audioProcessor_->setBusArrangements(in, inputs, out, outputs);
    logInfo() << "[PluginInstance] setBusArrangements(" << inputs << " in, " << outputs << " out): " << result;
    return result;
}

tresult PluginInstance::activateBus(const BusRequest& request) {
    if (!component_) return kResultFalse;
    const MediaType type = request.mediaType == kEvent ? kEvent : kAudio;
    const BusDirection dir = request.direction == kOutput ? kOutput : kInput;
    const std::int32_t kind = (type == kEvent ? kEventInputs : kAudioInputs) + (dir == kOutput ? 1 : 0);
    if (request.index < 0 || request.index >= maxBuses(kind)) return kInvalidArgument;
    const tresult result = component_->activateBus(type, dir, request.index, request.state != 0);
    if (result == kResultOk) activeBuses_[kind][request.index] = request.state != 0;
    logInfo() << "[PluginInstance] activateBus(" << (type == kEvent ? "event" : "audio") << ", "
              << (dir == kOutput ? "output" : "input") << ", " << request.index << ", " << request.state << "): " << result;
    return result;
}

tresult PluginInstance::setIoMode(std::int32_t mode) {
    if (!component_) return kResultFalse;
    return component_->setIoMode(mode);
}

tresult PluginInstance::routingInfo(BusRequest& request) {
    if (!component_) return kResultFalse;
    RoutingInfo in{request.routing[0], request.routing[1], request.routing[2]};
    RoutingInfo out{};
    const tresult result = component_->getRoutingInfo(in, out);
    request.routing[3] = out.mediaType;
    request.routing[4] = out.busIndex;
    request.routing[5] = out.channel;
    return result;
}

}  // namespace Tandem
