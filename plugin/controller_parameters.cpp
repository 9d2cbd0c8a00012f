// The controller's parameters and its MIDI and note interfaces: the served
// controller's, through the parameter list reader and the MIDI mapping
// reader. A served controller without MIDI interfaces makes us a plug-in
// without them: queryInterface says so once the host connected us, and a
// host that took the interface before gets what a plug-in with nothing to
// offer answers.
#include "plugin/controller.h"

#include "plugin/edit_relay.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

tresult PLUGIN_API QuillMarlowController::setComponentState (IBStream*)
{
	// The processor has given outpost the state: the served controller's
	// list and values follow it, and the host reads them next.
	const int32 flags = parameters_.refresh (true);
	passEdits ();
	if (flags && getComponentHandler ())
		getComponentHandler ()->restartComponent (flags);
	return kResultOk;
}

int32 PLUGIN_API QuillMarlowController::getParameterCount ()
{
	// Hosts ask right after connecting us, while outpost may still start.
	// Later lists reach a host with a handler through restartComponent,
	// so that it never reads a list it was not told of; one without a
	// handler gets the newest.
	if (!parameters_.copied () || !getComponentHandler ())
		parameters_.refresh (true);
	return parameters_.count ();
}

tresult PLUGIN_API QuillMarlowController::getParameterInfo (int32 paramIndex, Vst::ParameterInfo& info)
{
	return parameters_.info (paramIndex, info) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API QuillMarlowController::getParamStringByValue (Vst::ParamID id, Vst::ParamValue valueNormalized,
                                                                 Vst::String128 string)
{
	return parameters_.stringByValue (id, valueNormalized, string);
}

tresult PLUGIN_API QuillMarlowController::getParamValueByString (Vst::ParamID id, Vst::TChar* string,
                                                                 Vst::ParamValue& valueNormalized)
{
	return parameters_.valueByString (id, string, valueNormalized);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::normalizedParamToPlain (Vst::ParamID id,
                                                                          Vst::ParamValue valueNormalized)
{
	return parameters_.toPlain (id, valueNormalized);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::plainParamToNormalized (Vst::ParamID id, Vst::ParamValue plainValue)
{
	return parameters_.toNormalized (id, plainValue);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::getParamNormalized (Vst::ParamID id)
{
	return parameters_.value (id);
}

tresult PLUGIN_API QuillMarlowController::setParamNormalized (Vst::ParamID id, Vst::ParamValue value)
{
	return parameters_.setValue (id, value);
}

int32 QuillMarlowController::passEdits ()
{
	return editRelay_ ? editRelay_->pass () : 0;
}

int32 PLUGIN_API QuillMarlowController::getUnitCount ()
{
	return parameters_.unitCount ();
}

tresult PLUGIN_API QuillMarlowController::getUnitInfo (int32 unitIndex, Vst::UnitInfo& info)
{
	return parameters_.unit (unitIndex, info) ? kResultOk : kInvalidArgument;
}

int32 PLUGIN_API QuillMarlowController::getProgramListCount ()
{
	return parameters_.programListCount ();
}

tresult PLUGIN_API QuillMarlowController::getProgramListInfo (int32 listIndex, Vst::ProgramListInfo& info)
{
	return parameters_.programList (listIndex, info) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API QuillMarlowController::getProgramName (Vst::ProgramListID listId, int32 programIndex,
                                                          Vst::String128 name)
{
	return parameters_.programName (listId, programIndex, name);
}

tresult PLUGIN_API QuillMarlowController::getProgramInfo (Vst::ProgramListID, int32, Vst::CString, Vst::String128)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::hasProgramPitchNames (Vst::ProgramListID, int32)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::getProgramPitchName (Vst::ProgramListID, int32, int16, Vst::String128)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::selectUnit (Vst::UnitID unitId)
{
	selectedUnit_ = unitId;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowController::setUnitProgramData (int32, int32, IBStream*)
{
	return kResultFalse;
}

namespace {

template <typename Interface>
bool is (const TUID iid)
{
	return FUnknownPrivate::iidEqual (iid, Interface::iid);
}

} // namespace

tresult PLUGIN_API QuillMarlowController::queryInterface (const TUID iid, void** obj)
{
	uint32 served = 0;
	void* offered = nullptr;
	if (is<Vst::IMidiMapping> (iid))
	{
		served = Tandem::kServesMidiMapping;
		offered = static_cast<Vst::IMidiMapping*> (this);
	}
	else if (is<Vst::INoteExpressionController> (iid))
	{
		served = Tandem::kServesNoteExpressions;
		offered = static_cast<Vst::INoteExpressionController*> (this);
	}
	else if (is<Vst::IKeyswitchController> (iid))
	{
		served = Tandem::kServesKeyswitches;
		offered = static_cast<Vst::IKeyswitchController*> (this);
	}
	else if (is<Vst::INoteExpressionPhysicalUIMapping> (iid))
	{
		served = Tandem::kServesPhysicalUIMapping;
		offered = static_cast<Vst::INoteExpressionPhysicalUIMapping*> (this);
	}
	else if (is<Vst::IMidiLearn> (iid))
	{
		served = Tandem::kServesMidiLearn;
		offered = static_cast<Vst::IMidiLearn*> (this);
	}
	if (served)
	{
		if (!midi_.serves (served))
		{
			*obj = nullptr;
			return kNoInterface;
		}
		addRef ();
		*obj = offered;
		return kResultOk;
	}
	QUERY_INTERFACE (iid, obj, Vst::IUnitInfo::iid, Vst::IUnitInfo)
	return EditController::queryInterface (iid, obj);
}

tresult PLUGIN_API QuillMarlowController::getMidiControllerAssignment (int32 busIndex, int16 channel,
                                                                       Vst::CtrlNumber midiControllerNumber,
                                                                       Vst::ParamID& id)
{
	return midi_.assignment (busIndex, channel, midiControllerNumber, id);
}

int32 PLUGIN_API QuillMarlowController::getNoteExpressionCount (int32 busIndex, int16 channel)
{
	return midi_.noteExpressionCount (busIndex, channel);
}

tresult PLUGIN_API QuillMarlowController::getNoteExpressionInfo (int32 busIndex, int16 channel,
                                                                 int32 noteExpressionIndex,
                                                                 Vst::NoteExpressionTypeInfo& info)
{
	return midi_.noteExpressionInfo (busIndex, channel, noteExpressionIndex, info);
}

tresult PLUGIN_API QuillMarlowController::getNoteExpressionStringByValue (int32 busIndex, int16 channel,
                                                                          Vst::NoteExpressionTypeID id,
                                                                          Vst::NoteExpressionValue valueNormalized,
                                                                          Vst::String128 string)
{
	return midi_.noteExpressionString (busIndex, channel, id, valueNormalized, string);
}

tresult PLUGIN_API QuillMarlowController::getNoteExpressionValueByString (int32 busIndex, int16 channel,
                                                                          Vst::NoteExpressionTypeID id,
                                                                          const Vst::TChar* string,
                                                                          Vst::NoteExpressionValue& valueNormalized)
{
	return midi_.noteExpressionValue (busIndex, channel, id, string, valueNormalized);
}

int32 PLUGIN_API QuillMarlowController::getKeyswitchCount (int32 busIndex, int16 channel)
{
	return midi_.keyswitchCount (busIndex, channel);
}

tresult PLUGIN_API QuillMarlowController::getKeyswitchInfo (int32 busIndex, int16 channel, int32 keySwitchIndex,
                                                            Vst::KeyswitchInfo& info)
{
	return midi_.keyswitchInfo (busIndex, channel, keySwitchIndex, info);
}

tresult PLUGIN_API QuillMarlowController::getPhysicalUIMapping (int32 busIndex, int16 channel,
                                                                Vst::PhysicalUIMapList& list)
{
	return midi_.physicalUIMapping (busIndex, channel, list);
}

tresult PLUGIN_API QuillMarlowController::onLiveMIDIControllerInput (int32 busIndex, int16 channel,
                                                                     Vst::CtrlNumber midiCC)
{
	return midi_.midiLearn (busIndex, channel, midiCC);
}

// IUnitInfo's one call about buses: the served controller's answer.
tresult PLUGIN_API QuillMarlowController::getUnitByBus (Vst::MediaType type, Vst::BusDirection dir, int32 busIndex,
                                                        int32 channel, Vst::UnitID& unitId)
{
	return midi_.unitByBus (type, dir, busIndex, channel, unitId);
}

} // namespace QuillMarlow
} // namespace Steinberg
