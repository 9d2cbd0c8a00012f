// The whole path: a host loads QuillMarlow.vst3, which starts the real
// outpost.exe under Wine serving the real Quill; audio, state and the stop.
#include "e2e_support.h"

#include <gmock/gmock.h>

namespace e2e {
namespace {

// Streams `blocks` blocks through `p` at the pace of a real-time host and
// checks them against Quill's DSP run natively on the same input. Returns
// the number of blocks that passed through unprocessed.
//
// A block that misses the block time-out passes through, but outpost may still
// process it later, which moves Quill's filter on without us seeing it. So
// after such a gap the check waits until the filter memory has decayed
// (1024 samples) before it compares again; the model then agrees exactly.
// Without the pacing, two outposts and the host would keep three threads
// spinning on a two-core machine, and many blocks would miss the bound.
// The instances of `chain` process a block each in turn, as a host runs the
// inserts of a track, one cycle per block time; every block that went
// through the served plug-in is checked against its instance's model.
// Returns how many blocks passed through.
int streamChainAndCheck (const std::vector<Processor*>& chain, std::vector<QuillModel>& models, long& sample,
                         int cycles)
{
	const int size = chain.front ()->blockSize ();
	const auto blockTime = std::chrono::duration<double> (size / chain.front ()->rate ());
	auto next = std::chrono::steady_clock::now ();
	StereoBlock block (size);
	std::vector<float> expected[2] = {std::vector<float> (size), std::vector<float> (size)};
	float* expectedPtrs[2] = {expected[0].data (), expected[1].data ()};
	int passed = 0;
	std::vector<int> unverified (chain.size (), 0);
	for (int cycle = 0; cycle < cycles; ++cycle, sample += size)
	{
		next += std::chrono::duration_cast<std::chrono::steady_clock::duration> (blockTime);
		std::this_thread::sleep_until (next);
		for (size_t n = 0; n < chain.size (); ++n)
		{
			block.fill (sample);
			EXPECT_EQ (chain[n]->process (block), kResultOk);
			if (block.passedThrough ())
			{
				++passed;
				unverified[n] = 1024;
				continue;
			}
			models[n].dsp.process (block.inPtrs, expectedPtrs, 2, size);
			if (unverified[n] > 0)
			{
				unverified[n] -= size;
				continue;
			}
			for (int c = 0; c < 2; ++c)
				for (int i = 0; i < size; ++i)
				{
					// Same code, two compilers and C libraries: allow the last bit.
					const float tolerance = 2e-6f * std::max (1.0f, std::fabs (expected[c][i]));
					if (std::fabs (block.out[c][i] - expected[c][i]) > tolerance)
					{
						ADD_FAILURE () << "instance " << n << ", cycle " << cycle << " channel " << c << " sample " << i
						               << ": got " << block.out[c][i] << ", Quill computes " << expected[c][i];
						return passed;
					}
				}
		}
	}
	return passed;
}

int streamAndCheck (Processor& p, QuillModel& model, long& sample, int blocks)
{
	std::vector<QuillModel> models {model};
	const int passed = streamChainAndCheck ({&p}, models, sample, blocks);
	model = models.front ();
	return passed;
}

// Few enough blocks missed the block time-out for the check to mean something
// (on a quiet machine none do; a busy one makes some miss it).
void expectMostlyProcessed (int passedThrough, int blocks)
{
	EXPECT_LE (passedThrough, blocks / 4) << passedThrough << " of " << blocks << " blocks passed through";
}

class Bridge : public ::testing::Test
{
protected:
	void SetUp () override { ASSERT_NE (module.factory (), nullptr) << "cannot load " << QM_BUNDLE_SO; }
	BundleModule module;
};

TEST_F (Bridge, AudioComesBackAsQuillComputesIt)
{
	for (int blockSize : {64, 256, 1024})
	{
		Processor p (module.factory (), blockSize);
		ASSERT_TRUE (p.valid ());
		ASSERT_EQ (p.activate (true), kResultOk);
		QuillModel model (48000.0);
		long sample = 0;
		expectMostlyProcessed (streamAndCheck (p, model, sample, 100), 100);
	}
}

// A project or an audio interface changes rate: the host deactivates, sets
// up again and activates. The served Quill then sounds as at the new rate
// (its filter differs between the two by about 0.002 here).
TEST_F (Bridge, ARateChangeReachesTheServedPlugIn)
{
	Processor p (module.factory (), 256);
	ASSERT_EQ (p.activate (true), kResultOk);
	QuillModel at48 (48000.0);
	long sample = 0;
	expectMostlyProcessed (streamAndCheck (p, at48, sample, 50), 50);
	ASSERT_EQ (p.activate (false), kResultOk);
	p.setup (44100.0);
	ASSERT_EQ (p.activate (true), kResultOk);
	QuillModel at44 (44100.0);
	expectMostlyProcessed (streamAndCheck (p, at44, sample, 50), 50);
}

TEST_F (Bridge, StateSurvivesSaveAndRestoreIntoAFreshProcessor)
{
	const std::vector<uint8> brighter = quillStateStream (0.75, 0.3);
	std::vector<uint8> saved;
	{
		Processor a (module.factory (), 256);
		ASSERT_EQ (a.activate (true), kResultOk);
		EXPECT_EQ (a.saveState (), quillStateStream (Quill::kDefaultGain, Quill::kDefaultTone)) << "Quill's defaults";
		ASSERT_EQ (a.restoreState (brighter), kResultOk);
		saved = a.saveState ();
		EXPECT_EQ (saved, brighter);
	}
	Processor b (module.factory (), 256);
	ASSERT_EQ (b.activate (true), kResultOk);
	ASSERT_EQ (b.restoreState (saved), kResultOk);
	EXPECT_EQ (b.saveState (), saved) << "bit-exact after a restore into a fresh processor";
	QuillModel model (48000.0, {0.75, 0.3});
	long sample = 0;
	expectMostlyProcessed (streamAndCheck (b, model, sample, 100), 100); // with the restored settings
}

TEST_F (Bridge, ProjectLoadBeforeActivationIsApplied)
{
	Processor p (module.factory (), 128);
	const std::vector<uint8> state = quillStateStream (0.9, 0.5);
	ASSERT_EQ (p.restoreState (state), kResultOk);
	ASSERT_EQ (p.activate (true), kResultOk);
	EXPECT_EQ (p.saveState (), state);
	QuillModel model (48000.0, {0.9, 0.5});
	long sample = 0;
	expectMostlyProcessed (streamAndCheck (p, model, sample, 50), 50);
}

TEST_F (Bridge, TerminateLeavesNothingBehind)
{
	std::vector<OutpostProcess> started;
	{
		Processor p (module.factory (), 256);
		ASSERT_EQ (p.activate (true), kResultOk);
		started = runningOutposts ();
		ASSERT_EQ (started.size (), 1u);
		EXPECT_TRUE (fileExists (started[0].sharedFile));
	}
	EXPECT_TRUE (runningOutposts ().empty ());
	EXPECT_NE (::kill (started[0].pid, 0), 0) << "outpost was stopped and reaped";
	EXPECT_FALSE (fileExists (started[0].sharedFile));
}

// Feeds a constant at a real-time pace; keeps the output level of the last
// block that went through the served plug-in, and counts those blocks. A
// constant is immune to a late block: the low-pass settles to it either way.
void settle (Processor& p, float level, int blocks, int& processed, float& last)
{
	StereoBlock block (p.blockSize ());
	for (auto& channel : block.in)
		std::fill (channel.begin (), channel.end (), level);
	for (int b = 0; b < blocks; ++b)
	{
		std::this_thread::sleep_for (std::chrono::duration<double> (p.blockSize () / p.rate ()));
		p.process (block);
		if (!block.passedThrough ())
		{
			++processed;
			last = block.out[1].back ();
		}
	}
}

TEST_F (Bridge, TwoProcessorsEachHaveTheirOwnOutpost)
{
	Processor a (module.factory (), 256);
	Processor b (module.factory (), 256);
	ASSERT_EQ (a.activate (true), kResultOk);
	ASSERT_EQ (b.activate (true), kResultOk);
	const auto outposts = runningOutposts ();
	ASSERT_EQ (outposts.size (), 2u);
	EXPECT_NE (outposts[0].sharedFile, outposts[1].sharedFile);
	ASSERT_EQ (b.restoreState (quillStateStream (0.2, 0.9)), kResultOk);
	EXPECT_EQ (a.saveState (), quillStateStream (Quill::kDefaultGain, Quill::kDefaultTone)) << "a keeps its own state";

	// Interleaved like two tracks of one host; each settles at its own gain.
	// Two outposts keep both cores of a small machine spinning, so some
	// blocks miss the block time-out; enough of them must go through.
	int processedA = 0, processedB = 0;
	float levelA = 0, levelB = 0;
	for (int round = 0; round < 10; ++round)
	{
		settle (a, 0.5f, 10, processedA, levelA);
		settle (b, 0.5f, 10, processedB, levelB);
	}
	EXPECT_GE (processedA, 10);
	EXPECT_GE (processedB, 10);
	EXPECT_NEAR (levelA, 0.5 * std::pow (10.0, Quill::gainDb (Quill::kDefaultGain) / 20.0), 1e-3);
	EXPECT_NEAR (levelB, 0.5 * std::pow (10.0, Quill::gainDb (0.2) / 20.0), 1e-3);
}

TEST_F (Bridge, OutpostKilledWhileStreamingIsReplacedOnTheNextActivation)
{
	Processor p (module.factory (), 256);
	ASSERT_EQ (p.activate (true), kResultOk);
	const std::vector<uint8> state = quillStateStream (0.6, 0.4);
	ASSERT_EQ (p.restoreState (state), kResultOk);
	QuillModel model (48000.0, {0.6, 0.4});
	long sample = 0;
	expectMostlyProcessed (streamAndCheck (p, model, sample, 50), 50);

	auto outposts = runningOutposts ();
	ASSERT_EQ (outposts.size (), 1u);
	const pid_t first = outposts[0].pid;
	ASSERT_EQ (::kill (first, SIGKILL), 0);
	ASSERT_TRUE (waitFor ([&] { return runningOutposts ().empty (); }, 5.0));

	StereoBlock block (256);
	for (int b = 0; b < 20; ++b)
	{
		block.fill (sample += 256);
		const auto t0 = std::chrono::steady_clock::now ();
		EXPECT_EQ (p.process (block), kResultOk);
		EXPECT_LT (std::chrono::steady_clock::now () - t0, std::chrono::seconds (1)) << "never hangs";
		EXPECT_TRUE (block.passedThrough ());
	}
	EXPECT_EQ (p.saveState (), state) << "the last known state is kept while outpost is gone";

	ASSERT_EQ (p.activate (false), kResultOk);
	ASSERT_EQ (p.activate (true), kResultOk);
	outposts = runningOutposts ();
	ASSERT_EQ (outposts.size (), 1u);
	EXPECT_NE (outposts[0].pid, first);
	EXPECT_EQ (p.saveState (), state) << "re-applied to the new outpost";
	QuillModel fresh (48000.0, {0.6, 0.4});
	expectMostlyProcessed (streamAndCheck (p, fresh, sample, 50), 50);
}

// Grouped, the instances of a chain are served by one outpost, whose audio
// thread hands each block on to the instance behind it: every instance
// still gets its own blocks, with its own settings, and none is left
// behind when the chain changes shape.
TEST_F (Bridge, AChainOfGroupedInstancesEachProcessesItsOwnBlocksInOneOutpost)
{
	::setenv ("QUILLMARLOW_GROUP", "chain", 1);
	std::vector<std::unique_ptr<Processor>> owned;
	for (int n = 0; n < 3; ++n)
		owned.push_back (std::make_unique<Processor> (module.factory (), 256));
	::unsetenv ("QUILLMARLOW_GROUP");
	std::vector<Processor*> chain;
	std::vector<QuillModel> models;
	for (int n = 0; n < 3; ++n)
	{
		const Quill::QuillParams params {0.2 + 0.3 * n, 0.5};
		ASSERT_EQ (owned[n]->activate (true), kResultOk);
		ASSERT_EQ (owned[n]->restoreState (quillStateStream (params.gain, params.tone)), kResultOk);
		chain.push_back (owned[n].get ());
		models.emplace_back (48000.0, params);
	}
	EXPECT_EQ (runningOutposts ().size (), 1u);
	long sample = 0;
	expectMostlyProcessed (streamChainAndCheck (chain, models, sample, 200), 600);
	// The middle one bypassed for a while, then back: a new shape.
	std::swap (chain[1], chain[2]);
	std::swap (models[1], models[2]);
	expectMostlyProcessed (streamChainAndCheck ({chain[0], chain[1]}, models, sample, 100), 200);
	expectMostlyProcessed (streamChainAndCheck (chain, models, sample, 200), 600);
}

} // namespace
} // namespace e2e
