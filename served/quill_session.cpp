#include "quill_session.h"

#include <cmath>
#include <cstring>

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

void clear (float* channel, int32 from, int32 to)
{
	if (channel && to > from)
		std::memset (channel + from, 0, sizeof (float) * static_cast<std::size_t> (to - from));
}

} // namespace

uint32 QuillSession::requestedLatency () const
{
	return static_cast<uint32> (std::lround (currentParams ().tone * kSessionLatencyRange));
}

tresult PLUGIN_API QuillSession::setupProcessing (ProcessSetup& setup)
{
	++session_.setups;
	session_.setupMaxBlock = setup.maxSamplesPerBlock;
	session_.setupMode = setup.processMode;
	session_.setupSampleSize = setup.symbolicSampleSize;
	session_.setupRate = setup.sampleRate;
	return QuillSingle::setupProcessing (setup);
}

tresult PLUGIN_API QuillSession::setActive (TBool state)
{
	if (state)
	{
		++session_.activations;
		appliedLatency_ = requestedLatency ();
	}
	else
	{
		++session_.deactivations;
	}
	return QuillSingle::setActive (state);
}

tresult PLUGIN_API QuillSession::setProcessing (TBool state)
{
	if (state)
		++session_.processingStarts;
	else
		++session_.processingStops;
	session_.processing = state ? 1 : 0;
	return QuillSingle::setProcessing (state);
}

tresult PLUGIN_API QuillSession::process (ProcessData& data)
{
	if (data.numSamples < kSessionReportSamples || data.symbolicSampleSize != kSample32 || data.numOutputs < 1 ||
	    !data.outputs)
		return QuillSingle::process (data);
	AudioBusBuffers& out = data.outputs[0];
	if (out.numChannels < 1 || !out.channelBuffers32 || !out.channelBuffers32[0])
		return QuillSingle::process (data);

	// Edits still reach the parameters; Quill's sound takes them up in the
	// next short block.
	applyParameterChanges (data);

	const AudioBusBuffers* in = data.numInputs >= 1 && data.inputs ? &data.inputs[0] : nullptr;
	const uint64 inputFlags = in ? in->silenceFlags : 0;

	SessionReport report = session_;
	report.magic = kSessionReportMagic;
	report.blockMode = data.processMode;
	report.numSamples = data.numSamples;
	if (const ProcessContext* context = data.processContext)
	{
		report.hasContext = 1;
		report.contextState = context->state;
		report.sampleRate = context->sampleRate;
		report.projectTimeSamples = context->projectTimeSamples;
		report.systemTime = context->systemTime;
		report.continousTimeSamples = context->continousTimeSamples;
		report.projectTimeMusic = context->projectTimeMusic;
		report.barPositionMusic = context->barPositionMusic;
		report.cycleStartMusic = context->cycleStartMusic;
		report.cycleEndMusic = context->cycleEndMusic;
		report.tempo = context->tempo;
		report.timeSigNumerator = context->timeSigNumerator;
		report.timeSigDenominator = context->timeSigDenominator;
	}
	report.inputSilenceFlags = inputFlags;

	// Channel 1 before the report, in case the host shares a buffer between
	// input 1 and output 0.
	if (out.numChannels >= 2)
	{
		float* dst = out.channelBuffers32[1];
		const float* src = in && in->numChannels >= 2 && in->channelBuffers32 ? in->channelBuffers32[1] : nullptr;
		if (dst && src)
		{
			if (dst != src)
				std::memcpy (dst, src, sizeof (float) * static_cast<std::size_t> (data.numSamples));
		}
		else
		{
			clear (dst, 0, data.numSamples);
		}
	}
	for (int32 c = 2; c < out.numChannels; ++c)
		clear (out.channelBuffers32[c], 0, data.numSamples);

	writeReport (report, out.channelBuffers32[0]);
	clear (out.channelBuffers32[0], kSessionReportSamples, data.numSamples);
	// Flipped so that a test sees the input flags arrive and the output flags return.
	out.silenceFlags = inputFlags ^ 0x3;
	return kResultOk;
}

tresult PLUGIN_API QuillSession::setState (IBStream* state)
{
	const uint32 before = requestedLatency ();
	const tresult result = QuillSingle::setState (state);
	const uint32 after = requestedLatency ();
	if (result == kResultOk && after != before && after != appliedLatency_)
		restartHost (kLatencyChanged);
	return result;
}

} // namespace Quill
