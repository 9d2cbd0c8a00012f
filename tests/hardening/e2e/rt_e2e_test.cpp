// The built bundle with the real outpost.exe under Wine: the audio path
// watched by rt_guard for 100000 blocks, outpost stopped for a second, and
// the launch failures (outpost.exe missing, served plug-in missing, a
// plug-in whose factory fails).
#include "e2e_support.h"
#include "figures.h"
#include "rt_run.h"

#include "served_processor.h"
#include "../../host/host_parameter_changes.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

class Hardening : public ::testing::Test
{
protected:
	void SetUp () override { ASSERT_NE (module.factory (), nullptr) << "cannot load " << QM_BUNDLE_SO; }
	// Activates `p`, which starts exactly one outpost: that one.
	static void activate (Processor& p, OutpostProcess& outpost)
	{
		ASSERT_EQ (p.activate (true), kResultOk);
		const auto outposts = ownOutposts ();
		ASSERT_EQ (outposts.size (), 1u);
		outpost = outposts[0];
	}
	BundleModule module;
};

// The bundle's code calls malloc, pthread_mutex_lock and the rest through
// this program's replacements (it exports them), so the watch covers the
// real module as a host loads it, automation in and reported values out
// included.
TEST_F (Hardening, ProcessThroughTheRealOutpostNeverAllocatesLocksSleepsOrWrites)
{
	constexpr long kBlocks = 100000;
	Processor p (module.factory (), 64);
	ASSERT_TRUE (p.valid ());
	ASSERT_EQ (p.activate (true), kResultOk);
	StereoBlock block (64);
	// Automation in every block, and room for what the plug-in reports.
	HostParameterChanges automation, reported;
	automation.add (Quill::kGainId, 0, 0.5);
	automation.add (Quill::kGainId, 32, 0.6);
	automation.add (Quill::kToneId, 16, 0.4);
	long passed = 0;
	const rtguard::RunReport r = rtguard::runWatched (kBlocks, [&] (long n) {
		block.in[0][0] = 0.25f + static_cast<float> (n % 1000) * 1e-4f;
		block.in[1][0] = -block.in[0][0];
		reported.clear ();
		p.process (block, &automation, &reported);
		if (block.out[0][0] == block.in[0][0] && block.out[1][0] == block.in[1][0])
			++passed;
	});
	ASSERT_TRUE (r.watched) << "seccomp filter refused";
	EXPECT_EQ (r.blocks, kBlocks);
	EXPECT_EQ (r.faultyBlocks, 0) << r.firstFault;
	// Unpaced and sharing two cores with outpost's spinning thread, a share
	// of blocks misses the block time-out; enough must reach Quill for the run
	// to cover the exchange.
	EXPECT_GE (kBlocks - passed, kBlocks / 10) << "blocks that went through Quill";
	figures::report ("rt", "process() vs real outpost under Wine, 100000 x 64 samples",
	                 std::to_string (r.cleanBlocks) + " clean blocks (no system call, 0 alloc/lock/sleep), " +
	                     std::to_string (r.waitedBlocks) + " waited past the spin window (" +
	                     std::to_string (r.probes) + " probes), " + std::to_string (r.faultyBlocks) + " faulty; " +
	                     std::to_string (passed) + " passed through");
}

// Processor time (clock ticks) used so far by each thread of `pid`.
std::map<pid_t, long> threadTicks (pid_t pid)
{
	std::map<pid_t, long> ticks;
	const std::string dir = "/proc/" + std::to_string (pid) + "/task";
	DIR* tasks = ::opendir (dir.c_str ());
	while (dirent* entry = tasks ? ::readdir (tasks) : nullptr)
		if (const pid_t tid = std::atoi (entry->d_name); tid > 0)
			ticks[tid] = cpuTicks (dir + "/" + entry->d_name + "/stat");
	if (tasks)
		::closedir (tasks);
	return ticks;
}

// The thread of `pid` that used the most processor time while `work` ran.
template <typename Work>
pid_t busiestThreadDuring (pid_t pid, Work work)
{
	const std::map<pid_t, long> before = threadTicks (pid);
	work ();
	pid_t best = 0;
	long most = -1;
	for (const auto& [tid, ticks] : threadTicks (pid))
	{
		const auto old = before.find (tid);
		const long used = ticks - (old == before.end () ? 0 : old->second);
		if (used > most)
		{
			most = used;
			best = tid;
		}
	}
	return best;
}

// Threads of `pid` under a real-time policy (stat field 41 is the policy).
int realTimeThreads (pid_t pid)
{
	int count = 0;
	for (const auto& [tid, ticks] : threadTicks (pid))
		count += statField ("/proc/" + std::to_string (pid) + "/task/" + std::to_string (tid) + "/stat", 41) != "0";
	return count;
}

// The spin-only switch, kept for comparisons, makes outpost's audio thread
// spin between blocks without end. At a real-time priority that thread would
// keep the host off its core until the kernel throttles it, so it gives the
// priority up for as long as the switch is on, and takes it back after.
TEST_F (Hardening, ASpinOnlyOutpostLeavesItsRealTimePriorityWhileItSpins)
{
	Processor p (module.factory (), 64);
	OutpostProcess outpost;
	ASSERT_NO_FATAL_FAILURE (activate (p, outpost));
	StereoBlock block (64);
	block.fill (0);
	p.process (block);
	if (!waitFor ([&] { return realTimeThreads (outpost.pid) == 1; }, 5.0))
		GTEST_SKIP () << "this machine refuses outpost a real-time priority";
	AudioRegion region (outpost.sharedFile);
	ASSERT_NE (region.audio (), nullptr);
	region.audio ()->spinOnly.store (1);
	p.process (block);
	EXPECT_TRUE (waitFor ([&] { return realTimeThreads (outpost.pid) == 0; }, 5.0));
	region.audio ()->spinOnly.store (0);
	p.process (block);
	EXPECT_TRUE (waitFor ([&] { return realTimeThreads (outpost.pid) == 1; }, 5.0));
}

// The count of `name` in a "name count, name count" list.
long callsNamed (const std::string& calls, const std::string& name)
{
	const size_t at = calls.find (name + " ");
	return at == std::string::npos ? 0 : std::atol (calls.c_str () + at + name.size () + 1);
}

// outpost's audio thread under Wine, watched from outside with `strace -c`
// attached to that one thread while 50000 blocks stream back to back: a
// system call only for a block that came late (a futex sleep before it, a
// wake-up of a host that slept for its answer), and no write: its log lines
// are handed to the writer thread. Which blocks come late depends on the
// machine's load, so the host counts them itself: outpost can have slept
// before a block only when the block was posted more than the spin window
// after the one before, and can have had to wake the host only when process()
// took longer than the spin window.
TEST_F (Hardening, OutpostAudioThreadUnderWineMakesNoSystemCallPerBlock)
{
	if (::access ("/usr/bin/strace", X_OK) != 0)
		GTEST_SKIP () << "strace is not installed";
	constexpr long kBlocks = 50000;
	Processor p (module.factory (), 64);
	OutpostProcess outpost;
	ASSERT_NO_FATAL_FAILURE (activate (p, outpost));
	StereoBlock block (64);
	block.fill (0);
	const pid_t audioThread = busiestThreadDuring (outpost.pid, [&] {
		for (int b = 0; b < 20000; ++b)
			p.process (block);
	});
	ASSERT_GT (audioThread, 0);

	char summary[] = "/tmp/qm_strace_XXXXXX";
	const int fd = ::mkstemp (summary);
	ASSERT_GE (fd, 0);
	::close (fd);
	const std::string tid = std::to_string (audioThread);
	const pid_t tracer = ::fork ();
	ASSERT_GE (tracer, 0);
	if (tracer == 0)
	{
		::execl ("/usr/bin/strace", "strace", "-c", "-qq", "-o", summary, "-p", tid.c_str (), nullptr);
		::_exit (127);
	}
	// Attached once the thread names a tracer.
	const std::string status = "/proc/" + std::to_string (outpost.pid) + "/task/" + tid + "/status";
	ASSERT_TRUE (waitFor ([&] { return readText (status).find ("TracerPid:\t0\n") == std::string::npos; }, 5.0));

	long passed = 0, lateBlocks = 0;
	const auto window = std::chrono::duration_cast<Clock::duration> (Tandem::kSpinWindow);
	auto lastPost = Clock::now ();
	for (long b = 0; b < kBlocks; ++b)
	{
		block.in[0][0] = static_cast<float> (b % 100) * 0.01f;
		const auto t0 = Clock::now ();
		p.process (block);
		const auto t1 = Clock::now ();
		lateBlocks += (t0 - lastPost > window) + (t1 - t0 > window);
		lastPost = t0;
		passed += block.passedThrough ();
	}
	::kill (tracer, SIGINT);
	int tracerStatus = 0;
	::waitpid (tracer, &tracerStatus, 0);

	// "% time  seconds  usecs/call  calls  [errors]  syscall" rows, then "total".
	std::istringstream table (readText (summary));
	::unlink (summary);
	std::string line, calls;
	long total = -1;
	while (std::getline (table, line))
	{
		std::istringstream row (line);
		std::vector<std::string> cells {std::istream_iterator<std::string> (row), {}};
		if (cells.size () < 5 || cells[0].find ('%') != std::string::npos || cells[0][0] == '-')
			continue;
		if (cells.back () == "total")
			total = std::atol (cells[3].c_str ());
		else
			calls += (calls.empty () ? "" : ", ") + cells.back () + " " + cells[3];
	}
	ASSERT_GE (total, 0) << "no strace summary";
	// A spin past its first microseconds gives the core away on each round
	// (sched_yield): their number follows how long the waits were, not how
	// many blocks came, so they are left out of the bound.
	const long yields = callsNamed (calls, "sched_yield");
	// A late block costs outpost at most a sleep, the wake-up that ends it
	// and one of the host; a few calls more come from Wine itself (signals).
	EXPECT_LE (total - yields, 3 * lateBlocks + 50) << calls << "; " << lateBlocks << " late";
	// However loaded the machine, a call per block is far more than that.
	EXPECT_LT (total - yields, kBlocks / 2) << calls;
	EXPECT_EQ (calls.find ("nanosleep"), std::string::npos) << calls;
	EXPECT_EQ (calls.find ("write"), std::string::npos) << "its log lines are written by another thread: " << calls;
	figures::report ("rt", "outpost's audio thread under Wine (strace -c), 50000 x 64 samples",
	                 std::to_string (total) + " system calls for " + std::to_string (kBlocks - passed) +
	                     " processed blocks, " + std::to_string (lateBlocks) + " late (" +
	                     (calls.empty () ? std::string ("none") : calls) + ")");
}

// outpost stopped for a second while the host streams at a real-time pace:
// every process() returns within the block time-out (with room for
// preemption), blocks pass through while it is stopped, and it serves again
// after SIGCONT. A constant input makes any block Quill processed settle at
// the same level, late or not.
TEST_F (Hardening, OutpostStoppedForASecondPassesThroughAndRecovers)
{
	Processor p (module.factory (), 256);
	OutpostProcess outpost;
	ASSERT_NO_FATAL_FAILURE (activate (p, outpost));
	const pid_t pid = outpost.pid;

	StereoBlock block (256);
	for (auto& channel : block.in)
		std::fill (channel.begin (), channel.end (), 0.5f);
	const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (256 / 48000.0));
	long before = 0, during = 0, duringPassed = 0, after = 0;
	Clock::duration longest {};
	std::thread resume;
	const auto start = Clock::now ();
	auto next = start;
	bool stopped = false;
	while (Clock::now () - start < std::chrono::milliseconds (3000))
	{
		const auto t = Clock::now () - start;
		if (!stopped && t >= std::chrono::milliseconds (700))
		{
			ASSERT_EQ (::kill (pid, SIGSTOP), 0);
			resume = std::thread ([pid] {
				std::this_thread::sleep_for (std::chrono::seconds (1));
				::kill (pid, SIGCONT);
			});
			stopped = true;
		}
		next += period;
		std::this_thread::sleep_until (next);
		const auto t0 = Clock::now ();
		EXPECT_EQ (p.process (block), kResultOk);
		longest = std::max (longest, Clock::now () - t0);
		const bool processed = !block.passedThrough ();
		const auto at = t0 - start;
		if (at < std::chrono::milliseconds (700))
			before += processed;
		else if (at > std::chrono::milliseconds (800) && at < std::chrono::milliseconds (1600))
		{
			during += processed;
			duringPassed += !processed;
		}
		else if (at > std::chrono::milliseconds (2200))
			after += processed;
	}
	resume.join ();
	EXPECT_LT (longest, std::chrono::milliseconds (250));
	EXPECT_GT (before, 0);
	EXPECT_EQ (during, 0) << "nothing comes back from a stopped outpost";
	EXPECT_GT (duringPassed, 100);
	EXPECT_GT (after, 0) << "serves again after SIGCONT";
	const float expected = 0.5f * static_cast<float> (std::pow (10.0, Quill::gainDb (Quill::kDefaultGain) / 20.0));
	EXPECT_NEAR (block.out[1].back (), expected, 1e-3) << "still Quill's level";
	figures::report (
	    "faults", "real outpost SIGSTOP 1 s while streaming 256-sample blocks",
	    std::to_string (before) + " processed before, " + std::to_string (duringPassed) +
	        " passed through while stopped, " + std::to_string (after) +
	        " processed after SIGCONT; longest process() " +
	        std::to_string (std::chrono::duration_cast<std::chrono::microseconds> (longest).count () / 1000.0) + " ms");
}

// Four processors of one host, each with its own outpost and Quill at its
// own gain, streaming their own constant level on their own audio thread at
// a real-time pace. Every block that comes back processed must carry that
// processor's level times its own gain: another processor's audio would show
// a different one. Four spinning outposts and four host threads share two
// cores here, so many blocks miss the block time-out; each must still get
// through often enough, and no process() may hang.
TEST_F (Hardening, FourProcessorsUnderWineEachStreamTheirOwnAudio)
{
	constexpr int kCount = 4;
	std::vector<std::unique_ptr<Processor>> processors;
	for (int i = 0; i < kCount; ++i)
	{
		processors.push_back (std::make_unique<Processor> (module.factory (), 256));
		ASSERT_EQ (processors.back ()->activate (true), kResultOk);
	}
	const auto outposts = ownOutposts ();
	ASSERT_EQ (outposts.size (), static_cast<size_t> (kCount)) << "one outpost each";

	struct Track
	{
		float level = 0, gain = 0;
		long blocks = 0, processed = 0, foreign = 0;
		Clock::duration longest {};
	};
	std::vector<Track> tracks (kCount);
	for (int i = 0; i < kCount; ++i)
	{
		const double gain = 0.2 + 0.2 * i;
		ASSERT_EQ (processors[i]->restoreState (quillStateStream (gain, Quill::kDefaultTone)), kResultOk);
		tracks[i].level = 0.1f * static_cast<float> (i + 1);
		tracks[i].gain = static_cast<float> (std::pow (10.0, Quill::gainDb (gain) / 20.0));
	}

	const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (256 / 48000.0));
	std::vector<std::thread> threads;
	for (int i = 0; i < kCount; ++i)
		threads.emplace_back ([&, i] {
			Track& t = tracks[i];
			StereoBlock block (256);
			for (auto& channel : block.in)
				std::fill (channel.begin (), channel.end (), t.level);
			const auto start = Clock::now ();
			auto next = start;
			// Quill's low-pass reaches the level within its first blocks.
			long settled = 0;
			while (Clock::now () - start < std::chrono::seconds (3))
			{
				next += period;
				std::this_thread::sleep_until (next);
				const auto t0 = Clock::now ();
				processors[i]->process (block);
				t.longest = std::max (t.longest, Clock::now () - t0);
				++t.blocks;
				if (block.passedThrough ())
					continue;
				++t.processed;
				if (++settled > 8 && std::fabs (block.out[1].back () - t.level * t.gain) > 1e-3f)
					++t.foreign;
			}
		});
	for (auto& t : threads)
		t.join ();

	std::string summary;
	for (int i = 0; i < kCount; ++i)
	{
		const Track& t = tracks[i];
		EXPECT_EQ (t.foreign, 0) << "processor " << i << " got blocks at another level";
		EXPECT_GE (t.processed, 20) << "processor " << i << ": " << t.processed << " of " << t.blocks;
		EXPECT_LT (t.longest, std::chrono::milliseconds (250)) << "processor " << i;
		summary += (i ? "; " : "") + std::to_string (t.processed) + "/" + std::to_string (t.blocks);
	}
	const auto slowest = std::max_element (tracks.begin (), tracks.end (), [] (const Track& a, const Track& b) {
		                     return a.longest < b.longest;
	                     })->longest;
	figures::report (
	    "faults", "four processors at once, real outposts under Wine, 3 s of 256-sample blocks each",
	    "processed/blocks " + summary + "; no block at another processor's level; longest process() " +
	        std::to_string (std::chrono::duration_cast<std::chrono::microseconds> (slowest).count () / 1000.0) + " ms");

	processors.clear ();
	for (const auto& o : outposts)
		EXPECT_NE (::kill (o.pid, 0), 0) << "outpost " << o.pid << " left running";
}

// Each case is a processor activated on a thread of its own, then fed
// blocks. The child ends in each case, and activation returns when it does.
TEST_F (Hardening, LaunchFailuresEndWithTheChildAndPassAudioThrough)
{
	struct Case
	{
		Case (const char* n, std::string h, std::string p) : name (n), host (std::move (h)), plugin (std::move (p)) {}
		const char* name;
		std::string host, plugin;
		long ms = 0;
		std::string sharedFile;
		tresult activated = kInternalError;
		bool passedThrough = false;
	};
	const std::string quill = "C:\\Program Files\\Common Files\\VST3\\Quill.vst3";
	std::vector<Case> cases = {{"outpost.exe missing", "/nonexistent/outpost.exe", quill},
	                           {"served plug-in missing", OUTPOST_EXE, "C:\\nowhere\\Missing.vst3"},
	                           {"served factory fails", OUTPOST_EXE, NULL_FACTORY_MODULE}};
	std::vector<std::thread> threads;
	for (auto& c : cases)
		threads.emplace_back ([&c] {
			auto* p = new ServedProcessor (c.plugin, c.host);
			c.sharedFile = "/tmp/tandem_" + std::to_string (p->instanceId ()) + ".shm";
			p->initialize (nullptr);
			Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 256, 48000.0};
			p->setupProcessing (setup);
			const auto t0 = Clock::now ();
			c.activated = p->setActive (true);
			c.ms = std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now () - t0).count ();
			StereoBlock block (256);
			block.fill (0);
			c.passedThrough = true;
			for (int b = 0; b < 20; ++b)
			{
				Vst::ProcessData d = block.data ();
				p->process (d);
				c.passedThrough = c.passedThrough && block.passedThrough ();
			}
			c.passedThrough = c.passedThrough && p->audioOkCount () == 0;
			p->terminate ();
			p->release ();
		});
	for (auto& t : threads)
		t.join ();
	for (const auto& c : cases)
	{
		EXPECT_EQ (c.activated, kResultOk) << c.name << ": the launch counts as successful after the wait";
		EXPECT_LT (c.ms, 2000) << c.name << ": the wait ends when the child does";
		EXPECT_TRUE (c.passedThrough) << c.name;
		figures::report ("faults", c.name,
		                 std::string ("activation returned ") + (c.activated == kResultOk ? "OK" : "failure") +
		                     " after " + std::to_string (c.ms) + " ms; blocks " +
		                     (c.passedThrough ? "passed through" : "NOT passed through"));
	}
	for (const auto& o : ownOutposts ())
		for (const auto& c : cases)
			EXPECT_NE (o.sharedFile, c.sharedFile) << c.name << ": outpost " << o.pid << " left running";
}

} // namespace
} // namespace e2e
