#include "quill_bus_shapes.h"

#include <cmath>

#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

constexpr const char* kOutNames[16] = {"Out 1", "Out 2",  "Out 3",  "Out 4",  "Out 5",  "Out 6",  "Out 7",  "Out 8",
                                       "Out 9", "Out 10", "Out 11", "Out 12", "Out 13", "Out 14", "Out 15", "Out 16"};

void copyName (const char* text, String128 out)
{
	int i = 0;
	for (; text[i] && i < 127; ++i)
		out[i] = static_cast<char16> (text[i]);
	out[i] = 0;
}

Sample32** channels32 (AudioBusBuffers& bus)
{
	return bus.channelBuffers32;
}
Sample64** channels64 (AudioBusBuffers& bus)
{
	return bus.channelBuffers64;
}

} // namespace

QuillBusShapes::QuillBusShapes (Shape shape) : shape_ (shape)
{
	withoutEditor ();
	switch (shape)
	{
	case Shape::Instrument:
		outputs_[0] = {"Synth Out", SpeakerArr::kStereo, true};
		outputCount_ = 1;
		eventInputs_ = eventOutputs_ = 1;
		break;
	case Shape::SideChain:
		inputs_[0] = {"Main In", SpeakerArr::kStereo, true};
		inputs_[1] = {"Side-chain", SpeakerArr::kStereo, false};
		outputs_[0] = {"Main Out", SpeakerArr::kStereo, true};
		inputCount_ = 2;
		outputCount_ = 1;
		break;
	case Shape::Midi:
		eventInputs_ = eventOutputs_ = 1;
		break;
	case Shape::MultiOut:
		for (int32 i = 0; i < 16; ++i)
			outputs_[i] = {kOutNames[i], SpeakerArr::kStereo, i == 0};
		outputCount_ = 16;
		eventInputs_ = 1;
		break;
	case Shape::Mono:
	case Shape::Surround:
	{
		const SpeakerArrangement arrangement = shape == Shape::Mono ? SpeakerArr::kMono : SpeakerArr::k51;
		inputs_[0] = {"In", arrangement, true};
		outputs_[0] = {"Out", arrangement, true};
		inputCount_ = outputCount_ = 1;
		break;
	}
	}
}

const QuillBusShapes::Bus* QuillBusShapes::audioBus (BusDirection dir, int32 index) const
{
	const int32 count = dir == kInput ? inputCount_ : outputCount_;
	if (index < 0 || index >= count)
		return nullptr;
	return dir == kInput ? &inputs_[index] : &outputs_[index];
}

int32 PLUGIN_API QuillBusShapes::getBusCount (MediaType type, BusDirection dir)
{
	if (type == kAudio)
		return dir == kInput ? inputCount_ : outputCount_;
	return dir == kInput ? eventInputs_ : eventOutputs_;
}

tresult PLUGIN_API QuillBusShapes::getBusInfo (MediaType type, BusDirection dir, int32 index, BusInfo& bus)
{
	bus.mediaType = type;
	bus.direction = dir;
	if (type == kEvent)
	{
		if (index != 0 || index >= getBusCount (type, dir))
			return kInvalidArgument;
		bus.channelCount = 16;
		copyName (dir == kInput ? "MIDI In" : "MIDI Out", bus.name);
		bus.busType = kMain;
		bus.flags = BusInfo::kDefaultActive;
		return kResultOk;
	}
	const Bus* found = audioBus (dir, index);
	if (!found)
		return kInvalidArgument;
	bus.channelCount = SpeakerArr::getChannelCount (found->arrangement);
	copyName (found->name, bus.name);
	bus.busType = found->main ? kMain : kAux;
	bus.flags = found->main ? BusInfo::kDefaultActive : 0;
	return kResultOk;
}

tresult PLUGIN_API QuillBusShapes::activateBus (MediaType type, BusDirection dir, int32 index, TBool)
{
	return index >= 0 && index < getBusCount (type, dir) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API QuillBusShapes::setBusArrangements (SpeakerArrangement* inputs, int32 numIns,
                                                       SpeakerArrangement* outputs, int32 numOuts)
{
	if (numIns != inputCount_ || numOuts != outputCount_)
		return kResultFalse;
	for (int32 i = 0; i < numIns; ++i)
		if (inputs[i] != inputs_[i].arrangement)
			return kResultFalse;
	for (int32 i = 0; i < numOuts; ++i)
		if (outputs[i] != outputs_[i].arrangement)
			return kResultFalse;
	return kResultTrue;
}

tresult PLUGIN_API QuillBusShapes::getBusArrangement (BusDirection dir, int32 index, SpeakerArrangement& arr)
{
	const Bus* found = audioBus (dir, index);
	if (!found)
		return kInvalidArgument;
	arr = found->arrangement;
	return kResultOk;
}

tresult PLUGIN_API QuillBusShapes::canProcessSampleSize (int32 symbolicSampleSize)
{
	const bool doubles = shape_ == Shape::Instrument && symbolicSampleSize == kSample64;
	return symbolicSampleSize == kSample32 || doubles ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillBusShapes::setupProcessing (ProcessSetup& setup)
{
	if (canProcessSampleSize (setup.symbolicSampleSize) != kResultTrue || !(setup.sampleRate > 0.0))
		return kResultFalse;
	rate_ = setup.sampleRate;
	return kResultOk;
}

template <typename Sample>
void QuillBusShapes::render (ProcessData& data, Sample** (*channels) (AudioBusBuffers&))
{
	IEventList* events = data.inputEvents;
	const int32 count = events ? events->getEventCount () : 0;
	int32 next = 0;
	Event e {};
	bool pending = count > 0 && events->getEvent (next, e) == kResultOk;
	Sample** out = data.numOutputs > 0 ? channels (data.outputs[0]) : nullptr;
	const int32 outChannels = data.numOutputs > 0 ? data.outputs[0].numChannels : 0;
	for (int32 i = 0; i < data.numSamples; ++i)
	{
		// The events of this sample, in order.
		while (pending && e.sampleOffset <= i)
		{
			if (e.type == Event::kNoteOnEvent && e.noteOn.velocity > 0.0f)
			{
				notePitch_ = e.noteOn.pitch;
				frequency_ = 440.0 * std::pow (2.0, (e.noteOn.pitch - 69 + e.noteOn.tuning / 100.0) / 12.0);
				phase_ = 0.0;
				level_ = e.noteOn.velocity;
			}
			else if ((e.type == Event::kNoteOffEvent && e.noteOff.pitch == notePitch_) ||
			         (e.type == Event::kNoteOnEvent && e.noteOn.pitch == notePitch_))
			{
				level_ = 0.0;
				notePitch_ = -1;
			}
			pending = ++next < count && events->getEvent (next, e) == kResultOk;
		}
		const double sample = level_ > 0.0 ? level_ * std::sin (phase_) : 0.0;
		if (level_ > 0.0)
			phase_ += 2.0 * 3.14159265358979323846 * frequency_ / rate_;
		for (int32 c = 0; out && c < outChannels; ++c)
			out[c][i] = static_cast<Sample> (sample);
	}
	// Every output bus sounds as the first.
	for (int32 b = 1; b < data.numOutputs && out; ++b)
	{
		Sample** to = channels (data.outputs[b]);
		for (int32 c = 0; to && c < data.outputs[b].numChannels && c < outChannels; ++c)
			for (int32 i = 0; i < data.numSamples; ++i)
				to[c][i] = out[c][i];
	}
}

tresult PLUGIN_API QuillBusShapes::process (ProcessData& data)
{
	applyParameterChanges (data);
	// Every event back, unchanged.
	if (data.inputEvents && data.outputEvents && eventOutputs_ > 0)
	{
		Event e {};
		for (int32 i = 0; i < data.inputEvents->getEventCount (); ++i)
			if (data.inputEvents->getEvent (i, e) == kResultOk)
				data.outputEvents->addEvent (e);
	}
	if (data.numSamples <= 0)
		return kResultOk;
	const bool doubles = data.symbolicSampleSize == kSample64;
	if (shape_ == Shape::Instrument || shape_ == Shape::MultiOut)
	{
		if (doubles)
			render<Sample64> (data, channels64);
		else
			render<Sample32> (data, channels32);
		return kResultOk;
	}
	// The effects: main input, plus the side-chain where there is one.
	if (doubles || data.numInputs < 1 || data.numOutputs < 1)
		return kResultOk;
	AudioBusBuffers& out = data.outputs[0];
	for (int32 c = 0; c < out.numChannels; ++c)
	{
		for (int32 i = 0; i < data.numSamples; ++i)
		{
			float value = c < data.inputs[0].numChannels ? data.inputs[0].channelBuffers32[c][i] : 0.0f;
			if (data.numInputs > 1 && c < data.inputs[1].numChannels)
				value += data.inputs[1].channelBuffers32[c][i];
			out.channelBuffers32[c][i] = value;
		}
	}
	out.silenceFlags = 0;
	return kResultOk;
}

} // namespace Quill
