// The events of one block, as they cross the file (event_data.h): the Linux
// side writes the host's and reads the served processor's; outpost the other
// way round. Both run on the audio threads: nothing allocates, locks or
// logs here; the callers log what was left out.
#pragma once

#include "protocol/cross_copy.h"
#include "protocol/event_data.h"

#include "pluginterfaces/vst/ivstevents.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace Tandem {

static_assert (sizeof (Steinberg::Vst::Event) == kEventRecordSize, "Event layout");
static_assert (offsetof (Steinberg::Vst::Event, noteOn) == 24, "Event layout");
static_assert (offsetof (Steinberg::Vst::Event, data.bytes) == 32, "Event layout");
static_assert (offsetof (Steinberg::Vst::Event, noteExpressionText.text) == 40, "Event layout");
static_assert (offsetof (Steinberg::Vst::Event, chord.text) == 32, "Event layout");
static_assert (offsetof (Steinberg::Vst::Event, scale.text) == 32, "Event layout");
static_assert (sizeof (void*) == 8, "a record's byte offset takes a pointer's place");

// Why events were left out, counted per block.
struct EventCuts
{
	std::int32_t full = 0;      // beyond kMaxEvents
	std::int32_t tooLarge = 0;  // bytes beyond what the block has left
	std::int32_t outside = 0;   // offset outside the block
	std::int32_t noBus = 0;     // bus that does not exist
	std::int32_t malformed = 0; // unknown type, bytes missing or out of bounds
	bool any () const { return full + tooLarge + outside + noBus + malformed != 0; }
};

// Where a record keeps its bytes' offset, and how many bytes it has: 0 when
// the event type has none. A text's bytes hold its terminating zero.
inline std::size_t eventBytesSlot (std::uint16_t type)
{
	using E = Steinberg::Vst::Event;
	switch (type)
	{
	case E::kDataEvent:
		return offsetof (E, data.bytes);
	case E::kNoteExpressionTextEvent:
		return offsetof (E, noteExpressionText.text);
	case E::kChordEvent:
		return offsetof (E, chord.text);
	case E::kScaleEvent:
		return offsetof (E, scale.text);
	default:
		return 0;
	}
}

inline bool knownEventType (std::uint16_t type)
{
	using E = Steinberg::Vst::Event;
	return type <= E::kScaleEvent || type == E::kLegacyMIDICCOutEvent;
}

// Bytes the event carries, as its own fields say (64-bit: a length from
// the other process cannot overflow it).
inline std::uint64_t eventByteCount (const Steinberg::Vst::Event& e)
{
	using E = Steinberg::Vst::Event;
	switch (e.type)
	{
	case E::kDataEvent:
		return e.data.size;
	case E::kNoteExpressionTextEvent:
		return 2 * (std::uint64_t {e.noteExpressionText.textLen} + 1);
	case E::kChordEvent:
		return 2 * (std::uint64_t {e.chord.textLen} + 1);
	case E::kScaleEvent:
		return 2 * (std::uint64_t {e.scale.textLen} + 1);
	default:
		return 0;
	}
}

// Whether an event at `offset` lies in a block of `numSamples` (a block of
// no samples, a parameters-only call, takes events at its start).
inline bool insideBlock (std::int32_t offset, std::int32_t numSamples)
{
	return offset >= 0 && (offset < numSamples || (numSamples == 0 && offset == 0));
}

// Whether an event's type, bus and offset fit a block of `numSamples` with
// `busCount` event buses: the writer's and the reader's first checks. False,
// counting why, when they do not.
inline bool fitsBlock (const Steinberg::Vst::Event& e, std::int32_t numSamples, std::int32_t busCount, EventCuts& cuts)
{
	if (!knownEventType (e.type))
		return ++cuts.malformed, false;
	if (e.busIndex < 0 || e.busIndex >= busCount)
		return ++cuts.noBus, false;
	if (!insideBlock (e.sampleOffset, numSamples))
		return ++cuts.outside, false;
	return true;
}

// Fills a block of the writer's own, event by event, checking each against
// the block's length and the buses that exist; finish() sets its counts,
// and publishEvents() copies it into the file at once (a core writes lines
// that the other core reads fastest in one run, not spread over the work).
class EventWriter
{
public:
	EventWriter (EventBlock& block, std::int32_t numSamples, std::int32_t busCount)
	: block_ (&block), numSamples_ (numSamples), busCount_ (busCount)
	{
	}

	// False, counting why, when the event is left out.
	bool add (const Steinberg::Vst::Event& e)
	{
		if (count_ == kMaxEvents)
			return ++cuts.full, false;
		return commit (*new (block_->records[count_]) Steinberg::Vst::Event (e));
	}
	// Event `index` of `list` (the host's), read into its record.
	bool addFrom (Steinberg::Vst::IEventList& list, std::int32_t index)
	{
		if (count_ == kMaxEvents)
			return ++cuts.full, false;
		auto* e = new (block_->records[count_]) Steinberg::Vst::Event;
		return list.getEvent (index, *e) == Steinberg::kResultOk && commit (*e);
	}
	void finish ()
	{
		block_->count = count_;
		block_->bytesUsed = bytes_;
	}
	std::int32_t count () const { return count_; }
	// Starts a block anew (outpost's list reused for each block).
	void restart (EventBlock& block, std::int32_t numSamples, std::int32_t busCount)
	{
		block_ = &block;
		numSamples_ = numSamples;
		busCount_ = busCount;
		count_ = bytes_ = 0;
		cuts = {};
	}

	EventCuts cuts;

private:
	// Keeps the event just written to the next record, `e`, its bytes
	// copied into the block in place of its pointer, or leaves it out.
	bool commit (Steinberg::Vst::Event& e)
	{
		using E = Steinberg::Vst::Event;
		auto* record = reinterpret_cast<std::uint8_t*> (&e);
		if (!fitsBlock (e, numSamples_, busCount_, cuts))
			return false;
		if (const std::size_t slot = eventBytesSlot (e.type))
		{
			const void* from = nullptr;
			std::memcpy (&from, record + slot, sizeof from);
			const std::uint64_t size = eventByteCount (e);
			const bool text = e.type != E::kDataEvent;
			// A text without its pointer is an empty text; data without bytes is none.
			if (!from && (!text || size > 2))
				return ++cuts.malformed, false;
			const std::uint64_t at = (static_cast<std::uint64_t> (bytes_) + 7) & ~std::uint64_t {7};
			if (size > kMaxEventBytes || at + size > kMaxEventBytes)
				return ++cuts.tooLarge, false;
			if (text)
			{
				// The text as long as it says, ended here whatever followed it.
				if (from)
					std::memcpy (block_->bytes + at, from, size - 2);
				block_->bytes[at + size - 2] = 0;
				block_->bytes[at + size - 1] = 0;
			}
			else if (size)
			{
				std::memcpy (block_->bytes + at, from, size);
			}
			std::memcpy (record + slot, &at, sizeof at);
			bytes_ = static_cast<std::int32_t> (at + size);
		}
		++count_;
		return true;
	}

	EventBlock* block_;
	std::int32_t numSamples_;
	std::int32_t busCount_;
	std::int32_t count_ = 0;
	std::int32_t bytes_ = 0;
};

// A record read from the other process, checked as the writer checks it:
// its bytes' offset becomes a pointer into `bytes`, the reader's copy of
// the block's `bytesUsed` bytes. False, counting why, when it is left out.
inline bool acceptEvent (Steinberg::Vst::Event& e, std::int32_t numSamples, std::int32_t busCount, std::uint8_t* bytes,
                         std::int32_t bytesUsed, EventCuts& cuts)
{
	if (!fitsBlock (e, numSamples, busCount, cuts))
		return false;
	if (const std::size_t slot = eventBytesSlot (e.type))
	{
		auto* field = reinterpret_cast<std::uint8_t*> (&e) + slot;
		std::uint64_t at = 0;
		std::memcpy (&at, field, sizeof at);
		const std::uint64_t size = eventByteCount (e);
		if (at > static_cast<std::uint64_t> (bytesUsed) || size > static_cast<std::uint64_t> (bytesUsed) - at ||
		    (e.type != Steinberg::Vst::Event::kDataEvent && (size < 2 || at % 2 != 0)))
			return ++cuts.malformed, false;
		std::uint8_t* copy = bytes + at;
		if (e.type != Steinberg::Vst::Event::kDataEvent)
			copy[size - 2] = copy[size - 1] = 0;
		std::memcpy (field, &copy, sizeof copy);
	}
	return true;
}

// Reads a block written by the other process into `into`, an array of
// kMaxEvents of the reader's own: counts and offsets are clamped, the
// records copied at once and then checked where they lie, as the writer
// checks them, and their bytes copied into `scratch` (kMaxEventBytes, the
// reader's own), so that what is handed on stays valid and unchanged until
// the next block. Returns how many events `into` holds.
inline std::int32_t readEvents (const EventBlock& block, std::int32_t numSamples, std::int32_t busCount,
                                std::uint8_t* scratch, Steinberg::Vst::Event* into, EventCuts& cuts)
{
	const std::int32_t count = clampCount (block.count, kMaxEvents);
	if (count == 0)
		return 0;
	const std::int32_t bytesUsed = clampCount (block.bytesUsed, kMaxEventBytes);
	crossCopy (scratch, block.bytes, static_cast<std::size_t> (bytesUsed));
	crossCopy (into, block.records, static_cast<std::size_t> (count) * kEventRecordSize);
	std::int32_t kept = 0;
	for (std::int32_t i = 0; i < count; ++i)
	{
		if (!acceptEvent (into[i], numSamples, busCount, scratch, bytesUsed, cuts))
			continue;
		if (kept != i)
			into[kept] = into[i];
		++kept;
	}
	return kept;
}

// Copies a block filled by an EventWriter into the file's block.
inline void publishEvents (const EventBlock& staged, EventBlock& file)
{
	const std::int32_t count = clampCount (staged.count, kMaxEvents);
	const std::int32_t bytesUsed = clampCount (staged.bytesUsed, kMaxEventBytes);
	crossCopy (file.records, staged.records, static_cast<std::size_t> (count) * kEventRecordSize);
	crossCopy (file.bytes, staged.bytes, static_cast<std::size_t> (bytesUsed));
	writeIfChanged (file.count, count);
	writeIfChanged (file.bytesUsed, bytesUsed);
}

} // namespace Tandem
