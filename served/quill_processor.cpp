#include "quill_processor.h"

#include <cstdio>
#include <cstring>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"
#include "quill_ids.h"
#include "quill_message.h"
#include "quill_stream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

void copyName (const char* text, String128 out)
{
	int i = 0;
	for (; text[i] && i < 127; ++i)
		out[i] = static_cast<char16> (text[i]);
	out[i] = 0;
}

} // namespace

QuillProcessor::QuillProcessor ()
{
	dsp_.prepare (sampleRate_);
}

QuillProcessor::~QuillProcessor ()
{
	if (peer_)
		peer_->release ();
}

tresult PLUGIN_API QuillProcessor::initialize (FUnknown*)
{
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::terminate ()
{
	// Drops the controller's connection point so that neither side keeps the
	// other alive after the host lets go.
	if (peer_)
	{
		peer_->release ();
		peer_ = nullptr;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::getControllerClassId (TUID classId)
{
	std::memcpy (classId, kControllerUID.toTUID (), sizeof (TUID));
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::setIoMode (IoMode)
{
	return kResultOk;
}

int32 PLUGIN_API QuillProcessor::getBusCount (MediaType type, BusDirection)
{
	return type == kAudio ? 1 : 0;
}

tresult PLUGIN_API QuillProcessor::getBusInfo (MediaType type, BusDirection dir, int32 index, BusInfo& bus)
{
	if (type != kAudio || index != 0)
		return kInvalidArgument;
	bus.mediaType = kAudio;
	bus.direction = dir;
	bus.channelCount = 2;
	copyName (dir == kInput ? "Stereo In" : "Stereo Out", bus.name);
	bus.busType = kMain;
	bus.flags = BusInfo::kDefaultActive;
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::getRoutingInfo (RoutingInfo&, RoutingInfo&)
{
	return kNotImplemented;
}

tresult PLUGIN_API QuillProcessor::activateBus (MediaType type, BusDirection dir, int32 index, TBool state)
{
	if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput))
		return kInvalidArgument;
	busActive_[dir] = state != 0;
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::setActive (TBool state)
{
	if (state && !active_)
		dsp_.reset ();
	active_ = state != 0;
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::setState (IBStream* stream)
{
	if (!stream)
		return kInvalidArgument;
	QuillParams params {};
	if (!readState (stream, params))
		return kResultFalse;
	gain_.store (params.gain);
	tone_.store (params.tone);
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::getState (IBStream* stream)
{
	if (!stream)
		return kInvalidArgument;
	std::uint8_t bytes[kStateSize];
	encodeState (currentParams (), bytes);
	int32 written = 0;
	if (stream->write (bytes, sizeof bytes, &written) != kResultOk || written != static_cast<int32> (sizeof bytes))
		return kResultFalse;
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::setBusArrangements (SpeakerArrangement* inputs, int32 numIns,
                                                       SpeakerArrangement* outputs, int32 numOuts)
{
	// Quill is stereo only; the host keeps the default arrangement on refusal.
	if (numIns != 1 || numOuts != 1 || !inputs || !outputs)
		return kResultFalse;
	return inputs[0] == SpeakerArr::kStereo && outputs[0] == SpeakerArr::kStereo ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillProcessor::getBusArrangement (BusDirection, int32 index, SpeakerArrangement& arr)
{
	if (index != 0)
		return kInvalidArgument;
	arr = SpeakerArr::kStereo;
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::canProcessSampleSize (int32 symbolicSampleSize)
{
	return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillProcessor::setupProcessing (ProcessSetup& setup)
{
	if (setup.symbolicSampleSize != kSample32 || !(setup.sampleRate > 0.0))
		return kResultFalse;
	sampleRate_ = setup.sampleRate;
	dsp_.prepare (sampleRate_);
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::setProcessing (TBool state)
{
	if (state && !processing_)
		dsp_.reset ();
	processing_ = state != 0;
	return kResultOk;
}

void QuillProcessor::applyParameterChanges (ProcessData& data)
{
	IParameterChanges* changes = data.inputParameterChanges;
	if (!changes)
		return;
	const int32 count = changes->getParameterCount ();
	for (int32 i = 0; i < count; ++i)
	{
		IParamValueQueue* queue = changes->getParameterData (i);
		if (!queue || queue->getPointCount () <= 0)
			continue;
		int32 offset = 0;
		ParamValue value = 0.0;
		// The block is processed with one value: the last one of the block.
		if (queue->getPoint (queue->getPointCount () - 1, offset, value) == kResultOk)
			applyParameter (queue->getParameterId (), value);
	}
}

tresult PLUGIN_API QuillProcessor::process (ProcessData& data)
{
	applyParameterChanges (data);
	const double gain = gain_.load (std::memory_order_relaxed);
	const double tone = tone_.load (std::memory_order_relaxed);
	if (gain != dsp_.gain ())
		dsp_.setGain (gain);
	if (tone != dsp_.tone ())
		dsp_.setTone (tone);

	if (data.numSamples <= 0 || data.numOutputs < 1 || !data.outputs)
		return kResultOk;
	if (data.symbolicSampleSize != kSample32)
		return kInvalidArgument;
	AudioBusBuffers& out = data.outputs[0];
	out.silenceFlags = 0;
	if (out.numChannels <= 0)
		return kResultOk;
	if (!out.channelBuffers32)
		return kInvalidArgument;

	int32 shared = 0;
	if (data.numInputs >= 1 && data.inputs && data.inputs[0].channelBuffers32 && busActive_[kInput])
		shared = data.inputs[0].numChannels < out.numChannels ? data.inputs[0].numChannels : out.numChannels;
	if (shared > kDspMaxChannels)
		shared = kDspMaxChannels;

	if (busActive_[kOutput] && shared > 0)
		dsp_.process (data.inputs[0].channelBuffers32, out.channelBuffers32, shared, data.numSamples);
	// Output channels without a matching input (or an inactive bus) are silent.
	for (int32 c = busActive_[kOutput] ? shared : 0; c < out.numChannels; ++c)
	{
		if (!out.channelBuffers32[c])
			continue;
		std::memset (out.channelBuffers32[c], 0, sizeof (float) * static_cast<std::size_t> (data.numSamples));
	}
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::connect (IConnectionPoint* other)
{
	if (!other)
		return kInvalidArgument;
	if (peer_)
		return kResultFalse;
	peer_ = other;
	peer_->addRef ();
	// Tell the controller which values the audio side runs with.
	IMessage* hello = new QuillMessage;
	hello->setMessageID (kHelloMessage);
	const QuillParams params = currentParams ();
	hello->getAttributes ()->setFloat ("gain", params.gain);
	hello->getAttributes ()->setFloat ("tone", params.tone);
	peer_->notify (hello);
	hello->release ();
	return kResultOk;
}

tresult PLUGIN_API QuillProcessor::disconnect (IConnectionPoint* other)
{
	if (!peer_ || other != peer_)
		return kResultFalse;
	peer_->release ();
	peer_ = nullptr;
	return kResultOk;
}

// The audio module takes no messages: parameter edits come with process().
tresult PLUGIN_API QuillProcessor::notify (IMessage*)
{
	return kResultFalse;
}

void QuillProcessor::applyParameter (uint32 id, double normalized)
{
	if (normalized != normalized)
		return; // NaN edits are ignored
	if (id == kGainId)
		gain_.store (clampNormalized (normalized), std::memory_order_relaxed);
	else if (id == kToneId)
		tone_.store (clampNormalized (normalized), std::memory_order_relaxed);
}

QuillParams QuillProcessor::currentParams () const
{
	return {gain_.load (), tone_.load ()};
}

} // namespace Quill
