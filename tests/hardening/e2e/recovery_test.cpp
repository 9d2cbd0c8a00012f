// The served plug-in crashing under Wine, with the real outpost.exe and a
// Quill built to crash on demand (served/quill_crash.h): outpost writes one
// line saying what crashed where and ends at once, the processor starts a
// new one with the latest state and processes again; a plug-in that crashes
// at every start costs a few restarts, then audio passes through.
#include "e2e_support.h"
#include "figures.h"

#include <gmock/gmock.h>

#include "served_processor.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sys/wait.h>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The file whose content tells the crash-on-demand Quill where to crash;
// outpost inherits the variable that names it.
class CrashTrigger
{
public:
	CrashTrigger () : path_ ("/tmp/qm_crash_trigger_" + std::to_string (::getpid ()))
	{
		std::remove (path_.c_str ());
		::setenv ("QUILL_CRASH_TRIGGER", path_.c_str (), 1);
	}
	~CrashTrigger ()
	{
		::unsetenv ("QUILL_CRASH_TRIGGER");
		std::remove (path_.c_str ());
	}
	void arm (const char* where) { std::ofstream (path_) << where; }
	bool armed () const { return fileExists (path_); }

private:
	std::string path_;
};

struct Hosted
{
	Hosted ()
	{
		p->initialize (nullptr);
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 256, 48000.0};
		p->setupProcessing (setup);
	}
	~Hosted ()
	{
		p->terminate ();
		p->release ();
	}
	ServedProcessor* operator->() const { return p; }
	ServedProcessor* p = new ServedProcessor (CRASHING_QUILL_BUNDLE);
};

// One 256-sample block at real-time pace; true when outpost processed it.
bool paced (Hosted& h, StereoBlock& block, long& sample)
{
	block.fill (sample);
	sample += 256;
	const int32 before = h->audioOkCount ();
	Vst::ProcessData d = block.data ();
	h->process (d);
	std::this_thread::sleep_for (std::chrono::microseconds (5333));
	return h->audioOkCount () > before;
}

// Until `done` or `seconds` pass, blocks flow at real-time pace.
bool streamUntil (Hosted& h, StereoBlock& block, long& sample, double seconds, const std::function<bool ()>& done)
{
	const auto end = Clock::now () + std::chrono::duration<double> (seconds);
	while (Clock::now () < end)
	{
		paced (h, block, sample);
		if (done ())
			return true;
	}
	return false;
}

bool gone (pid_t pid)
{
	siginfo_t info {};
	return ::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

double msSince (Clock::time_point t)
{
	return std::chrono::duration<double, std::milli> (Clock::now () - t).count ();
}

TEST (Recovery, CrashInTheServedProcessorIsReportedEndsOutpostAtOnceAndAudioComesBack)
{
	CrashTrigger trigger;
	testing::internal::CaptureStderr ();
	Hosted h;
	ASSERT_EQ (h->setActive (true), kResultOk);
	StereoBlock block (256);
	long sample = 0;
	int processed = 0;
	ASSERT_TRUE (streamUntil (h, block, sample, 10, [&] { return h->audioOkCount () > 50; }));
	const pid_t first = h->outpostPid ();

	trigger.arm ("process");
	ASSERT_TRUE (streamUntil (h, block, sample, 10, [&] { return !trigger.armed (); })) << "Quill never crashed";
	const auto crashed = Clock::now (); // Quill removes the trigger right before its null write
	ASSERT_TRUE (streamUntil (h, block, sample, 5, [&] { return gone (first); }));
	const double endMs = msSince (crashed);
	EXPECT_LT (endMs, 1000) << "outpost waited for something after the crash";

	const int32 okBefore = h->audioOkCount ();
	ASSERT_TRUE (streamUntil (h, block, sample, 15, [&] {
		processed = h->audioOkCount () - okBefore;
		return processed > 20 && h->outpostPid () != first;
	})) << "audio did not come back";
	const double backMs = msSince (crashed);

	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, testing::HasSubstr ("[Outpost] CRASH: unhandled access violation 0xc0000005 at 0x"));
	EXPECT_THAT (err, testing::HasSubstr (" in Quill.vst3+0x"));
	EXPECT_THAT (err, testing::HasSubstr (std::string (", serving ") + CRASHING_QUILL_BUNDLE + ": outpost ends now"));
	EXPECT_THAT (err, testing::Not (testing::HasSubstr ("starting debugger")));
	figures::report ("faults", "served plug-in crashes in process(), 256-sample blocks at real-time pace",
	                 "outpost ended " + std::to_string (static_cast<int> (endMs)) +
	                     " ms after the crash; audio back after " + std::to_string (static_cast<int> (backMs)) + " ms");
}

// SIGKILL while blocks flow at real-time pace: the time until audio is
// processed again goes to the figures; the state set before comes back.
TEST (Recovery, KilledOutpostComesBackWithItsStateWhileBlocksFlow)
{
	CrashTrigger trigger; // unarmed: plain Quill
	Hosted h;
	ASSERT_EQ (h->setActive (true), kResultOk);
	const std::vector<uint8> state = quillStateStream (0.25, 0.5);
	MemoryStream in;
	in.write (const_cast<uint8*> (state.data ()), static_cast<int32> (state.size ()), nullptr);
	in.seek (0, IBStream::kIBSeekSet, nullptr);
	ASSERT_EQ (h->setState (&in), kResultOk);
	StereoBlock block (256);
	long sample = 0;
	ASSERT_TRUE (streamUntil (h, block, sample, 10, [&] { return h->audioOkCount () > 50; }));
	const pid_t first = h->outpostPid ();
	ASSERT_GT (first, 0);

	ASSERT_EQ (::kill (first, SIGKILL), 0);
	const auto killed = Clock::now ();
	int dry = 0;
	const int32 okBefore = h->audioOkCount ();
	ASSERT_TRUE (streamUntil (h, block, sample, 15, [&] {
		dry += block.passedThrough ();
		return h->audioOkCount () > okBefore && h->outpostPid () != first;
	})) << "audio did not come back";
	const double backMs = msSince (killed);
	MemoryStream out;
	ASSERT_EQ (h->getState (&out), kResultOk);
	const auto* saved = reinterpret_cast<const uint8*> (out.getData ());
	EXPECT_EQ (std::vector<uint8> (saved, saved + out.getSize ()), state) << "the state came back";
	figures::report ("faults", "outpost SIGKILLed, 256-sample blocks at real-time pace",
	                 "audio processed again after " + std::to_string (static_cast<int> (backMs)) + " ms (" +
	                     std::to_string (dry) + " blocks passed through dry)");
}

TEST (Recovery, PluginThatCrashesAtEveryStartCostsThreeRestartsThenPassesThrough)
{
	CrashTrigger trigger;
	trigger.arm ("process-always");
	testing::internal::CaptureStderr ();
	Hosted h;
	ASSERT_EQ (h->setActive (true), kResultOk);
	StereoBlock block (256);
	long sample = 0;
	const std::string line = "] outpost ended 4 times within a minute: no more restarts until the next activation";
	std::string err;
	// Four outposts, each crashing after its first blocks, then none.
	std::set<pid_t> started;
	const bool gaveUp = streamUntil (h, block, sample, 60, [&] {
		const pid_t pid = h->outpostPid ();
		if (pid > 0)
			started.insert (pid);
		return started.size () >= 4 && pid <= 0;
	});
	EXPECT_TRUE (gaveUp);
	EXPECT_FALSE (streamUntil (h, block, sample, 2, [&] { return h->outpostPid () > 0; })) << "restarted again";
	err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, testing::HasSubstr (line));
	EXPECT_EQ (err.find (line), err.rfind (line)) << "said once";
	size_t crashes = 0;
	for (size_t at = err.find ("[Outpost] CRASH:"); at != std::string::npos; at = err.find ("[Outpost] CRASH:", at + 1))
		++crashes;
	EXPECT_EQ (crashes, 4u) << "the first outpost and three restarts";

	// Passing through, with no outpost of ours left and nothing busy.
	block.fill (sample);
	Vst::ProcessData d = block.data ();
	h->process (d);
	EXPECT_TRUE (block.passedThrough ());
	EXPECT_TRUE (ownOutposts ().empty ()) << "an outpost was left running";
	const long before = cpuTicks ("/proc/self/stat");
	std::this_thread::sleep_for (std::chrono::seconds (1));
	EXPECT_LT (cpuTicks ("/proc/self/stat") - before, 10) << "the host process keeps busy after giving up";
}

// Two instances grouped in one outpost and one of its own: the grouped
// plug-in that crashes takes its group down; both grouped instances come
// back with their states in one new outpost, the log names the instance
// whose plug-in crashed, and the instance outside the group plays on.
TEST (Recovery, ACrashInAGroupBringsEveryInstanceOfItBackAndLeavesOthersAlone)
{
	CrashTrigger trigger;
	testing::internal::CaptureStderr ();
	::setenv ("QUILLMARLOW_GROUP", "crash", 1);
	Hosted a, b;
	::unsetenv ("QUILLMARLOW_GROUP");
	Hosted alone;
	std::vector<Hosted*> all {&a, &b, &alone};
	const std::vector<std::vector<uint8>> states {quillStateStream (0.25, 0.5), quillStateStream (0.75, 0.125)};
	for (int i = 0; i < 3; ++i)
	{
		ASSERT_EQ ((*all[i])->setActive (true), kResultOk);
		if (i == 2)
			break;
		MemoryStream in;
		in.write (const_cast<uint8*> (states[i].data ()), static_cast<int32> (states[i].size ()), nullptr);
		in.seek (0, IBStream::kIBSeekSet, nullptr);
		ASSERT_EQ ((*all[i])->setState (&in), kResultOk);
	}
	const pid_t group = a->outpostPid (), own = alone->outpostPid ();
	ASSERT_GT (group, 0);
	EXPECT_EQ (b->outpostPid (), group) << "grouped instances share one outpost";
	EXPECT_NE (own, group);

	// The three as a host's chain: one after another on one thread.
	StereoBlock block (256);
	long sample = 0;
	auto chain = [&] (const std::vector<Hosted*>& which, double seconds, const std::function<bool ()>& done) {
		const auto end = Clock::now () + std::chrono::duration<double> (seconds);
		while (Clock::now () < end)
		{
			for (Hosted* h : which)
				paced (*h, block, sample);
			if (done ())
				return true;
		}
		return false;
	};
	ASSERT_TRUE (chain (all, 10, [&] { return b->audioOkCount () > 20 && alone->audioOkCount () > 20; }));
	trigger.arm ("process");
	ASSERT_TRUE (chain ({&a}, 10, [&] { return !trigger.armed (); })) << "Quill never crashed";
	const auto crashed = Clock::now ();
	const int32 aloneBefore = alone->audioOkCount (), aBefore = a->audioOkCount (), bBefore = b->audioOkCount ();
	ASSERT_TRUE (chain (all, 15, [&] {
		return a->outpostPid () > 0 && a->outpostPid () != group && b->outpostPid () == a->outpostPid () &&
		       a->audioOkCount () > aBefore && b->audioOkCount () > bBefore;
	})) << "the group did not come back";
	const double backMs = msSince (crashed);
	ASSERT_TRUE (chain (all, 5, [&] { return alone->audioOkCount () > aloneBefore + 20; }));
	EXPECT_EQ (alone->outpostPid (), own) << "the instance outside the group kept its outpost";
	EXPECT_FALSE (gone (own));
	for (int i = 0; i < 2; ++i)
	{
		MemoryStream out;
		ASSERT_EQ ((*all[i])->getState (&out), kResultOk);
		const auto* saved = reinterpret_cast<const uint8*> (out.getData ());
		EXPECT_EQ (std::vector<uint8> (saved, saved + out.getSize ()), states[i]) << "instance " << i << "'s state";
	}
	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, testing::HasSubstr (std::string (": outpost ends now")));
	EXPECT_THAT (
	    err, testing::HasSubstr (std::string ("the plug-in serving the instance of ") + a->sharedMemory ().path ()));
	figures::report ("faults", "a grouped plug-in crashes in process(), two grouped instances and one alone",
	                 "both grouped instances back after " + std::to_string (static_cast<int> (backMs)) + " ms");
}

} // namespace
} // namespace e2e
