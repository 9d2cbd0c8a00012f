#include "quill_parameters.h"
#include "quill_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "quill_stream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

static_assert (kFlagCanAutomate == ParameterInfo::kCanAutomate && kFlagReadOnly == ParameterInfo::kIsReadOnly &&
                   kFlagList == ParameterInfo::kIsList && kFlagHidden == ParameterInfo::kIsHidden &&
                   kFlagProgramChange == ParameterInfo::kIsProgramChange && kFlagBypass == ParameterInfo::kIsBypass,
               "the tests read the flags from quill_parameters_ids.h");

namespace {

const char* const* namesOf (ParamID id)
{
	static const char* const kOffOn[2] = {"Off", "On"};
	switch (id)
	{
	case kParamBypass:
	case kParamEdit:
		return kOffOn;
	case kParamMode:
		return kModeNames;
	case kParamProgram:
		return kProgramNames;
	default:
		return nullptr;
	}
}

double clamped (double value)
{
	if (!(value >= 0.0))
		return 0.0;
	return value > 1.0 ? 1.0 : value;
}

void clear (float* channel, int32 samples)
{
	if (channel)
		std::memset (channel, 0, sizeof (float) * static_cast<std::size_t> (samples));
}

// Output = input times `gain` over [from, to).
void scale (const float* const* in, float* const* out, int32 channels, int32 from, int32 to, double gain)
{
	const float factor = static_cast<float> (gain);
	for (int32 c = 0; c < channels; ++c)
	{
		const float* src = in[c];
		float* dst = out[c];
		if (!src || !dst)
			continue;
		for (int32 i = from; i < to; ++i)
			dst[i] = src[i] * factor;
	}
}

} // namespace

QuillParameters::QuillParameters ()
{
	for (uint32 id = 0; id < kParametersCount; ++id)
	{
		running_[id].store (kParametersInfo[id].defaultValue);
		values_[id] = kParametersInfo[id].defaultValue;
	}
}

QuillParameters::~QuillParameters ()
{
	if (handler_)
		handler_->release ();
}

tresult PLUGIN_API QuillParameters::queryInterface (const TUID iid, void** obj)
{
	if (obj && FUnknownPrivate::iidEqual (iid, IConnectionPoint::iid))
	{
		*obj = nullptr;
		return kNoInterface;
	}
	return Extends::queryInterface (iid, obj);
}

tresult PLUGIN_API QuillParameters::initialize (FUnknown* context)
{
	return QuillProcessor::initialize (context);
}

tresult PLUGIN_API QuillParameters::terminate ()
{
	if (handler_)
	{
		handler_->release ();
		handler_ = nullptr;
	}
	return QuillProcessor::terminate ();
}

tresult PLUGIN_API QuillParameters::setState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	std::uint8_t bytes[kParametersStateSize];
	if (!readExactly (state, bytes, static_cast<int32> (sizeof bytes)))
		return kResultFalse;
	double values[kParametersCount];
	for (uint32 id = 0; id < kParametersCount; ++id)
		values[id] = running_[id].load ();
	if (!decodeParametersState (bytes, sizeof bytes, values))
		return kResultFalse;
	for (uint32 id : kParametersStateIds)
		running_[id].store (values[id]);
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::getState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	double values[kParametersCount];
	for (uint32 id = 0; id < kParametersCount; ++id)
		values[id] = running_[id].load ();
	std::uint8_t bytes[kParametersStateSize];
	encodeParametersState (values, bytes);
	int32 written = 0;
	if (state->write (bytes, sizeof bytes, &written) != kResultOk || written != static_cast<int32> (sizeof bytes))
		return kResultFalse;
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::process (ProcessData& data)
{
	// Gain steps at its points; the block starts with the value the last
	// one ended with.
	const double gainBefore = running_[kParamGain].load (std::memory_order_relaxed);
	IParamValueQueue* gainPoints = nullptr;
	if (IParameterChanges* changes = data.inputParameterChanges)
	{
		const int32 count = changes->getParameterCount ();
		for (int32 i = 0; i < count; ++i)
		{
			IParamValueQueue* queue = changes->getParameterData (i);
			if (!queue || queue->getPointCount () <= 0)
				continue;
			const ParamID id = queue->getParameterId ();
			if (id >= kParametersCount)
				continue;
			int32 offset = 0;
			ParamValue value = 0.0;
			if (queue->getPoint (queue->getPointCount () - 1, offset, value) != kResultOk || value != value)
				continue;
			running_[id].store (clamped (value), std::memory_order_relaxed);
			if (id == kParamGain)
				gainPoints = queue;
		}
	}

	const int32 samples = data.numSamples;
	if (samples <= 0 || data.numOutputs < 1 || !data.outputs)
		return kResultOk;
	if (data.symbolicSampleSize != kSample32)
		return kInvalidArgument;
	AudioBusBuffers& out = data.outputs[0];
	out.silenceFlags = 0;
	if (out.numChannels > 0 && !out.channelBuffers32)
		return kInvalidArgument;

	const AudioBusBuffers* in =
	    data.numInputs >= 1 && data.inputs && data.inputs[0].channelBuffers32 ? &data.inputs[0] : nullptr;
	int32 shared = 0;
	if (in)
		shared = in->numChannels < out.numChannels ? in->numChannels : out.numChannels;

	// The meter reads the input before an in-place block overwrites it.
	double peak = 0.0;
	if (in && in->numChannels >= 1 && in->channelBuffers32[0])
	{
		const float* src = in->channelBuffers32[0];
		for (int32 i = 0; i < samples; ++i)
		{
			const double level = std::fabs (static_cast<double> (src[i]));
			if (level > peak)
				peak = level;
		}
		peak = clamped (peak);
	}

	if (bypassed (running_[kParamBypass].load (std::memory_order_relaxed)))
	{
		for (int32 c = 0; c < shared; ++c)
		{
			const float* src = in->channelBuffers32[c];
			float* dst = out.channelBuffers32[c];
			if (!dst)
				continue;
			if (!src)
				clear (dst, samples);
			else if (dst != src)
				std::memcpy (dst, src, sizeof (float) * static_cast<std::size_t> (samples));
		}
	}
	else if (shared > 0)
	{
		int32 from = 0;
		double gain = gainBefore;
		const int32 points = gainPoints ? gainPoints->getPointCount () : 0;
		for (int32 p = 0; p < points && from < samples; ++p)
		{
			int32 offset = 0;
			ParamValue value = 0.0;
			if (gainPoints->getPoint (p, offset, value) != kResultOk || value != value)
				continue;
			const int32 to = offset < from ? from : (offset > samples ? samples : offset);
			scale (in->channelBuffers32, out.channelBuffers32, shared, from, to, gain);
			from = to;
			gain = clamped (value);
		}
		scale (in->channelBuffers32, out.channelBuffers32, shared, from, samples, gain);
	}
	for (int32 c = shared; c < out.numChannels; ++c)
		clear (out.channelBuffers32[c], samples);

	running_[kParamMeter].store (peak, std::memory_order_relaxed);
	if (IParameterChanges* outChanges = data.outputParameterChanges)
	{
		int32 index = 0;
		if (IParamValueQueue* meter = outChanges->addParameterData (kParamMeter, index))
			meter->addPoint (samples - 1, peak, index);
	}
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::setComponentState (IBStream* state)
{
	if (!state)
		return kInvalidArgument;
	std::uint8_t bytes[kParametersStateSize];
	if (!readExactly (state, bytes, static_cast<int32> (sizeof bytes)))
		return kResultFalse;
	if (!decodeParametersState (bytes, sizeof bytes, values_))
		return kResultFalse;
	followMode (false);
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::getParameterInfo (int32 paramIndex, ParameterInfo& info)
{
	if (paramIndex < 0 || paramIndex >= static_cast<int32> (kParametersCount))
		return kInvalidArgument;
	const ParametersInfo& entry = kParametersInfo[paramIndex];
	const bool drive = paramIndex == kParamGain && drive_;
	std::memset (&info, 0, sizeof info);
	info.id = static_cast<ParamID> (paramIndex);
	toString128 (drive ? kDriveTitle : entry.title, info.title);
	toString128 (drive ? kDriveShortTitle : entry.shortTitle, info.shortTitle);
	toString128 (entry.units, info.units);
	info.stepCount = entry.stepCount;
	info.defaultNormalizedValue = entry.defaultValue;
	info.unitId = entry.unitId;
	info.flags = entry.flags;
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::getParamStringByValue (ParamID id, ParamValue valueNormalized, String128 string)
{
	if (id >= kParametersCount || !string || valueNormalized != valueNormalized)
		return kInvalidArgument;
	if (const char* const* names = namesOf (id))
	{
		toString128 (names[parameterStep (valueNormalized, kParametersInfo[id].stepCount)], string);
		return kResultOk;
	}
	char text[32];
	std::snprintf (text, sizeof text, id == kParamTone ? "%.0f" : "%.3f", normalizedParamToPlain (id, valueNormalized));
	toString128 (text, string);
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::getParamValueByString (ParamID id, TChar* string, ParamValue& valueNormalized)
{
	if (id >= kParametersCount || !string)
		return kInvalidArgument;
	char text[64];
	toNarrow (string, text);
	if (const char* const* names = namesOf (id))
	{
		const int32 steps = kParametersInfo[id].stepCount;
		for (int32 step = 0; step <= steps; ++step)
		{
			if (std::strcmp (text, names[step]) != 0)
				continue;
			valueNormalized = static_cast<double> (step) / steps;
			return kResultOk;
		}
		return kResultFalse;
	}
	char* end = nullptr;
	const double plain = std::strtod (text, &end);
	if (end == text || plain != plain)
		return kResultFalse;
	valueNormalized = plainParamToNormalized (id, plain);
	return kResultOk;
}

// Steps are plain as their index, Tone in hertz, the others as they are.
ParamValue PLUGIN_API QuillParameters::normalizedParamToPlain (ParamID id, ParamValue valueNormalized)
{
	if (id >= kParametersCount)
		return valueNormalized;
	const double value = clamped (valueNormalized);
	if (id == kParamTone)
		return parametersToneHz (value);
	const int32 steps = kParametersInfo[id].stepCount;
	return steps > 0 ? static_cast<double> (parameterStep (value, steps)) : value;
}

ParamValue PLUGIN_API QuillParameters::plainParamToNormalized (ParamID id, ParamValue plainValue)
{
	if (id >= kParametersCount)
		return clamped (plainValue);
	if (id == kParamTone)
		return plainValue > 0.0 ? clamped (std::log (plainValue / 20.0) / std::log (1000.0)) : 0.0;
	const int32 steps = kParametersInfo[id].stepCount;
	if (steps <= 0)
		return clamped (plainValue);
	if (!(plainValue >= 0.0))
		return 0.0;
	const double step = std::round (plainValue);
	return step >= steps ? 1.0 : step / steps;
}

ParamValue PLUGIN_API QuillParameters::getParamNormalized (ParamID id)
{
	return id < kParametersCount ? values_[id] : 0.0;
}

tresult PLUGIN_API QuillParameters::setParamNormalized (ParamID id, ParamValue value)
{
	if (id >= kParametersCount || value != value)
		return kInvalidArgument;
	values_[id] = clamped (value);
	if (id == kParamMode)
		followMode (true);
	if (id == kParamEdit && values_[id] >= 0.5)
	{
		playDrag ();
		// A trigger, not a setting: it is off again once the drag is played.
		values_[kParamEdit] = 0.0;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillParameters::setComponentHandler (IComponentHandler* handler)
{
	if (handler)
		handler->addRef ();
	if (handler_)
		handler_->release ();
	handler_ = handler;
	return kResultOk;
}

void QuillParameters::followMode (bool always)
{
	const bool drive = driveTitled (values_[kParamMode]);
	const bool changed = drive != drive_;
	drive_ = drive;
	if (changed || (always && drive))
		restartHost (kParamTitlesChanged);
}

void QuillParameters::playDrag ()
{
	// Held for the drag: the host may swap its handler from inside a call.
	IComponentHandler* handler = handler_;
	IComponentHandler2* group = nullptr;
	if (handler)
	{
		handler->addRef ();
		if (handler->queryInterface (IComponentHandler2::iid, reinterpret_cast<void**> (&group)) != kResultOk)
			group = nullptr;
	}
	if (group)
		group->startGroupEdit ();
	// The value moves with the drag, so that a host reading it back in
	// performEdit sees the one just reported.
	values_[kParamGain] = kEditDragFirst;
	if (handler)
	{
		handler->beginEdit (kParamGain);
		handler->performEdit (kParamGain, kEditDragFirst);
	}
	values_[kParamGain] = kEditDragLast;
	if (handler)
	{
		handler->performEdit (kParamGain, kEditDragLast);
		handler->endEdit (kParamGain);
	}
	if (group)
	{
		group->finishGroupEdit ();
		group->setDirty (true);
		group->release ();
	}
	if (handler)
		handler->release ();
	values_[kParamGain] = kEditDragLast;
}

void QuillParameters::restartHost (int32 flags)
{
	if (handler_)
		handler_->restartComponent (flags);
}

} // namespace Quill
