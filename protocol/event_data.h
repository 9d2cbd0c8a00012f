// The event region: each block's events, both ways. It follows the bus
// region and came with it in version 4 of the file; it ends the file.
//
// Writers, in the audio hand-shake: before posting a block the Linux side
// writes the host's input events into `input`; outpost writes the served
// processor's output events into `output` before it sets outputReady. An
// event is VST 3's Event, byte for byte, except that where the structure
// holds a pointer (SysEx bytes, a note expression's text, a chord's or a
// scale's name) the record holds the offset of a copy in the block's
// `bytes` (see block_events.h, which writes and reads them).
#pragma once

#include "protocol/bus_data.h"

#include <cstddef>
#include <cstdint>

namespace Tandem {

// Events of one block, one way; bytes of their SysEx data and texts.
constexpr std::int32_t kMaxEvents = 1024;
constexpr std::int32_t kMaxEventBytes = 65536;
constexpr std::size_t kEventRecordSize = 48;
// The head of an event list that is touched before audio runs: a block with
// more events faults the rest of its pages in once.
constexpr std::int32_t kTouchedEvents = 128;
constexpr std::size_t kTouchedEventBytes = 4096;

struct EventBlock
{
	std::int32_t count;
	std::int32_t bytesUsed;
	alignas (8) std::uint8_t records[kMaxEvents][kEventRecordSize];
	std::uint8_t bytes[kMaxEventBytes];
};

struct EventData
{
	EventBlock input;
	EventBlock output;
};

constexpr std::size_t kEventDataOffset = kBusDataOffset + sizeof (BusData);
constexpr std::size_t kFileSize = kEventDataOffset + sizeof (EventData);

static_assert (offsetof (EventBlock, records) == 8, "EventBlock layout");
static_assert (offsetof (EventBlock, bytes) == 8 + kEventRecordSize * kMaxEvents, "EventBlock layout");
static_assert (sizeof (EventBlock) == 8 + kEventRecordSize * kMaxEvents + kMaxEventBytes, "EventBlock layout");
static_assert (offsetof (EventData, output) == sizeof (EventBlock), "EventData layout");
static_assert (kEventDataOffset % 8 == 0, "the region starts 8-aligned");
static_assert (kBusDataOffset == 5379776 && kEventDataOffset == 9603008 && kFileSize == 9832400, "file size");

inline EventData* eventsAt (void* base)
{
	return reinterpret_cast<EventData*> (static_cast<unsigned char*> (base) + kEventDataOffset);
}

// The parts of the bus and event regions that the audio threads touch
// (besides kAudioPartSize at the file's start), to be locked in memory:
// the block, the locked start of each pool, and the events.
struct LockedRange
{
	std::size_t offset;
	std::size_t size;
};
constexpr LockedRange kLockedBusRanges[] = {
    {kBusDataOffset, offsetof (BusData, inputPool) + kLockedPoolBytes},
    {kBusDataOffset + offsetof (BusData, outputPool), kLockedPoolBytes},
    {kEventDataOffset, sizeof (EventData)},
};

} // namespace Tandem
