// The audio path against the native stand-in, watched by rt_guard: no
// allocation, lock, sleep or write in any block, and no system call in a
// block answered within the spin window.
#include "rt_run.h"
#include "plugin/test_support.h"
#include "figures.h"
#include "host/host_event_list.h"

#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <mutex>
#include <vector>

namespace QuillMarlowTest {
namespace {

// The watch itself must see what it is there to catch, or a clean run
// proves nothing.
TEST (RtGuard, SeesAllocationsLocksSleepsAndSystemCalls)
{
	std::mutex mutex;
	rtguard::Calls seen;
	rtguard::Syscalls sys;
	bool watched = false;
	std::thread t ([&] {
		watched = rtguard::watchSyscalls ();
		rtguard::resetSyscalls ();
		rtguard::arm (true);
		{
			std::vector<int> v (100);
			v[5] = 1;
		}
		{
			std::lock_guard<std::mutex> lock (mutex);
		}
		::usleep (1);
		::getppid ();
		seen = rtguard::calls ();
		rtguard::arm (false);
		sys = rtguard::syscalls ();
	});
	t.join ();
	ASSERT_TRUE (watched) << "seccomp filter refused";
	EXPECT_GE (seen.allocations, 2u) << "new and delete";
	EXPECT_GE (seen.locks, 1u);
	EXPECT_GE (seen.sleeps, 1u);
	EXPECT_GE (sys.others, 2) << "nanosleep and getppid";
	EXPECT_EQ (sys.probes, 0);

	// Another thread is neither armed nor filtered.
	rtguard::resetSyscalls ();
	::getppid ();
	EXPECT_EQ (rtguard::syscalls ().total, 0);
}

// 100000 blocks of 64 samples through the stand-in, back to back, with
// notes and a SysEx each way. The detector is armed for every block, the
// logging ones included: their lines are handed to the writer thread.
TEST (RtSafety, ProcessAgainstTheStandInNeverAllocatesLocksSleepsOrWrites)
{
	constexpr long kBlocks = 100000;
	constexpr int32 kSamples = 64;
	HostedProcessor p ("events", kSamples);
	ASSERT_EQ (p->setActive (true), kResultOk);
	ASSERT_EQ (p->getBusCount (Vst::kEvent, Vst::kOutput), 1) << "the stand-in's event buses, read at its start";
	Bus in (2, kSamples), out (2, kSamples);
	// The stand-in sends every event back.
	HostEventList events, back;
	const uint8 sysex[16] = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xF7};
	Vst::Event e {};
	e.type = Vst::Event::kNoteOnEvent;
	e.noteOn = {0, 60, 0.0f, 0.8f, 0, 1};
	events.addEvent (e);
	e.type = Vst::Event::kDataEvent;
	e.sampleOffset = 16;
	e.data = {sizeof sysex, Vst::DataEvent::kMidiSysEx, sysex};
	events.addEvent (e);
	e.type = Vst::Event::kNoteOffEvent;
	e.sampleOffset = 32;
	e.noteOff = {0, 60, 0.0f, 1, 0.0f};
	events.addEvent (e);
	long eventsLost = 0;
	long wrong = 0;
	long processed = 0;
	// Blocks carry the host's context, as hosts give it.
	Vst::ProcessContext context {};
	context.state = Vst::ProcessContext::kPlaying | Vst::ProcessContext::kTempoValid;
	context.tempo = 93.5;

	const rtguard::RunReport r = rtguard::runWatched (kBlocks, [&] (long n) {
		in.data[0][0] = static_cast<float> (n);
		in.data[1][kSamples - 1] = static_cast<float> (-n);
		context.projectTimeSamples = n * kSamples;
		const int32 okBefore = p->audioOkCount ();
		Vst::ProcessData d = block (in, out, kSamples);
		d.processContext = &context;
		d.inputEvents = &events;
		d.outputEvents = &back;
		back.clear ();
		p->process (d);
		if (p->audioOkCount () > okBefore)
		{
			++processed;
			if (back.events ().size () != 3 || back.events ()[1].data.bytes[15] != 0xF7)
				++eventsLost;
			// The stand-in halves every sample: this block's, not an earlier one's.
			if (out.data[0][0] != 0.5f * in.data[0][0] || out.data[1][kSamples - 1] != 0.5f * in.data[1][kSamples - 1])
				++wrong;
		}
	});
	ASSERT_TRUE (r.watched) << "seccomp filter refused";
	EXPECT_EQ (r.blocks, kBlocks);
	EXPECT_EQ (r.faultyBlocks, 0) << r.firstFault;
	// How many stay within the spin window depends on the machine's load
	// (the bench measures it); some always do.
	EXPECT_GT (r.cleanBlocks, 0) << "back-to-back blocks are answered within the spin window";
	EXPECT_EQ (wrong, 0) << "a processed block came back with another block's samples";
	EXPECT_EQ (eventsLost, 0) << "a processed block came back without its events";
	// A stand-in starved of the processor for a while (a busy machine) holds
	// a late block that long, and the blocks meanwhile pass through.
	EXPECT_GE (processed, kBlocks / 100) << "enough blocks went through the stand-in to cover the exchange";
	figures::report ("rt", "process() vs stand-in, 100000 x 64 samples",
	                 std::to_string (r.cleanBlocks) + " clean blocks (no system call, 0 alloc/lock/sleep), " +
	                     std::to_string (r.waitedBlocks) + " waited past the spin window (" +
	                     std::to_string (r.probes) + " probes), " + std::to_string (r.faultyBlocks) + " faulty; " +
	                     std::to_string (p->timeoutCount ()) + " time-outs");
}

// Once a block has found outpost gone, every later block passes through
// without asking again.
TEST (RtSafety, PassthroughAfterOutpostDiedMakesNoSystemCall)
{
	constexpr long kBlocks = 30000;
	HostedProcessor p ("serve", 64);
	ASSERT_EQ (p->setActive (true), kResultOk);
	const pid_t pid = p->outpostPid ();
	ASSERT_GT (pid, 0);
	ASSERT_EQ (::kill (pid, SIGKILL), 0);
	siginfo_t info {};
	ASSERT_EQ (::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOWAIT), 0);
	Bus in (2, 64), out (2, 64);
	in.fill (1.0f);
	const rtguard::RunReport r = rtguard::runWatched (kBlocks, [&] (long) {
		Vst::ProcessData d = block (in, out, 64);
		p->process (d);
	});
	ASSERT_TRUE (r.watched);
	EXPECT_EQ (r.faultyBlocks, 0) << r.firstFault;
	EXPECT_GE (r.cleanBlocks, kBlocks - 1) << "only the block that found outpost gone asked after it";
	EXPECT_EQ (out.data, in.data);
	figures::report ("rt", "process() in passthrough, 30000 blocks",
	                 std::to_string (r.cleanBlocks) + " clean, " + std::to_string (r.waitedBlocks) + " waited, " +
	                     std::to_string (r.faultyBlocks) + " faulty");
}

} // namespace
} // namespace QuillMarlowTest
