// The audio hand-shake's sleep and wake-up, with both sides in this process
// on one block region: a wake-up that is lost leaves its sleeper asleep for
// the whole (here very long) slice, and shows as a time-out.
#include "protocol/handshake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace QuillMarlowTest {
namespace {

using namespace std::chrono;
using Tandem::HandshakeClock;

void spinFor (microseconds d)
{
	const auto until = HandshakeClock::now () + d;
	while (HandshakeClock::now () < until)
	{
	}
}

// Spins until `done` holds (or 5 s pass).
template <typename Done>
void waitUntil (Done done)
{
	const auto until = HandshakeClock::now () + seconds (5);
	while (!done () && HandshakeClock::now () < until)
		std::this_thread::yield ();
}

// Gaps between blocks and processing times are drawn around the spin
// window, so that blocks are posted and answered just before, while and
// after each side goes to sleep. Every block must come back, carrying its
// own number and not an earlier block's.
TEST (Handshake, BlocksPostedAsEitherSideFallsAsleepAreAllAnsweredWithTheirOwnData)
{
	constexpr int kRounds = 20000;
	auto audio = std::make_unique<Tandem::AudioData> ();
	audio->outpostCanWake.store (1);
	std::atomic<bool> running {true};
	// The block's contents: its number in and out (atomics, so that the
	// thread sanitizer, which does not follow the hand-shake's fences, has
	// nothing to say).
	std::atomic<int> input {0}, output {0};
	std::thread outpost ([&] {
		std::minstd_rand random (7);
		auto keepGoing = [&] { return running.load (); };
		while (Tandem::waitForBlock (*audio, true, keepGoing, seconds (30)))
		{
			// Every 50th block is answered only once the host sleeps.
			if (input.load (std::memory_order_relaxed) % 50 == 25)
				waitUntil ([&] { return audio->hostWaiting.load () != 0; });
			spinFor (microseconds (random () % 250));
			output.store (input.load (std::memory_order_relaxed), std::memory_order_relaxed);
			Tandem::finishBlock (*audio);
		}
	});

	std::minstd_rand random (11);
	int lost = 0, stale = 0;
	long slept = 0, woke = 0;
	for (int n = 1; n <= kRounds && lost == 0; ++n)
	{
		spinFor (microseconds (random () % 250));
		// Every 50th block is posted only once outpost sleeps.
		if (n % 50 == 0)
			waitUntil ([&] { return audio->outpostWaiting.load () != 0; });
		input.store (n, std::memory_order_relaxed);
		woke += Tandem::postBlock (*audio);
		bool asked = false;
		const auto answer = Tandem::waitForAnswer (*audio, HandshakeClock::now () + seconds (5), seconds (30), [&] {
			asked = true;
			return true;
		});
		lost += answer != Tandem::AnswerWait::Answered;
		stale += output.load (std::memory_order_relaxed) != n;
		slept += asked;
	}
	running = false;
	Tandem::futexWake (&audio->inputReady);
	outpost.join ();
	EXPECT_EQ (lost, 0) << "a block was not answered: a wake-up was lost";
	EXPECT_EQ (stale, 0);
	// However the machine's load shifts the races, both sides were asleep
	// when the other came, on every 50th block at least.
	EXPECT_GE (slept, kRounds / 50) << "the host side slept";
	EXPECT_GE (woke, kRounds / 50) << "outpost slept";
}

// A host's audio thread runs four instances in turn once per period, and
// every outpost sleeps between its blocks: the first one's wakes on its own
// timer shortly before the next block is due, or is woken by the post; the
// others follow it and are woken by their posts. No block may be lost (the
// deadline is long: only a lost wake-up misses it) and each comes back with
// its own data. Halfway through each period the outposts are looked at: they
// sleep then, rather than spin. When the host then stops for a while, the
// followers sleep on: they never wake on a timer of their own.
TEST (Handshake, PacedBlocksWithEveryOutpostAsleepInBetweenAreAllAnswered)
{
	constexpr int kInstances = 4, kCycles = 300;
	constexpr auto kPeriod = milliseconds (4);
	struct Instance
	{
		Tandem::AudioData audio {};
		std::atomic<std::uint8_t> follows {0};
		Tandem::ChainPlace place; // no chain file: woken by their own posts
		std::atomic<int> input {0}, output {0}, idle {0};
		std::thread thread;
	};
	std::vector<std::unique_ptr<Instance>> chain;
	std::atomic<bool> running {true};
	for (int i = 0; i < kInstances; ++i)
	{
		chain.push_back (std::make_unique<Instance> ());
		Instance& in = *chain.back ();
		in.audio.outpostCanWake.store (1);
		in.follows.store (i > 0 ? 1 : 0);
		in.place.follows = &in.follows;
		in.thread = std::thread ([&in, &running] {
			Tandem::BlockRhythm rhythm;
			auto keepGoing = [&] {
				++in.idle;
				return running.load ();
			};
			while (Tandem::waitForBlock (in.audio, true, keepGoing, seconds (30), &rhythm, &in.place))
			{
				in.output.store (in.input.load (std::memory_order_relaxed), std::memory_order_relaxed);
				Tandem::finishBlock (in.audio);
			}
		});
	}
	int lost = 0, stale = 0, looked = 0, asleep = 0;
	auto cycle = [&] (int n) {
		for (auto& in : chain)
		{
			in->input.store (n * 10 + static_cast<int> (&in - &chain[0]), std::memory_order_relaxed);
			const bool woke = Tandem::postBlock (in->audio);
			const auto answer = Tandem::waitForAnswer (
			    in->audio, HandshakeClock::now () + seconds (5), seconds (30), [] { return true; }, woke);
			lost += answer != Tandem::AnswerWait::Answered;
			stale += in->output.load (std::memory_order_relaxed) != in->input.load (std::memory_order_relaxed);
		}
	};
	auto next = HandshakeClock::now ();
	for (int n = 1; n <= kCycles && lost == 0; ++n)
	{
		next += kPeriod;
		std::this_thread::sleep_until (next);
		cycle (n);
		// Only a look taken in the middle of a period on time counts: a host
		// that fell behind (a loaded machine) posts its next blocks at once.
		std::this_thread::sleep_until (next + kPeriod / 2);
		if (HandshakeClock::now () > next + kPeriod * 3 / 4)
			continue;
		for (auto& in : chain)
		{
			Tandem::fullFence ();
			++looked;
			asleep += in->audio.outpostWaiting.load () != 0;
		}
	}
	// Three more cycles, each a period after the last one's answers, so that
	// every outpost goes by a steady period (a host that fell behind posts
	// back to back, and back-to-back blocks are spun for). Past the time the
	// next block was due, the first outpost has woken to look for it; a
	// follower only wakes for a post or after its slice. Not judged when this
	// thread was held up so long that the period counts as no rhythm at all.
	const auto steadyFrom = HandshakeClock::now ();
	for (int n = 1; n <= 3; ++n)
	{
		std::this_thread::sleep_for (kPeriod);
		cycle (kCycles + n);
	}
	const bool steady = HandshakeClock::now () - steadyFrom < Tandem::kMaxPacedPeriod;
	std::vector<int> idleBefore;
	for (auto& in : chain)
		idleBefore.push_back (in->idle.load ());
	std::this_thread::sleep_for (kPeriod * 5);
	for (int i = 1; i < kInstances && steady; ++i)
		EXPECT_EQ (chain[i]->idle.load (), idleBefore[i]) << "follower " << i << " woke without a block";
	running = false;
	for (auto& in : chain)
	{
		Tandem::futexWake (&in->audio.inputReady);
		in->thread.join ();
	}
	EXPECT_EQ (lost, 0) << "a block was not answered: a wake-up was lost";
	EXPECT_EQ (stale, 0);
	// A handful of looks on a machine so loaded that the host was rarely on
	// time says nothing: judged from ten cycles' looks on.
	if (looked >= 10 * kInstances)
	{
		EXPECT_GE (asleep, looked / 2) << "outposts sleep between paced blocks";
	}
}

// An outpost that cannot make the wake-up call (its Wine traps system
// calls) never says it can: the host side must then spin, not sleep.
TEST (Handshake, HostSpinsWhenOutpostCannotWakeIt)
{
	auto audio = std::make_unique<Tandem::AudioData> ();
	std::atomic<bool> running {true};
	std::thread outpost ([&] {
		while (Tandem::waitForBlock (*audio, false, [&] { return running.load (); }))
		{
			spinFor (microseconds (500));
			audio->inputReady.store (0);
			Tandem::fullFence ();
			audio->outputReady.store (1); // and no futex call
		}
	});
	for (int n = 0; n < 20; ++n)
	{
		Tandem::postBlock (*audio);
		EXPECT_EQ (
		    Tandem::waitForAnswer (*audio, HandshakeClock::now () + seconds (5), seconds (30), [] { return true; }),
		    Tandem::AnswerWait::Answered);
	}
	running = false;
	outpost.join ();
}

} // namespace
} // namespace QuillMarlowTest
