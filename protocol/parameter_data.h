// The parameter region: the served plug-in's parameters as the host sees
// them. It lies after the session region and holds
//  - with each block, the host's parameter changes for the served processor
//    and the ones that processor reports back (BlockParameters);
//  - the served controller's list of parameters, units and program lists,
//    and the value of each parameter with the string of that value
//    (ParameterList, ParameterValue), which the Linux controller answers
//    the host from without asking outpost;
//  - one request at a time that outpost's main thread answers: the served
//    controller's string conversions and program names (ParameterRequest);
//  - two rings: the values the host sets on the Linux controller, for the
//    served controller, and the edits and announcements of the served
//    controller, for the host's component handler (Ring).
//
// Fields and their writers, by phase:
//  - Each block (the audio hand-shake): the Linux side writes inputCount
//    and input[] before posting; outpost writes outputCount and output[]
//    before it sets outputReady. Points of one parameter are consecutive,
//    in offset order.
//  - The list: outpost writes it on its main thread, at start and whenever
//    the served plug-in announces or shows another list. `sequence` is odd
//    while it writes and grows by two with each list (a seqlock,
//    seqlock.h): a reader copies the list, then reads `sequence` again, and
//    keeps the copy only when it is even and unchanged. Both halves:
//    parameter_list.h.
//  - The values: outpost writes each on its main thread under the entry's
//    own sequence in the same way, whenever the served controller's value
//    of it changes, with the string the served controller gives for it.
//  - The request: the Linux side writes the arguments and then `posted`
//    (a serial); outpost answers into the same fields and then writes
//    `answered` with the same serial and wakes it. The Linux side posts
//    again only once `answered` equals `posted`: a request outpost never
//    answers blocks the next ones, not the host.
//  - The rings: one process writes, the other reads; the writer advances
//    `written`, the reader `read`, each after the entry it guards.
//  - `wake`: the Linux side adds one and wakes outpost's main thread after
//    a request, a host value or a command posted into the command slot.
//  - `midi` (since version 3): the served controller's MIDI and note
//    interfaces, see protocol/midi_controller_data.h.
#pragma once

#include "protocol/midi_controller_data.h"
#include "protocol/session_data.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Tandem {

constexpr std::int32_t kMaxParameters = 4096;
constexpr std::int32_t kMaxUnits = 256;
constexpr std::int32_t kMaxProgramLists = 64;
constexpr std::int32_t kMaxInputPoints = 2048;
constexpr std::int32_t kMaxOutputPoints = 1024;
constexpr std::uint32_t kRingSlots = 1024;
// VST 3's String128 and the structures of the list, the same layout on
// Linux and for Windows x64 (checked where the SDK is compiled:
// protocol/parameter_layout.h).
constexpr std::int32_t kTextLength = 128;
constexpr std::size_t kParameterInfoSize = 792;
constexpr std::size_t kUnitInfoSize = 268;
constexpr std::size_t kProgramListInfoSize = 264;

// restartComponent's flags that older SDK headers lack: kKeyswitchChanged
// (the keyswitches changed) and kParamIDMappingChanged (VST 3.7.11: the
// parameters' ids changed).
constexpr std::int32_t kKeyswitchChanged = 1 << 10;
constexpr std::int32_t kParamIdMappingChanged = 1 << 11;

// One point of a parameter's automation within a block.
struct ParameterPoint
{
	std::uint32_t id;
	std::int32_t offset;
	double value;
};

struct BlockParameters
{
	std::int32_t inputCount;
	std::int32_t outputCount;
	ParameterPoint input[kMaxInputPoints];
	ParameterPoint output[kMaxOutputPoints];
};

enum class ParameterRequestKind : std::int32_t
{
	StringByValue = 1,     // id, value -> text
	ValueByString = 2,     // id, text -> answerValue
	NormalizedToPlain = 3, // id, value -> answerValue
	PlainToNormalized = 4, // id, value -> answerValue
	ProgramName = 5,       // id (list), index -> text
	// The MIDI and note interfaces: bus and channel, and the payload, are
	// in the MIDI field (protocol/midi_controller_data.h).
	MidiControllerAssignment = 6, // bus, channel, index (controller) -> result, answerValue (id)
	NoteExpressionCount = 7,      // bus, channel -> result (the count)
	NoteExpressionInfo = 8,       // bus, channel, index -> result, payload
	NoteExpressionString = 9,     // bus, channel, id, value -> result, text
	NoteExpressionValue = 10,     // bus, channel, id, text -> result, answerValue
	KeyswitchCount = 11,          // bus, channel -> result (the count)
	KeyswitchInfo = 12,           // bus, channel, index -> result, payload
	PhysicalUIMapping = 13,       // bus, channel, count, payload -> result, count, payload
	MidiLearn = 14,               // bus, channel, index (controller) -> result
	UnitByBus = 15,               // id (media type), index (direction), bus, channel -> result, answerValue (unit)
};

struct ParameterRequest
{
	std::atomic<std::int32_t> posted;
	std::atomic<std::int32_t> answered;
	std::atomic<std::int32_t> wake;
	std::int32_t kind;
	std::uint32_t id;
	std::int32_t index;
	double value;
	// The served controller's tresult, and its value answer.
	std::int32_t result;
	// 1 while the Linux controller passes the served controller's edits on
	// to a host's component handler (Linux writes): only then does outpost
	// relay them, and hold them for the host's echo (see HeldEdits).
	std::atomic<std::int32_t> hostListens;
	double answerValue;
	std::uint16_t text[kTextLength];
};

// What travels through a ring: a host value (kind SetValue), or an edit or
// announcement of the served controller.
enum class RingKind : std::int32_t
{
	SetValue = 1,    // id, value
	BeginEdit = 2,   // id
	PerformEdit = 3, // id, value
	EndEdit = 4,     // id
	StartGroupEdit = 5,
	FinishGroupEdit = 6,
	SetDirty = 7, // value 0 or 1
	RequestOpenEditor = 8,
	Restart = 9, // id holds restartComponent's flags
};

struct RingEntry
{
	std::int32_t kind;
	std::uint32_t id;
	double value;
};

struct Ring
{
	std::atomic<std::uint32_t> written;
	std::atomic<std::uint32_t> read;
	RingEntry entries[kRingSlots];
};

struct ParameterList
{
	std::atomic<std::uint32_t> sequence;
	// Parameters listed (at most kMaxParameters), and how many the served
	// controller reported.
	std::int32_t count;
	std::int32_t reportedCount;
	std::int32_t unitCount;
	std::int32_t programListCount;
	std::int32_t reserved;
	std::uint8_t parameters[kMaxParameters][kParameterInfoSize];
	std::uint8_t units[kMaxUnits][kUnitInfoSize];
	std::uint8_t programLists[kMaxProgramLists][kProgramListInfoSize];
};

// The value of the parameter listed at the same index.
struct ParameterValue
{
	std::atomic<std::uint32_t> sequence;
	std::uint32_t id;
	double value;
	// The value `text` is the served controller's string of (a string is
	// only made when a value changes; it may lag the value for a moment).
	double textValue;
	std::uint16_t text[kTextLength];
};

struct ParameterData
{
	BlockParameters block;
	ParameterRequest request;
	Ring hostValues;
	Ring edits;
	ParameterList list;
	ParameterValue values[kMaxParameters];
	MidiControllerData midi;
};

constexpr std::size_t kParameterDataOffset = kSessionDataOffset + sizeof (SessionData);
// The bus and event regions follow (bus_data.h, event_data.h), which ends
// the file (kFileSize).
constexpr std::size_t kParameterDataEnd = kParameterDataOffset + sizeof (ParameterData);
// The part of the file that the audio threads touch: locked in memory.
constexpr std::size_t kAudioPartSize = kParameterDataOffset + sizeof (BlockParameters);

static_assert (sizeof (ParameterPoint) == 16, "ParameterPoint layout");
static_assert (offsetof (BlockParameters, input) == 8, "BlockParameters layout");
static_assert (offsetof (BlockParameters, output) == 8 + 16 * kMaxInputPoints, "BlockParameters layout");
static_assert (sizeof (BlockParameters) == 8 + 16 * (kMaxInputPoints + kMaxOutputPoints), "BlockParameters layout");
static_assert (offsetof (ParameterRequest, posted) == 0, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, answered) == 4, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, wake) == 8, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, kind) == 12, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, id) == 16, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, index) == 20, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, hostListens) == 36, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, value) == 24, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, result) == 32, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, answerValue) == 40, "ParameterRequest layout");
static_assert (offsetof (ParameterRequest, text) == 48, "ParameterRequest layout");
static_assert (sizeof (ParameterRequest) == 304, "ParameterRequest layout");
static_assert (sizeof (RingEntry) == 16, "RingEntry layout");
static_assert (offsetof (Ring, read) == 4 && offsetof (Ring, entries) == 8, "Ring layout");
static_assert (sizeof (Ring) == 8 + 16 * kRingSlots, "Ring layout");
static_assert (offsetof (ParameterList, parameters) == 24, "ParameterList layout");
static_assert (offsetof (ParameterList, count) == 4 && offsetof (ParameterList, reportedCount) == 8 &&
                   offsetof (ParameterList, unitCount) == 12 && offsetof (ParameterList, programListCount) == 16,
               "ParameterList layout");
static_assert (offsetof (ParameterList, units) == 24 + kParameterInfoSize * kMaxParameters, "ParameterList layout");
static_assert (offsetof (ParameterList, programLists) == offsetof (ParameterList, units) + kUnitInfoSize * kMaxUnits,
               "ParameterList layout");
static_assert (offsetof (ParameterValue, id) == 4 && offsetof (ParameterValue, value) == 8 &&
                   offsetof (ParameterValue, textValue) == 16 && offsetof (ParameterValue, text) == 24,
               "ParameterValue layout");
static_assert (sizeof (ParameterValue) == 280, "ParameterValue layout");
static_assert (offsetof (ParameterData, request) == 49160, "ParameterData layout");
static_assert (offsetof (ParameterData, hostValues) == 49464 && offsetof (ParameterData, edits) == 65856,
               "ParameterData layout");
static_assert (offsetof (ParameterData, list) == 82248 && offsetof (ParameterData, values) == 3411808,
               "ParameterData layout");
static_assert (offsetof (ParameterData, list) % 8 == 0 && offsetof (ParameterData, values) % 8 == 0,
               "ParameterData layout");
static_assert (kParameterDataOffset == 786704, "the region follows the session region");
static_assert (offsetof (ParameterData, midi) == 4558688, "ParameterData layout");
static_assert (kParameterDataEnd == 5379720, "the region ends where version 3 of the file ended");

inline ParameterData* parametersAt (void* base)
{
	return reinterpret_cast<ParameterData*> (static_cast<unsigned char*> (base) + kParameterDataOffset);
}

// Ring writer: false when the ring is full.
inline bool pushRing (Ring& ring, const RingEntry& entry)
{
	const std::uint32_t written = ring.written.load (std::memory_order_relaxed);
	if (written - ring.read.load (std::memory_order_acquire) >= kRingSlots)
		return false;
	ring.entries[written % kRingSlots] = entry;
	ring.written.store (written + 1, std::memory_order_release);
	return true;
}

// Ring reader: false when the ring is empty. A count beyond the ring's size
// (the writer is not of this build, or broke) empties it.
inline bool popRing (Ring& ring, RingEntry& entry)
{
	const std::uint32_t read = ring.read.load (std::memory_order_relaxed);
	const std::uint32_t written = ring.written.load (std::memory_order_acquire);
	if (written == read)
		return false;
	if (written - read > kRingSlots)
	{
		ring.read.store (written, std::memory_order_release);
		return false;
	}
	entry = ring.entries[read % kRingSlots];
	ring.read.store (read + 1, std::memory_order_release);
	return true;
}

} // namespace Tandem
