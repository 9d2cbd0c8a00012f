// Faults against the native stand-in: outpost stopped for a second, a slow
// served plug-in, Wine missing, and four processors at once. Every block the
// stand-in processes comes back halved; every block that passes through
// comes back unchanged; anything else is another block's data.
#include "figures.h"
#include "plugin/test_support.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <sys/wait.h>

namespace QuillMarlowTest {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;

// Generous against preemption on a loaded 2-core machine; a real-time block
// itself waits about its own length, at least 3 ms.
constexpr auto kProcessBound = std::chrono::milliseconds (250);

struct StreamResult
{
	long blocks = 0;
	long processed = 0;
	long passedThrough = 0;
	long stale = 0; // neither: another block's data
	Clock::duration longest {};
};

// Streams blocks of distinct content at a real-time pace for `duration`,
// calling `during` once after `after` has elapsed (on this thread).
StreamResult stream (TestProcessor& p, int32 samples, double rate, Clock::duration duration,
                     std::function<void ()> during = {}, Clock::duration after = {})
{
	StreamResult r;
	Bus in (2, samples), out (2, samples);
	const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (samples / rate));
	const auto start = Clock::now ();
	auto next = start;
	bool fired = !during;
	for (long n = 0; Clock::now () - start < duration; ++n)
	{
		if (!fired && Clock::now () - start >= after)
		{
			during ();
			fired = true;
		}
		next += period;
		std::this_thread::sleep_until (next);
		for (int c = 0; c < 2; ++c)
			for (int32 i = 0; i < samples; ++i)
				in.data[c][i] = static_cast<float> (n * 4 + c * 2) + 0.001f * static_cast<float> (i);
		Vst::ProcessData d = block (in, out, samples);
		const auto t0 = Clock::now ();
		EXPECT_EQ (p.process (d), kResultOk);
		r.longest = std::max (r.longest, Clock::now () - t0);
		++r.blocks;
		bool halved = true, same = true;
		for (int c = 0; c < 2; ++c)
			for (int32 i = 0; i < samples; ++i)
			{
				halved = halved && out.data[c][i] == 0.5f * in.data[c][i];
				same = same && out.data[c][i] == in.data[c][i];
			}
		if (halved)
			++r.processed;
		else if (same)
			++r.passedThrough;
		else
			++r.stale;
	}
	return r;
}

std::string describe (const StreamResult& r)
{
	return std::to_string (r.blocks) + " blocks: " + std::to_string (r.processed) + " processed, " +
	       std::to_string (r.passedThrough) + " passed through, " + std::to_string (r.stale) +
	       " stale; longest process() " +
	       std::to_string (std::chrono::duration_cast<std::chrono::microseconds> (r.longest).count () / 1000.0) + " ms";
}

TEST (Faults, OutpostStoppedForASecondPassesThroughAndNeverHandsBackAStaleBlock)
{
	HostedProcessor p ("serve", 64);
	ASSERT_EQ (p->setActive (true), kResultOk);
	const pid_t pid = p->outpostPid ();
	std::thread resume;
	const StreamResult r = stream (
	    *p.p, 64, 48000.0, std::chrono::milliseconds (2500),
	    [&] {
		    ASSERT_EQ (::kill (pid, SIGSTOP), 0);
		    resume = std::thread ([pid] {
			    std::this_thread::sleep_for (std::chrono::seconds (1));
			    ::kill (pid, SIGCONT);
		    });
	    },
	    std::chrono::milliseconds (500));
	resume.join ();
	EXPECT_EQ (r.stale, 0);
	EXPECT_LT (r.longest, kProcessBound);
	EXPECT_GE (r.passedThrough, 300) << "about a second of blocks while stopped";
	EXPECT_GE (r.processed, r.blocks / 10) << "before the stop and after it";
	EXPECT_GE (p->timeoutCount (), 1);
	EXPECT_LT (p->timeoutCount (), r.passedThrough) << "blocks after the first time-out wait for the late one";
	figures::report ("faults", "stand-in SIGSTOP 1 s while streaming 64-sample blocks", describe (r));

	// Still the same outpost: deactivate and activate reuse it.
	ASSERT_EQ (p->setActive (false), kResultOk);
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (p->outpostPid (), pid);
}

// A served plug-in that takes longer than the block time-out (20 ms) or about
// as long (2 ms) for every block.
TEST (Faults, SlowServedPluginNeverHoldsUpTheHostNorHandsBackAStaleBlock)
{
	for (const char* mode : {"slow:20", "slow:2"})
	{
		HostedProcessor p (mode, 128);
		ASSERT_EQ (p->setActive (true), kResultOk);
		const StreamResult r = stream (*p.p, 128, 48000.0, std::chrono::milliseconds (1500));
		EXPECT_EQ (r.stale, 0) << mode;
		EXPECT_LT (r.longest, kProcessBound) << mode;
		// 20 ms is beyond the time-out of these blocks; 2 ms is about as long and may
		// or may not miss it.
		if (std::string (mode) == "slow:20")
		{
			EXPECT_GT (r.passedThrough, 0) << mode;
		}
		figures::report ("faults", std::string ("stand-in ") + mode + " ms per block, 128-sample blocks",
		                 describe (r) + ", " + std::to_string (p->timeoutCount ()) + " time-outs");
	}
}

// Stand-ins for missing Wine: the launch works, exec fails, and the
// activation waits out the 10 s readiness wait, no longer, and then passes
// audio through.
class MissingWine : public TestProcessor
{
protected:
	void adjustOutpostConfig (Tandem::OutpostConfig& config) override { config.winePath = "/nonexistent/wine"; }
};

TEST (Faults, WineMissingActivationEndsWithTheChildAndPassesThrough)
{
	auto* p = new MissingWine ();
	ASSERT_EQ (p->initialize (nullptr), kResultOk);
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 256, 48000.0};
	ASSERT_EQ (p->setupProcessing (setup), kResultOk);
	testing::internal::CaptureStderr ();
	const auto t0 = Clock::now ();
	EXPECT_EQ (p->setActive (true), kResultOk) << "the plug-in stays usable, in passthrough";
	const auto took = Clock::now () - t0;
	EXPECT_THAT (testing::internal::GetCapturedStderr (),
	             HasSubstr ("outpost ended while starting: it exited with status 127"));
	EXPECT_LT (took, std::chrono::seconds (2)) << "no readiness wait for a child that has ended";
	Bus in (2, 256), out (2, 256);
	in.fill (3.0f);
	for (int b = 0; b < 50; ++b)
	{
		Vst::ProcessData d = block (in, out, 256);
		EXPECT_EQ (p->process (d), kResultOk);
	}
	EXPECT_EQ (out.data, in.data);
	EXPECT_EQ (p->audioOkCount (), 0);
	const auto t1 = Clock::now ();
	p->terminate ();
	p->release ();
	EXPECT_LT (Clock::now () - t1, std::chrono::seconds (2));
	figures::report ("faults", "Wine missing",
	                 "activation returned OK after " +
	                     std::to_string (std::chrono::duration_cast<std::chrono::milliseconds> (took).count ()) +
	                     " ms (the child ended at once), 50 blocks passed through");
}

// Four processors, each with its own stand-in, each on its own host thread
// at a real-time pace, all at once.
TEST (Faults, FourProcessorsStreamAtOnceEachWithItsOwnOutpost)
{
	std::vector<std::unique_ptr<HostedProcessor>> processors;
	for (int i = 0; i < 4; ++i)
	{
		processors.push_back (std::make_unique<HostedProcessor> ("serve", 256));
		ASSERT_EQ ((*processors.back ())->setActive (true), kResultOk);
	}
	std::vector<pid_t> pids;
	for (auto& p : processors)
		pids.push_back ((*p)->outpostPid ());
	std::sort (pids.begin (), pids.end ());
	EXPECT_EQ (std::unique (pids.begin (), pids.end ()), pids.end ()) << "one outpost each";

	std::vector<StreamResult> results (4);
	std::vector<std::thread> threads;
	for (int i = 0; i < 4; ++i)
		threads.emplace_back (
		    [&, i] { results[i] = stream (*processors[i]->p, 256, 48000.0, std::chrono::milliseconds (2000)); });
	for (auto& t : threads)
		t.join ();
	std::string summary;
	for (int i = 0; i < 4; ++i)
	{
		EXPECT_EQ (results[i].stale, 0) << "processor " << i;
		EXPECT_LT (results[i].longest, kProcessBound) << "processor " << i;
		// Four stand-ins spin on two cores; a share of blocks must still go through.
		EXPECT_GE (results[i].processed, results[i].blocks / 10) << "processor " << i;
		summary += (i ? "; " : "") + std::to_string (results[i].processed) + "/" + std::to_string (results[i].blocks);
	}
	figures::report ("faults", "four processors at once, stand-ins, 2 s of 256-sample blocks each",
	                 "processed/blocks " + summary + "; no stale block");
}

} // namespace
} // namespace QuillMarlowTest
