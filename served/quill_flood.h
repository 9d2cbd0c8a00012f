// Test variant: a plug-in that misbehaves towards its host's parameter
// handling. It publishes kFloodParameterCount parameters, fills every title,
// short title and units to its last character without a terminating zero,
// and never returns from one string conversion (quill_parameters_ids.h).
// It sounds like a wire: the output is the input. The bench sets another
// count through the environment variable QUILL_FLOOD_PARAMETERS, to measure
// lists of the sizes real plug-ins have.
#pragma once

#include "quill_parameters_ids.h"
#include "quill_single.h"

namespace Quill {

class QuillFlood : public QuillSingle
{
public:
	QuillFlood ();
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;

	Steinberg::int32 PLUGIN_API getParameterCount () override { return count_; }
	Steinberg::tresult PLUGIN_API getParameterInfo (Steinberg::int32 paramIndex,
	                                                Steinberg::Vst::ParameterInfo& info) override;
	Steinberg::tresult PLUGIN_API getParamStringByValue (Steinberg::Vst::ParamID id,
	                                                     Steinberg::Vst::ParamValue valueNormalized,
	                                                     Steinberg::Vst::String128 string) override;
	Steinberg::tresult PLUGIN_API getParamValueByString (Steinberg::Vst::ParamID id, Steinberg::Vst::TChar* string,
	                                                     Steinberg::Vst::ParamValue& valueNormalized) override;
	Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue valueNormalized) override;
	Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue plainValue) override;
	// Every parameter stays at its default; a value set is taken and forgotten.
	Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized (Steinberg::Vst::ParamID) override
	{
		return kFloodDefault;
	}
	Steinberg::tresult PLUGIN_API setParamNormalized (Steinberg::Vst::ParamID, Steinberg::Vst::ParamValue) override
	{
		return Steinberg::kResultOk;
	}

private:
	bool known (Steinberg::Vst::ParamID id) const { return id < static_cast<Steinberg::Vst::ParamID> (count_); }

	Steinberg::int32 count_ = kFloodParameterCount;
};

} // namespace Quill
