#include "test_support.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

namespace QuillMarlowTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<uint8> framed (const std::vector<uint8>& state)
{
	const auto size = static_cast<uint32> (state.size ());
	std::vector<uint8> v (4 + state.size ());
	for (int i = 0; i < 4; ++i)
		v[i] = static_cast<uint8> (size >> (8 * i));
	std::copy (state.begin (), state.end (), v.begin () + 4);
	return v;
}

std::vector<uint8> save (TestProcessor& p, tresult expected = kResultOk)
{
	MemoryStream stream;
	EXPECT_EQ (p.getState (&stream), expected);
	return streamBytes (stream);
}

tresult restore (TestProcessor& p, const std::vector<uint8>& bytes)
{
	MemoryStream stream;
	if (!bytes.empty ())
		stream.write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	return p.setState (&stream);
}

TEST (StateTransfer, SaveThenRestoreIsBitExactUpToTheCapacity)
{
	for (size_t size : {size_t (1), size_t (4096), size_t (262144)})
	{
		const std::vector<uint8> state = pattern (size, static_cast<uint8> (size));
		std::vector<uint8> saved;
		{
			HostedProcessor a;
			ASSERT_EQ (a->setActive (true), kResultOk);
			ASSERT_EQ (restore (*a.p, framed (state)), kResultOk);
			saved = save (*a.p);
			ASSERT_EQ (saved, framed (state)) << size;
		}
		HostedProcessor b;
		ASSERT_EQ (b->setActive (true), kResultOk);
		testing::internal::CaptureStdout ();
		ASSERT_EQ (restore (*b.p, saved), kResultOk);
		const std::string log = capturedStdout ();
		EXPECT_THAT (log, HasSubstr ("[QuillMarlow] State loaded: " + std::to_string (size) + " bytes\n"));
		EXPECT_THAT (log, HasSubstr ("[QuillMarlow] State sent to outpost\n"));
		EXPECT_EQ (save (*b.p), saved) << size;
	}
}

TEST (StateTransfer, MalformedStreamsAreRefusedAndLeaveTheFileAlone)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	const std::vector<uint8> good = pattern (300, 1);
	ASSERT_EQ (restore (*p.p, framed (good)), kResultOk);
	Tandem::StateData* state = p->sharedMemory ().stateData ();

	struct Case
	{
		std::vector<uint8> bytes;
		std::string message;
	};
	std::vector<uint8> tooBig = framed (pattern (4, 0));
	tooBig[0] = 0x01, tooBig[1] = 0x00, tooBig[2] = 0x04, tooBig[3] = 0x00; // 262145
	std::vector<uint8> zero {0, 0, 0, 0};
	std::vector<uint8> negative {0xFF, 0xFF, 0xFF, 0xFF};
	std::vector<uint8> shortData = framed (pattern (100, 9));
	shortData.resize (4 + 50);
	const std::vector<Case> cases {
	    {tooBig, "[QuillMarlow] Invalid state size: 262145\n"},
	    {zero, "[QuillMarlow] Invalid state size: 0\n"},
	    {negative, "[QuillMarlow] Invalid state size: -1\n"},
	    {{1, 0, 0}, "[QuillMarlow] Failed to read state size\n"},
	    {{}, "[QuillMarlow] Failed to read state size\n"},
	    {shortData, "[QuillMarlow] Failed to read state data\n"},
	};
	for (const auto& c : cases)
	{
		testing::internal::CaptureStderr ();
		EXPECT_EQ (restore (*p.p, c.bytes), kResultFalse) << c.message;
		EXPECT_THAT (testing::internal::GetCapturedStderr (), HasSubstr (c.message));
		EXPECT_EQ (state->stateSize, 300);
		EXPECT_TRUE (std::equal (good.begin (), good.end (), state->stateBuffer)) << "no half-written state";
	}
	EXPECT_EQ (p->setState (nullptr), kResultFalse);
	EXPECT_EQ (save (*p.p), framed (good)) << "outpost still has the good state";
}

// Hosts load a project (setState) long before they activate: the served
// plug-in has the state from then on, and keeps it through the activation.
TEST (StateTransfer, StateGivenBeforeActivationReachesTheServedPlugIn)
{
	HostedProcessor p;
	const std::vector<uint8> state = pattern (1000, 3);
	testing::internal::CaptureStdout ();
	EXPECT_EQ (restore (*p.p, framed (state)), kResultOk) << "a project load must not lose the state";
	EXPECT_THAT (capturedStdout (), HasSubstr ("[QuillMarlow] State sent to outpost\n"));
	EXPECT_GT (p->outpostPid (), 0);
	EXPECT_EQ (save (*p.p), framed (state)) << "answered by the served plug-in, not kept here";

	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (save (*p.p), framed (state));
}

TEST (StateTransfer, LastKnownStateSurvivesOutpostDeathAndIsReapplied)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	const std::vector<uint8> state = pattern (64, 5);
	ASSERT_EQ (restore (*p.p, framed (state)), kResultOk);

	// Deactivated, so that nothing starts a new outpost meanwhile.
	ASSERT_EQ (p->setActive (false), kResultOk);
	ASSERT_EQ (::kill (p->outpostPid (), SIGKILL), 0);
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	testing::internal::CaptureStderr ();
	EXPECT_EQ (save (*p.p), framed (state)) << "saving while outpost is gone keeps the state";
	const std::string err = testing::internal::GetCapturedStderr ();
	EXPECT_THAT (err, HasSubstr ("[QuillMarlow] Cannot get state - no connection to outpost\n"));
	// The host's log says once what became of outpost.
	EXPECT_THAT (err, HasSubstr ("] outpost has ended: it was killed by signal 9"));
	testing::internal::CaptureStderr ();
	save (*p.p);
	EXPECT_THAT (testing::internal::GetCapturedStderr (), Not (HasSubstr ("outpost has ended")));

	// A state restored while outpost is down is kept and goes to the next one.
	const std::vector<uint8> newer = pattern (80, 6);
	testing::internal::CaptureStdout ();
	EXPECT_EQ (restore (*p.p, framed (newer)), kResultOk);
	EXPECT_THAT (capturedStdout (), HasSubstr ("State cached - will be applied"));
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (save (*p.p), framed (newer));
}

// The served controller's own state: a project without one opens as
// before, one given while outpost is gone is kept for the next outpost.
TEST (StateTransfer, TheControllersStateIsKeptForTheNextOutpostAndAProjectWithoutOneOpens)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	auto saveController = [&] {
		MemoryStream stream;
		EXPECT_EQ (p->getControllerState (&stream), kResultOk);
		return streamBytes (stream);
	};
	auto restoreController = [&] (const std::vector<uint8>& bytes) {
		MemoryStream stream;
		if (!bytes.empty ())
			stream.write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
		stream.seek (0, IBStream::kIBSeekSet, nullptr);
		return p->setControllerState (&stream);
	};
	EXPECT_EQ (saveController (), framed ({})) << "the served controller keeps none";
	EXPECT_EQ (restoreController ({}), kResultOk) << "a project saved without it";
	EXPECT_EQ (restoreController (framed ({})), kResultOk);
	const std::vector<uint8> state = pattern (5000, 9);
	ASSERT_EQ (restoreController (framed (state)), kResultOk);
	EXPECT_EQ (saveController (), framed (state));

	ASSERT_EQ (p->setActive (false), kResultOk);
	ASSERT_EQ (::kill (p->outpostPid (), SIGKILL), 0);
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	testing::internal::CaptureStderr ();
	EXPECT_EQ (saveController (), framed (state)) << "saving while outpost is gone keeps it";
	const std::vector<uint8> newer = pattern (70, 4);
	EXPECT_EQ (restoreController (framed (newer)), kResultOk);
	testing::internal::GetCapturedStderr ();
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (saveController (), framed (newer)) << "answered by the new outpost";
}

// A host stream with room for `room` bytes, like a file on a full disk: a
// write copies what fits and fails when that is not all of it.
class FullStream : public MemoryStream
{
public:
	explicit FullStream (int32 room) : room_ (room) {}
	tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
	{
		const int32 n = std::max (0, std::min (numBytes, room_ - static_cast<int32> (getSize ())));
		int32 written = 0;
		if (n > 0)
			MemoryStream::write (buffer, n, &written);
		if (numBytesWritten)
			*numBytesWritten = written;
		return written == numBytes ? kResultOk : kResultFalse;
	}

private:
	int32 room_;
};

TEST (StateTransfer, AStreamThatCannotTakeTheStateFailsTheSave)
{
	HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	const std::vector<uint8> state = pattern (100, 7);
	ASSERT_EQ (restore (*p.p, framed (state)), kResultOk);

	auto saveInto = [&] (int32 room) {
		FullStream stream (room);
		testing::internal::CaptureStderr ();
		EXPECT_EQ (p->getState (&stream), kResultFalse) << "room " << room;
		EXPECT_THAT (testing::internal::GetCapturedStderr (),
		             HasSubstr ("[QuillMarlow] Failed to write state to the host's stream\n"));
	};
	for (int32 room : {0, 2, 4, 103})
		saveInto (room);
	EXPECT_EQ (save (*p.p), framed (state)) << "a stream with room still gets all of it";

	// The same for the last known state, saved while outpost is gone.
	ASSERT_EQ (::kill (p->outpostPid (), SIGKILL), 0);
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	for (int32 room : {0, 50})
		saveInto (room);
	testing::internal::CaptureStderr ();
	EXPECT_EQ (save (*p.p), framed (state));
	testing::internal::GetCapturedStderr ();
}

// The editor posts HideEditor when it closes and does not wait for it. A save
// or a restore right after must let outpost take it before posting its own
// command, or the hide is lost and the editor window stays up.
TEST (StateTransfer, StateCommandsWaitForAPendingHideEditor)
{
	const std::string log = testing::TempDir () + "qm_commands_" + std::to_string (::getpid ());
	std::remove (log.c_str ());
	HostedProcessor p ("commands:" + log);
	ASSERT_EQ (p->setActive (true), kResultOk);
	const pid_t outpost = p->outpostPid ();
	Tandem::UICommand* ui = p->sharedMemory ().uiCommand ();
	const auto hide = static_cast<int32> (Tandem::CommandCode::HideEditor);

	// Outpost busy (stopped) while the editor's HideEditor waits in the slot.
	auto postHideWhileBusy = [&] {
		ASSERT_EQ (::kill (outpost, SIGSTOP), 0);
		ui->command = hide;
		ui->processed.store (false, std::memory_order_release);
		std::thread ([outpost] {
			std::this_thread::sleep_for (std::chrono::milliseconds (300));
			::kill (outpost, SIGCONT);
		}).detach ();
	};
	postHideWhileBusy ();
	EXPECT_EQ (save (*p.p), framed ({'f', 'a', 'k', 'e'}));
	postHideWhileBusy ();
	testing::internal::CaptureStdout ();
	EXPECT_EQ (restore (*p.p, framed (pattern (10, 2))), kResultOk);
	EXPECT_THAT (capturedStdout (), HasSubstr ("[QuillMarlow] State sent to outpost\n"));

	std::ifstream in (log);
	std::vector<int32> taken;
	for (int32 code; in >> code;)
		taken.push_back (code);
	// The activation came first.
	const std::vector<int32> expected {static_cast<int32> (Tandem::CommandCode::Activate), hide,
	                                   static_cast<int32> (Tandem::CommandCode::GetState), hide,
	                                   static_cast<int32> (Tandem::CommandCode::SetState)};
	EXPECT_EQ (taken, expected);
	std::remove (log.c_str ());
}

TEST (StateTransfer, NothingKnownYetMeansNoState)
{
	// An outpost that cannot start (the stand-in knows no such mode).
	HostedProcessor p ("none");
	testing::internal::CaptureStderr ();
	save (*p.p, kResultFalse);
	EXPECT_THAT (testing::internal::GetCapturedStderr (),
	             HasSubstr ("[QuillMarlow] Cannot get state - no connection to outpost\n"));
}

} // namespace
} // namespace QuillMarlowTest
