// The audio hand-shake of both programs: spin while blocks flow, sleep on a
// futex when none come.
//
// A block is posted by setting inputReady and answered by setting
// outputReady, each store followed by a full fence. A side that waits spins
// for kSpinWindow first, so back-to-back blocks cost no system call. Past
// the window it raises its `...Waiting` byte, fences, and sleeps on the
// futex of the flag it waits for; the other side, after its own store and
// fence, reads that byte and makes the wake-up call only when it is set.
// Either the waker sees the byte or the sleeper's futex sees the new flag
// value (and does not sleep), so no wake-up is lost.
#pragma once

#include "protocol/futex.h"
#include "protocol/tandem_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace Tandem {

using HandshakeClock = std::chrono::steady_clock;

// How long a waiting side spins before it sleeps.
constexpr std::chrono::microseconds kSpinWindow{100};
// outpost's audio thread looks up this often while it sleeps without blocks.
constexpr std::chrono::milliseconds kIdleSlice{100};

// Polls `ready()` after a full fence until it holds or `until` passes. One
// `pause` and one look at the clock every 64 polls.
template <typename Ready>
bool spinUntil(Ready ready, HandshakeClock::time_point until) {
    for (std::uint32_t polls = 1;; ++polls) {
        fullFence();
        if (ready()) return true;
        if (polls % 64 == 0) {
            cpuPause();
            if (HandshakeClock::now() >= until) return false;
        }
    }
}

// Sleeps on `word` while it holds 0, with `waiting` raised so that the
// other side wakes us, until `until` at the latest. The caller looks at its
// flag again afterwards: a return may also be a time-out or spurious.
inline void sleepOn(std::atomic<std::int32_t>& word, std::atomic<std::uint8_t>& waiting,
                    HandshakeClock::time_point until) {
    waiting.store(1, std::memory_order_relaxed);
    fullFence();
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - HandshakeClock::now()).count();
    if (left > 0) futexWait(&word, 0, left);
    waiting.store(0, std::memory_order_relaxed);
    fullFence();
}

// Linux side: hands the block now in the input slots to outpost.
inline void postBlock(AudioData& audio) {
    audio.outputReady.store(0, std::memory_order_relaxed);
    fullFence();
    audio.inputReady.store(1, std::memory_order_relaxed);
    fullFence();
    if (audio.outpostWaiting.load(std::memory_order_relaxed) != 0) futexWake(&audio.inputReady);
}

// outpost: hands the finished block back.
inline void finishBlock(AudioData& audio) {
    audio.inputReady.store(0, std::memory_order_relaxed);
    fullFence();
    audio.outputReady.store(1, std::memory_order_relaxed);
    fullFence();
    if (audio.hostWaiting.load(std::memory_order_relaxed) != 0) futexWake(&audio.outputReady);
}

// outpost: waits until a block is posted (true) or `idle()`, asked each time
// a spin window or a `slice` of sleep passes without one, returns false.
// Sleeps only when `maySleep` and the Linux side has not asked for spinning.
template <typename Idle>
bool waitForBlock(AudioData& audio, bool maySleep, Idle idle, HandshakeClock::duration slice = kIdleSlice) {
    auto posted = [&audio] { return audio.inputReady.load(std::memory_order_relaxed) == 1; };
    for (;;) {
        if (spinUntil(posted, HandshakeClock::now() + kSpinWindow)) return true;
        if (!idle()) return false;
        if (maySleep && audio.spinOnly.load(std::memory_order_relaxed) == 0)
            sleepOn(audio.inputReady, audio.outpostWaiting, HandshakeClock::now() + slice);
    }
}

// Linux side, while outpost still holds a block that timed out: an outpost
// flagged asleep on it is woken once more.
inline void wakeIfAsleepOnPostedBlock(AudioData& audio) {
    if (audio.inputReady.load(std::memory_order_relaxed) == 1 &&
        audio.outpostWaiting.load(std::memory_order_relaxed) != 0)
        futexWake(&audio.inputReady);
}

enum class AnswerWait { Answered, TimedOut, Gone };

// Linux side: waits for outpost's answer to the posted block until
// `deadline`. It spins for the spin window and then sleeps, when outpost can
// wake it, or else spins on; it asks `alive()` each time a spin window or a
// `slice` of waiting has passed without an answer, and at the deadline.
template <typename Alive>
AnswerWait waitForAnswer(AudioData& audio, HandshakeClock::time_point deadline, HandshakeClock::duration slice,
                         Alive alive) {
    auto answered = [&audio] { return audio.outputReady.load(std::memory_order_relaxed) != 0; };
    const bool maySleep = audio.outpostCanWake.load(std::memory_order_relaxed) != 0 &&
                          audio.spinOnly.load(std::memory_order_relaxed) == 0;
    // A spin lasts the spin window when outpost can wake us, else a whole slice.
    const HandshakeClock::duration window = maySleep ? HandshakeClock::duration(kSpinWindow) : slice;
    for (;;) {
        if (spinUntil(answered, std::min(HandshakeClock::now() + window, deadline))) return AnswerWait::Answered;
        if (!alive()) return AnswerWait::Gone;
        const auto later = HandshakeClock::now();
        if (later >= deadline) return answered() ? AnswerWait::Answered : AnswerWait::TimedOut;
        if (maySleep) sleepOn(audio.outputReady, audio.hostWaiting, std::min(later + slice, deadline));
    }
}

}  // namespace Tandem
