// OutpostApplication: the served plug-in's parameters in the parameter
// region, and the wake-up of the main thread for the Linux side's requests.
#include "application.h"

#include "linux_calls.h"
#include "protocol/futex.h"

#include <chrono>

namespace Tandem {

void OutpostApplication::startParameters() {
    if (!plugin_ || !parameterData_) return;
    parameters_ = std::make_unique<ParameterListWriter>(*parameterData_, plugin_->controller());
    // Before the list: a Linux side that has the list knows them too.
    midi_ = std::make_unique<MidiMappingWriter>(*parameterData_, plugin_->component(), plugin_->controller());
    midi_->publish();
    parameters_->publishList();
    plugin_->relayEditsTo(&parameterData_->edits, &parameterData_->request.hostListens);
}

void OutpostApplication::serviceParameterRegion() {
    if (!parameters_) return;
    parameters_->takeHostValues();
    if (!midi_->serveRequest(linuxCalls_)) parameters_->serveRequest(linuxCalls_);
    // A list announced by the plug-in is published before the host hears
    // of it, so that the host reads the new one.
    Steinberg::int32 flags = plugin_->takeParameterAnnouncement();
    if (flags & (Steinberg::Vst::kParamTitlesChanged | kParamIdMappingChanged))
        flags |= parameters_->publishList();
    // A new MIDI mapping, too, is published before the host asks again.
    if (flags & Steinberg::Vst::kMidiCCAssignmentChanged) midi_->publishMapping();
    parameters_->publishValues();
    if (flags) plugin_->relayRestart(flags);
    plugin_->flushEditRelay();
}

void OutpostApplication::publishParametersAfterState() {
    if (!parameters_) return;
    // A state may bring another list (a plug-in that builds it from its
    // state) without the plug-in saying so.
    const Steinberg::int32 flags = parameters_->publishList() | plugin_->takeParameterAnnouncement();
    if (flags & Steinberg::Vst::kMidiCCAssignmentChanged) midi_->publishMapping();
    parameters_->publishValues();
    if (flags) plugin_->relayRestart(flags);
}

void OutpostApplication::startWaker() {
    if (!linuxCalls_ || !parameterData_ || wakerRunning_) return;
    wakerRunning_ = true;
    waker_ = std::thread([this] {
        std::atomic<std::int32_t>& word = parameterData_->request.wake;
        std::int32_t seen = word.load(std::memory_order_acquire);
        // stopWaker wakes it at the end; the time-out is a safety net.
        while (wakerRunning_.load(std::memory_order_relaxed)) {
            futexWait(&word, seen, std::chrono::nanoseconds(std::chrono::seconds(1)).count());
            const std::int32_t now = word.load(std::memory_order_acquire);
            if (now == seen) continue;
            seen = now;
            hostThread_.wake();
        }
    });
}

void OutpostApplication::stopWaker() {
    if (!wakerRunning_) return;
    wakerRunning_ = false;
    if (parameterData_) futexWake(&parameterData_->request.wake);
    if (waker_.joinable()) waker_.join();
}

}  // namespace Tandem
