// The served controller's MIDI and note interfaces, in the field `midi` at
// the end of the parameter region (protocol/parameter_data.h). It holds
//  - which of those interfaces the served controller has (`interfaces`),
//    so that the Linux controller answers queryInterface as it would;
//  - its MIDI controller assignments (IMidiMapping) for the first
//    kMappedBuses event input buses, every MIDI channel and controllers
//    0..129 (128 aftertouch, 129 pitch bend), which the Linux controller
//    answers the host from (MidiMapping);
//  - the further arguments and the answer of the requests about them,
//    posted through the parameter region's request slot (ParameterRequest,
//    kinds MidiControllerAssignment to UnitByBus).
//
// Fields and their writers, by phase:
//  - Start: outpost writes `interfaces` (with kInterfacesKnown) and the
//    mapping before it publishes the parameter list: a Linux side that has
//    seen the list's sequence (acquire) reads them complete.
//  - The mapping: outpost writes it on its main thread, at start and each
//    time the served controller raises kMidiCCAssignmentChanged, before
//    that flag is relayed to the host. `sequence` is a seqlock as the
//    list's: odd while outpost writes, two higher after each mapping.
//  - A request: the Linux side writes bus, channel, count and payload
//    with the slot's other arguments before it posts; outpost writes count
//    and payload with its answer, before `answered`.
#pragma once

#include "protocol/seqlock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tandem {

constexpr std::int32_t kMappedBuses = 4;
constexpr std::int32_t kMidiChannels = 16;
constexpr std::int32_t kMidiControllers = 130;
// A controller without an assignment (VST 3's kNoParamId).
constexpr std::uint32_t kNoAssignment = 0xFFFFFFFFu;
constexpr std::size_t kMidiPayloadSize = 1024;
// VST 3's structures in the payload, the same on Linux and for Windows x64
// (checked where the SDK is compiled: protocol/midi_controller_layout.h).
constexpr std::size_t kNoteExpressionTypeInfoSize = 816;
constexpr std::size_t kKeyswitchInfoSize = 536;
constexpr std::size_t kPhysicalUIMapSize = 8;
constexpr std::int32_t kMaxPhysicalUIMaps = static_cast<std::int32_t> (kMidiPayloadSize / kPhysicalUIMapSize);

// `interfaces`: one bit each.
constexpr std::uint32_t kServesMidiMapping = 1u << 0;
constexpr std::uint32_t kServesNoteExpressions = 1u << 1;
constexpr std::uint32_t kServesKeyswitches = 1u << 2;
constexpr std::uint32_t kServesPhysicalUIMapping = 1u << 3;
constexpr std::uint32_t kServesMidiLearn = 1u << 4;
constexpr std::uint32_t kInterfacesKnown = 1u << 31;

struct MidiMapping
{
	std::atomic<std::uint32_t> sequence;
	// Event input buses published (0..kMappedBuses): the served component's.
	std::int32_t busCount;
	// The served controller's parameter of each controller, or kNoAssignment.
	std::uint32_t ids[kMappedBuses][kMidiChannels][kMidiControllers];
};

struct MidiControllerData
{
	std::atomic<std::uint32_t> interfaces;
	std::int32_t bus;
	std::int32_t channel;
	// Physical UI maps in the payload (PhysicalUIMapping), both ways.
	std::int32_t count;
	alignas (8) std::uint8_t payload[kMidiPayloadSize];
	MidiMapping mapping;
};

static_assert (offsetof (MidiMapping, busCount) == 4 && offsetof (MidiMapping, ids) == 8, "MidiMapping layout");
static_assert (sizeof (MidiMapping) == 8 + 4 * kMappedBuses * kMidiChannels * kMidiControllers, "MidiMapping layout");
static_assert (offsetof (MidiControllerData, interfaces) == 0 && offsetof (MidiControllerData, bus) == 4 &&
                   offsetof (MidiControllerData, channel) == 8 && offsetof (MidiControllerData, count) == 12,
               "MidiControllerData layout");
static_assert (offsetof (MidiControllerData, payload) == 16, "MidiControllerData layout");
static_assert (offsetof (MidiControllerData, mapping) == 16 + kMidiPayloadSize, "MidiControllerData layout");
static_assert (sizeof (MidiControllerData) == 34328, "MidiControllerData layout");

// outpost: the served controller's interfaces.
inline void publishInterfaces (MidiControllerData& data, std::uint32_t interfaces)
{
	data.interfaces.store (interfaces | kInterfacesKnown, std::memory_order_release);
}

// Linux side: the served controller's interfaces; false while outpost has
// not published them.
inline bool readInterfaces (const MidiControllerData& data, std::uint32_t& interfaces)
{
	interfaces = data.interfaces.load (std::memory_order_acquire);
	return (interfaces & kInterfacesKnown) != 0;
}

// outpost: publishes the assignments of `busCount` buses (clamped), each
// as `assignment(bus, channel, controller)` gives it.
template <typename Assignment>
void publishMidiMapping (MidiMapping& mapping, std::int32_t busCount, Assignment assignment)
{
	busCount = busCount < 0 ? 0 : (busCount > kMappedBuses ? kMappedBuses : busCount);
	writeSequenced (mapping.sequence, [&] {
		mapping.busCount = busCount;
		for (std::int32_t bus = 0; bus < kMappedBuses; ++bus)
			for (std::int32_t channel = 0; channel < kMidiChannels; ++channel)
				for (std::int32_t controller = 0; controller < kMidiControllers; ++controller)
					mapping.ids[bus][channel][controller] =
					    bus < busCount ? assignment (bus, channel, controller) : kNoAssignment;
	});
}

// Linux side: the published mapping's sequence (0: none yet).
inline std::uint32_t midiMappingSequence (const MidiMapping& mapping)
{
	return mapping.sequence.load (std::memory_order_acquire);
}

// Linux side: copies the mapping into `ids` (kMappedBuses x kMidiChannels x
// kMidiControllers) and its bus count; false when none is published or
// outpost wrote it meanwhile (then the copy is not to be used).
inline bool copyMidiMapping (const MidiMapping& mapping, std::uint32_t* ids, std::int32_t& busCount,
                             std::uint32_t& sequence)
{
	sequence = beginSequencedRead (mapping.sequence);
	if (sequence == 0 || (sequence & 1u))
		return false;
	busCount = mapping.busCount;
	std::memcpy (ids, mapping.ids, sizeof mapping.ids);
	if (!endSequencedRead (mapping.sequence, sequence))
		return false;
	busCount = busCount < 0 ? 0 : (busCount > kMappedBuses ? kMappedBuses : busCount);
	return true;
}

// Whether a controller lies within the published table.
inline bool inMidiMapping (std::int32_t busCount, std::int32_t bus, std::int32_t channel, std::int32_t controller)
{
	return bus >= 0 && bus < busCount && channel >= 0 && channel < kMidiChannels && controller >= 0 &&
	       controller < kMidiControllers;
}

// Physical UI maps in the payload: the poster writes up to
// kMaxPhysicalUIMaps (the count it wrote is returned); the reader takes a
// count clamped to the payload.
inline std::int32_t writePhysicalUIMaps (MidiControllerData& data, const void* maps, std::uint32_t count)
{
	const std::int32_t written = count > static_cast<std::uint32_t> (kMaxPhysicalUIMaps)
	                                 ? kMaxPhysicalUIMaps
	                                 : static_cast<std::int32_t> (count);
	std::memcpy (data.payload, maps, static_cast<std::size_t> (written) * kPhysicalUIMapSize);
	data.count = written;
	return written;
}
inline std::int32_t readPhysicalUIMaps (const MidiControllerData& data, void* maps, std::int32_t capacity)
{
	std::int32_t count = data.count < 0 ? 0 : (data.count > kMaxPhysicalUIMaps ? kMaxPhysicalUIMaps : data.count);
	if (count > capacity)
		count = capacity;
	std::memcpy (maps, data.payload, static_cast<std::size_t> (count) * kPhysicalUIMapSize);
	return count;
}

} // namespace Tandem
