// The served plug-in's states through the bridge, as a project save and
// reload carries them: a plug-in that reads them as JUCE's wrapper does
// (served/quill_block_state.h) gets states shorter and longer than its
// 4096-byte blocks whole, its controller's own state travels too (also into
// a restarted outpost), and a state it refuses is the host's to hear of
// while its bytes stay. And a plug-in that applies its parameters on the
// thread that created it (served/quill_message_thread.h) follows automation.
#include "hosted_pair.h"

#include "quill_block_state.h"

namespace e2e {
namespace {

// A host's stream: the bytes behind their 4-byte little-endian size.
std::vector<uint8> hostStream (const std::vector<uint8>& state)
{
	const auto size = static_cast<uint32> (state.size ());
	std::vector<uint8> bytes (4 + state.size ());
	for (int i = 0; i < 4; ++i)
		bytes[i] = static_cast<uint8> (size >> (8 * i));
	std::copy (state.begin (), state.end (), bytes.begin () + 4);
	return bytes;
}

template <typename Call>
tresult restore (Call call, const std::vector<uint8>& bytes)
{
	MemoryStream stream;
	stream.write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	return call (&stream);
}

template <typename Call>
std::vector<uint8> save (Call call, tresult expected = kResultOk)
{
	MemoryStream stream;
	EXPECT_EQ (call (&stream), expected);
	const auto* p = reinterpret_cast<const uint8*> (stream.getData ());
	return std::vector<uint8> (p, p + stream.getSize ());
}

// A processor and controller as a host pairs them, with their state calls.
struct StateHosted : Hosted
{
	using Hosted::Hosted;
	~StateHosted () { p->setActive (false); }
	// A project load: the processor's state, the controller told of it, then
	// the controller's own state when the project has one.
	tresult load (const std::vector<uint8>& processorStream, const std::vector<uint8>* controllerStream = nullptr)
	{
		const tresult r = restore ([this] (IBStream* s) { return p->setState (s); }, processorStream);
		restore ([this] (IBStream* s) { return c->setComponentState (s); }, processorStream);
		if (r != kResultOk || !controllerStream)
			return r;
		return restore ([this] (IBStream* s) { return c->setState (s); }, *controllerStream);
	}
	std::vector<uint8> processorState ()
	{
		return save ([this] (IBStream* s) { return p->getState (s); });
	}
	std::vector<uint8> controllerState ()
	{
		return save ([this] (IBStream* s) { return c->getState (s); });
	}
	// One block at the pace of a real-time host; true when outpost processed it.
	bool process (StereoBlock& block, HostParameterChanges* in = nullptr)
	{
		std::this_thread::sleep_for (std::chrono::microseconds (kBlock * 1000000 / 48000));
		for (int i = 0; i < kBlock; ++i)
			block.in[0][i] = block.in[1][i] = 0.01f * static_cast<float> (i + 1) / kBlock;
		Vst::ProcessData d = block.data ();
		d.inputParameterChanges = in;
		const int32 before = p->audioOkCount ();
		p->process (d);
		return p->audioOkCount () > before;
	}
};

// A JUCE-made gain saves 68 bytes and came back at its defaults; a longer
// state lost its last block.
TEST (State, StatesShorterAndLongerThanAJuceReadersBlockComeBackWholeInANewInstance)
{
	for (const size_t size : {size_t {68}, size_t {10000}})
	{
		const std::vector<uint8> project = hostStream (Quill::blockComponentState ({0.1, 0.3}, size));
		std::vector<uint8> saved;
		{
			StateHosted first (QUILL_BLOCKSTATE_BUNDLE);
			ASSERT_EQ (first.load (project), kResultOk) << size << " bytes";
			saved = first.processorState ();
			EXPECT_EQ (saved, project) << "the served plug-in holds the whole state of " << size << " bytes";
		}
		StateHosted reopened (QUILL_BLOCKSTATE_BUNDLE);
		ASSERT_EQ (reopened.load (saved), kResultOk);
		EXPECT_EQ (reopened.processorState (), project);
		EXPECT_EQ (reopened.c->getParamNormalized (Quill::kGainId), 0.1);
	}
}

// The controller's own state (read in 4096-byte blocks, as JUCE reads a
// stream it cannot size) is saved, restored, and given to a new outpost
// after a crash, with the processor's.
TEST (State, TheControllersOwnStateTravelsWithTheProjectAndIntoARestartedOutpost)
{
	StateHosted h (QUILL_BLOCKSTATE_BUNDLE);
	EXPECT_EQ (h.controllerState (), hostStream ({})) << "a controller with no state of its own saves none";
	const std::vector<uint8> processorProject = hostStream (Quill::blockComponentState ({0.1, 0.3}, 10000));
	for (const size_t size : {size_t {68}, size_t {10000}})
	{
		const std::vector<uint8> controllerProject = hostStream (Quill::blockControllerState (size));
		ASSERT_EQ (h.load (processorProject, &controllerProject), kResultOk) << size << " bytes";
		EXPECT_EQ (h.controllerState (), controllerProject) << size << " bytes";
	}
	// A project saved before controllers' states were kept has none.
	EXPECT_EQ (restore ([&] (IBStream* s) { return h.c->setState (s); }, {}), kResultOk);
	EXPECT_EQ (h.controllerState (), hostStream (Quill::blockControllerState (10000)));

	h.start ();
	const pid_t first = h.p->outpostPid ();
	ASSERT_EQ (::kill (first, SIGKILL), 0);
	StereoBlock block (kBlock);
	bool up = false;
	int32 restarts = 0;
	ASSERT_TRUE (waitFor (
	    [&] {
		    h.process (block);
		    return InstanceRegistry::outpostStatus (h.p->instanceId (), up, restarts) && up && restarts == 1;
	    },
	    20.0));
	EXPECT_EQ (h.controllerState (), hostStream (Quill::blockControllerState (10000)));
	EXPECT_EQ (h.processorState (), processorProject);
}

// The served plug-in refuses a state (here one that lost its end): the host
// hears its result, and saving the project again gives the bytes back.
TEST (State, ARefusedStateIsReportedAndItsBytesAreKept)
{
	StateHosted h (QUILL_BLOCKSTATE_BUNDLE);
	std::vector<uint8> cut = Quill::blockComponentState ({0.1, 0.3}, 10000);
	cut.resize (9000);
	EXPECT_EQ (h.load (hostStream (cut)), kResultFalse);
	EXPECT_EQ (h.processorState (), hostStream (cut));
	std::vector<uint8> cutController = Quill::blockControllerState (500);
	cutController.resize (400);
	EXPECT_EQ (restore ([&] (IBStream* s) { return h.c->setState (s); }, hostStream (cutController)), kResultFalse);
	EXPECT_EQ (h.controllerState (), hostStream (cutController));
	// A state it takes is its own again.
	const std::vector<uint8> whole = hostStream (Quill::blockComponentState ({0.2, 0.3}, 68));
	EXPECT_EQ (h.load (whole), kResultOk);
	EXPECT_EQ (h.processorState (), whole);
}

// JUCE's parameters reach the sound from a timer on the plug-in's message
// thread: the host's automation must be followed all the same.
TEST (MessageThread, APlugInThatAppliesItsGainOnItsOwnThreadFollowsAutomation)
{
	StateHosted h (QUILL_MESSAGETHREAD_BUNDLE);
	h.start ();
	StereoBlock block (kBlock);
	for (const double gain : {0.25, 1.0, 0.5})
	{
		HostParameterChanges step;
		step.add (Quill::kGainId, 0, gain);
		ASSERT_TRUE (waitFor ([&] { return h.process (block, &step); }, 10.0));
		const auto sent = std::chrono::steady_clock::now ();
		const float expected = block.in[0][kBlock - 1] * static_cast<float> (gain);
		EXPECT_TRUE (waitFor ([&] { return h.process (block) && block.out[0][kBlock - 1] == expected; }, 5.0))
		    << "gain " << gain;
		const auto ms = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now () - sent).count ();
		std::printf ("[ INFO     ] gain %.2f reached the sound after %.0f ms\n", gain, ms);
	}
}

} // namespace
} // namespace e2e
