// The plug-in's edit controller: the served controller's mirror. It shows
// the host the served plug-in's parameters, units and program lists (and
// its MIDI and note interfaces when it has them), passes
// values both ways and the served controller's edits on to the host, and
// hands out the editor view that embeds the served plug-in's Windows editor.
#pragma once

#include "plugin/midi_mapping_reader.h"
#include "plugin/parameter_list_reader.h"

#include "public.sdk/source/vst/vsteditcontroller.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstmidilearn.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace Steinberg {
namespace QuillMarlow {

class EditRelay;
class LatencyWatcher;

class QuillMarlowController : public Vst::EditController,
                              public Vst::IUnitInfo,
                              public Vst::IMidiMapping,
                              public Vst::INoteExpressionController,
                              public Vst::IKeyswitchController,
                              public Vst::INoteExpressionPhysicalUIMapping,
                              public Vst::IMidiLearn
{
public:
	static FUnknown* createInstance (void* context);

	tresult PLUGIN_API initialize (FUnknown* context) SMTG_OVERRIDE;
	tresult PLUGIN_API terminate () SMTG_OVERRIDE;

	// The served controller's parameters (controller_parameters.cpp); the
	// host reads them from the moment it connected us with the processor.
	tresult PLUGIN_API setComponentState (IBStream* state) SMTG_OVERRIDE;
	int32 PLUGIN_API getParameterCount () SMTG_OVERRIDE;
	tresult PLUGIN_API getParameterInfo (int32 paramIndex, Vst::ParameterInfo& info) SMTG_OVERRIDE;
	tresult PLUGIN_API getParamStringByValue (Vst::ParamID id, Vst::ParamValue valueNormalized,
	                                          Vst::String128 string) SMTG_OVERRIDE;
	tresult PLUGIN_API getParamValueByString (Vst::ParamID id, Vst::TChar* string,
	                                          Vst::ParamValue& valueNormalized) SMTG_OVERRIDE;
	Vst::ParamValue PLUGIN_API normalizedParamToPlain (Vst::ParamID id, Vst::ParamValue valueNormalized) SMTG_OVERRIDE;
	Vst::ParamValue PLUGIN_API plainParamToNormalized (Vst::ParamID id, Vst::ParamValue plainValue) SMTG_OVERRIDE;
	Vst::ParamValue PLUGIN_API getParamNormalized (Vst::ParamID id) SMTG_OVERRIDE;
	tresult PLUGIN_API setParamNormalized (Vst::ParamID id, Vst::ParamValue value) SMTG_OVERRIDE;

	// The served controller's own state (see ServedState), through the
	// processor we are connected with.
	tresult PLUGIN_API getState (IBStream* state) SMTG_OVERRIDE;
	tresult PLUGIN_API setState (IBStream* state) SMTG_OVERRIDE;

	IPlugView* PLUGIN_API createView (FIDString name) SMTG_OVERRIDE;
	// Takes the instance id of the processor the host connected us with.
	tresult PLUGIN_API notify (Vst::IMessage* message) SMTG_OVERRIDE;
	// The host's handler also hears of the served plug-in's latency changes.
	tresult PLUGIN_API setComponentHandler (Vst::IComponentHandler* handler) SMTG_OVERRIDE;

	// The processor this controller belongs to, once the host has connected
	// the two; false while it never did.
	bool connectedProcessor (int32& instanceId) const;

	// IUnitInfo: the served controller's units and program lists.
	int32 PLUGIN_API getUnitCount () SMTG_OVERRIDE;
	tresult PLUGIN_API getUnitInfo (int32 unitIndex, Vst::UnitInfo& info) SMTG_OVERRIDE;
	int32 PLUGIN_API getProgramListCount () SMTG_OVERRIDE;
	tresult PLUGIN_API getProgramListInfo (int32 listIndex, Vst::ProgramListInfo& info) SMTG_OVERRIDE;
	tresult PLUGIN_API getProgramName (Vst::ProgramListID listId, int32 programIndex,
	                                   Vst::String128 name) SMTG_OVERRIDE;
	tresult PLUGIN_API getProgramInfo (Vst::ProgramListID listId, int32 programIndex, Vst::CString attributeId,
	                                   Vst::String128 attributeValue) SMTG_OVERRIDE;
	tresult PLUGIN_API hasProgramPitchNames (Vst::ProgramListID listId, int32 programIndex) SMTG_OVERRIDE;
	tresult PLUGIN_API getProgramPitchName (Vst::ProgramListID listId, int32 programIndex, int16 midiPitch,
	                                        Vst::String128 name) SMTG_OVERRIDE;
	Vst::UnitID PLUGIN_API getSelectedUnit () SMTG_OVERRIDE { return selectedUnit_; }
	tresult PLUGIN_API selectUnit (Vst::UnitID unitId) SMTG_OVERRIDE;
	tresult PLUGIN_API getUnitByBus (Vst::MediaType type, Vst::BusDirection dir, int32 busIndex, int32 channel,
	                                 Vst::UnitID& unitId) SMTG_OVERRIDE;
	tresult PLUGIN_API setUnitProgramData (int32 listOrUnitId, int32 programIndex, IBStream* data) SMTG_OVERRIDE;

	// The served controller's MIDI and note interfaces (controller_parameters.cpp),
	// offered when it has them.
	tresult PLUGIN_API getMidiControllerAssignment (int32 busIndex, int16 channel, Vst::CtrlNumber midiControllerNumber,
	                                                Vst::ParamID& id) SMTG_OVERRIDE;
	int32 PLUGIN_API getNoteExpressionCount (int32 busIndex, int16 channel) SMTG_OVERRIDE;
	tresult PLUGIN_API getNoteExpressionInfo (int32 busIndex, int16 channel, int32 noteExpressionIndex,
	                                          Vst::NoteExpressionTypeInfo& info) SMTG_OVERRIDE;
	tresult PLUGIN_API getNoteExpressionStringByValue (int32 busIndex, int16 channel, Vst::NoteExpressionTypeID id,
	                                                   Vst::NoteExpressionValue valueNormalized,
	                                                   Vst::String128 string) SMTG_OVERRIDE;
	tresult PLUGIN_API getNoteExpressionValueByString (int32 busIndex, int16 channel, Vst::NoteExpressionTypeID id,
	                                                   const Vst::TChar* string,
	                                                   Vst::NoteExpressionValue& valueNormalized) SMTG_OVERRIDE;
	int32 PLUGIN_API getKeyswitchCount (int32 busIndex, int16 channel) SMTG_OVERRIDE;
	tresult PLUGIN_API getKeyswitchInfo (int32 busIndex, int16 channel, int32 keySwitchIndex,
	                                     Vst::KeyswitchInfo& info) SMTG_OVERRIDE;
	tresult PLUGIN_API getPhysicalUIMapping (int32 busIndex, int16 channel, Vst::PhysicalUIMapList& list) SMTG_OVERRIDE;
	tresult PLUGIN_API onLiveMIDIControllerInput (int32 busIndex, int16 channel, Vst::CtrlNumber midiCC) SMTG_OVERRIDE;

	// Passes on what the served controller relayed (tests call it where a
	// host's run loop would).
	int32 passEdits ();

	OBJ_METHODS (QuillMarlowController, EditController)
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) SMTG_OVERRIDE;
	REFCOUNT_METHODS (EditController)

private:
	// Tells the host of latency changes, on the host context's run loop when
	// it offers one, else on the open editor's.
	LatencyWatcher* latencyWatcher_ = nullptr;
	// Passes the served controller's edits on to the host's handler.
	EditRelay* editRelay_ = nullptr;
	ParameterListReader parameters_;
	MidiMappingReader midi_ {parameters_};
	Vst::UnitID selectedUnit_ = Vst::kRootUnitId;
	bool processorKnown_ = false;
	int32 processorId_ = 0;
};

} // namespace QuillMarlow
} // namespace Steinberg
