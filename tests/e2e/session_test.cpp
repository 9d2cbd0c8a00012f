// The host's session reaches the served plug-in: a Quill that writes into
// its output what it was told (served/quill_session.h) reports the host's
// setup, activations, processing state, context, mode and silence exactly,
// also after outpost was killed and started anew.
#include "e2e_support.h"

#include "quill_session_report.h"

#include <gmock/gmock.h>

#include "served_processor.h"

#include <csignal>

namespace e2e {
namespace {

constexpr int kBlock = 64;

struct Hosted
{
	Hosted () { p->initialize (nullptr); }
	~Hosted ()
	{
		p->terminate ();
		p->release ();
	}
	void setup (double rate, int32 maxBlock, int32 mode)
	{
		Vst::ProcessSetup setup {mode, Vst::kSample32, maxBlock, rate};
		EXPECT_EQ (p->setupProcessing (setup), kResultOk);
	}
	void start ()
	{
		ASSERT_EQ (p->setActive (true), kResultOk);
		p->setProcessing (true);
	}
	void stop ()
	{
		p->setProcessing (false);
		p->setActive (false);
	}
	// One block as the host gives it, until outpost answers it; the report
	// of what the served plug-in was told, and the output's silence flags.
	bool report (Vst::ProcessContext* context, int32 mode, uint64 silence, Quill::SessionReport& r, uint64& outSilence)
	{
		StereoBlock block (kBlock);
		for (int attempt = 0; attempt < 500; ++attempt)
		{
			block.fill (0);
			Vst::ProcessData d = block.data ();
			d.processContext = context;
			d.processMode = mode;
			block.inBus.silenceFlags = silence;
			p->process (d);
			if (Quill::readReport (block.out[0].data (), kBlock, r))
			{
				outSilence = block.outBus.silenceFlags;
				return true;
			}
			std::this_thread::sleep_for (std::chrono::milliseconds (5));
		}
		return false;
	}
	ServedProcessor* operator->() const { return p; }
	ServedProcessor* p = new ServedProcessor (QUILL_SESSION_BUNDLE);
};

// A host at 93.5 bpm in 7/8, from somewhere in the middle of a project.
Vst::ProcessContext hostContext ()
{
	Vst::ProcessContext c {};
	c.state = Vst::ProcessContext::kPlaying | Vst::ProcessContext::kCycleActive | Vst::ProcessContext::kTempoValid |
	          Vst::ProcessContext::kTimeSigValid | Vst::ProcessContext::kProjectTimeMusicValid |
	          Vst::ProcessContext::kBarPositionValid | Vst::ProcessContext::kCycleValid |
	          Vst::ProcessContext::kSystemTimeValid | Vst::ProcessContext::kContTimeValid;
	c.sampleRate = 48000.0;
	c.projectTimeSamples = 9876543;
	c.systemTime = 123456789012345;
	c.continousTimeSamples = 55555555;
	c.projectTimeMusic = 320.8125;
	c.barPositionMusic = 315.0;
	c.cycleStartMusic = 280.0;
	c.cycleEndMusic = 336.0;
	c.tempo = 93.5;
	c.timeSigNumerator = 7;
	c.timeSigDenominator = 8;
	return c;
}

void expectContext (const Quill::SessionReport& r, const Vst::ProcessContext& c)
{
	EXPECT_EQ (r.hasContext, 1u);
	EXPECT_EQ (r.contextState, c.state);
	EXPECT_EQ (r.sampleRate, c.sampleRate);
	EXPECT_EQ (r.projectTimeSamples, c.projectTimeSamples);
	EXPECT_EQ (r.systemTime, c.systemTime);
	EXPECT_EQ (r.continousTimeSamples, c.continousTimeSamples);
	EXPECT_EQ (r.projectTimeMusic, c.projectTimeMusic);
	EXPECT_EQ (r.barPositionMusic, c.barPositionMusic);
	EXPECT_EQ (r.cycleStartMusic, c.cycleStartMusic);
	EXPECT_EQ (r.cycleEndMusic, c.cycleEndMusic);
	EXPECT_EQ (r.tempo, c.tempo);
	EXPECT_EQ (r.timeSigNumerator, c.timeSigNumerator);
	EXPECT_EQ (r.timeSigDenominator, c.timeSigDenominator);
}

TEST (Session, TheHostsSetupContextModeAndSilenceReachTheServedPlugInExactly)
{
	Hosted h;
	h.setup (48000.0, 512, Vst::kRealtime);
	h.start ();
	Quill::SessionReport r {};
	uint64 outSilence = 0;

	// Playing, from an arbitrary position; the first input channel silent.
	Vst::ProcessContext playing = hostContext ();
	ASSERT_TRUE (h.report (&playing, Vst::kRealtime, 0x1, r, outSilence));
	EXPECT_EQ (r.setups, 1u);
	EXPECT_EQ (r.activations, 1u);
	EXPECT_EQ (r.processing, 1u);
	EXPECT_EQ (r.setupRate, 48000.0);
	EXPECT_EQ (r.setupMaxBlock, 512);
	EXPECT_EQ (r.setupMode, Vst::kRealtime);
	EXPECT_EQ (r.blockMode, Vst::kRealtime);
	expectContext (r, playing);
	EXPECT_EQ (r.inputSilenceFlags, 0x1u);
	EXPECT_EQ (outSilence, 0x2u) << "the served output's silence flags come back";

	// The transport stopped after a jump of the play head.
	Vst::ProcessContext stopped = playing;
	stopped.state &= ~Vst::ProcessContext::kPlaying;
	stopped.projectTimeSamples = 480000;
	ASSERT_TRUE (h.report (&stopped, Vst::kRealtime, 0, r, outSilence));
	expectContext (r, stopped);
	EXPECT_EQ (outSilence, 0x3u);

	// A host that gives no context: none is made up.
	ASSERT_TRUE (h.report (nullptr, Vst::kRealtime, 0, r, outSilence));
	EXPECT_EQ (r.hasContext, 0u);
	EXPECT_EQ (r.tempo, 0.0);

	// Offline at another rate: set up again, without a new outpost.
	const pid_t outpost = h->outpostPid ();
	h.stop ();
	h.setup (44100.0, 1024, Vst::kOffline);
	h.start ();
	Vst::ProcessContext offline = hostContext ();
	offline.sampleRate = 44100.0;
	ASSERT_TRUE (h.report (&offline, Vst::kOffline, 0, r, outSilence));
	EXPECT_EQ (h->outpostPid (), outpost);
	EXPECT_EQ (r.setups, 2u);
	EXPECT_EQ (r.activations, 2u);
	EXPECT_EQ (r.deactivations, 1u);
	EXPECT_EQ (r.processingStarts, 2u);
	EXPECT_EQ (r.processingStops, 1u) << "processing stopped before the deactivation";
	EXPECT_EQ (r.setupRate, 44100.0);
	EXPECT_EQ (r.setupMaxBlock, 1024);
	EXPECT_EQ (r.setupMode, Vst::kOffline);
	EXPECT_EQ (r.blockMode, Vst::kOffline);
	expectContext (r, offline);
}

// The VST 3 convention, as the SDK's host-checker follows it: a plug-in
// applies a new latency when it is activated; after the host restarts it,
// the host reads the new one.
TEST (Session, ALatencyAppliedAtActivationIsReportedAfterTheHostsRestart)
{
	Hosted h;
	h.setup (48000.0, 512, Vst::kRealtime);
	h.start ();
	EXPECT_EQ (h->getLatencySamples (), static_cast<uint32> (std::lround (Quill::kDefaultTone * 1000)));

	const std::vector<uint8> bytes = quillStateStream (Quill::kDefaultGain, 0.25);
	MemoryStream stream;
	stream.write (const_cast<uint8*> (bytes.data ()), static_cast<int32> (bytes.size ()), nullptr);
	stream.seek (0, IBStream::kIBSeekSet, nullptr);
	ASSERT_EQ (h->setState (&stream), kResultOk);
	EXPECT_EQ (h->getLatencySamples (), static_cast<uint32> (std::lround (Quill::kDefaultTone * 1000)))
	    << "the host still runs with the latency it was told";
	h.stop ();
	h.start ();
	EXPECT_EQ (h->getLatencySamples (), 250u);
}

// A crash costs a moment, not the session: the new outpost's plug-in is
// set up, activated and processing as the one it replaces was.
TEST (Session, ARelaunchedOutpostLivesTheSameSession)
{
	Hosted h;
	h.setup (44100.0, 256, Vst::kRealtime);
	h.start ();
	Quill::SessionReport r {};
	uint64 outSilence = 0;
	ASSERT_TRUE (h.report (nullptr, Vst::kRealtime, 0, r, outSilence));
	const pid_t first = h->outpostPid ();
	ASSERT_EQ (::kill (first, SIGKILL), 0);
	StereoBlock block (kBlock);
	ASSERT_TRUE (waitFor (
	    [&] {
		    Vst::ProcessData d = block.data ();
		    h->process (d);
		    return h->outpostPid () != first && h->outpostPid () > 0;
	    },
	    20.0));
	ASSERT_TRUE (h.report (nullptr, Vst::kRealtime, 0, r, outSilence));
	EXPECT_EQ (r.setups, 1u);
	EXPECT_EQ (r.activations, 1u);
	EXPECT_EQ (r.processing, 1u);
	EXPECT_EQ (r.setupRate, 44100.0);
	EXPECT_EQ (r.setupMaxBlock, 256);
	EXPECT_EQ (r.setupMode, Vst::kRealtime);
}

// Hosts that scan plug-ins (Ardour's scanner) create, initialise,
// deactivate and terminate a processor, without connecting it: a scan must
// stay quick and leave nothing behind.
TEST (Session, AScanStartsNoOutpostAndLeavesNoFile)
{
	BundleModule module;
	ASSERT_NE (module.factory (), nullptr);
	const TUID id = INLINE_UID (0x12345678, 0x12345678, 0x12345678, 0x12345678);
	Vst::IComponent* component = nullptr;
	ASSERT_EQ (module.factory ()->createInstance (id, Vst::IComponent::iid, reinterpret_cast<void**> (&component)),
	           kResultOk);
	ASSERT_EQ (component->initialize (nullptr), kResultOk);
	EXPECT_EQ (component->getBusCount (Vst::kAudio, Vst::kInput), 1);
	component->setActive (false);
	component->terminate ();
	component->release ();
	EXPECT_TRUE (ownOutposts ().empty ());
	// The library's first instance id: its loader's pid times 1000, in 32 bits.
	const auto firstId = static_cast<int32> (static_cast<uint32> (::getpid ()) * 1000u);
	EXPECT_FALSE (fileExists ("/tmp/tandem_" + std::to_string (firstId) + ".shm"));
}

} // namespace
} // namespace e2e
