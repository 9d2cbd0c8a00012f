// The served controller's MIDI and note interfaces reach the host: a Quill
// that maps MIDI controllers to its parameters and offers note expressions,
// keyswitches and a physical UI mapping (served/quill_midi_mapping.h) is
// answered for exactly as it answers itself, a controller it maps reaches
// its parameter, and one it learns reaches the host; a Quill without them
// makes the bridge a plug-in without them.
#include "hosted_pair.h"

#include "quill_midi_mapping_ids.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstmidilearn.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace e2e {
namespace {

// The served plug-in's own answer: its parameter, or none.
bool servedAssignment (int16 channel, int16 controller, Vst::ParamID& id)
{
	for (const Quill::MidiAssignment& assignment : Quill::kMidiAssignments)
		if (assignment.channel == channel && assignment.controller == controller)
		{
			id = assignment.id;
			return true;
		}
	return false;
}

template <typename Interface>
Interface* queried (QuillMarlowController* c)
{
	Interface* object = nullptr;
	if (c->queryInterface (Interface::iid, reinterpret_cast<void**> (&object)) != kResultOk)
		return nullptr;
	object->release (); // the controller outlives the test's use
	return object;
}

TEST (MidiMapping, ControllersMapAsTheServedControllerMapsThemAndALearnedOneReachesTheHost)
{
	Hosted h (QUILL_MIDI_MAPPING_BUNDLE);
	auto* mapping = queried<Vst::IMidiMapping> (h.c);
	ASSERT_NE (mapping, nullptr);
	for (int16 channel = 0; channel < 16; ++channel)
		for (int16 controller = 0; controller < Vst::kCountCtrlNumber; ++controller)
		{
			Vst::ParamID served = 0, id = 0;
			const bool assigned = servedAssignment (channel, controller, served);
			ASSERT_EQ (mapping->getMidiControllerAssignment (0, channel, controller, id),
			           assigned ? kResultOk : kResultFalse)
			    << "channel " << channel << " controller " << controller;
			if (assigned)
			{
				EXPECT_EQ (id, served);
			}
		}
	Vst::ParamID id = 0;
	EXPECT_EQ (mapping->getMidiControllerAssignment (1, 0, Vst::kCtrlModWheel, id), kResultFalse) << "no such bus";

	// The mod wheel, sent as the host sends controllers: points of its parameter.
	ASSERT_EQ (mapping->getMidiControllerAssignment (0, 0, Vst::kCtrlModWheel, id), kResultOk);
	h.start ();
	StereoBlock block (kBlock);
	HostParameterChanges wheel;
	wheel.add (id, 0, 0.25);
	wheel.add (id, 100, 0.5);
	ASSERT_TRUE (waitFor ([&] { return h.process (block, &wheel); }, 10.0));
	for (int i = 0; i < kBlock; ++i)
		ASSERT_EQ (block.out[0][i], block.in[0][i] * (i < 100 ? 0.25f : 0.5f)) << "sample " << i;

	// MIDI learn: the served controller assigns the controller moved, the
	// host hears of it and reads the new assignment.
	auto* learn = queried<Vst::IMidiLearn> (h.c);
	ASSERT_NE (learn, nullptr);
	EXPECT_EQ (mapping->getMidiControllerAssignment (0, 3, Vst::kCtrlFilterResonance, id), kResultFalse);
	ASSERT_EQ (learn->onLiveMIDIControllerInput (0, 3, Vst::kCtrlFilterResonance), kResultOk);
	const std::string restart = "restart " + std::to_string (Vst::kMidiCCAssignmentChanged);
	ASSERT_TRUE (h.passEditsUntil ([&] {
		return std::find (h.handler.calls.begin (), h.handler.calls.end (), restart) != h.handler.calls.end ();
	}));
	ASSERT_EQ (mapping->getMidiControllerAssignment (0, 3, Vst::kCtrlFilterResonance, id), kResultOk);
	EXPECT_EQ (id, Quill::kLearnedParam);
	EXPECT_EQ (learn->onLiveMIDIControllerInput (1, 0, Vst::kCtrlModWheel), kResultFalse) << "the served answer";
}

TEST (MidiMapping, NoteExpressionsKeyswitchesPhysicalControlsAndBusUnitsAreTheServedControllers)
{
	Hosted h (QUILL_MIDI_MAPPING_BUNDLE);
	auto* expressions = queried<Vst::INoteExpressionController> (h.c);
	ASSERT_NE (expressions, nullptr);
	ASSERT_EQ (expressions->getNoteExpressionCount (0, 9), Quill::kNoteExpressionCount);
	EXPECT_EQ (expressions->getNoteExpressionCount (1, 0), 0);
	for (int32 i = 0; i < Quill::kNoteExpressionCount; ++i)
	{
		Vst::NoteExpressionTypeInfo info {};
		ASSERT_EQ (expressions->getNoteExpressionInfo (0, 9, i, info), kResultOk);
		const Quill::NoteExpressionDescription& served = Quill::kNoteExpressions[i];
		EXPECT_EQ (info.typeId, served.typeId);
		EXPECT_EQ (text (info.title), served.title);
		EXPECT_EQ (text (info.shortTitle), served.shortTitle);
		EXPECT_EQ (text (info.units), served.units);
		EXPECT_EQ (info.flags, served.bipolar ? Vst::NoteExpressionTypeInfo::kIsBipolar : 0);
		EXPECT_EQ (info.valueDesc.defaultValue, served.bipolar ? 0.5 : 1.0);
	}
	Vst::NoteExpressionTypeInfo none {};
	EXPECT_EQ (expressions->getNoteExpressionInfo (0, 9, 2, none), kInvalidArgument) << "the served answer";
	Vst::String128 s {};
	ASSERT_EQ (expressions->getNoteExpressionStringByValue (0, 9, Quill::kNoteExpressions[1].typeId, 0.25, s),
	           kResultOk);
	EXPECT_EQ (text (s), "25%");
	const Vst::TChar forty[] = {'4', '0', '%', 0};
	Vst::NoteExpressionValue value = 0.0;
	ASSERT_EQ (expressions->getNoteExpressionValueByString (0, 9, Quill::kNoteExpressions[0].typeId, forty, value),
	           kResultOk);
	EXPECT_EQ (value, 0.4);

	auto* keyswitches = queried<Vst::IKeyswitchController> (h.c);
	ASSERT_NE (keyswitches, nullptr);
	ASSERT_EQ (keyswitches->getKeyswitchCount (0, 0), Quill::kKeyswitchCount);
	EXPECT_EQ (keyswitches->getKeyswitchCount (0, 1), 0);
	for (int32 i = 0; i < Quill::kKeyswitchCount; ++i)
	{
		Vst::KeyswitchInfo info {};
		ASSERT_EQ (keyswitches->getKeyswitchInfo (0, 0, i, info), kResultOk);
		EXPECT_EQ (text (info.title), Quill::kKeyswitches[i].title);
		EXPECT_EQ (text (info.shortTitle), Quill::kKeyswitches[i].shortTitle);
		EXPECT_EQ (info.keyswitchMin, Quill::kKeyswitches[i].key);
		EXPECT_EQ (info.keyRemapped, -1);
	}

	auto* physical = queried<Vst::INoteExpressionPhysicalUIMapping> (h.c);
	ASSERT_NE (physical, nullptr);
	Vst::PhysicalUIMap maps[3] = {{Vst::kPUIXMovement, 77}, {Vst::kPUIYMovement, 77}, {Vst::kPUIPressure, 77}};
	Vst::PhysicalUIMapList list {3, maps};
	ASSERT_EQ (physical->getPhysicalUIMapping (0, 0, list), kResultOk);
	for (int i = 0; i < 3; ++i)
	{
		EXPECT_EQ (maps[i].physicalUITypeID, static_cast<Vst::PhysicalUITypeID> (i));
		EXPECT_EQ (maps[i].noteExpressionTypeID, Quill::kPhysicalUIMap[i]);
	}

	auto* units = queried<Vst::IUnitInfo> (h.c);
	ASSERT_NE (units, nullptr);
	Vst::UnitID unit = -7;
	ASSERT_EQ (units->getUnitByBus (Vst::kEvent, Vst::kInput, 0, 5, unit), kResultOk);
	EXPECT_EQ (unit, Quill::kMidiBusUnit);
	EXPECT_EQ (units->getUnitByBus (Vst::kAudio, Vst::kOutput, 0, 0, unit), kResultFalse);
}

TEST (MidiMapping, AServedControllerWithoutThemMakesAPlugInWithoutThem)
{
	Hosted h (QUILL_PARAMETERS_BUNDLE);
	const FUID* missing[] = {&Vst::IMidiMapping::iid, &Vst::INoteExpressionController::iid,
	                         &Vst::IKeyswitchController::iid, &Vst::INoteExpressionPhysicalUIMapping::iid,
	                         &Vst::IMidiLearn::iid};
	for (const FUID* iid : missing)
	{
		void* object = reinterpret_cast<void*> (1);
		EXPECT_EQ (h.c->queryInterface (iid->toTUID (), &object), kNoInterface);
		EXPECT_EQ (object, nullptr);
	}
	// A host that took them before connecting us gets what such a plug-in
	// would answer.
	Vst::ParamID id = 0;
	EXPECT_EQ (h.c->getMidiControllerAssignment (0, 0, Vst::kCtrlModWheel, id), kResultFalse);
	EXPECT_EQ (h.c->getNoteExpressionCount (0, 0), 0);
	EXPECT_EQ (h.c->getKeyswitchCount (0, 0), 0);
	EXPECT_EQ (h.c->onLiveMIDIControllerInput (0, 0, Vst::kCtrlModWheel), kResultFalse);
	Vst::UnitID unit = 0;
	EXPECT_EQ (h.c->getUnitByBus (Vst::kEvent, Vst::kInput, 0, 0, unit), kResultFalse);
}

} // namespace
} // namespace e2e
