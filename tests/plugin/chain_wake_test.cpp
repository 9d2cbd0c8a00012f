// The outposts of a chain are woken ahead: each, as its block comes, wakes
// the outpost of the instance behind it, and the host's thread makes no
// wake-up call for it. The links and wake-ups are checked step by step on
// one thread; threads that wait for their blocks as outpost does then show
// that no wake-up is lost on the way.
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

// The host's side of a cycle, as the plug-in runs it: each instance's block
// linked behind the one before it, then posted. The outposts behind the
// first sleep on their chain slots; each outpost, as its block comes, wakes
// the one behind it. Returns how many followers the host had to wake.
int cycle (Tandem::ChainRegion& chain, std::vector<Tandem::AudioData>& audio, const std::vector<int>& order)
{
	for (std::size_t k = 1; k < order.size (); ++k)
		chain.slots[order[k]].asleep.store (1);
	int hostWakes = 0;
	for (std::size_t k = 0; k < order.size (); ++k)
	{
		const int self = order[k];
		Tandem::linkChain (chain, self, k == 0 ? Tandem::kNoChainSlot : order[k - 1]);
		const bool woke = Tandem::postBlock (audio[self], &chain.slots[self]);
		hostWakes += k > 0 && woke;
		EXPECT_EQ (chain.slots[self].asleep.load (), 0) << "instance " << self << " left asleep with its block";
		Tandem::nudgeFollowers (chain, self);
		audio[self].inputReady.store (0);
	}
	return hostWakes;
}

// An instance bypassed, the order changed, the instance back: from a
// shape's second cycle on, every follower is awake when its block is posted
// and the host makes no wake-up call; in its first, the host wakes whoever
// the links of the shape before did not, and no block waits for a sleeper.
TEST (ChainWake, FromEachShapesSecondCycleOnTheHostWakesNoFollower)
{
	auto chain = std::make_unique<Tandem::ChainRegion> ();
	Tandem::initialiseChain (*chain);
	std::vector<Tandem::AudioData> audio (4);
	const std::vector<std::vector<int>> shapes {{0, 1, 2, 3}, {0, 2, 3}, {3, 0, 2}, {0, 1, 2, 3}};
	for (const auto& order : shapes)
	{
		SCOPED_TRACE (::testing::Message () << order.size () << " instances, first " << order.front ());
		EXPECT_LE (cycle (*chain, audio, order), static_cast<int> (order.size ()) - 1);
		EXPECT_EQ (cycle (*chain, audio, order), 0);
		EXPECT_EQ (cycle (*chain, audio, order), 0);
	}
	// The last instance of a chain wakes nobody: the first is its own.
	chain->slots[0].asleep.store (1);
	EXPECT_EQ (Tandem::nudgeFollowers (*chain, 3), 0);
}

// Outposts as threads that wait for their blocks as outpost does, the
// host's thread running the instances in turn once per period, as the
// plug-in runs each block (its chain links, then the post).
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

	// `cycles` periods of `samples` at 48 kHz, each running the instances in `order`.
	void run (const std::vector<int>& order, int samples, int cycles)
	{
		const auto period = nanoseconds (static_cast<std::int64_t> (samples * 1e9 / 48000.0));
		auto next = HandshakeClock::now ();
		for (int n = 0; n < cycles; ++n)
		{
			next = std::max (next + period, HandshakeClock::now ());
			std::this_thread::sleep_until (next);
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
			}
		}
	}

	int lost_ = 0, stale_ = 0;

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

// Outposts that sleep on their chain slots, woken ahead or by their blocks,
// through a chain that changes shape and block size: no wake-up is lost and
// every block is answered with its own output. How often the host still
// has to wake a follower depends on the machine's load: the bench counts it.
TEST (ChainWake, EveryBlockOfAChainThatChangesShapeIsAnswered)
{
	ChainOfOutposts chain (4);
	const std::vector<std::pair<std::vector<int>, int>> shapes {
	    {{0, 1, 2, 3}, 128}, {{0, 2, 3}, 256}, {{3, 0, 2}, 256}, {{3, 0, 2}, 128}, {{0, 1, 2, 3}, 128}};
	for (const auto& [order, samples] : shapes)
	{
		SCOPED_TRACE (::testing::Message () << order.size () << " instances, " << samples << " samples");
		chain.run (order, samples, 60);
		EXPECT_EQ (chain.lost_, 0) << "a block was not answered: a wake-up was lost";
		EXPECT_EQ (chain.stale_, 0);
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

// The outposts of one host share the chain file's spin seats: with one
// seat, a second outpost's thread does not spin (and keeps no seat of its
// own process either); the seat of an outpost that died holding it is freed
// by the Linux side, and the dead holder's late give never frees the seat
// somebody else took since.
TEST (ChainWake, OutpostsShareTheChainFilesSpinSeatsAndADeadHoldersSeatIsFreed)
{
	auto chain = std::make_unique<Tandem::ChainRegion> ();
	Tandem::initialiseChain (*chain, 1);
	Tandem::SpinSeats first (1), second (1);
	Tandem::ChainPlace a, b;
	a.chain = b.chain = chain.get ();
	a.slot = 0;
	b.slot = 1;
	{
		const Tandem::SpinSeat spinning (&first, &a);
		ASSERT_TRUE (spinning);
		EXPECT_FALSE (Tandem::SpinSeat (&second, &b));
		EXPECT_TRUE (Tandem::SpinSeat (&second)) << "its process's seat given back";
	}
	EXPECT_TRUE (Tandem::SpinSeat (&second, &b)) << "given back as the spin ended";

	const std::int32_t died = Tandem::takeChainSeat (*chain, a.slot);
	ASSERT_NE (died, Tandem::kNoChainSeat);
	EXPECT_FALSE (Tandem::SpinSeat (&second, &b));
	Tandem::freeChainSeatsOf (*chain, a.slot);
	const Tandem::SpinSeat taken (&second, &b);
	EXPECT_TRUE (taken);
	Tandem::giveChainSeat (*chain, died, a.slot);
	EXPECT_EQ (Tandem::takeChainSeat (*chain, a.slot), Tandem::kNoChainSeat) << "b's seat still held";
}

} // namespace
} // namespace QuillMarlowTest
