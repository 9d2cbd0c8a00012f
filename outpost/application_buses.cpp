// OutpostApplication: the served buses in the bus region, the host's bus
// commands, the blocks of any buses, and the restarts the served plug-in
// asks its host for besides those about parameters.
#include "application.h"

#include "log/log.h"
#include "protocol/event_data.h"

namespace Tandem {

void OutpostApplication::startBuses() {
    if (!plugin_ || !busData_) return;
    plugin_->activateDefaultBuses();
    plugin_->publishBuses(busData_->list);
}

void OutpostApplication::handleBusCommand(std::int32_t code) {
    if (!plugin_ || !busData_) return;
    BusRequest& request = busData_->request;
    switch (code) {
    case kSetBusArrangementsCommand:
        request.result = plugin_->setBusArrangements(request);
        break;
    case kActivateBusCommand:
        request.result = plugin_->activateBus(request);
        break;
    case kSetIoModeCommand:
        request.result = plugin_->setIoMode(request.ioMode);
        break;
    case kGetRoutingInfoCommand:
        request.result = plugin_->routingInfo(request);
        return;
    default:
        return;
    }
    // The host reads the buses back at once.
    plugin_->publishBuses(busData_->list);
}

void OutpostApplication::relayOtherRestarts() {
    if (!plugin_) return;
    const Steinberg::int32 flags = plugin_->takeOtherAnnouncement();
    if (!flags) return;
    if (busData_ && (flags & (Steinberg::Vst::kIoChanged | Steinberg::Vst::kIoTitlesChanged)))
        plugin_->publishBuses(busData_->list);
    plugin_->relayRestart(flags);
}

void OutpostApplication::processBusBlock(std::int32_t samples, HostBlock& host) {
    BusBlock& block = busData_->block;
    const std::int32_t sampleSize = block.sampleSize == Steinberg::Vst::kSample64 ? Steinberg::Vst::kSample64
                                                                                   : Steinberg::Vst::kSample32;
    BlockAudio in, out;
    in.base = busData_->inputPool;
    out.base = busData_->outputPool;
    in.stride = out.stride = channelStride(samples, sampleSize);
    in.busCount = clampCount(block.inputCount, kMaxAudioBuses);
    out.busCount = clampCount(block.outputCount, kMaxAudioBuses);
    for (std::int32_t b = 0; b < in.busCount; ++b) {
        in.channels[b] = block.inputChannels[b];
        in.silence[b] = block.inputSilence[b];
    }
    for (std::int32_t b = 0; b < out.busCount; ++b) out.channels[b] = block.outputChannels[b];
    plugin_->processBlock(samples, sampleSize, in, out, &host);
    for (std::int32_t b = 0; b < out.busCount; ++b) block.outputSilence[b] = out.silence[b];
}

}  // namespace Tandem
