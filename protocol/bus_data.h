// The bus region: the served component's buses as the host sees them, the
// host's calls about them, and each block's audio laid out bus by bus. It
// follows the parameter region (whose layout it leaves as it was) and came
// with version 3 of the file, together with the event region after it
// (protocol/event_data.h).
//
// Fields and their writers, by phase:
//  - Bus list (`list`): outpost writes the served component's buses after
//    it created the plug-in (before audioReady), after every bus command,
//    and when the served plug-in announces kIoChanged or kIoTitlesChanged
//    (before it relays that announcement to the Linux side). It writes under
//    `sequence` (odd while writing); the Linux side reads with
//    readBusList, which retries a copy taken while outpost wrote.
//  - Bus commands (SetBusArrangements, ActivateBus, SetIoMode,
//    GetRoutingInfo, posted like any command): the Linux side writes the
//    arguments in `request` before posting; outpost calls the served
//    component, writes `result` (and the routing answer) and the new list,
//    then acknowledges.
//  - Each block (the audio hand-shake): before posting it, the Linux side
//    writes `block` (sample size, the host's buses with their channel
//    counts and silence flags) and the input channels into `inputPool`;
//    outpost answers in `outputPool` and the output silence flags before it
//    sets outputReady. Channel k of a direction (counted across its buses in
//    order) lies k * channelStride bytes into its pool. The commonest block,
//    one 32-bit bus each way with the same channels (a stereo effect), still
//    travels in AudioData's slots: `pools` says which.
#pragma once

#include "protocol/parameter_data.h"
#include "protocol/seqlock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tandem {

// Audio buses of one direction, event buses of one direction.
constexpr std::int32_t kMaxAudioBuses = 32;
constexpr std::int32_t kMaxEventBuses = 16;
// Channels of all the audio buses of one direction together: 16 stereo
// buses, 7.1.4 with a side-chain, third-order ambisonics.
constexpr std::int32_t kMaxBusChannels = 64;
// A pool holds kMaxBusChannels channels of kMaxBlockSize 32-bit samples; a
// 64-bit block holds as many channels as fit.
constexpr std::size_t kChannelPoolBytes = std::size_t {kMaxBusChannels} * kMaxBlockSize * sizeof (float);
// The start of each pool that is locked in memory with the audio part: 64
// channels of 1024 64-bit samples (larger blocks may page-fault once).
constexpr std::size_t kLockedPoolBytes = 524288;
// VST 3's BusInfo, byte for byte (checked in bus_layout.h).
constexpr std::size_t kBusInfoSize = 276;

// Commands of the bus region (see tandem_protocol.h's CommandCode).
constexpr std::int32_t kSetBusArrangementsCommand = 40;
constexpr std::int32_t kActivateBusCommand = 41;
constexpr std::int32_t kSetIoModeCommand = 42;
constexpr std::int32_t kGetRoutingInfoCommand = 43;

// The four kinds of bus, in the order of the list: VST 3's media type times
// two plus its direction.
enum BusKind : std::int32_t
{
	kAudioInputs = 0,
	kAudioOutputs = 1,
	kEventInputs = 2,
	kEventOutputs = 3
};
constexpr std::int32_t kBusKinds = 4;
constexpr std::int32_t maxBuses (std::int32_t kind)
{
	return kind < kEventInputs ? kMaxAudioBuses : kMaxEventBuses;
}

// Sample sizes the served processor takes (bits of BusList::sampleSizes).
constexpr std::int32_t kTakes32 = 1;
constexpr std::int32_t kTakes64 = 2;

struct BusRecord
{
	std::uint8_t info[kBusInfoSize];
	std::int32_t active;
	std::uint64_t arrangement; // audio buses: getBusArrangement's answer
};

struct BusList
{
	std::atomic<std::uint32_t> sequence;
	std::int32_t counts[kBusKinds];
	std::int32_t sampleSizes;
	std::int32_t reserved[2];
	BusRecord audio[2][kMaxAudioBuses];
	BusRecord events[2][kMaxEventBuses];
};

struct BusRequest
{
	std::int32_t mediaType;
	std::int32_t direction;
	std::int32_t index;
	std::int32_t state;
	std::int32_t ioMode;
	std::int32_t inputCount;
	std::int32_t outputCount;
	std::int32_t result;
	std::uint64_t inputs[kMaxAudioBuses];
	std::uint64_t outputs[kMaxAudioBuses];
	std::int32_t routing[6]; // RoutingInfo in, RoutingInfo out
};

struct BusBlock
{
	std::int32_t sampleSize; // VST 3's kSample32 or kSample64
	std::int32_t inputCount;
	std::int32_t outputCount;
	// 0: one 32-bit bus each way with the same channels, in AudioData's
	// slots (numChannels) with the session region's silence flags, as
	// before this region; 1: the buses below, in the pools.
	std::int32_t pools;
	std::uint8_t inputChannels[kMaxAudioBuses];
	std::uint8_t outputChannels[kMaxAudioBuses];
	std::uint64_t inputSilence[kMaxAudioBuses];
	std::uint64_t outputSilence[kMaxAudioBuses];
};

struct BusData
{
	BusBlock block;
	std::uint8_t reserved[64 - sizeof (BusBlock) % 64];
	alignas (64) std::uint8_t inputPool[kChannelPoolBytes];
	alignas (64) std::uint8_t outputPool[kChannelPoolBytes];
	BusList list;
	BusRequest request;
};

// On a cache line of its own (the pools are cache-line aligned).
constexpr std::size_t kBusDataOffset = (kParameterDataEnd + 63) & ~std::size_t {63};

static_assert (sizeof (BusRecord) == 288, "BusRecord layout");
static_assert (offsetof (BusList, counts) == 4 && offsetof (BusList, sampleSizes) == 20 &&
                   offsetof (BusList, audio) == 32,
               "BusList layout");
static_assert (offsetof (BusList, events) == 32 + 2 * kMaxAudioBuses * sizeof (BusRecord), "BusList layout");
static_assert (offsetof (BusRequest, result) == 28 && offsetof (BusRequest, inputs) == 32 &&
                   offsetof (BusRequest, outputs) == 32 + 8 * kMaxAudioBuses &&
                   offsetof (BusRequest, routing) == 32 + 16 * kMaxAudioBuses,
               "BusRequest layout");
static_assert (offsetof (BusBlock, inputChannels) == 16 && offsetof (BusBlock, outputChannels) == 16 + kMaxAudioBuses &&
                   offsetof (BusBlock, inputSilence) == 16 + 2 * kMaxAudioBuses &&
                   offsetof (BusBlock, outputSilence) == 16 + 2 * kMaxAudioBuses + 8 * kMaxAudioBuses,
               "BusBlock layout");
static_assert (offsetof (BusData, inputPool) == 640 && offsetof (BusData, outputPool) == 640 + kChannelPoolBytes,
               "BusData layout");
static_assert (offsetof (BusData, list) == 640 + 2 * kChannelPoolBytes, "BusData layout");
static_assert (kBusDataOffset % 64 == 0, "the pools are cache-line aligned in the file");

inline BusData* busesAt (void* base)
{
	return reinterpret_cast<BusData*> (static_cast<unsigned char*> (base) + kBusDataOffset);
}

// Bytes between two channels of a block: the block's samples, rounded up to
// a cache line.
inline std::size_t channelStride (std::int32_t numSamples, std::int32_t sampleSize)
{
	const std::size_t bytes = static_cast<std::size_t> (numSamples) * (sampleSize == 1 ? 8 : 4);
	return (bytes + 63) & ~std::size_t {63};
}

// Channels of one direction that a block of this size holds.
inline std::int32_t poolChannels (std::int32_t numSamples, std::int32_t sampleSize)
{
	const std::size_t stride = channelStride (numSamples, sampleSize);
	if (stride == 0)
		return kMaxBusChannels;
	const std::size_t fit = kChannelPoolBytes / stride;
	return fit < static_cast<std::size_t> (kMaxBusChannels) ? static_cast<std::int32_t> (fit) : kMaxBusChannels;
}

// outpost: the list written under its sequence.
template <typename Write>
void writeBusList (BusList& list, Write write)
{
	writeSequenced (list.sequence, [&] { write (list); });
}

// Linux side: a consistent copy of the list, its counts clamped; false when
// outpost kept writing (or never finished).
inline bool readBusList (const BusList& list, BusList& copy)
{
	if (!readSequenced (
	        list.sequence, [&] { std::memcpy (static_cast<void*> (&copy), &list, sizeof list); }, 100))
		return false;
	for (std::int32_t kind = 0; kind < kBusKinds; ++kind)
		copy.counts[kind] = clampCount (copy.counts[kind], maxBuses (kind));
	return true;
}

inline BusRecord& busRecord (BusList& list, std::int32_t kind, std::int32_t index)
{
	return kind < kEventInputs ? list.audio[kind][index] : list.events[kind - kEventInputs][index];
}
inline const BusRecord& busRecord (const BusList& list, std::int32_t kind, std::int32_t index)
{
	return kind < kEventInputs ? list.audio[kind][index] : list.events[kind - kEventInputs][index];
}

} // namespace Tandem
