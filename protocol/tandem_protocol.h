// Layout of the file that the Linux plug-in and outpost both map, and the
// command codes posted through it. Compiled by g++ on Linux and by mingw-w64
// for Windows; every offset below is checked at compile time on both sides.
//
// The file has no lock. Each field has one writer per phase of a hand-shake:
//  - audio flags (inputReady, outputReady, audioReady) are 32-bit stores and
//    loads surrounded by full fences on both sides;
//  - command and state flags (processed, stateReady) are stored with release
//    order after the fields they guard and polled with acquire loads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace Tandem {

constexpr std::int32_t kMaxChannels = 8;
constexpr std::int32_t kMaxBlockSize = 8192;
constexpr std::int32_t kMaxStateSize = 262144;

enum class CommandCode : std::int32_t
{
	Shutdown = 2,
	ShowEditor = 3,
	HideEditor = 4,
	Idle = 5,
	GetState = 9,
	SetState = 10,
	// Editor size, asked for by the host (Linux view): the size travels in
	// parentWindow, packed by packEditorSize, both ways. CheckEditorSize
	// answers the size the served editor would take; ResizeEditor gives it
	// that size and reports the result like any other size change.
	CheckEditorSize = 20,
	ResizeEditor = 21,
	// The served processor's latency and tail, answered in parentWindow,
	// packed by packLatency (outpost reads them again first).
	GetLatency = 22,
	// The host's activation of the served processor: Activate sets it up
	// with the host's ProcessSetup (in the session region) and activates
	// it, answering its result and the latency and tail read after it
	// there; Deactivate stops its processing and deactivates it. See
	// session_data.h.
	Activate = 23,
	Deactivate = 24,
	// Makes the served editor before any window exists, so that its size
	// is known when the host first asks (before it attaches a view): the
	// size is reported as any size change, and answered in parentWindow
	// like CheckEditorSize.
	PrepareEditor = 25,
	// The served controller's own state, through the state region like the
	// processor's (see state_commands.h, which also says how SetState and
	// these answer the served plug-in's result).
	GetControllerState = 26,
	SetControllerState = 27,
	// The host's content scale for the served editor, packed by
	// packContentScale in parentWindow; answered there as 1 when the served
	// editor took it (it then reports its scaled size as any size change),
	// 0 when it cannot scale.
	SetContentScale = 28,
};

// Command slot: editor, state and shut-down commands. `processed` is 1 when
// the slot is idle and 0 while a posted command waits for outpost.
// `editCount` is outpost's count of the edits made in the served plug-in
// (0 at creation, wrapping): when it changes the project has changed.
//
// editorWidth/editorHeight hold the served editor's size once outpost has
// created it, and stay there for the next view. outpost rewrites them
// whenever that size changes (the served plug-in or the host resized it),
// under editorSizeReport, their sequence word (see editor_size.h).
//
// latencyReport (byte 9, in what was padding) is outpost's count of the
// changes of the served processor's latency or tail (0 at creation,
// wrapping at 256). The values themselves are asked for with GetLatency.
//
// followsAnother (byte 10, also padding before) belongs to the audio
// hand-shake: the Linux side sets it to 1 with each block that the host
// runs right after another instance's on the same audio thread, else to 0
// (see handshake.h). With the same store it sets hostCpu (byte 11) to the
// number of the CPU its audio thread posts from plus one, or 0 when that
// is unknown or above 254.
struct UICommand
{
	std::int32_t command;
	std::atomic<std::int32_t> editCount;
	std::atomic<bool> processed;
	std::atomic<std::uint8_t> latencyReport;
	std::atomic<std::uint8_t> followsAnother;
	std::atomic<std::uint8_t> hostCpu;
	std::atomic<std::int32_t> editorSizeReport;
	std::uint64_t parentWindow;
	std::uint64_t wineWindow;
	std::int32_t editorWidth;
	std::int32_t editorHeight;
};

// One audio block in flight: non-interleaved 32-bit float slots, one per
// channel, each kMaxBlockSize samples long, for input and output.
//
// Both sides spin while blocks flow and sleep on a futex when none come (see
// handshake.h). A side that is about to sleep says so first, so that the
// other makes the wake-up system call only then:
//  - outpostWaiting: outpost sleeps on inputReady (outpost writes);
//  - hostWaiting: the Linux side sleeps on outputReady (Linux writes);
//  - outpostCanWake: outpost can make the futex call, so the Linux side may
//    sleep on outputReady (Linux writes 0 before a launch, outpost 1);
//  - spinOnly: both sides only spin (Linux writes before a launch).
struct AudioData
{
	std::atomic<std::int32_t> inputReady;
	std::atomic<std::int32_t> outputReady;
	std::atomic<std::int32_t> audioReady;
	std::int32_t numSamples;
	std::int32_t numChannels;
	std::atomic<std::uint8_t> outpostWaiting;
	std::atomic<std::uint8_t> hostWaiting;
	std::atomic<std::uint8_t> outpostCanWake;
	std::atomic<std::uint8_t> spinOnly;
	double sampleRate;
	float inputBuffers[kMaxChannels][kMaxBlockSize];
	float outputBuffers[kMaxChannels][kMaxBlockSize];
};

// The served plug-in's state in transit; a state is valid when
// 1 <= stateSize <= kMaxStateSize.
struct StateData
{
	std::atomic<bool> stateReady;
	std::int32_t stateSize;
	std::uint8_t stateBuffer[kMaxStateSize];
};

constexpr std::size_t kUICommandOffset = 0;
constexpr std::size_t kAudioDataOffset = 40;
constexpr std::size_t kStateDataOffset = 524360;
constexpr std::size_t kSharedMemorySize = 786512;

static_assert (std::atomic<bool>::is_always_lock_free && sizeof (std::atomic<bool>) == 1,
               "flag must be one plain byte");
static_assert (std::atomic<std::uint8_t>::is_always_lock_free && sizeof (std::atomic<std::uint8_t>) == 1,
               "flag must be one plain byte");
static_assert (std::atomic<std::int32_t>::is_always_lock_free && sizeof (std::atomic<std::int32_t>) == 4,
               "flag must be one plain int32");

static_assert (offsetof (UICommand, command) == 0, "UICommand layout");
static_assert (offsetof (UICommand, editCount) == 4, "UICommand layout");
static_assert (offsetof (UICommand, processed) == 8, "UICommand layout");
static_assert (offsetof (UICommand, latencyReport) == 9, "UICommand layout");
static_assert (offsetof (UICommand, followsAnother) == 10, "UICommand layout");
static_assert (offsetof (UICommand, hostCpu) == 11, "UICommand layout");
static_assert (offsetof (UICommand, editorSizeReport) == 12, "UICommand layout");
static_assert (offsetof (UICommand, parentWindow) == 16, "UICommand layout");
static_assert (offsetof (UICommand, wineWindow) == 24, "UICommand layout");
static_assert (offsetof (UICommand, editorWidth) == 32, "UICommand layout");
static_assert (offsetof (UICommand, editorHeight) == 36, "UICommand layout");
static_assert (sizeof (UICommand) == 40, "UICommand layout");

static_assert (offsetof (AudioData, inputReady) == 0, "AudioData layout");
static_assert (offsetof (AudioData, outputReady) == 4, "AudioData layout");
static_assert (offsetof (AudioData, audioReady) == 8, "AudioData layout");
static_assert (offsetof (AudioData, numSamples) == 12, "AudioData layout");
static_assert (offsetof (AudioData, numChannels) == 16, "AudioData layout");
static_assert (offsetof (AudioData, outpostWaiting) == 20, "AudioData layout");
static_assert (offsetof (AudioData, hostWaiting) == 21, "AudioData layout");
static_assert (offsetof (AudioData, outpostCanWake) == 22, "AudioData layout");
static_assert (offsetof (AudioData, spinOnly) == 23, "AudioData layout");
static_assert (offsetof (AudioData, sampleRate) == 24, "AudioData layout");
static_assert (offsetof (AudioData, inputBuffers) == 32, "AudioData layout");
static_assert (offsetof (AudioData, outputBuffers) == 262176, "AudioData layout");
static_assert (sizeof (AudioData) == 524320, "AudioData layout");

static_assert (offsetof (StateData, stateReady) == 0, "StateData layout");
static_assert (offsetof (StateData, stateSize) == 4, "StateData layout");
static_assert (offsetof (StateData, stateBuffer) == 8, "StateData layout");
static_assert (sizeof (StateData) == 262152, "StateData layout");

static_assert (kAudioDataOffset == kUICommandOffset + sizeof (UICommand), "regions are back to back");
static_assert (kStateDataOffset == kAudioDataOffset + sizeof (AudioData), "regions are back to back");
static_assert (kSharedMemorySize == kStateDataOffset + sizeof (StateData), "regions fill the file");
static_assert (kSharedMemorySize == 786512, "file size");

// Where these and the later regions lie: file_regions.h.

// An editor size in one 64-bit field: width in the low half, height in the
// high half.
inline std::uint64_t packEditorSize (std::int32_t width, std::int32_t height)
{
	return static_cast<std::uint32_t> (width) | static_cast<std::uint64_t> (static_cast<std::uint32_t> (height)) << 32;
}
inline std::int32_t packedEditorWidth (std::uint64_t packed)
{
	return static_cast<std::int32_t> (packed & 0xFFFFFFFFu);
}
inline std::int32_t packedEditorHeight (std::uint64_t packed)
{
	return static_cast<std::int32_t> (packed >> 32);
}

// A content scale in thousandths; anything outside 1/4..8 is no scale.
inline std::uint64_t packContentScale (double factor)
{
	return factor >= 0.25 && factor <= 8.0 ? static_cast<std::uint64_t> (factor * 1000.0 + 0.5) : 0;
}
inline bool plausibleContentScale (std::uint64_t packed)
{
	return packed >= 250 && packed <= 8000;
}
inline float packedContentScale (std::uint64_t packed)
{
	return static_cast<float> (packed) / 1000.0f;
}

// Latency and tail in one 64-bit field: latency in the low half, tail in the
// high half, both as the served processor returned them (a tail may be one
// of VST 3's special values, such as kInfiniteTail).
inline std::uint64_t packLatency (std::uint32_t latency, std::uint32_t tail)
{
	return latency | static_cast<std::uint64_t> (tail) << 32;
}
inline std::uint32_t packedLatency (std::uint64_t packed)
{
	return static_cast<std::uint32_t> (packed & 0xFFFFFFFFu);
}
inline std::uint32_t packedTail (std::uint64_t packed)
{
	return static_cast<std::uint32_t> (packed >> 32);
}

// Editor sizes come from the other process: anything outside 1..kMaxEditorExtent
// on either side is no size.
constexpr std::int32_t kMaxEditorExtent = 16384;
inline bool plausibleEditorSize (std::int32_t width, std::int32_t height)
{
	return width >= 1 && width <= kMaxEditorExtent && height >= 1 && height <= kMaxEditorExtent;
}

// Sequentially consistent fence around the audio flags: a locked no-op on
// Linux, mfence on the Windows side.
inline void fullFence ()
{
#if defined(_WIN32)
	_mm_mfence ();
#endif
	std::atomic_thread_fence (std::memory_order_seq_cst);
}

// Spin-wait hint for busy polls.
inline void cpuPause ()
{
#if defined(__x86_64__) || defined(_M_X64)
	_mm_pause ();
#endif
}

// Clamps a count read from the file into [0, limit]; the file is written by
// another process, so no count from it is trusted as an index bound.
inline std::int32_t clampCount (std::int32_t value, std::int32_t limit)
{
	return value < 0 ? 0 : (value > limit ? limit : value);
}

// Writes a field of the file that the other side reads with every block
// only when its value changes: a line nobody writes stays in both cores'
// caches, where a write would make the other core fetch it again.
template <typename T>
inline void writeIfChanged (T& field, T value)
{
	if (field != value)
		field = value;
}
template <typename T>
inline void storeIfChanged (std::atomic<T>& field, T value)
{
	if (field.load (std::memory_order_relaxed) != value)
		field.store (value, std::memory_order_relaxed);
}

} // namespace Tandem
