#include "test_support.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace QuillMarlowTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr float kGain = 0.5f; // what the stand-in applies
constexpr float kUntouched = -7.0f;

void fillConstant (Bus& bus, float value)
{
	for (auto& ch : bus.data)
		std::fill (ch.begin (), ch.end (), value);
}

class AudioExchange : public ::testing::Test
{
protected:
	void SetUp () override { ASSERT_EQ (p->setActive (true), kResultOk); }

	tresult run (Bus& in, Bus& out, int32 samples)
	{
		Vst::ProcessData d = block (in, out, samples);
		return p->process (d);
	}
	void processed (Bus& in, Bus& out, int32 samples) { ASSERT_TRUE (exchange (*p.p, in, out, samples)); }
	HostedProcessor p {"serve", 8192};
};

TEST_F (AudioExchange, StereoBlockComesBackProcessed)
{
	Bus in (2, 256), out (2, 256);
	in.fill (1.0f);
	processed (in, out, 256);
	for (int c = 0; c < 2; ++c)
		for (int i = 0; i < 256; ++i)
			ASSERT_EQ (out.data[c][i], in.data[c][i] * kGain) << c << "/" << i;
	EXPECT_EQ (p->audio ()->numChannels, 2);
	EXPECT_EQ (p->audio ()->numSamples, 256);
	EXPECT_EQ (p->audio ()->sampleRate, 48000.0);
}

TEST_F (AudioExchange, ChannelAndSampleCountsStayWithinBusesAndSlots)
{
	// Mono.
	{
		Bus in (1, 64), out (1, 64);
		in.fill (3.0f);
		processed (in, out, 64);
		EXPECT_EQ (p->audio ()->numChannels, 1);
		EXPECT_EQ (out.data[0][63], in.data[0][63] * kGain);
	}
	// More samples than a slot holds: only the first 8192 are exchanged.
	{
		Bus in (2, 10000), out (2, 10000);
		in.fill (1.0f);
		fillConstant (out, kUntouched);
		processed (in, out, 10000);
		EXPECT_EQ (p->audio ()->numSamples, 8192);
		EXPECT_EQ (out.data[1][8191], in.data[1][8191] * kGain);
		EXPECT_EQ (out.data[1][8192], kUntouched);
		EXPECT_EQ (out.data[0][9999], kUntouched);
	}
	// Ten channels: beyond the audio region's eight slots, through the bus region.
	{
		Bus in (10, 32), out (10, 32);
		in.fill (1.0f);
		fillConstant (out, kUntouched);
		processed (in, out, 32);
		EXPECT_EQ (p->shm ().busData ()->block.pools, 1);
		EXPECT_EQ (out.data[7][5], in.data[7][5] * kGain);
		EXPECT_EQ (out.data[9][5], in.data[9][5] * kGain);
	}
	// An output bus narrower than the input: nothing is written past it.
	{
		Bus in (2, 32), out (1, 32);
		in.fill (2.0f);
		processed (in, out, 32);
		EXPECT_EQ (p->shm ().busData ()->block.outputChannels[0], 1);
		EXPECT_EQ (out.data[0][31], in.data[0][31] * kGain);
	}
	// A negative sample count copies nothing.
	{
		Bus in (2, 32), out (2, 32);
		fillConstant (out, kUntouched);
		processed (in, out, -5);
		EXPECT_EQ (p->audio ()->numSamples, 0);
		EXPECT_EQ (out.data[0][0], kUntouched);
	}
}

// An instance run right behind another on the same host thread tells its
// outpost so (which then sleeps until its block comes, instead of waking
// early on a timer, and moves next to the host thread's CPU, which each
// block names); the first of the two does not. Blocks of 8192 samples
// last 170 ms: only a thread held up for 42 ms between the two could miss,
// and it gets five tries.
TEST_F (AudioExchange, AnInstanceRightBehindAnotherOnTheSameThreadTellsItsOutpost)
{
	HostedProcessor q {"serve", 8192};
	ASSERT_EQ (q->setActive (true), kResultOk);
	Bus in (2, 8192), out (2, 8192);
	ASSERT_TRUE (exchange (*q.p, in, out, 8192));
	int followed = 0;
	for (int attempt = 0; attempt < 5 && followed == 0; ++attempt)
	{
		std::this_thread::sleep_for (std::chrono::milliseconds (200));
		processed (in, out, 8192);
		ASSERT_EQ (p->ui ()->followsAnother.load (), 0) << "the first of a cycle";
		Vst::ProcessData d = block (in, out, 8192);
		ASSERT_EQ (q->process (d), kResultOk);
		followed += q->ui ()->followsAnother.load ();
		const int hostCpu = q->ui ()->hostCpu.load ();
		EXPECT_GE (hostCpu, 1);
		EXPECT_LE (hostCpu, ::sysconf (_SC_NPROCESSORS_CONF));
	}
	EXPECT_EQ (followed, 1);
}

// Every block reaches outpost whatever its buses (a MIDI effect has none, an
// instrument no input); what the host did not give is not touched.
TEST_F (AudioExchange, BlocksOfAnyBusesReachOutpost)
{
	testing::internal::CaptureStdout ();
	Bus none (0, 0), out (2, 16);
	fillConstant (out, kUntouched);
	processed (none, none, 16);
	const std::string log = capturedStdout ();
	EXPECT_EQ (p->shm ().busData ()->block.inputChannels[0], 0) << "the hand-shake runs with no channels";
	EXPECT_THAT (log, HasSubstr ("] Audio OK #1 (block "));

	// No input: the output is outpost's (the stand-in's silence).
	Bus in (2, 16);
	in.fill (1.0f);
	Vst::ProcessData d = block (in, out, 16);
	d.numInputs = 0;
	ASSERT_TRUE (exchangeData (*p.p, d));
	EXPECT_EQ (out.data[0][0], 0.0f);
	// No output: nothing written anywhere.
	fillConstant (out, kUntouched);
	d.numInputs = 1;
	d.numOutputs = 0;
	ASSERT_TRUE (exchangeData (*p.p, d));
	EXPECT_EQ (out.data[0][0], kUntouched);
	// An inactive input without buffers reads as silence.
	in.buffers.channelBuffers32 = nullptr;
	d = block (in, out, 16);
	ASSERT_TRUE (exchangeData (*p.p, d));
	EXPECT_EQ (out.data[1][15], 0.0f);
}

TEST_F (AudioExchange, LogsFirstBlocksAndTheirAcknowledgements)
{
	testing::internal::CaptureStdout ();
	Bus in (2, 128), out (2, 128);
	while (p->audioOkCount () < 12)
		processed (in, out, 128);
	const std::string log = capturedStdout ();
	const std::string tag = "[QuillMarlow #" + std::to_string (p->instanceId ()) + "] ";
	EXPECT_THAT (log, HasSubstr (tag + "Sending block 1 (samples=128, inputReady="));
	EXPECT_THAT (log, HasSubstr (tag + "Sending block 10 (samples=128"));
	EXPECT_THAT (log, Not (HasSubstr ("Sending block 11 ")));
	EXPECT_THAT (log, HasSubstr (tag + "Audio OK #10 (block "));
	EXPECT_THAT (log, Not (HasSubstr ("Audio OK #11 ")));
}

// Stops the stand-in and waits until it really is stopped.
void stop (pid_t pid)
{
	ASSERT_EQ (::kill (pid, SIGSTOP), 0);
	int status = 0;
	ASSERT_EQ (::waitpid (pid, &status, WUNTRACED), pid);
	ASSERT_TRUE (WIFSTOPPED (status));
}

void resumeAndWaitForLateBlock (pid_t pid, Tandem::AudioData* audio)
{
	ASSERT_EQ (::kill (pid, SIGCONT), 0);
	for (int i = 0; i < 5000; ++i)
	{
		Tandem::fullFence ();
		if (audio->inputReady.load () == 0 && audio->outputReady.load () == 1)
			return;
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
	FAIL () << "the stand-in never finished the late block";
}

TEST_F (AudioExchange, TimeOutPassesThroughAndNeverTakesAStaleBlock)
{
	const pid_t pid = p->outpostPid ();
	Bus in (2, 64), out (2, 64);

	testing::internal::CaptureStdout ();
	stop (pid);
	in.fill (100.0f);
	EXPECT_EQ (run (in, out, 64), kResultOk);
	EXPECT_EQ (out.data, in.data) << "a late block passes through";

	// While outpost still holds the old block the slots are not rewritten.
	in.fill (200.0f);
	run (in, out, 64);
	EXPECT_EQ (out.data, in.data);
	EXPECT_EQ (p->audio ()->inputBuffers[0][0], 100.0f) << "slots of the pending block left alone";

	resumeAndWaitForLateBlock (pid, p->audio ());
	in.fill (300.0f);
	processed (in, out, 64);
	EXPECT_EQ (out.data[0][0], 300.0f * kGain) << "own result, not the late one";
	EXPECT_EQ (out.data[1][63], in.data[1][63] * kGain);
	const std::string log = capturedStdout ();
	EXPECT_THAT (log, HasSubstr ("] TIMEOUT #1 (block 1, waited "));
}

TEST_F (AudioExchange, TimeOutLogCadence)
{
	const pid_t pid = p->outpostPid ();
	Bus in (1, 16), out (1, 16);
	testing::internal::CaptureStdout ();
	for (int i = 0; i < 100; ++i)
	{
		stop (pid);
		run (in, out, 16);
		resumeAndWaitForLateBlock (pid, p->audio ());
	}
	const std::string log = capturedStdout ();
	EXPECT_THAT (log, HasSubstr ("TIMEOUT #10 (block 10, "));
	EXPECT_THAT (log, Not (HasSubstr ("TIMEOUT #11 ")));
	EXPECT_THAT (log, Not (HasSubstr ("TIMEOUT #99 ")));
	EXPECT_THAT (log, HasSubstr ("TIMEOUT #100 (block 100, waited "));
}

TEST (Passthrough, WithoutOutpostBlocksPassUnchangedWithSparseLogging)
{
	HostedProcessor p; // never activated: no file, no outpost
	Bus in (2, 32), out (2, 32);
	in.fill (5.0f);
	testing::internal::CaptureStdout ();
	for (int i = 0; i < 10001; ++i)
	{
		Vst::ProcessData d = block (in, out, 32);
		ASSERT_EQ (p->process (d), kResultOk);
	}
	const std::string log = capturedStdout ();
	EXPECT_EQ (out.data, in.data);
	const std::string line = "[QuillMarlow #" + std::to_string (p->instanceId ()) + "] Passthrough mode (no outpost)\n";
	size_t count = 0;
	for (size_t at = log.find (line); at != std::string::npos; at = log.find (line, at + 1))
		++count;
	EXPECT_EQ (count, 2u) << "calls 1 and 10001";
	EXPECT_THAT (log, HasSubstr ("] process() #10000 - shm=0 wine_pid=-1\n"));

	// In-place buffers are left alone.
	Bus inPlace (2, 32);
	inPlace.fill (9.0f);
	const auto before = inPlace.data;
	Vst::ProcessData d = block (inPlace, inPlace, 32);
	EXPECT_EQ (p->process (d), kResultOk);
	EXPECT_EQ (inPlace.data, before);
}

TEST (Passthrough, OutpostKilledWhileStreaming)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	Bus in (2, 64), out (2, 64);
	in.fill (1.0f);
	ASSERT_TRUE (exchange (*p.p, in, out, 64));
	EXPECT_EQ (out.data[0][1], in.data[0][1] * kGain);
	Vst::ProcessData d = block (in, out, 64);

	// Deactivated, so that no new outpost is started meanwhile.
	ASSERT_EQ (p->setActive (false), kResultOk);
	const pid_t pid = p->outpostPid ();
	ASSERT_GT (pid, 0);
	ASSERT_EQ (::kill (pid, SIGKILL), 0);
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	in.fill (2.0f);
	testing::internal::CaptureStdout ();
	p->process (d);
	const std::string log = capturedStdout ();
	EXPECT_EQ (out.data, in.data) << "a dead (unreaped) outpost counts as gone";
	EXPECT_THAT (log, Not (HasSubstr ("TIMEOUT")));
}

// Bounces and exports never take a dry block: offline, a block waits for an
// outpost that is only late, and passes through as soon as it is dead
// rather than after the bound.
TEST (Offline, LateOutpostIsWaitedForAndADeadOnePassesThroughAtOnce)
{
	HostedProcessor p ("serve", 256);
	Vst::ProcessSetup setup {Vst::kOffline, Vst::kSample32, 256, 48000.0};
	ASSERT_EQ (p->setupProcessing (setup), kResultOk);
	ASSERT_EQ (p->setActive (true), kResultOk);
	const pid_t pid = p->outpostPid ();
	Bus in (2, 256), out (2, 256);
	in.fill (1.0f);

	stop (pid);
	std::thread resume ([pid] {
		std::this_thread::sleep_for (std::chrono::milliseconds (50));
		::kill (pid, SIGCONT);
	});
	Vst::ProcessData d = block (in, out, 256);
	p->process (d);
	resume.join ();
	EXPECT_EQ (out.data[1][255], in.data[1][255] * kGain) << "the late block was processed, not passed through";
	EXPECT_EQ (p->timeoutCount (), 0);

	ASSERT_EQ (::kill (pid, SIGKILL), 0);
	in.fill (2.0f);
	const auto t0 = std::chrono::steady_clock::now ();
	p->process (d);
	EXPECT_LT (std::chrono::steady_clock::now () - t0, std::chrono::seconds (2)) << "not the whole bound";
	EXPECT_EQ (out.data, in.data);
}

} // namespace
} // namespace QuillMarlowTest
