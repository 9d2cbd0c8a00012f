// Stereo buffers of one block as the test hosts hand them to process().
#pragma once

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <vector>

struct StereoBuses
{
	explicit StereoBuses (int samples)
	: in {std::vector<float> (samples), std::vector<float> (samples)}, out {std::vector<float> (samples),
	                                                                        std::vector<float> (samples)}
	{
		for (int c = 0; c < 2; ++c)
		{
			inPtrs[c] = in[c].data ();
			outPtrs[c] = out[c].data ();
		}
		inBus.numChannels = outBus.numChannels = 2;
		inBus.channelBuffers32 = inPtrs;
		outBus.channelBuffers32 = outPtrs;
		context.state = Steinberg::Vst::ProcessContext::kPlaying | Steinberg::Vst::ProcessContext::kTempoValid |
		                Steinberg::Vst::ProcessContext::kTimeSigValid;
		context.sampleRate = 48000.0;
		context.tempo = 120.0;
		context.timeSigNumerator = context.timeSigDenominator = 4;
	}
	StereoBuses (const StereoBuses&) = delete;
	StereoBuses& operator= (const StereoBuses&) = delete;

	// A real-time block of 32-bit samples over the whole buffers, with a
	// playing transport's context as hosts give it.
	Steinberg::Vst::ProcessData data ()
	{
		Steinberg::Vst::ProcessData d {};
		d.processMode = Steinberg::Vst::kRealtime;
		d.symbolicSampleSize = Steinberg::Vst::kSample32;
		d.numSamples = static_cast<Steinberg::int32> (in[0].size ());
		d.numInputs = d.numOutputs = 1;
		d.inputs = &inBus;
		d.outputs = &outBus;
		d.processContext = &context;
		return d;
	}

	std::vector<float> in[2], out[2];
	float* inPtrs[2];
	float* outPtrs[2];
	Steinberg::Vst::AudioBusBuffers inBus {}, outBus {};
	Steinberg::Vst::ProcessContext context {};
};
