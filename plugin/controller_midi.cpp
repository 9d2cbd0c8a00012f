// The controller's MIDI and note interfaces: the served controller's,
// through the MIDI mapping reader. A served controller without one makes
// us a plug-in without it: queryInterface says so once the host connected
// us, and a host that took the interface before gets what a plug-in with
// nothing to offer answers.
#include "plugin/controller.h"

namespace Steinberg {
namespace QuillMarlow {

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
