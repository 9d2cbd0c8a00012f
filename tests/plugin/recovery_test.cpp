// outpost ending while its processor is active: the processor starts a new
// one on a thread of its own, gives it the latest state (edits included,
// fetched once they settled) and processes again; too many ends within a
// minute stop the restarts until the next activation.
#include "test_support.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

namespace QuillMarlowTest {
namespace {

using testing::HasSubstr;

std::vector<uint8> savedState (TestProcessor& p)
{
	auto stream = owned (new MemoryStream ());
	EXPECT_EQ (p.getState (stream), kResultOk);
	const auto bytes = streamBytes (*stream);
	return bytes.size () > 4 ? std::vector<uint8> (bytes.begin () + 4, bytes.end ()) : std::vector<uint8> {};
}

// Feeds real-time blocks until one goes through an outpost other than
// `old`; the number of blocks it took, or -1.
int blocksUntilProcessedBy (TestProcessor& p, pid_t old, Bus& in, Bus& out, int maxBlocks)
{
	for (int b = 0; b < maxBlocks; ++b)
	{
		const int32 before = p.audioOkCount ();
		Vst::ProcessData d = block (in, out, 256);
		p.process (d);
		if (p.audioOkCount () > before && p.outpostPid () != old)
			return b;
		std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
	return -1;
}

TEST (Recovery, KilledOutpostComesBackWithTheStateOfItsLastEdit)
{
	char commands[] = "/tmp/qm-recovery-commands-XXXXXX";
	::close (::mkstemp (commands));
	testing::internal::CaptureStdout ();
	testing::internal::CaptureStderr ();
	HostedProcessor p (std::string ("commands:") + commands);
	ASSERT_EQ (p->setActive (true), kResultOk);
	Bus in (2, 256), out (2, 256);
	in.fill (1.0f);
	ASSERT_TRUE (exchange (*p.p, in, out, 256));

	const pid_t first = p->outpostPid ();
	ASSERT_GT (first, 0);
	// An edit in the served editor; once it settled (a second later) the
	// processor asks for the state (GetState, 9), and then outpost dies.
	const auto edited = std::chrono::steady_clock::now ();
	ASSERT_EQ (::kill (first, SIGUSR1), 0);
	auto fetched = [&] {
		std::ifstream log (commands);
		return std::string (std::istreambuf_iterator<char> (log), {}).find ("9\n") != std::string::npos;
	};
	for (int i = 0; i < 1000 && !fetched (); ++i)
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	ASSERT_TRUE (fetched ()) << "the state was not fetched after the edit";
	EXPECT_GE (std::chrono::steady_clock::now () - edited, std::chrono::milliseconds (900)) << "edits settle first";
	ASSERT_EQ (::kill (first, SIGKILL), 0);

	const int blocks = blocksUntilProcessedBy (*p.p, first, in, out, 1000);
	ASSERT_GE (blocks, 0) << "audio did not come back";
	EXPECT_FLOAT_EQ (out.data[1][3], in.data[1][3] * 0.5f) << "processed by the new outpost";
	EXPECT_EQ (savedState (*p.p), (std::vector<uint8> {'f', 'a', 'k', 'e', '+'}))
	    << "the new outpost got the state with the edit";
	EXPECT_FALSE (processExists (first)) << "the dead one was reaped";
	::unlink (commands);

	const std::string out1 = capturedStdout ();
	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (out1, HasSubstr ("] State kept after edits: 5 bytes"));
	EXPECT_THAT (err, HasSubstr ("] outpost has ended: it was killed by signal 9"));
	EXPECT_THAT (out1, HasSubstr ("] Restarting outpost (restart 1 of 3 within a minute)..."));
	EXPECT_THAT (out1, HasSubstr ("): state restored, audio is processed again"));
}

TEST (Recovery, AfterThreeRestartsWithinAMinuteAudioPassesThroughUntilTheNextActivation)
{
	testing::internal::CaptureStderr ();
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	Bus in (2, 256), out (2, 256);
	in.fill (1.0f);
	std::vector<pid_t> killed;
	for (int end = 0; end < 4; ++end)
	{
		ASSERT_TRUE (exchange (*p.p, in, out, 256)) << "after end " << end;
		killed.push_back (p->outpostPid ());
		ASSERT_GT (killed.back (), 0);
		ASSERT_EQ (::kill (killed.back (), SIGKILL), 0);
		if (end < 3)
		{
			ASSERT_GE (blocksUntilProcessedBy (*p.p, killed.back (), in, out, 1000), 0) << "restart " << end + 1;
		}
	}
	// The fourth end: no more restarts.
	const auto until = std::chrono::steady_clock::now () + std::chrono::seconds (3);
	while (std::chrono::steady_clock::now () < until)
	{
		Vst::ProcessData d = block (in, out, 256);
		p->process (d);
		EXPECT_EQ (out.data, in.data) << "passed through";
		std::this_thread::sleep_for (std::chrono::milliseconds (5));
	}
	EXPECT_LE (p->outpostPid (), 0) << "no outpost left";
	for (pid_t pid : killed)
		EXPECT_FALSE (processExists (pid));
	const std::string err = testing::internal::GetCapturedStderr ();
	const std::string line = "] outpost ended 4 times within a minute: no more restarts until the next activation";
	EXPECT_THAT (err, HasSubstr (line));
	EXPECT_EQ (err.find (line), err.rfind (line)) << "said once";

	ASSERT_EQ (p->setActive (false), kResultOk);
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_TRUE (exchange (*p.p, in, out, 256)) << "the next activation starts outpost again";
}

} // namespace
} // namespace QuillMarlowTest
