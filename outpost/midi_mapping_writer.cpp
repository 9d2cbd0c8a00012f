#include "midi_mapping_writer.h"
#include "log/log.h"

#include "protocol/futex.h"
#include "protocol/midi_controller_layout.h"

#include <algorithm>
#include <cmath>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

template <typename Interface>
Interface* queried (IEditController* controller)
{
	Interface* object = nullptr;
	if (!controller || controller->queryInterface (Interface::iid, reinterpret_cast<void**> (&object)) != kResultOk)
		return nullptr;
	return object;
}

template <typename Interface>
void releaseIf (Interface* object)
{
	if (object)
		object->release ();
}

bool ours (std::int32_t kind)
{
	return kind >= static_cast<std::int32_t> (ParameterRequestKind::MidiControllerAssignment) &&
	       kind <= static_cast<std::int32_t> (ParameterRequestKind::UnitByBus);
}

} // namespace

MidiMappingWriter::MidiMappingWriter (ParameterData& region, IComponent* component, IEditController* controller)
: region_ (region), component_ (component), mapping_ (queried<IMidiMapping> (controller)),
  noteExpressions_ (queried<INoteExpressionController> (controller)),
  keyswitches_ (queried<IKeyswitchController> (controller)),
  physicalUI_ (queried<INoteExpressionPhysicalUIMapping> (controller)), midiLearn_ (queried<IMidiLearn> (controller)),
  units_ (queried<IUnitInfo> (controller))
{
}

MidiMappingWriter::~MidiMappingWriter ()
{
	releaseIf (mapping_);
	releaseIf (noteExpressions_);
	releaseIf (keyswitches_);
	releaseIf (physicalUI_);
	releaseIf (midiLearn_);
	releaseIf (units_);
}

void MidiMappingWriter::publish ()
{
	publishMapping ();
	const std::uint32_t interfaces =
	    (mapping_ ? kServesMidiMapping : 0u) | (noteExpressions_ ? kServesNoteExpressions : 0u) |
	    (keyswitches_ ? kServesKeyswitches : 0u) | (physicalUI_ ? kServesPhysicalUIMapping : 0u) |
	    (midiLearn_ ? kServesMidiLearn : 0u);
	publishInterfaces (region_.midi, interfaces);
	if (interfaces)
		logInfo () << "[Outpost] MIDI and note interfaces of the served controller: 0x" << std::hex << interfaces;
}

void MidiMappingWriter::publishMapping ()
{
	// The host asks about the component's event inputs; those beyond the
	// table it asks about through the request slot.
	const int32 buses = mapping_ && component_ ? component_->getBusCount (kEvent, kInput) : 0;
	publishMidiMapping (region_.midi.mapping, buses, [this] (int32 bus, int32 channel, int32 controller) {
		ParamID id = kNoParamId;
		if (mapping_->getMidiControllerAssignment (bus, static_cast<int16> (channel),
		                                           static_cast<CtrlNumber> (controller), id) != kResultOk)
			return kNoAssignment;
		return static_cast<std::uint32_t> (id);
	});
	if (buses > kMappedBuses)
		logInfo () << "[Outpost] The served plug-in has " << buses
		           << " event inputs: the MIDI mapping of those after the first " << kMappedBuses
		           << " is asked for each time";
}

bool MidiMappingWriter::serveRequest (bool wakeLinux)
{
	ParameterRequest& request = region_.request;
	return answerRequest (request, wakeLinux, ours, [&] (RequestArguments asked) { answer (asked, request); });
}

void MidiMappingWriter::answer (RequestArguments asked, ParameterRequest& request)
{
	// The arguments come from the other process: values must be numbers,
	// counts fit the payload.
	MidiControllerData& midi = region_.midi;
	const std::int32_t bus = midi.bus;
	const int16 channel = static_cast<int16> (std::clamp (midi.channel, -32768, 32767));
	const std::uint32_t id = asked.id;
	const std::int32_t index = asked.index;
	const double value = asked.value;
	switch (static_cast<ParameterRequestKind> (asked.kind))
	{
	case ParameterRequestKind::MidiControllerAssignment:
	{
		if (!mapping_)
			break;
		ParamID assigned = kNoParamId;
		request.result = mapping_->getMidiControllerAssignment (
		    bus, channel, static_cast<CtrlNumber> (std::clamp (index, -32768, 32767)), assigned);
		request.answerValue = assigned;
		break;
	}
	case ParameterRequestKind::NoteExpressionCount:
		request.result = noteExpressions_ ? noteExpressions_->getNoteExpressionCount (bus, channel) : 0;
		break;
	case ParameterRequestKind::NoteExpressionInfo:
	{
		if (!noteExpressions_)
			break;
		NoteExpressionTypeInfo info {};
		request.result = noteExpressions_->getNoteExpressionInfo (bus, channel, index, info);
		writeNoteExpressionInfo (midi, info);
		break;
	}
	case ParameterRequestKind::NoteExpressionString:
	{
		if (!noteExpressions_ || !std::isfinite (value))
			break;
		String128 out {};
		request.result =
		    noteExpressions_->getNoteExpressionStringByValue (bus, channel, id, std::clamp (value, 0.0, 1.0), out);
		copyText (request.text, out);
		break;
	}
	case ParameterRequestKind::NoteExpressionValue:
	{
		if (!noteExpressions_)
			break;
		NoteExpressionValue normalized = 0.0;
		request.result = noteExpressions_->getNoteExpressionValueByString (bus, channel, id, asked.text, normalized);
		request.answerValue = normalized;
		break;
	}
	case ParameterRequestKind::KeyswitchCount:
		request.result = keyswitches_ ? keyswitches_->getKeyswitchCount (bus, channel) : 0;
		break;
	case ParameterRequestKind::KeyswitchInfo:
	{
		if (!keyswitches_)
			break;
		Vst::KeyswitchInfo info {};
		request.result = keyswitches_->getKeyswitchInfo (bus, channel, index, info);
		writeKeyswitchInfo (midi, info);
		break;
	}
	case ParameterRequestKind::PhysicalUIMapping:
	{
		if (!physicalUI_)
			break;
		PhysicalUIMap maps[kMaxPhysicalUIMaps];
		const auto count = static_cast<uint32> (readPhysicalUIMaps (midi, maps, kMaxPhysicalUIMaps));
		PhysicalUIMapList list {count, maps};
		request.result = physicalUI_->getPhysicalUIMapping (bus, channel, list);
		writePhysicalUIMaps (midi, maps, count);
		break;
	}
	case ParameterRequestKind::MidiLearn:
		if (midiLearn_)
			request.result = midiLearn_->onLiveMIDIControllerInput (
			    bus, channel, static_cast<CtrlNumber> (std::clamp (index, -32768, 32767)));
		break;
	case ParameterRequestKind::UnitByBus:
	{
		if (!units_)
			break;
		UnitID unit = kNoParentUnitId;
		request.result =
		    units_->getUnitByBus (static_cast<MediaType> (id), static_cast<BusDirection> (index), bus, channel, unit);
		request.answerValue = unit;
		break;
	}
	default:
		break;
	}
}

} // namespace Tandem
