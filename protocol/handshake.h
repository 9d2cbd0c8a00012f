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
// Blocks paced at real time (one per block period, often for several
// instances in turn on one host thread) need more than that:
//  - a spin that lasts past a few microseconds gives the core away on each
//    round (sched_yield), so that a partner woken onto the spinner's core,
//    or any other process, runs at once instead of after the spin;
//  - the Linux side, when its post had to wake outpost, yields from the
//    start: outpost needs a wake-up's time anyway, maybe on this very core;
//  - outpost learns the stream's rhythm (BlockRhythm). When blocks come a
//    period apart it sleeps right after each block instead of spinning,
//    with a timer that wakes it shortly before the next one is due, and
//    spins from then on. It keeps its wake-up flag raised while it sleeps,
//    so a block that comes before the timer still wakes it. How early it
//    wakes follows how late the timer turned out (wakeLead);
//  - only the first of several instances on one host thread wakes on its
//    timer: the blocks of those that follow it (`followsAnother`) come a
//    moment after the instance before them has finished, not at a steady
//    time. The outpost ahead of each in the chain wakes it as its own block
//    comes, and it spins, for a bounded time, until its block is posted
//    (chain_wake.h).
//    Without a chain file they sleep until their block is posted (and, at
//    real-time priority, move next to the host thread's CPU after it:
//    outpost/next_to_host.h).
#pragma once

#include "protocol/chain_wake.h"
#include "protocol/futex.h"
#include "protocol/tandem_protocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace Tandem {

using HandshakeClock = std::chrono::steady_clock;

// How long a waiting side spins before it sleeps.
constexpr std::chrono::microseconds kSpinWindow {100};
// How long a spin polls without giving the core away.
constexpr std::chrono::microseconds kTightSpin {10};
// outpost wakes this long before a block is due at least, and at most.
constexpr std::chrono::microseconds kMinWakeLead {30};
constexpr std::chrono::microseconds kMaxWakeLead {250};
// Streams with a longer period than this are not paced for outpost's timer.
constexpr std::chrono::milliseconds kMaxPacedPeriod {100};
// outpost's audio thread looks up this often while it sleeps without blocks.
constexpr std::chrono::milliseconds kIdleSlice {100};

// Polls `ready()` after a full fence until it holds or `until` passes. One
// `pause` and one look at the clock every 64 polls; past `yieldFrom` (when
// `mayYield`, that is when the process can make Linux system calls) a
// yield of the core in place of the pause.
template <typename Ready>
bool spinUntil (Ready ready, HandshakeClock::time_point until, bool mayYield = false,
                HandshakeClock::time_point yieldFrom = HandshakeClock::time_point::max ())
{
	for (std::uint32_t polls = 1;; ++polls)
	{
		fullFence ();
		if (ready ())
			return true;
		if (polls % 64 == 0)
		{
			const auto now = HandshakeClock::now ();
			if (now >= until)
				return false;
			if (mayYield && now >= yieldFrom)
				yieldCore ();
			else
				cpuPause ();
		}
	}
}

// The spins of one outpost's audio threads that wait for their blocks: no
// more at once than there are seats. Instances the host runs on threads of
// their own have their blocks posted at about the same time, and each of
// their audio threads would spin for its block at real-time priority: with
// more of them than cores, they keep the cores from the very threads that
// post the blocks (and from outpost's main thread) until their spins run
// out. A thread that finds no seat sleeps until its block wakes it. With a
// chain file (`place`), the thread also needs one of its seats, shared by
// the outposts of its host (chain_wake.h).
class SpinSeats
{
public:
	explicit SpinSeats (int seats) : free_ (seats < 1 ? 1 : seats) {}
	SpinSeats (const SpinSeats&) = delete;
	SpinSeats& operator= (const SpinSeats&) = delete;

	bool take ()
	{
		int free = free_.load (std::memory_order_relaxed);
		while (free > 0)
			if (free_.compare_exchange_weak (free, free - 1, std::memory_order_acquire, std::memory_order_relaxed))
				return true;
		return false;
	}
	void give () { free_.fetch_add (1, std::memory_order_release); }
	// Another thread keeps a seat from the spins until it gives it back: a
	// spin that holds one ends as its block comes, and no new one starts
	// while none is free.
	void withhold () { free_.fetch_sub (1, std::memory_order_relaxed); }

private:
	std::atomic<int> free_;
};

// One spin's seats, of the process and of the chain file of `place` when
// it has one, given back as the spin ends; always held where there are no
// seats to share.
class SpinSeat
{
public:
	explicit SpinSeat (SpinSeats* seats, const ChainPlace* place = nullptr)
	: taken_ (seats && seats->take () ? seats : nullptr), held_ (!seats || taken_)
	{
		if (!taken_ || !place || !place->linked ())
			return;
		seat_ = takeChainSeat (*place->chain, place->slot);
		if (seat_ == kNoChainSeat)
		{
			taken_->give ();
			taken_ = nullptr;
			held_ = false;
			return;
		}
		chain_ = place->chain;
		slot_ = place->slot;
	}
	~SpinSeat ()
	{
		if (chain_)
			giveChainSeat (*chain_, seat_, slot_);
		if (taken_)
			taken_->give ();
	}
	SpinSeat (const SpinSeat&) = delete;
	SpinSeat& operator= (const SpinSeat&) = delete;

	explicit operator bool () const { return held_; }

private:
	SpinSeats* taken_;
	bool held_;
	ChainRegion* chain_ = nullptr;
	std::int32_t seat_ = kNoChainSeat;
	std::int32_t slot_ = kNoChainSlot;
};

// Sleeps on `word` while it holds 0, with `waiting` raised so that the
// other side wakes us, until `until` at the latest. The caller looks at its
// flag again afterwards: a return may also be a time-out or spurious.
inline void sleepOn (std::atomic<std::int32_t>& word, std::atomic<std::uint8_t>& waiting,
                     HandshakeClock::time_point until)
{
	waiting.store (1, std::memory_order_relaxed);
	fullFence ();
	const auto left = std::chrono::duration_cast<std::chrono::nanoseconds> (until - HandshakeClock::now ()).count ();
	if (left > 0)
		futexWait (&word, 0, left);
	waiting.store (0, std::memory_order_relaxed);
	fullFence ();
}

// Linux side: wakes outpost's audio thread where it sleeps, if it does:
// on the block flag, or on its slot of the chain file (`chain`, if any).
// True when a wake-up call was made.
inline bool wakeOutpostAudio (AudioData& audio, ChainSlot* chain = nullptr)
{
	bool woke = false;
	if (audio.outpostWaiting.load (std::memory_order_relaxed) != 0)
	{
		futexWake (&audio.inputReady);
		woke = true;
	}
	if (chain && nudge (*chain))
		woke = true;
	return woke;
}

// Linux side: hands the block now in the input slots to outpost. True when
// outpost was asleep and had to be woken.
inline bool postBlock (AudioData& audio, ChainSlot* chain = nullptr)
{
	audio.outputReady.store (0, std::memory_order_relaxed);
	fullFence ();
	audio.inputReady.store (1, std::memory_order_relaxed);
	fullFence ();
	return wakeOutpostAudio (audio, chain);
}

// outpost: hands the finished block back.
inline void finishBlock (AudioData& audio)
{
	audio.inputReady.store (0, std::memory_order_relaxed);
	fullFence ();
	audio.outputReady.store (1, std::memory_order_relaxed);
	fullFence ();
	if (audio.hostWaiting.load (std::memory_order_relaxed) != 0)
		futexWake (&audio.outputReady);
}

// outpost's view of when blocks come: the last arrivals it saw, and how
// early its timer must wake it before the next one is due.
class BlockRhythm
{
public:
	// A block has just been seen; `spinning` when it was seen by a spin
	// (its arrival time is then exact, not a wake-up's time late).
	void arrived (HandshakeClock::time_point now, bool spinning)
	{
		if (last_ != HandshakeClock::time_point ())
		{
			older_ = newer_;
			newer_ = now - last_;
		}
		last_ = now;
		exact_ = spinning;
	}
	// When the next block is due, if blocks come a steady period apart (the
	// shorter of the last two intervals, so that one late block does not
	// push the estimate out): false for back-to-back streams.
	bool nextDue (HandshakeClock::time_point& due) const
	{
		const auto period = std::min (newer_, older_);
		if (period <= kSpinWindow + wakeLead_ || period > kMaxPacedPeriod)
			return false;
		// An arrival seen only after a wake-up was late by up to a lead.
		due = last_ + period - (exact_ ? HandshakeClock::duration () : wakeLead_);
		return true;
	}
	HandshakeClock::duration wakeLead () const { return wakeLead_; }
	// After a timed sleep: the block was already there (the timer woke us
	// late, or a wake-up came first) or not yet. A late wake-up lengthens
	// the lead by 10 us, a timely one shortens it by 2 us: about one block
	// in six finds outpost still asleep (and wakes it, as before), which
	// keeps the spin before a block short.
	void timerWas (bool late)
	{
		const auto lead = late ? wakeLead_ + std::chrono::microseconds (10) : wakeLead_ - std::chrono::microseconds (2);
		wakeLead_ = std::clamp<HandshakeClock::duration> (lead, kMinWakeLead, kMaxWakeLead);
	}

private:
	HandshakeClock::time_point last_ {};
	HandshakeClock::duration newer_ {}, older_ {};
	bool exact_ = false;
	HandshakeClock::duration wakeLead_ = std::chrono::microseconds (100);
};

// outpost, behind another instance in a chain: sleeps on its chain slot
// until the outpost ahead of it (or, failing that, its block) wakes it,
// then spins for its block for as long as `place.spin` allows; true once
// the block is posted, false when `idle()` says to stop.
template <typename Posted, typename Idle>
bool awaitTurnInChain (ChainPlace& place, Posted posted, Idle idle, HandshakeClock::duration slice,
                       SpinSeats* seats = nullptr)
{
	ChainSlot& own = place.own ();
	for (;;)
	{
		// A block already there is taken without a word to the host.
		fullFence ();
		if (posted ())
			return true;
		const std::int32_t before = own.nudge.load (std::memory_order_relaxed);
		own.asleep.store (1, std::memory_order_relaxed);
		fullFence ();
		if (!posted ())
			futexWait (&own.nudge, before, std::chrono::duration_cast<std::chrono::nanoseconds> (slice).count ());
		own.asleep.store (0, std::memory_order_relaxed);
		fullFence ();
		if (posted ())
			return true;
		// Woken ahead: the one that woke it works on this core, or on
		// another, and the host posts as soon as it has answered.
		if (own.nudge.load (std::memory_order_relaxed) != before)
		{
			const SpinSeat seat (seats, &place);
			const auto woken = HandshakeClock::now ();
			const auto bound = place.spin.bound ();
			const bool came = seat && spinUntil (posted, woken + bound, true, woken + kTightSpin);
			if (seat)
				place.spin.waited (came ? HandshakeClock::now () - woken : bound);
			if (came)
				return true;
		}
		if (!idle ())
			return false;
	}
}

// outpost: waits until a block is posted (true) or `idle()`, asked each time
// a spin window or a `slice` of sleep passes without one, returns false.
// Sleeps only when `maySleep` and the Linux side has not asked for spinning;
// with a `rhythm`, sleeps at once until shortly before a paced block is due,
// or, when its instance follows another, until the outpost ahead of it in
// its chain (`place`) wakes it. Each block that comes wakes the outpost
// behind it. With `seats`, it spins only in a seat; without one it sleeps
// until its block wakes it.
template <typename Idle>
bool waitForBlock (AudioData& audio, bool maySleep, Idle idle, HandshakeClock::duration slice = kIdleSlice,
                   BlockRhythm* rhythm = nullptr, ChainPlace* place = nullptr, SpinSeats* seats = nullptr)
{
	auto posted = [&audio] { return audio.inputReady.load (std::memory_order_relaxed) == 1; };
	const bool mayRest = maySleep && audio.spinOnly.load (std::memory_order_relaxed) == 0;
	// A thread that may not sleep spins whatever the others do.
	if (!mayRest)
		seats = nullptr;
	// Spins for the block while it holds a seat (`seated`), else only looks;
	// the seat is given back before `seen` wakes the outposts behind, so
	// that the one woken finds it free.
	auto spinInSeat = [&] (HandshakeClock::time_point until, bool mayYield, HandshakeClock::time_point yieldFrom,
	                       bool& seated) {
		const SpinSeat seat (seats, place);
		seated = static_cast<bool> (seat);
		fullFence ();
		return seated ? spinUntil (posted, until, mayYield, yieldFrom) : posted ();
	};
	auto seen = [&] (bool spinning) {
		if (rhythm)
			rhythm->arrived (HandshakeClock::now (), spinning);
		// The blocks behind this one come after it.
		if (place)
			place->wakeFollowers ();
		return true;
	};
	HandshakeClock::time_point due;
	if (mayRest && rhythm && rhythm->nextDue (due))
	{
		if (place && place->following ())
		{
			if (place->linked ())
				return awaitTurnInChain (*place, posted, idle, slice, seats) && seen (false);
			for (;;)
			{
				sleepOn (audio.inputReady, audio.outpostWaiting, HandshakeClock::now () + slice);
				fullFence ();
				if (posted ())
					return seen (false);
				if (!idle ())
					return false;
			}
		}
		const auto wakeAt = due - rhythm->wakeLead ();
		bool late = false;
		if (HandshakeClock::now () < wakeAt)
		{
			sleepOn (audio.inputReady, audio.outpostWaiting, wakeAt);
			fullFence ();
			late = posted ();
			rhythm->timerWas (late);
		}
		if (late)
			return seen (false);
		// Spin until a spin window past the time it is due.
		const auto now = HandshakeClock::now ();
		bool seated = false;
		if (spinInSeat (std::max (due, now) + kSpinWindow, true, now + kTightSpin, seated))
			return seen (seated);
	}
	for (bool slept = false;; slept = true)
	{
		const auto now = HandshakeClock::now ();
		bool seated = false;
		if (spinInSeat (now + kSpinWindow, mayRest, now + kTightSpin, seated))
			return seen (seated && !slept);
		if (!idle ())
			return false;
		if (mayRest)
			sleepOn (audio.inputReady, audio.outpostWaiting, HandshakeClock::now () + slice);
	}
}

// Linux side, while outpost still holds a block that timed out: an outpost
// flagged asleep on it is woken once more.
inline void wakeIfAsleepOnPostedBlock (AudioData& audio)
{
	if (audio.inputReady.load (std::memory_order_relaxed) == 1 &&
	    audio.outpostWaiting.load (std::memory_order_relaxed) != 0)
		futexWake (&audio.inputReady);
}

enum class AnswerWait
{
	Answered,
	TimedOut,
	Gone
};

// Linux side: waits for outpost's answer to the posted block until
// `deadline`. It spins for the spin window and then sleeps, when outpost can
// wake it, or else spins on; it asks `alive()` each time a spin window or a
// `slice` of waiting has passed without an answer, and at the deadline.
// When the post `wokeOutpost`, the spin yields the core from the start.
template <typename Alive>
AnswerWait waitForAnswer (AudioData& audio, HandshakeClock::time_point deadline, HandshakeClock::duration slice,
                          Alive alive, bool wokeOutpost = false)
{
	auto answered = [&audio] { return audio.outputReady.load (std::memory_order_relaxed) != 0; };
	const bool maySleep = audio.outpostCanWake.load (std::memory_order_relaxed) != 0 &&
	                      audio.spinOnly.load (std::memory_order_relaxed) == 0;
	// A spin lasts the spin window when outpost can wake us, else a whole slice.
	const HandshakeClock::duration window = maySleep ? HandshakeClock::duration (kSpinWindow) : slice;
	for (;;)
	{
		const auto now = HandshakeClock::now ();
		const auto yieldFrom = wokeOutpost ? now : now + kTightSpin;
		if (spinUntil (answered, std::min (now + window, deadline), maySleep, yieldFrom))
			return AnswerWait::Answered;
		if (!alive ())
			return AnswerWait::Gone;
		const auto later = HandshakeClock::now ();
		if (later >= deadline)
			return answered () ? AnswerWait::Answered : AnswerWait::TimedOut;
		if (maySleep)
			sleepOn (audio.outputReady, audio.hostWaiting, std::min (later + slice, deadline));
	}
}

} // namespace Tandem
