#include "quill_midi_mapping.h"
#include "quill_midi_mapping_ids.h"
#include "quill_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

const NoteExpressionDescription* noteExpression (NoteExpressionTypeID id)
{
	for (const NoteExpressionDescription& description : kNoteExpressions)
		if (description.typeId == id)
			return &description;
	return nullptr;
}

} // namespace

QuillMidiMapping::QuillMidiMapping ()
{
	for (const MidiAssignment& assignment : kMidiAssignments)
		assignments_[{assignment.channel, assignment.controller}] = assignment.id;
}

int32 PLUGIN_API QuillMidiMapping::getBusCount (MediaType type, BusDirection dir)
{
	if (type == kEvent)
		return dir == kInput ? 1 : 0;
	return QuillParameters::getBusCount (type, dir);
}

tresult PLUGIN_API QuillMidiMapping::getBusInfo (MediaType type, BusDirection dir, int32 index, BusInfo& bus)
{
	if (type != kEvent)
		return QuillParameters::getBusInfo (type, dir, index, bus);
	if (dir != kInput || index != 0)
		return kInvalidArgument;
	bus.mediaType = kEvent;
	bus.direction = kInput;
	bus.channelCount = kMidiBusChannels;
	toString128 (kMidiBusName, bus.name);
	bus.busType = kMain;
	bus.flags = BusInfo::kDefaultActive;
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::activateBus (MediaType type, BusDirection dir, int32 index, TBool state)
{
	if (type != kEvent)
		return QuillParameters::activateBus (type, dir, index, state);
	if (dir != kInput || index != 0)
		return kInvalidArgument;
	eventBusActive_ = state != 0;
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::getUnitByBus (MediaType type, BusDirection dir, int32 busIndex, int32 channel,
                                                   UnitID& unitId)
{
	if (type != kEvent || dir != kInput || busIndex != 0 || channel < 0 || channel >= kMidiBusChannels)
		return kResultFalse;
	unitId = kMidiBusUnit;
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::getMidiControllerAssignment (int32 busIndex, int16 channel,
                                                                  CtrlNumber midiControllerNumber, ParamID& id)
{
	if (busIndex != 0)
		return kResultFalse;
	const auto found = assignments_.find ({channel, midiControllerNumber});
	if (found == assignments_.end ())
		return kResultFalse;
	id = found->second;
	return kResultOk;
}

int32 PLUGIN_API QuillMidiMapping::getNoteExpressionCount (int32 busIndex, int16 channel)
{
	return busIndex == 0 && channel >= 0 && channel < kMidiBusChannels ? kNoteExpressionCount : 0;
}

tresult PLUGIN_API QuillMidiMapping::getNoteExpressionInfo (int32 busIndex, int16 channel, int32 noteExpressionIndex,
                                                            NoteExpressionTypeInfo& info)
{
	if (noteExpressionIndex < 0 || noteExpressionIndex >= getNoteExpressionCount (busIndex, channel))
		return kInvalidArgument;
	const NoteExpressionDescription& description = kNoteExpressions[noteExpressionIndex];
	info = {};
	info.typeId = description.typeId;
	toString128 (description.title, info.title);
	toString128 (description.shortTitle, info.shortTitle);
	toString128 (description.units, info.units);
	info.unitId = kRootUnitId;
	info.valueDesc.defaultValue = description.bipolar ? 0.5 : 1.0;
	info.valueDesc.minimum = 0.0;
	info.valueDesc.maximum = 1.0;
	info.associatedParameterId = kNoParamId;
	info.flags = description.bipolar ? NoteExpressionTypeInfo::kIsBipolar : 0;
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::getNoteExpressionStringByValue (int32 busIndex, int16 channel,
                                                                     NoteExpressionTypeID id,
                                                                     NoteExpressionValue valueNormalized,
                                                                     String128 string)
{
	if (getNoteExpressionCount (busIndex, channel) == 0 || !noteExpression (id))
		return kResultFalse;
	char text[32];
	std::snprintf (text, sizeof text, "%d%%", static_cast<int> (std::lround (valueNormalized * 100.0)));
	toString128 (text, string);
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::getNoteExpressionValueByString (int32 busIndex, int16 channel,
                                                                     NoteExpressionTypeID id, const TChar* string,
                                                                     NoteExpressionValue& valueNormalized)
{
	if (getNoteExpressionCount (busIndex, channel) == 0 || !noteExpression (id) || !string)
		return kResultFalse;
	char text[64];
	toNarrow (string, text);
	char* end = nullptr;
	const long percent = std::strtol (text, &end, 10);
	if (end == text || *end != '%' || percent < 0 || percent > 100)
		return kResultFalse;
	valueNormalized = static_cast<double> (percent) / 100.0;
	return kResultOk;
}

int32 PLUGIN_API QuillMidiMapping::getKeyswitchCount (int32 busIndex, int16 channel)
{
	return busIndex == 0 && channel == 0 ? kKeyswitchCount : 0;
}

tresult PLUGIN_API QuillMidiMapping::getKeyswitchInfo (int32 busIndex, int16 channel, int32 keySwitchIndex,
                                                       KeyswitchInfo& info)
{
	if (keySwitchIndex < 0 || keySwitchIndex >= getKeyswitchCount (busIndex, channel))
		return kInvalidArgument;
	const KeyswitchDescription& description = kKeyswitches[keySwitchIndex];
	info = {};
	info.typeId = kNoteOnKeyswitchTypeID;
	toString128 (description.title, info.title);
	toString128 (description.shortTitle, info.shortTitle);
	info.keyswitchMin = description.key;
	info.keyswitchMax = description.key;
	info.keyRemapped = -1;
	info.unitId = kRootUnitId;
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::getPhysicalUIMapping (int32 busIndex, int16 channel, PhysicalUIMapList& list)
{
	if (getNoteExpressionCount (busIndex, channel) == 0)
		return kResultFalse;
	for (uint32 i = 0; i < list.count; ++i)
	{
		PhysicalUIMap& map = list.map[i];
		map.noteExpressionTypeID = map.physicalUITypeID < 3 ? kPhysicalUIMap[map.physicalUITypeID] : kInvalidTypeID;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMidiMapping::onLiveMIDIControllerInput (int32 busIndex, int16 channel, CtrlNumber midiCC)
{
	if (busIndex != 0 || channel < 0 || channel >= kMidiBusChannels || midiCC < 0 || midiCC >= kCountCtrlNumber)
		return kResultFalse;
	assignments_[{channel, midiCC}] = kLearnedParam;
	restartHost (kMidiCCAssignmentChanged);
	return kResultOk;
}

} // namespace Quill
