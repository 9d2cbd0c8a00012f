// The units and the program list of the parameters variant of Quill
// (quill_parameters.h): the root unit, unit 1 "Character" holding Mode and
// Program, and program list 7 whose programs Program switches. A mix-in
// without state of its own; the class deriving from it answers FUnknown.
#pragma once

#include "pluginterfaces/vst/ivstunits.h"

namespace Quill {

class QuillParametersUnits : public Steinberg::Vst::IUnitInfo
{
public:
	Steinberg::int32 PLUGIN_API getUnitCount () override;
	Steinberg::tresult PLUGIN_API getUnitInfo (Steinberg::int32 unitIndex, Steinberg::Vst::UnitInfo& info) override;
	Steinberg::int32 PLUGIN_API getProgramListCount () override { return 1; }
	Steinberg::tresult PLUGIN_API getProgramListInfo (Steinberg::int32 listIndex,
	                                                  Steinberg::Vst::ProgramListInfo& info) override;
	Steinberg::tresult PLUGIN_API getProgramName (Steinberg::Vst::ProgramListID listId, Steinberg::int32 programIndex,
	                                              Steinberg::Vst::String128 name) override;
	Steinberg::tresult PLUGIN_API getProgramInfo (Steinberg::Vst::ProgramListID listId, Steinberg::int32 programIndex,
	                                              Steinberg::Vst::CString attributeId,
	                                              Steinberg::Vst::String128 attributeValue) override;
	Steinberg::tresult PLUGIN_API hasProgramPitchNames (Steinberg::Vst::ProgramListID listId,
	                                                    Steinberg::int32 programIndex) override;
	Steinberg::tresult PLUGIN_API getProgramPitchName (Steinberg::Vst::ProgramListID listId,
	                                                   Steinberg::int32 programIndex, Steinberg::int16 midiPitch,
	                                                   Steinberg::Vst::String128 name) override;
	Steinberg::Vst::UnitID PLUGIN_API getSelectedUnit () override;
	Steinberg::tresult PLUGIN_API selectUnit (Steinberg::Vst::UnitID unitId) override;
	Steinberg::tresult PLUGIN_API getUnitByBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                            Steinberg::int32 busIndex, Steinberg::int32 channel,
	                                            Steinberg::Vst::UnitID& unitId) override;
	Steinberg::tresult PLUGIN_API setUnitProgramData (Steinberg::int32 listOrUnitId, Steinberg::int32 programIndex,
	                                                  Steinberg::IBStream* data) override;

protected:
	virtual ~QuillParametersUnits () = default;
};

} // namespace Quill
