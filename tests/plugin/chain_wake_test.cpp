// The outposts of a chain are woken ahead: each, as its block comes, wakes
// the outpost of the instance behind it, and the host's thread makes no
// wake-up call for them. Outposts here are threads that wait
// for their blocks as outpost does; the host's thread runs the instances in
// turn once per period, as the plug-in runs each block (its chain links,
// then the post). Judged by the host's wake-up calls, never by time: only
// cycles that the host began on time, after three that began on time and
// ran through, count. A host held up posts its blocks closer together than
// a period, and an outpost that sees that takes them for no rhythm at all
// and is woken by them, as without chains.
#include "plugin/chain_links.h"
#include "protocol/handshake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace QuillMarlowTest {
namespace {

using namespace std::chrono;
using Steinberg::QuillMarlow::ChainLinks::Turn;
using Tandem::HandshakeClock;

class ChainOfOutposts
{
public:
	explicit ChainOfOutposts (int count) : chain_ (std::make_unique<Tandem::ChainRegion> ())
	{
		Tandem::initialiseChain (*chain_);
		for (int i = 0; i < count; ++i)
		{
			instances_.push_back (std::make_unique<Instance> ());
			Instance& in = *instances_.back ();
			in.audio->outpostCanWake.store (1);
			in.place.follows = &in.follows;
			in.place.chain = chain_.get ();
			in.place.slot = i;
			// Room enough for the spin to learn that a slowed machine keeps
			// the followers waiting long: then only a lost wake-up lets a
			// woken outpost fall asleep again before its block.
			in.place.spin.limit = milliseconds (200);
			in.thread = std::thread ([&in, this] {
				Tandem::BlockRhythm rhythm;
				auto keepGoing = [this] { return running_.load (); };
				while (Tandem::waitForBlock (*in.audio, true, keepGoing, seconds (30), &rhythm, &in.place))
				{
					in.output.store (in.input.load (std::memory_order_relaxed), std::memory_order_relaxed);
					Tandem::finishBlock (*in.audio);
				}
			});
		}
	}

	~ChainOfOutposts ()
	{
		running_ = false;
		for (int i = 0; i < static_cast<int> (instances_.size ()); ++i)
		{
			Tandem::futexWake (&instances_[i]->audio->inputReady);
			chain_->slots[i].asleep.store (1);
			Tandem::nudge (chain_->slots[i]);
			instances_[i]->thread.join ();
		}
	}

	// `cycles` periods of `samples` at 48 kHz, each running the instances
	// in `order`; the host's wake-up calls for instances that followed
	// another are counted from the `settle`th cycle on.
	void run (const std::vector<int>& order, int samples, int cycles, int settle)
	{
		const auto period = nanoseconds (static_cast<std::int64_t> (samples * 1e9 / 48000.0));
		int cleanInARow = 0;
		auto next = HandshakeClock::now ();
		for (int n = 0; n < cycles; ++n)
		{
			next += period;
			std::this_thread::sleep_until (next);
			const auto start = HandshakeClock::now ();
			const bool onTime = start - next < milliseconds (1);
			if (!onTime)
				next = start;
			// Outposts go by the last two intervals between their blocks: a
			// cycle counts after three that began on time and ran through.
			const bool counted = n >= settle && onTime && cleanInARow >= 3;
			counted_ += counted;
			for (int i : order)
			{
				Instance& in = *instances_[i];
				const Turn turn (7000 + i, period.count (), chain_.get (), i);
				in.follows.store (turn.followsAnother () ? 1 : 0);
				in.input.store (++stamp_, std::memory_order_relaxed);
				const bool woke = Tandem::postBlock (*in.audio, &chain_->slots[i]);
				const auto answer = Tandem::waitForAnswer (
				    *in.audio, HandshakeClock::now () + seconds (5), seconds (30), [] { return true; }, woke);
				lost_ += answer != Tandem::AnswerWait::Answered;
				stale_ += in.output.load (std::memory_order_relaxed) != in.input.load (std::memory_order_relaxed);
				followerWakes_ += counted && turn.followsAnother () && woke;
			}
			const auto took = HandshakeClock::now () - start;
			cleanInARow = onTime && took < milliseconds (1) ? cleanInARow + 1 : 0;
		}
	}

	int lost_ = 0, stale_ = 0, followerWakes_ = 0, counted_ = 0;

private:
	struct Instance
	{
		std::unique_ptr<Tandem::AudioData> audio = std::make_unique<Tandem::AudioData> ();
		std::atomic<std::uint8_t> follows {0};
		Tandem::ChainPlace place;
		std::atomic<int> input {0}, output {0};
		std::thread thread;
	};
	std::unique_ptr<Tandem::ChainRegion> chain_;
	std::vector<std::unique_ptr<Instance>> instances_;
	std::atomic<bool> running_ {true};
	int stamp_ = 0;
};

// Too few cycles on time (a machine busy with something else) say nothing.
constexpr int kEnoughCycles = 10;

TEST (ChainWake, FollowersAreAwakeWhenTheirBlocksArePosted)
{
	ChainOfOutposts chain (4);
	chain.run ({0, 1, 2, 3}, 128, 200, 10);
	EXPECT_EQ (chain.lost_, 0) << "a block was not answered: a wake-up was lost";
	EXPECT_EQ (chain.stale_, 0);
	if (chain.counted_ >= kEnoughCycles)
	{
		// Now and then a slowed machine (the sanitizers) outlasts a follower's
		// bounded spin; a chain not woken ahead wakes a follower every cycle.
		EXPECT_LE (chain.followerWakes_, chain.counted_ / 4) << "of " << chain.counted_ << " cycles on time";
	}
}

// An instance bypassed, the order changed, another block size, the instance
// back: every block is answered, and a few cycles into each shape no
// follower needs the host's wake-up call any more.
TEST (ChainWake, AChainThatChangesShapeIsFollowedWithinAFewCycles)
{
	ChainOfOutposts chain (4);
	const std::vector<std::pair<std::vector<int>, int>> shapes {
	    {{0, 1, 2, 3}, 256}, {{0, 2, 3}, 256}, {{3, 0, 2}, 256}, {{3, 0, 2}, 128}, {{0, 1, 2, 3}, 128}};
	for (const auto& [order, samples] : shapes)
	{
		SCOPED_TRACE (::testing::Message () << order.size () << " instances, " << samples << " samples, first "
		                                    << order.front ());
		const int before = chain.followerWakes_, countedBefore = chain.counted_;
		chain.run (order, samples, 40, 5);
		EXPECT_EQ (chain.lost_, 0);
		EXPECT_EQ (chain.stale_, 0);
		if (chain.counted_ - countedBefore >= kEnoughCycles)
		{
			// A follower whose bounded spin ran out on a slowed machine (the
			// sanitizers) is woken as before now and then; one the chain does
			// not wake ahead is woken in every cycle.
			EXPECT_LE (chain.followerWakes_ - before, (chain.counted_ - countedBefore) / 4);
		}
	}
}

// A woken follower spins twice as long as its blocks lately kept it waiting,
// and a little more: a spin that ran out lengthens the next ones up to the
// limit, and blocks that come promptly shorten them again.
TEST (ChainWake, AWokenFollowersSpinFollowsItsBlocksWithinItsBounds)
{
	Tandem::FollowerSpin spin;
	EXPECT_EQ (spin.bound (), Tandem::kMinFollowerSpin);
	spin.waited (microseconds (30));
	EXPECT_EQ (spin.bound (), microseconds (80));
	spin.waited (spin.bound ());
	EXPECT_EQ (spin.bound (), microseconds (180));
	spin.waited (spin.bound ());
	EXPECT_EQ (spin.bound (), Tandem::kFollowerSpin);
	for (int i = 0; i < 100; ++i)
		spin.waited (microseconds (1));
	EXPECT_LT (spin.bound (), microseconds (30));
}

} // namespace
} // namespace QuillMarlowTest
