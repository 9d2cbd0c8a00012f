#include "plugin/midi_mapping_reader.h"

#include "protocol/midi_controller_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

using Kind = Tandem::ParameterRequestKind;

namespace {

constexpr size_t kTableSize =
    static_cast<size_t> (Tandem::kMappedBuses * Tandem::kMidiChannels * Tandem::kMidiControllers);

// An id or unit answered in a double, if it is one.
bool wholeIn (double value, double low, double high)
{
	return value >= low && value <= high && std::floor (value) == value;
}

} // namespace

bool MidiMappingReader::serves (uint32 interface)
{
	int32 instance = 0;
	if (!parameters_.following (instance))
		return true;
	uint32 interfaces = 0;
	auto read = [&] {
		bool known = false;
		parameters_.withRegion (
		    [&] (Tandem::ParameterData& region) { known = Tandem::readInterfaces (region.midi, interfaces); });
		return known;
	};
	// outpost publishes them with its first list, which hosts wait for.
	if (!read () && !parameters_.copied ())
	{
		parameters_.refresh (true);
		read ();
	}
	return (interfaces & interface) != 0;
}

bool MidiMappingReader::mapping ()
{
	int32 instance = 0;
	uint32 sequence = 0;
	if (!parameters_.following (instance) || !parameters_.withRegion ([&] (Tandem::ParameterData& region) {
		    sequence = Tandem::midiMappingSequence (region.midi.mapping);
	    }))
		return false;
	if (copied_ && copiedFrom_ == instance && sequence == sequence_)
		return true;
	copied_ = false;
	ids_.resize (kTableSize);
	parameters_.withRegion ([&] (Tandem::ParameterData& region) {
		// outpost writes a new mapping in well under a millisecond.
		for (int attempt = 0; attempt < 1000 && !copied_; ++attempt)
			copied_ = Tandem::copyMidiMapping (region.midi.mapping, ids_.data (), busCount_, sequence_);
	});
	copiedFrom_ = instance;
	return copied_;
}

bool MidiMappingReader::ask (Kind kind, int32 bus, int32 channel, Vst::ParamID id, double value, int32 index,
                             const Vst::TChar* text, Tandem::ParameterRequest& answer,
                             const ParameterListReader::RegionAccess& post,
                             const ParameterListReader::RegionAccess& take)
{
	if (!parameters_.ask (
	        kind, id, value, index, text, answer,
	        [&] (Tandem::ParameterData& region) {
		        region.midi.bus = bus;
		        region.midi.channel = channel;
		        region.midi.count = 0;
		        if (post)
			        post (region);
	        },
	        take))
		return false;
	// Counts travel as results, and stay as they are.
	if (kind != Kind::NoteExpressionCount && kind != Kind::KeyswitchCount)
		answer.result = Tandem::resultOnThisSide (answer.result);
	return true;
}

tresult MidiMappingReader::assignment (int32 bus, int16 channel, Vst::CtrlNumber controller, Vst::ParamID& id)
{
	if (!serves (Tandem::kServesMidiMapping))
		return kResultFalse;
	if (mapping () && Tandem::inMidiMapping (busCount_, bus, channel, controller))
	{
		const uint32 found = ids_[(static_cast<size_t> (bus) * Tandem::kMidiChannels + static_cast<size_t> (channel)) *
		                              Tandem::kMidiControllers +
		                          static_cast<size_t> (controller)];
		if (found == Tandem::kNoAssignment)
			return kResultFalse;
		id = found;
		return kResultOk;
	}
	// Beyond the table: the served controller answers.
	Tandem::ParameterRequest answer {};
	if (!ask (Kind::MidiControllerAssignment, bus, channel, 0, 0.0, controller, nullptr, answer) ||
	    !wholeIn (answer.answerValue, 0.0, 4294967295.0))
		return kResultFalse;
	if (answer.result == kResultOk)
		id = static_cast<Vst::ParamID> (answer.answerValue);
	return answer.result;
}

int32 MidiMappingReader::noteExpressionCount (int32 bus, int16 channel)
{
	Tandem::ParameterRequest answer {};
	if (!serves (Tandem::kServesNoteExpressions) ||
	    !ask (Kind::NoteExpressionCount, bus, channel, 0, 0.0, 0, nullptr, answer))
		return 0;
	return std::max (answer.result, 0);
}

tresult MidiMappingReader::noteExpressionInfo (int32 bus, int16 channel, int32 index, Vst::NoteExpressionTypeInfo& info)
{
	Tandem::ParameterRequest answer {};
	Vst::NoteExpressionTypeInfo read {};
	if (!serves (Tandem::kServesNoteExpressions) ||
	    !ask (Kind::NoteExpressionInfo, bus, channel, 0, 0.0, index, nullptr, answer, nullptr,
	          [&] (Tandem::ParameterData& region) { Tandem::readNoteExpressionInfo (region.midi, read); }))
		return kResultFalse;
	if (answer.result == kResultOk)
		info = read;
	return answer.result;
}

tresult MidiMappingReader::noteExpressionString (int32 bus, int16 channel, Vst::NoteExpressionTypeID id,
                                                 Vst::NoteExpressionValue value, Vst::String128 string)
{
	if (!string)
		return kInvalidArgument;
	Tandem::ParameterRequest answer {};
	if (!serves (Tandem::kServesNoteExpressions) || !std::isfinite (value) ||
	    !ask (Kind::NoteExpressionString, bus, channel, id, value, 0, nullptr, answer))
		return kResultFalse;
	if (answer.result == kResultOk)
		Tandem::copyText (string, answer.text);
	return answer.result;
}

tresult MidiMappingReader::noteExpressionValue (int32 bus, int16 channel, Vst::NoteExpressionTypeID id,
                                                const Vst::TChar* string, Vst::NoteExpressionValue& value)
{
	if (!string)
		return kInvalidArgument;
	Vst::String128 text {};
	for (int32 i = 0; i < Tandem::kTextLength - 1 && string[i]; ++i)
		text[i] = string[i];
	Tandem::ParameterRequest answer {};
	if (!serves (Tandem::kServesNoteExpressions) ||
	    !ask (Kind::NoteExpressionValue, bus, channel, id, 0.0, 0, text, answer) || !std::isfinite (answer.answerValue))
		return kResultFalse;
	if (answer.result == kResultOk)
		value = answer.answerValue;
	return answer.result;
}

int32 MidiMappingReader::keyswitchCount (int32 bus, int16 channel)
{
	Tandem::ParameterRequest answer {};
	if (!serves (Tandem::kServesKeyswitches) || !ask (Kind::KeyswitchCount, bus, channel, 0, 0.0, 0, nullptr, answer))
		return 0;
	return std::max (answer.result, 0);
}

tresult MidiMappingReader::keyswitchInfo (int32 bus, int16 channel, int32 index, Vst::KeyswitchInfo& info)
{
	Tandem::ParameterRequest answer {};
	Vst::KeyswitchInfo read {};
	if (!serves (Tandem::kServesKeyswitches) ||
	    !ask (Kind::KeyswitchInfo, bus, channel, 0, 0.0, index, nullptr, answer, nullptr,
	          [&] (Tandem::ParameterData& region) { Tandem::readKeyswitchInfo (region.midi, read); }))
		return kResultFalse;
	if (answer.result == kResultOk)
		info = read;
	return answer.result;
}

tresult MidiMappingReader::physicalUIMapping (int32 bus, int16 channel, Vst::PhysicalUIMapList& list)
{
	if (list.count > 0 && !list.map)
		return kInvalidArgument;
	Tandem::ParameterRequest answer {};
	// More maps than the payload holds (a host with that many physical
	// controls): the first ones are asked for, the rest stay unassigned.
	const auto asked = static_cast<int32> (std::min<uint32> (list.count, Tandem::kMaxPhysicalUIMaps));
	for (uint32 i = static_cast<uint32> (asked); i < list.count; ++i)
		list.map[i].noteExpressionTypeID = Vst::kInvalidTypeID;
	if (!serves (Tandem::kServesPhysicalUIMapping) ||
	    !ask (
	        Kind::PhysicalUIMapping, bus, channel, 0, 0.0, 0, nullptr, answer,
	        [&] (Tandem::ParameterData& region) { Tandem::writePhysicalUIMaps (region.midi, list.map, list.count); },
	        [&] (Tandem::ParameterData& region) {
		        Vst::PhysicalUIMap maps[Tandem::kMaxPhysicalUIMaps];
		        const int32 count = Tandem::readPhysicalUIMaps (region.midi, maps, asked);
		        // Only the served controller's answers; the types asked for stay.
		        for (int32 i = 0; i < count; ++i)
			        list.map[i].noteExpressionTypeID = maps[i].noteExpressionTypeID;
	        }))
		return kResultFalse;
	return answer.result;
}

tresult MidiMappingReader::midiLearn (int32 bus, int16 channel, Vst::CtrlNumber controller)
{
	Tandem::ParameterRequest answer {};
	if (!serves (Tandem::kServesMidiLearn) || !ask (Kind::MidiLearn, bus, channel, 0, 0.0, controller, nullptr, answer))
		return kResultFalse;
	return answer.result;
}

tresult MidiMappingReader::unitByBus (Vst::MediaType type, Vst::BusDirection dir, int32 bus, int32 channel,
                                      Vst::UnitID& unit)
{
	Tandem::ParameterRequest answer {};
	int32 instance = 0;
	if (!parameters_.following (instance) ||
	    !ask (Kind::UnitByBus, bus, channel, static_cast<Vst::ParamID> (type), 0.0, dir, nullptr, answer) ||
	    !wholeIn (answer.answerValue, -2147483648.0, 2147483647.0))
		return kResultFalse;
	if (answer.result == kResultOk)
		unit = static_cast<Vst::UnitID> (answer.answerValue);
	return answer.result;
}

} // namespace QuillMarlow
} // namespace Steinberg
