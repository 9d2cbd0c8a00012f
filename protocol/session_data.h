// The session region: what the host's session gives the served plug-in,
// beyond the audio itself. It lies after the command, audio and state
// regions (whose layout it leaves as it was), and grows with new versions.
//
// The region begins with a magic number, a version and its size, so that a
// plug-in and an outpost.exe of different builds refuse each other instead
// of misreading the file: the Linux side writes all three when it creates
// the file; outpost checks them and writes the version it speaks into
// outpostVersion before anything else (before audioReady), also when it
// refuses the file and exits. The Linux side accepts an outpost whose
// outpostVersion equals its own version, and no other (an outpost of a
// build before this region never writes it).
//
// Fields and their writers, by phase:
//  - Activation (the Activate command, posted like any command): the Linux
//    side writes sampleRate, maxSamplesPerBlock, processMode and
//    symbolicSampleSize (the host's ProcessSetup) before posting; outpost
//    sets the served processor up with them and activates it, then writes
//    activateResult (0, or the served plug-in's refusing result) and the
//    latency and tail it reports after the activation (latencySamples,
//    tailSamples) before it acknowledges. Deactivate takes no argument.
//  - Processing: `processing` is the host's setProcessing, written by the
//    Linux side whenever the host calls it (then it wakes outpost's audio
//    thread if that sleeps); outpost's audio thread makes the served
//    processor follow it before the next block, or when it wakes without
//    one.
//  - Each block (the audio hand-shake): before posting it, the Linux side
//    writes blockMode (ProcessData's processMode), hasContext and, when 1,
//    processContext (the host's ProcessContext byte for byte), and
//    inputSilenceFlags; outpost reads them once it saw inputReady, and
//    writes outputSilenceFlags (the served output bus's) before it sets
//    outputReady. The Linux side reads them after outputReady.
//  - At creation (before outpost starts): the Linux side writes chainSlot,
//    its instance's slot in the chain file plus one (0: none), and
//    chainOwner, the number the chain file is named after: the Linux
//    process id, with the copy of the library above it (chain_wake.h). outpost only reads them.
#pragma once

#include "protocol/tandem_protocol.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Tandem {

constexpr std::uint32_t kSessionMagic = 0x51534d31; // "QSM1"
// 2: the parameter region follows (protocol/parameter_data.h).
// 3: the parameter region ends in the MIDI field (protocol/midi_controller_data.h).
// 4: the controller's state commands; state commands answer their result
//    (protocol/state_commands.h).
// 5: the bus and event regions follow it (protocol/bus_data.h,
//    protocol/event_data.h); a block of other buses than one each way
//    travels in the bus region's pools, with its silence flags there.
// 6: chainSlot and chainOwner (protocol/chain_wake.h).
constexpr std::uint32_t kSessionVersion = 6;
// VST 3's ProcessContext, the same layout on Linux and for Windows x64.
constexpr std::size_t kProcessContextSize = 112;

struct SessionData
{
	std::uint32_t magic;
	std::uint32_t version;
	std::uint32_t size;
	std::atomic<std::uint32_t> outpostVersion;

	double sampleRate;
	std::int32_t maxSamplesPerBlock;
	std::int32_t processMode;
	std::int32_t symbolicSampleSize;
	std::int32_t activateResult;
	std::uint32_t latencySamples;
	std::uint32_t tailSamples;
	std::atomic<std::uint8_t> processing;
	std::uint8_t chainSlot;
	std::uint8_t reserved0[2];

	std::int32_t blockMode;
	std::uint8_t hasContext;
	std::uint8_t reserved1[3];
	std::uint32_t chainOwner;
	std::uint64_t inputSilenceFlags;
	std::uint64_t outputSilenceFlags;
	alignas (8) std::uint8_t processContext[kProcessContextSize];
};

constexpr std::size_t kSessionDataOffset = kSharedMemorySize;

static_assert (offsetof (SessionData, magic) == 0, "SessionData layout");
static_assert (offsetof (SessionData, version) == 4, "SessionData layout");
static_assert (offsetof (SessionData, size) == 8, "SessionData layout");
static_assert (offsetof (SessionData, outpostVersion) == 12, "SessionData layout");
static_assert (offsetof (SessionData, sampleRate) == 16, "SessionData layout");
static_assert (offsetof (SessionData, maxSamplesPerBlock) == 24, "SessionData layout");
static_assert (offsetof (SessionData, processMode) == 28, "SessionData layout");
static_assert (offsetof (SessionData, symbolicSampleSize) == 32, "SessionData layout");
static_assert (offsetof (SessionData, activateResult) == 36, "SessionData layout");
static_assert (offsetof (SessionData, latencySamples) == 40, "SessionData layout");
static_assert (offsetof (SessionData, tailSamples) == 44, "SessionData layout");
static_assert (offsetof (SessionData, processing) == 48, "SessionData layout");
static_assert (offsetof (SessionData, chainSlot) == 49, "SessionData layout");
static_assert (offsetof (SessionData, blockMode) == 52, "SessionData layout");
static_assert (offsetof (SessionData, chainOwner) == 60, "SessionData layout");
static_assert (offsetof (SessionData, hasContext) == 56, "SessionData layout");
static_assert (offsetof (SessionData, inputSilenceFlags) == 64, "SessionData layout");
static_assert (offsetof (SessionData, outputSilenceFlags) == 72, "SessionData layout");
static_assert (offsetof (SessionData, processContext) == 80, "SessionData layout");
static_assert (sizeof (SessionData) == 192, "SessionData layout");
static_assert (kSessionDataOffset % 8 == 0, "the region starts 8-aligned");

inline SessionData* sessionAt (void* base)
{
	return reinterpret_cast<SessionData*> (static_cast<unsigned char*> (base) + kSessionDataOffset);
}

// Linux side, at creation: the header of this build's region.
inline void writeSessionHeader (SessionData& session)
{
	session.magic = kSessionMagic;
	session.version = kSessionVersion;
	session.size = static_cast<std::uint32_t> (sizeof (SessionData));
	session.outpostVersion.store (0, std::memory_order_relaxed);
	session.chainSlot = 0;
	session.chainOwner = 0;
}

// outpost: whether the region is the one this build speaks.
inline bool sessionHeaderMatches (const SessionData& session)
{
	return session.magic == kSessionMagic && session.version == kSessionVersion && session.size == sizeof (SessionData);
}

} // namespace Tandem
