#include "quill_census.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "quill_text.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

static_assert (kInstancesId == kParamCount, "Instances follows Quill's own parameters");

namespace {

// The module's static: every instance of the class in this process counts here.
std::atomic<int> s_instances {0};

ParamValue normalizedCount (int count)
{
	return static_cast<ParamValue> (count) / kCensusSteps;
}

} // namespace

QuillCensus::QuillCensus ()
{
	s_instances.fetch_add (1, std::memory_order_relaxed);
}

QuillCensus::~QuillCensus ()
{
	s_instances.fetch_sub (1, std::memory_order_relaxed);
}

tresult PLUGIN_API QuillCensus::getControllerClassId (TUID classId)
{
	std::memcpy (classId, kCensusControllerUID.toTUID (), sizeof (TUID));
	return kResultOk;
}

tresult PLUGIN_API QuillCensus::process (ProcessData& data)
{
	const int count = s_instances.load (std::memory_order_relaxed);
	if (count != sent_ && data.outputParameterChanges)
	{
		int32 index = 0;
		IParamValueQueue* queue = data.outputParameterChanges->addParameterData (kInstancesId, index);
		if (queue && queue->addPoint (0, normalizedCount (count), index) == kResultOk)
			sent_ = count;
	}
	return QuillProcessor::process (data);
}

tresult PLUGIN_API QuillCensusController::getParameterInfo (int32 paramIndex, ParameterInfo& info)
{
	if (paramIndex != static_cast<int32> (kInstancesId))
		return QuillController::getParameterInfo (paramIndex, info);
	std::memset (&info, 0, sizeof info);
	info.id = kInstancesId;
	toString128 ("Instances", info.title);
	toString128 ("Instances", info.shortTitle);
	info.stepCount = kCensusSteps;
	info.flags = ParameterInfo::kIsReadOnly;
	return kResultOk;
}

tresult PLUGIN_API QuillCensusController::getParamStringByValue (ParamID id, ParamValue valueNormalized,
                                                                 String128 string)
{
	if (id != kInstancesId)
		return QuillController::getParamStringByValue (id, valueNormalized, string);
	if (!string)
		return kInvalidArgument;
	char text[16];
	std::snprintf (text, sizeof text, "%d", static_cast<int> (normalizedParamToPlain (id, valueNormalized)));
	toString128 (text, string);
	return kResultOk;
}

ParamValue PLUGIN_API QuillCensusController::normalizedParamToPlain (ParamID id, ParamValue valueNormalized)
{
	if (id != kInstancesId)
		return QuillController::normalizedParamToPlain (id, valueNormalized);
	return std::round (clampNormalized (valueNormalized) * kCensusSteps);
}

ParamValue PLUGIN_API QuillCensusController::plainParamToNormalized (ParamID id, ParamValue plainValue)
{
	if (id != kInstancesId)
		return QuillController::plainParamToNormalized (id, plainValue);
	return clampNormalized (std::round (plainValue) / kCensusSteps);
}

ParamValue PLUGIN_API QuillCensusController::getParamNormalized (ParamID id)
{
	if (id != kInstancesId)
		return QuillController::getParamNormalized (id);
	return normalizedCount (s_instances.load (std::memory_order_relaxed));
}

} // namespace Quill
