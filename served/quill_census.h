// Quill Census (tests only): Quill whose audio modules count themselves in
// a static of the module. On Windows a host's instances share its process,
// so the count is that of every instance of the class the process holds.
// The controller reports it as "Instances" (quill_census_ids.h); the audio
// module sends it as an output parameter change whenever it changed.
#pragma once

#include "quill_census_ids.h"
#include "quill_controller.h"
#include "quill_processor.h"

namespace Quill {

class QuillCensus : public QuillProcessor
{
public:
	QuillCensus ();

	Steinberg::tresult PLUGIN_API getControllerClassId (Steinberg::TUID classId) override;
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;

protected:
	~QuillCensus () override;

private:
	// The count last sent to the host (audio thread).
	int sent_ = -1;
};

class QuillCensusController : public QuillController
{
public:
	QuillCensusController () { withoutEditor (); }

	Steinberg::int32 PLUGIN_API getParameterCount () override { return kInstancesId + 1; }
	Steinberg::tresult PLUGIN_API getParameterInfo (Steinberg::int32 paramIndex,
	                                                Steinberg::Vst::ParameterInfo& info) override;
	Steinberg::tresult PLUGIN_API getParamStringByValue (Steinberg::Vst::ParamID id,
	                                                     Steinberg::Vst::ParamValue valueNormalized,
	                                                     Steinberg::Vst::String128 string) override;
	Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue valueNormalized) override;
	Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue plainValue) override;
	Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized (Steinberg::Vst::ParamID id) override;
};

} // namespace Quill
