#include "quill_flood.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

// All 128 characters, no terminating zero: a host must not look past them.
void fill (char16_t c, String128 out)
{
	for (int i = 0; i < 128; ++i)
		out[i] = static_cast<char16> (c);
}

double clamped (double value)
{
	if (!(value >= 0.0))
		return 0.0;
	return value > 1.0 ? 1.0 : value;
}

} // namespace

QuillFlood::QuillFlood ()
{
	if (const char* count = std::getenv ("QUILL_FLOOD_PARAMETERS"))
	{
		const long n = std::strtol (count, nullptr, 10);
		if (n > 0 && n <= kFloodParameterCount)
			count_ = static_cast<int32> (n);
	}
}

tresult PLUGIN_API QuillFlood::process (ProcessData& data)
{
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
	const AudioBusBuffers* in =
	    data.numInputs >= 1 && data.inputs && data.inputs[0].channelBuffers32 ? &data.inputs[0] : nullptr;
	const std::size_t bytes = sizeof (float) * static_cast<std::size_t> (data.numSamples);
	for (int32 c = 0; c < out.numChannels; ++c)
	{
		float* dst = out.channelBuffers32[c];
		const float* src = in && c < in->numChannels ? in->channelBuffers32[c] : nullptr;
		if (!dst)
			continue;
		if (!src)
			std::memset (dst, 0, bytes);
		else if (dst != src)
			std::memcpy (dst, src, bytes);
	}
	return kResultOk;
}

tresult PLUGIN_API QuillFlood::getParameterInfo (int32 paramIndex, ParameterInfo& info)
{
	if (paramIndex < 0 || paramIndex >= count_)
		return kInvalidArgument;
	std::memset (&info, 0, sizeof info);
	info.id = static_cast<ParamID> (paramIndex);
	fill (kFloodTitleChar, info.title);
	fill (kFloodShortTitleChar, info.shortTitle);
	fill (kFloodUnitsChar, info.units);
	info.stepCount = 0;
	info.defaultNormalizedValue = kFloodDefault;
	info.unitId = 0; // the root unit
	info.flags = ParameterInfo::kCanAutomate;
	return kResultOk;
}

tresult PLUGIN_API QuillFlood::getParamStringByValue (ParamID id, ParamValue valueNormalized, String128 string)
{
	if (!known (id) || !string)
		return kInvalidArgument;
	// The hang a host has to survive: this call never comes back.
	if (id == kFloodHangId && valueNormalized == kFloodHangValue)
		Sleep (INFINITE);
	char text[32];
	std::snprintf (text, sizeof text, "%.2f", clamped (valueNormalized));
	int i = 0;
	for (; text[i]; ++i)
		string[i] = static_cast<char16> (text[i]);
	string[i] = 0;
	return kResultOk;
}

tresult PLUGIN_API QuillFlood::getParamValueByString (ParamID id, TChar* string, ParamValue& valueNormalized)
{
	if (!known (id) || !string)
		return kInvalidArgument;
	char text[64] = {};
	for (int i = 0; i < 63 && string[i]; ++i)
		text[i] = string[i] < 128 ? static_cast<char> (string[i]) : ' ';
	char* end = nullptr;
	const double value = std::strtod (text, &end);
	if (end == text)
		return kResultFalse;
	valueNormalized = clamped (value);
	return kResultOk;
}

ParamValue PLUGIN_API QuillFlood::normalizedParamToPlain (ParamID, ParamValue valueNormalized)
{
	return valueNormalized;
}

ParamValue PLUGIN_API QuillFlood::plainParamToNormalized (ParamID, ParamValue plainValue)
{
	return clamped (plainValue);
}

} // namespace Quill
