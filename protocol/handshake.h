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
//
// When the Linux side had to wake outpost, it does not spin for the answer:
// outpost was asleep, so blocks are not coming back to back, and a waker
// that keeps its core busy makes the woken thread wait for another core
// (on a virtual machine, one that first has to be woken itself). It sleeps
// at once instead, and outpost runs on the core it leaves. outpost always
// spins after a block, so that a stream that is back to back again finds
// it awake.
#pragma once

#include "protocol/futex.h"
#include "protocol/tandem_protocol.h"

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

// Linux side: hands the block now in the input slots to outpost. True when
// outpost was asleep and had to be woken.
inline bool postBlock(AudioData& audio) {
    audio.outputReady.store(0, std::memory_order_relaxed);
    fullFence();
    audio.inputReady.store(1, std::memory_order_relaxed);
    fullFence();
    if (audio.outpostWaiting.load(std::memory_order_relaxed) == 0) return false;
    futexWake(&audio.inputReady);
    return true;
}

// outpost: hands the finished block back. True when the Linux side was
// asleep and had to be woken.
inline bool finishBlock(AudioData& audio) {
    audio.inputReady.store(0, std::memory_order_relaxed);
    fullFence();
    audio.outputReady.store(1, std::memory_order_relaxed);
    fullFence();
    if (audio.hostWaiting.load(std::memory_order_relaxed) == 0) return false;
    futexWake(&audio.outputReady);
    return true;
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

enum class AnswerWait { Answered, TimedOut, Gone };

// Linux side: waits for outpost's answer to the posted block until
// `deadline`. It spins for the spin window and then sleeps, when outpost can
// wake it, or else spins on; it asks `alive()` each time a spin window or a
// `slice` of waiting has passed without an answer, and at the deadline.
// With `spinFirst` false (posting had to wake outpost) it sleeps at once.
template <typename Alive>
AnswerWait waitForAnswer(AudioData& audio, HandshakeClock::time_point deadline, HandshakeClock::duration slice,
                         Alive alive, bool spinFirst = true) {
    auto answered = [&audio] { return audio.outputReady.load(std::memory_order_relaxed) != 0; };
    const bool maySleep = audio.outpostCanWake.load(std::memory_order_relaxed) != 0 &&
                          audio.spinOnly.load(std::memory_order_relaxed) == 0;
    HandshakeClock::duration spin = maySleep ? HandshakeClock::duration(kSpinWindow) : slice;
    if (maySleep && !spinFirst) spin = HandshakeClock::duration::zero();
    for (;; spin = maySleep ? HandshakeClock::duration(kSpinWindow) : slice) {
        const auto now = HandshakeClock::now();
        if (spinUntil(answered, now + spin < deadline ? now + spin : deadline)) return AnswerWait::Answered;
        if (!alive()) return AnswerWait::Gone;
        const auto later = HandshakeClock::now();
        if (later >= deadline) return answered() ? AnswerWait::Answered : AnswerWait::TimedOut;
        if (maySleep) sleepOn(audio.outputReady, audio.hostWaiting, later + slice < deadline ? later + slice : deadline);
    }
}

}  // namespace Tandem
