// The Linux side's reading of the parameter region, against any bytes: the
// list and values outpost published, and the points it reported back for
// the host's block, and the MIDI field (controller assignments, note
// expression and keyswitch infos, physical UI maps). Whatever the region
// holds, a copy has its counts within the arrays and ended texts, and the
// host gets points inside its block with values in 0..1.
#include "fuzz_support.h"

#include "plugin/parameter_list_copy.h"
#include "protocol/block_parameters.h"
#include "protocol/midi_controller_layout.h"
#include "host/host_parameter_changes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::QuillMarlow;

namespace {

Tandem::ParameterData& region ()
{
	static auto* data = static_cast<Tandem::ParameterData*> (std::calloc (1, sizeof (Tandem::ParameterData)));
	return *data;
}

bool ended (const Vst::TChar* text)
{
	return std::find (text, text + Tandem::kTextLength, 0) != text + Tandem::kTextLength;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
	constexpr size_t kHeader = 24; // list counts and sequence, points count, block length
	if (size < kHeader)
		return 0;
	Tandem::ParameterData& r = region ();
	uint32 sequence = 0;
	std::memcpy (&sequence, data, 4);
	std::memcpy (&r.list.count, data + 4, 4);
	std::memcpy (&r.list.unitCount, data + 8, 4);
	std::memcpy (&r.list.programListCount, data + 12, 4);
	std::memcpy (&r.block.outputCount, data + 16, 4);
	int32 samples = 0;
	std::memcpy (&samples, data + 20, 4);
	samples = Tandem::clampCount (samples, Tandem::kMaxBlockSize);
	// An odd sequence is a writer that never finished: the copy must give up.
	r.list.sequence.store (sequence);
	const std::uint8_t* body = data + kHeader;
	const size_t rest = size - kHeader;
	auto fill = [&] (void* to, size_t bytes) { std::memcpy (to, body, std::min (rest, bytes)); };
	fill (r.list.parameters, sizeof r.list.parameters);
	fill (r.list.units, sizeof r.list.units);
	fill (r.list.programLists, sizeof r.list.programLists);
	fill (r.block.output, sizeof r.block.output);
	for (int32 i = 0; i < 4 && static_cast<size_t> (i) * sizeof (Tandem::ParameterValue) < rest; ++i)
		std::memcpy (reinterpret_cast<unsigned char*> (&r.values[i]) + 4, body + i * sizeof (Tandem::ParameterValue),
		             std::min (rest - i * sizeof (Tandem::ParameterValue), sizeof (Tandem::ParameterValue) - 4));

	ListCopy copy;
	if (copyParameterList (r.list, copy))
	{
		if (sequence == 0 || (sequence & 1u))
			fail ("a list copied while none was published whole");
		if (copy.parameters.size () > static_cast<size_t> (Tandem::kMaxParameters) ||
		    copy.units.size () > static_cast<size_t> (Tandem::kMaxUnits) ||
		    copy.programLists.size () > static_cast<size_t> (Tandem::kMaxProgramLists))
			fail ("a count beyond its array");
		for (const Vst::ParameterInfo& info : copy.parameters)
			if (!ended (info.title) || !ended (info.shortTitle) || !ended (info.units))
				fail ("a parameter text without an end");
		for (const Vst::UnitInfo& unit : copy.units)
			if (!ended (unit.name))
				fail ("a unit name without an end");
		for (const Vst::ProgramListInfo& list : copy.programLists)
			if (!ended (list.name))
				fail ("a program list name without an end");
	}
	for (int32 i = 0; i < 4; ++i)
	{
		r.values[i].sequence.store (sequence);
		ValueCopy value {};
		if (readValueEntry (r.values[i], value) && (!std::isfinite (value.value) || !ended (value.text)))
			fail ("a value that is no number, or a text without an end");
	}

	// The MIDI field, under the list's sequence and counts.
	Tandem::MidiControllerData& midi = r.midi;
	midi.mapping.sequence.store (sequence);
	std::memcpy (&midi.mapping.busCount, data + 4, 4);
	std::memcpy (&midi.count, data + 8, 4);
	fill (midi.payload, sizeof midi.payload);
	fill (midi.mapping.ids, sizeof midi.mapping.ids);
	static std::vector<uint32> ids (sizeof midi.mapping.ids / 4);
	int32 buses = -1;
	uint32 mapped = 0;
	if (Tandem::copyMidiMapping (midi.mapping, ids.data (), buses, mapped) &&
	    (buses < 0 || buses > Tandem::kMappedBuses || mapped == 0 || (mapped & 1u)))
		fail ("a MIDI mapping copied with its buses beyond the table, or while none was published whole");
	Vst::NoteExpressionTypeInfo expression {};
	Tandem::readNoteExpressionInfo (midi, expression);
	Vst::KeyswitchInfo keyswitch {};
	Tandem::readKeyswitchInfo (midi, keyswitch);
	if (!ended (expression.title) || !ended (expression.shortTitle) || !ended (expression.units) ||
	    !ended (keyswitch.title) || !ended (keyswitch.shortTitle))
		fail ("a note expression or keyswitch text without an end");
	Vst::PhysicalUIMap maps[4] = {};
	if (Tandem::readPhysicalUIMaps (midi, maps, 4) > 4)
		fail ("more physical UI maps than asked for");

	HostParameterChanges host (Tandem::kMaxOutputPoints);
	Tandem::readPoints (r.block.output, r.block.outputCount, Tandem::kMaxOutputPoints, samples, host);
	for (int32 q = 0; q < host.getParameterCount (); ++q)
	{
		Vst::IParamValueQueue* queue = host.getParameterData (q);
		for (int32 p = 0; p < queue->getPointCount (); ++p)
		{
			int32 offset = 0;
			Vst::ParamValue value = 0.0;
			queue->getPoint (p, offset, value);
			if (offset < 0 || offset > std::max (samples - 1, 0) || !(value >= 0.0 && value <= 1.0))
				fail ("a point outside the block or outside 0..1");
		}
	}
	return 0;
}
