// PluginInstance: block processing, with what the host gave beside the audio.

#include "plugin_instance.h"
#include "log/log.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "protocol/block_parameters.h"
#include "protocol/tandem_protocol.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

// Copies channels 0..numChannels-1 from input slots to output slots.
void copyThrough(const float* input, float* output, std::int32_t numSamples, std::int32_t numChannels) {
    for (std::int32_t c = 0; c < numChannels; ++c) {
        const float* src = input + static_cast<std::ptrdiff_t>(c) * kMaxBlockSize;
        float* dst = output + static_cast<std::ptrdiff_t>(c) * kMaxBlockSize;
        for (std::int32_t i = 0; i < numSamples; ++i) dst[i] = src[i];
    }
}

}  // namespace

bool PluginInstance::processAudio(const float* input, float* output, std::int32_t numSamples,
                                  std::int32_t numChannels, HostBlock* host) {
    // Process-wide: one set for all instances (outpost has one), touched only
    // by the audio thread.
    static std::int32_t processCallCount = 0;
    static bool everModified = false;
    HostBlock realTime;
    if (!host) host = &realTime;

    ++processCallCount;
    // The counts come from a file another process writes: bound them to the
    // slots before anything is built or copied.
    numSamples = clampCount(numSamples, kMaxBlockSize);
    numChannels = clampCount(numChannels, kMaxChannels);

    // What passes through comes out as silent as it went in, and reports nothing.
    host->outputSilenceFlags = host->inputSilenceFlags;
    host->outputPointCount = 0;
    const AudioTurn turn(*this);
    if (!turn.ready()) {
        if (processCallCount <= 5)
            logFromAudio("[PluginInstance] PASSTHROUGH - audioProcessor_=%#llx audioSetup_=%d",
                         static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(audioProcessor_)),
                         audioSetup_ ? 1 : 0);
        copyThrough(input, output, numSamples, numChannels);
        return false;
    }
    applyProcessing(host->processing);

    Sample32* inputChannels[kMaxChannels] = {};
    Sample32* outputChannels[kMaxChannels] = {};
    for (std::int32_t c = 0; c < numChannels; ++c) {
        // The plug-in's interface takes non-const channel pointers; inputs are
        // only read.
        inputChannels[c] = const_cast<float*>(input) + static_cast<std::ptrdiff_t>(c) * kMaxBlockSize;
        outputChannels[c] = output + static_cast<std::ptrdiff_t>(c) * kMaxBlockSize;
    }
    AudioBusBuffers inputBus;
    inputBus.numChannels = numChannels;
    inputBus.silenceFlags = host->inputSilenceFlags;
    inputBus.channelBuffers32 = inputChannels;
    AudioBusBuffers outputBus;
    outputBus.numChannels = numChannels;
    outputBus.silenceFlags = 0;
    outputBus.channelBuffers32 = outputChannels;

    ProcessData data;
    data.processMode = host->processMode;
    data.symbolicSampleSize = kSample32;
    data.numSamples = numSamples;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &inputBus;
    data.outputs = &outputBus;
    // The host's changes and the controller's edits, and room for the values
    // the processor reports back.
    gatherChanges(*host, numSamples);
    outputChanges_.clear();
    data.inputParameterChanges = &inputChanges_;
    data.outputParameterChanges = &outputChanges_;
    data.inputEvents = nullptr;
    data.outputEvents = nullptr;
    // The host's own context, or none: nothing is made up.
    data.processContext = host->context;

    const tresult result = audioProcessor_->process(data);
    collectOutputChanges(host);
    host->outputSilenceFlags = outputBus.silenceFlags;
    if (result != kResultOk) {
        host->outputSilenceFlags = host->inputSilenceFlags;
        if (processCallCount <= 5) logFromAudio("[PluginInstance] process() FAILED: %d", static_cast<int>(result));
        copyThrough(input, output, numSamples, numChannels);
        return false;
    }

    // An empty block has no first sample and cannot have been modified.
    const bool hasSample = numChannels > 0 && numSamples > 0;
    const float in0 = hasSample ? input[0] : 0.0f;
    const float out0 = hasSample ? output[0] : 0.0f;
    const bool modified = hasSample && !(in0 == out0);  // NaN on either side counts as modified

    if (modified && !everModified) {
        everModified = true;
        logFromAudio("[PluginInstance] *** AUDIO EFFECT ACTIVATED at block %d (after %g seconds) ***", processCallCount,
                     static_cast<double>(processCallCount) * 256.0 / 48000.0);
    }
    if (processCallCount <= 5 || processCallCount % 1000 == 0)
        logFromAudio("[PluginInstance] process() #%d in[0]=%g out[0]=%g modified=%s", processCallCount,
                     static_cast<double>(in0), static_cast<double>(out0), modified ? "YES" : "NO");
    return true;
}

bool PluginInstance::flushParameterChanges() {
    const AudioTurn turn(*this);
    if (!turn.ready()) return false;
    inputChanges_.clear();
    const bool held = !heldEdits_.empty();
    heldEdits_.release(inputChanges_, HeldEdits::Clock::now(), true);
    if (toProcessor_.drainInto(inputChanges_) == 0 && !held) return true;
    outputChanges_.clear();
    // No audio: no buses, no samples, no transport; only the changes.
    ProcessData data;
    data.processMode = processMode_;
    data.symbolicSampleSize = kSample32;
    data.numSamples = 0;
    data.numInputs = 0;
    data.numOutputs = 0;
    data.inputs = nullptr;
    data.outputs = nullptr;
    data.inputParameterChanges = &inputChanges_;
    data.outputParameterChanges = &outputChanges_;
    data.inputEvents = nullptr;
    data.outputEvents = nullptr;
    data.processContext = nullptr;
    const tresult result = audioProcessor_->process(data);
    collectOutputChanges();
    return result == kResultOk;
}

void PluginInstance::gatherChanges(const HostBlock& host, std::int32_t numSamples) {
    inputChanges_.clear();
    if (host.inputPoints) readPoints(host.inputPoints, host.inputPointCount, kMaxInputPoints, numSamples, inputChanges_);
    const int32 hostQueues = inputChanges_.getParameterCount();
    auto hostSends = [&](ParamID id) {
        for (int32 q = 0; q < hostQueues; ++q)
            if (inputChanges_.queue(q)->id() == id) return true;
        return false;
    };
    if (!host.holdEdits && heldEdits_.empty() && hostQueues == 0) {
        toProcessor_.drainInto(inputChanges_);
        return;
    }
    for (int32 q = 0; q < hostQueues && !heldEdits_.empty(); ++q) heldEdits_.hostSent(inputChanges_.queue(q)->id());
    // The clock only when an edit is held or to be held.
    HeldEdits::Clock::time_point now{};
    auto clock = [&now] {
        if (now == HeldEdits::Clock::time_point{}) now = HeldEdits::Clock::now();
        return now;
    };
    ParameterEdit edit{};
    while (toProcessor_.take(edit)) {
        // In this block the host drives the parameter.
        if (hostSends(edit.id)) continue;
        if (!host.holdEdits || !heldEdits_.hold(edit.id, edit.value, clock())) inputChanges_.setValue(edit.id, edit.value);
    }
    if (!heldEdits_.empty()) heldEdits_.release(inputChanges_, clock(), !host.holdEdits);
}

void PluginInstance::collectOutputChanges(HostBlock* host) {
    for (int32 i = 0; i < outputChanges_.getParameterCount(); ++i) {
        ParamValueQueue* queue = outputChanges_.queue(i);
        ParamValue value = 0.0;
        if (!queue->lastValue(value)) continue;
        if (!fromProcessor_.push({queue->id(), value})) droppedOutputs_.fetch_add(1, std::memory_order_relaxed);
    }
    if (!host || !host->outputPoints) return;
    PointsCut cut = PointsCut::None;
    host->outputPointCount = writePoints(&outputChanges_, host->outputPoints, kMaxOutputPoints, cut);
    if (cut != PointsCut::None) {
        // First occurrences, then every 1000th.
        static std::uint32_t cuts = 0;
        if (++cuts <= 3 || cuts % 1000 == 0)
            logFromAudio("[PluginInstance] The processor reported more parameter points than the host's block "
                         "takes (%d): %s (%u blocks so far)",
                         static_cast<int>(kMaxOutputPoints),
                         cut == PointsCut::ToLastPoints ? "kept the last point of each" : "left parameters out",
                         cuts);
    }
}

}  // namespace Tandem
