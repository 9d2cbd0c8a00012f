// Test variant: the parameters variant (quill_parameters.h) with an event
// input and a controller that maps MIDI controllers to its parameters,
// offers note expressions, keyswitches and a physical UI mapping, learns
// controllers and names the unit of its event input. What it answers:
// quill_midi_mapping_ids.h.
#pragma once

#include <map>
#include <utility>

#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstmidilearn.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"
#include "quill_parameters.h"

namespace Quill {

class QuillMidiMapping
: public Tandem::Extends<QuillParameters, Steinberg::Vst::IMidiMapping, Steinberg::Vst::INoteExpressionController,
                         Steinberg::Vst::IKeyswitchController, Steinberg::Vst::INoteExpressionPhysicalUIMapping,
                         Steinberg::Vst::IMidiLearn>
{
public:
	QuillMidiMapping ();

	// IComponent: the event input beside the stereo buses.
	Steinberg::int32 PLUGIN_API getBusCount (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
	Steinberg::tresult PLUGIN_API getBusInfo (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                          Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
	Steinberg::tresult PLUGIN_API activateBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                           Steinberg::int32 index, Steinberg::TBool state) override;

	// IUnitInfo
	Steinberg::tresult PLUGIN_API getUnitByBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                            Steinberg::int32 busIndex, Steinberg::int32 channel,
	                                            Steinberg::Vst::UnitID& unitId) override;

	// IMidiMapping
	Steinberg::tresult PLUGIN_API getMidiControllerAssignment (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                           Steinberg::Vst::CtrlNumber midiControllerNumber,
	                                                           Steinberg::Vst::ParamID& id) override;

	// INoteExpressionController
	Steinberg::int32 PLUGIN_API getNoteExpressionCount (Steinberg::int32 busIndex, Steinberg::int16 channel) override;
	Steinberg::tresult PLUGIN_API getNoteExpressionInfo (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                     Steinberg::int32 noteExpressionIndex,
	                                                     Steinberg::Vst::NoteExpressionTypeInfo& info) override;
	Steinberg::tresult PLUGIN_API getNoteExpressionStringByValue (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                              Steinberg::Vst::NoteExpressionTypeID id,
	                                                              Steinberg::Vst::NoteExpressionValue valueNormalized,
	                                                              Steinberg::Vst::String128 string) override;
	Steinberg::tresult PLUGIN_API getNoteExpressionValueByString (
	    Steinberg::int32 busIndex, Steinberg::int16 channel, Steinberg::Vst::NoteExpressionTypeID id,
	    const Steinberg::Vst::TChar* string, Steinberg::Vst::NoteExpressionValue& valueNormalized) override;

	// IKeyswitchController
	Steinberg::int32 PLUGIN_API getKeyswitchCount (Steinberg::int32 busIndex, Steinberg::int16 channel) override;
	Steinberg::tresult PLUGIN_API getKeyswitchInfo (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                Steinberg::int32 keySwitchIndex,
	                                                Steinberg::Vst::KeyswitchInfo& info) override;

	// INoteExpressionPhysicalUIMapping
	Steinberg::tresult PLUGIN_API getPhysicalUIMapping (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                    Steinberg::Vst::PhysicalUIMapList& list) override;

	// IMidiLearn
	Steinberg::tresult PLUGIN_API onLiveMIDIControllerInput (Steinberg::int32 busIndex, Steinberg::int16 channel,
	                                                         Steinberg::Vst::CtrlNumber midiCC) override;

protected:
	~QuillMidiMapping () override = default;

private:
	// Controller half: (channel, controller) -> parameter.
	std::map<std::pair<Steinberg::int16, Steinberg::int16>, Steinberg::Vst::ParamID> assignments_;
	bool eventBusActive_ = false;
};

} // namespace Quill
