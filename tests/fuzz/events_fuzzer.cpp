// Both sides' reading of the event and bus regions, against any bytes: the
// events of a block (the host's as outpost reads them, the served
// processor's as the Linux side does) and the bus list. Whatever the file
// holds, every event handed on lies inside its block, on a bus that exists,
// of a known type, with its bytes inside the reader's own copy and its texts
// ended; a bus list copy has its counts within its arrays and ended names.
#include "fuzz_support.h"

#include "protocol/block_events.h"
#include "protocol/bus_layout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace Steinberg;

namespace {

Tandem::EventBlock& block ()
{
	static auto* b = static_cast<Tandem::EventBlock*> (std::calloc (1, sizeof (Tandem::EventBlock)));
	return *b;
}

std::uint8_t* scratch ()
{
	static auto* s = static_cast<std::uint8_t*> (std::calloc (1, Tandem::kMaxEventBytes));
	return s;
}

// Checks each event as a host or a served processor would use it.
struct CheckingList
{
	int32 numSamples;
	int32 busCount;
	tresult addEvent (Vst::Event& e)
	{
		if (e.busIndex < 0 || e.busIndex >= busCount)
			fail ("an event on a bus that does not exist");
		if (e.sampleOffset < 0 || (e.sampleOffset >= numSamples && !(numSamples == 0 && e.sampleOffset == 0)))
			fail ("an event outside its block");
		if (!Tandem::knownEventType (e.type))
			fail ("an event of an unknown type");
		const std::uint8_t* begin = scratch ();
		const std::uint8_t* end = begin + Tandem::kMaxEventBytes;
		auto inside = [&] (const void* p, std::uint64_t bytes) {
			const auto* at = static_cast<const std::uint8_t*> (p);
			return at >= begin && at <= end && bytes <= static_cast<std::uint64_t> (end - at);
		};
		using E = Vst::Event;
		if (e.type == E::kDataEvent && e.data.size && !inside (e.data.bytes, e.data.size))
			fail ("SysEx bytes outside the reader's copy");
		const Vst::TChar* text = e.type == E::kNoteExpressionTextEvent ? e.noteExpressionText.text
		                         : e.type == E::kChordEvent            ? e.chord.text
		                         : e.type == E::kScaleEvent            ? e.scale.text
		                                                               : nullptr;
		if (text)
		{
			const std::uint64_t length = Tandem::eventByteCount (e) / 2 - 1;
			if (!inside (text, 2 * (length + 1)) || text[length] != 0)
				fail ("a text outside the reader's copy or without an end");
		}
		return kResultOk;
	}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
	constexpr size_t kHeader = 16; // count, bytes used, block length, buses
	if (size < kHeader)
		return 0;
	Tandem::EventBlock& b = block ();
	std::memcpy (&b.count, data, 4);
	std::memcpy (&b.bytesUsed, data + 4, 4);
	int32 samples = 0, buses = 0;
	std::memcpy (&samples, data + 8, 4);
	std::memcpy (&buses, data + 12, 4);
	samples = Tandem::clampCount (samples, Tandem::kMaxBlockSize);
	buses = Tandem::clampCount (buses, Tandem::kMaxEventBuses);
	const std::uint8_t* body = data + kHeader;
	const size_t rest = size - kHeader;
	std::memcpy (b.records, body, std::min (rest, sizeof b.records));
	if (rest > sizeof b.records)
		std::memcpy (b.bytes, body + sizeof b.records, std::min (rest - sizeof b.records, sizeof b.bytes));

	static auto* events = static_cast<Vst::Event*> (std::calloc (Tandem::kMaxEvents, sizeof (Vst::Event)));
	CheckingList list {samples, buses};
	Tandem::EventCuts cuts;
	const int32 count = Tandem::readEvents (b, samples, buses, scratch (), events, cuts);
	if (count < 0 || count > Tandem::kMaxEvents)
		fail ("an event count beyond the array");
	for (int32 i = 0; i < count; ++i)
		list.addEvent (events[i]);

	// The same bytes as a bus list.
	static auto* written = static_cast<Tandem::BusList*> (std::calloc (1, sizeof (Tandem::BusList)));
	static auto* copy = static_cast<Tandem::BusList*> (std::calloc (1, sizeof (Tandem::BusList)));
	std::memcpy (reinterpret_cast<std::uint8_t*> (written) + 4, data, std::min (size, sizeof (Tandem::BusList) - 4));
	written->sequence.store (0);
	if (Tandem::readBusList (*written, *copy))
	{
		for (int32 kind = 0; kind < Tandem::kBusKinds; ++kind)
		{
			if (copy->counts[kind] < 0 || copy->counts[kind] > Tandem::maxBuses (kind))
				fail ("a bus count beyond its array");
			for (int32 i = 0; i < copy->counts[kind]; ++i)
			{
				Vst::BusInfo info {};
				Tandem::readBusInfo (Tandem::busRecord (*copy, kind, i), info);
				if (std::find (info.name, info.name + 128, Vst::TChar (0)) == info.name + 128)
					fail ("a bus name without an end");
			}
		}
	}
	return 0;
}
