// PluginInstance audio setup and block processing against a mocked
// component. processAudio keeps process-wide counters (call count, sample
// position, the one-time "activated" line). CTest runs each test in its own
// process; the transport test measures from its own first block, while the
// "activated" test relies on the fresh process (call numbers 1 to 3).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fake_plugin.h"
#include "plugin_instance.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/vstspeaker.h"
#include "protocol/tandem_protocol.h"
#include "test_output.h"

using namespace testing;
using namespace fake;
using Tandem::kMaxBlockSize;
using Tandem::kMaxChannels;
using Tandem::PluginInstance;

namespace {

struct Slots
{
	std::vector<float> input = std::vector<float> (kMaxChannels * kMaxBlockSize);
	std::vector<float> output = std::vector<float> (kMaxChannels * kMaxBlockSize, -7.0f);
	float* in (int c) { return input.data () + c * kMaxBlockSize; }
	float* out (int c) { return output.data () + c * kMaxBlockSize; }
	Slots ()
	{
		for (std::size_t i = 0; i < input.size (); ++i)
			input[i] = static_cast<float> (i % 977) * 0.001f + 0.5f;
	}
};

// Records what each process call saw.
struct SeenBlock
{
	int32 numSamples;
	int32 inChannels;
	int32 outChannels;
	ProcessContext* context;
	int32 processMode;
	uint64 inputSilence;
};

class InstanceAudio : public Test
{
protected:
	void SetUp () override
	{
		factory.addClass ('A', "Audio Module Class", "Proc");
		factory.serveClasses ();
		ON_CALL (factory, createInstance (_, _, _)).WillByDefault (Invoke ([this] (FIDString, FIDString, void** obj) {
			component.addRef ();
			*obj = static_cast<IComponent*> (&component);
			return kResultOk;
		}));
		ON_CALL (component, initialize (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, setupProcessing (_)).WillByDefault (Return (kResultOk));
		ON_CALL (component, setBusArrangements (_, _, _, _)).WillByDefault (Return (kResultOk));
		ON_CALL (component, activateBus (_, _, _, _)).WillByDefault (Return (kResultOk));
		ON_CALL (component, setProcessing (_)).WillByDefault (Return (kResultOk));
		// By default the plug-in halves the signal and records the call.
		ON_CALL (component, process (_)).WillByDefault (Invoke ([this] (ProcessData& data) {
			seen.push_back ({data.numSamples, data.inputs[0].numChannels, data.outputs[0].numChannels,
			                 data.processContext, data.processMode, data.inputs[0].silenceFlags});
			for (int32 c = 0; c < data.outputs[0].numChannels; ++c)
				for (int32 i = 0; i < data.numSamples; ++i)
					data.outputs[0].channelBuffers32[c][i] = data.inputs[0].channelBuffers32[c][i] * 0.5f;
			return kResultOk;
		}));
		captureOutput ([&] {
			instance = std::make_unique<PluginInstance> (&factory);
			ASSERT_TRUE (instance->createInstance ());
		});
	}
	void TearDown () override
	{
		captureOutput ([&] { instance.reset (); });
	}

	Captured setup (double rate = 48000.0)
	{
		return captureOutput ([&] { EXPECT_TRUE (instance->setupAudio (rate, kMaxBlockSize)); });
	}
	bool process (int32 samples, int32 channels, Captured* log = nullptr, Tandem::HostBlock* host = nullptr)
	{
		bool result = false;
		const Captured c = captureOutput ([&] {
			result = instance->processAudio (slots.input.data (), slots.output.data (), samples, channels, host);
		});
		if (log)
			*log = c;
		return result;
	}

	NiceMock<MockFactory> factory;
	NiceMock<MockComponent> component;
	std::unique_ptr<PluginInstance> instance;
	Slots slots;
	std::vector<SeenBlock> seen;
};

} // namespace

TEST_F (InstanceAudio, BlockBeforeSetupIsCopiedThroughForItsChannelsOnly)
{
	EXPECT_CALL (component, process (_)).Times (0);
	Captured log;
	EXPECT_FALSE (process (100, 2, &log));
	EXPECT_NE (log.out.find ("[PluginInstance] PASSTHROUGH - audioProcessor_="), std::string::npos);
	EXPECT_NE (log.out.find (" audioSetup_=0\n"), std::string::npos);
	for (int c = 0; c < 2; ++c)
	{
		for (int i = 0; i < 100; ++i)
			ASSERT_EQ (slots.out (c)[i], slots.in (c)[i]);
		EXPECT_EQ (slots.out (c)[100], -7.0f); // beyond the block: untouched
	}
	EXPECT_EQ (slots.out (2)[0], -7.0f); // beyond the channel count: untouched
}

TEST_F (InstanceAudio, SetupCallsThePluginInOrderAndToleratesRefusals)
{
	{
		InSequence order;
		// The buses the plug-in activates by default, and no arrangement made up.
		EXPECT_CALL (component, activateBus (kAudio, kInput, 0, true)).WillOnce (Return (kResultFalse));
		EXPECT_CALL (component, activateBus (kAudio, kOutput, 0, true));
		EXPECT_CALL (component, setBusArrangements (_, _, _, _)).Times (0);
		EXPECT_CALL (component, setupProcessing (Truly ([] (ProcessSetup& s) {
			             return s.processMode == kRealtime && s.symbolicSampleSize == kSample32 &&
			                    s.maxSamplesPerBlock == kMaxBlockSize && s.sampleRate == 44100.0;
		             })));
		EXPECT_CALL (component, setActive (true));
		EXPECT_CALL (component, setProcessing (true));
	}
	const Captured log = setup (44100.0);
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Audio setup: 44100 Hz, 8192 samples"));
	EXPECT_TRUE (log.hasOut ("[PluginInstance] Audio processing enabled"));
	EXPECT_TRUE (instance->isAudioSetup ());
	// With a bus activation refused the block still goes to the plug-in.
	EXPECT_TRUE (process (64, 2));
	ASSERT_EQ (seen.size (), 1u);
	EXPECT_EQ (seen[0].inChannels, 2);

	// Stopped and deactivated before it is terminated.
	{
		InSequence teardown;
		EXPECT_CALL (component, setProcessing (false));
		EXPECT_CALL (component, setActive (false));
		EXPECT_CALL (component, terminate ());
	}
	captureOutput ([&] { instance.reset (); });
}

TEST_F (InstanceAudio, SetupProcessingFailureKeepsCopyingThrough)
{
	EXPECT_CALL (component, setupProcessing (_)).WillOnce (Return (kResultFalse));
	Captured log = captureOutput ([&] { EXPECT_FALSE (instance->setupAudio (48000.0, kMaxBlockSize)); });
	EXPECT_TRUE (log.hasErr ("[PluginInstance] setupProcessing failed: 1"));
	EXPECT_FALSE (instance->isAudioSetup ());
	EXPECT_FALSE (process (32, 2));
	EXPECT_EQ (slots.out (1)[31], slots.in (1)[31]);
}

TEST_F (InstanceAudio, TheHostsContextModeAndSilenceReachTheBlockAndNothingIsMadeUp)
{
	setup ();
	ProcessContext context {};
	context.state = ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;
	context.tempo = 93.5;
	context.projectTimeSamples = 123456789;
	Tandem::HostBlock host;
	host.processMode = kOffline;
	host.context = &context;
	host.inputSilenceFlags = 0x2;
	ON_CALL (component, process (_)).WillByDefault (Invoke ([this] (ProcessData& data) {
		seen.push_back ({data.numSamples, 0, 0, data.processContext, data.processMode, data.inputs[0].silenceFlags});
		data.outputs[0].silenceFlags = 0x1;
		return kResultOk;
	}));
	ASSERT_TRUE (process (512, 2, nullptr, &host));
	ASSERT_TRUE (process (512, 2));
	ASSERT_EQ (seen.size (), 2u);
	EXPECT_EQ (seen[0].context, &context) << "the host's context itself, untouched";
	EXPECT_EQ (context.projectTimeSamples, 123456789);
	EXPECT_EQ (seen[0].processMode, kOffline);
	EXPECT_EQ (seen[0].inputSilence, 0x2u);
	EXPECT_EQ (host.outputSilenceFlags, 0x1u);
	// A host that gives no context gives none: no tempo of our own.
	EXPECT_EQ (seen[1].context, nullptr);
	EXPECT_EQ (seen[1].processMode, kRealtime);
}

TEST_F (InstanceAudio, ActivatedLineComesOnceAtTheFirstModifiedBlock)
{
	setup ();
	// Unity processing first: the first sample is unchanged.
	ON_CALL (component, process (_)).WillByDefault (Invoke ([] (ProcessData& data) {
		for (int32 c = 0; c < data.outputs[0].numChannels; ++c)
			for (int32 i = 0; i < data.numSamples; ++i)
				data.outputs[0].channelBuffers32[c][i] = data.inputs[0].channelBuffers32[c][i];
		return kResultOk;
	}));
	Captured log;
	ASSERT_TRUE (process (256, 2, &log));
	EXPECT_NE (log.out.find (" modified=NO\n"), std::string::npos);
	EXPECT_EQ (log.count ("AUDIO EFFECT ACTIVATED"), 0);

	// A NaN output counts as modified.
	ON_CALL (component, process (_)).WillByDefault (Invoke ([] (ProcessData& data) {
		data.outputs[0].channelBuffers32[0][0] = std::nanf ("");
		return kResultOk;
	}));
	ASSERT_TRUE (process (256, 2, &log));
	EXPECT_EQ (log.count ("[PluginInstance] *** AUDIO EFFECT ACTIVATED at block 2 (after 0.0106667 seconds) ***\n"), 1);
	EXPECT_NE (log.out.find (" modified=YES\n"), std::string::npos);
	EXPECT_LT (log.out.find ("ACTIVATED"), log.out.find ("process() #2"));
	ASSERT_TRUE (process (256, 2, &log));
	EXPECT_EQ (log.count ("AUDIO EFFECT ACTIVATED"), 0);
}

TEST_F (InstanceAudio, FailedProcessCopiesThrough)
{
	setup ();
	EXPECT_CALL (component, process (_)).WillOnce (Invoke ([] (ProcessData& data) {
		data.outputs[0].channelBuffers32[0][0] = 99.0f; // garbage left behind
		return kResultFalse;
	}));
	Captured log;
	EXPECT_FALSE (process (128, 2, &log));
	EXPECT_NE (log.out.find ("[PluginInstance] process() FAILED: 1\n"), std::string::npos);
	for (int c = 0; c < 2; ++c)
		for (int i = 0; i < 128; ++i)
			ASSERT_EQ (slots.out (c)[i], slots.in (c)[i]);
}

TEST_F (InstanceAudio, CountsFromTheFileAreClampedToTheSlots)
{
	setup ();
	ASSERT_TRUE (process (100000, 50));
	ASSERT_EQ (seen.size (), 1u);
	EXPECT_EQ (seen[0].numSamples, kMaxBlockSize);
	// The plug-in gets its own (stereo) buses; the host's channels beyond
	// them come back silent.
	EXPECT_EQ (seen[0].inChannels, 2);
	EXPECT_EQ (slots.out (1)[8191], slots.in (1)[8191] * 0.5f);
	EXPECT_EQ (slots.out (7)[8191], 0.0f);

	// Negative counts become an empty block, also on the copy-through path.
	ASSERT_TRUE (process (-5, -3));
	EXPECT_EQ (seen[1].numSamples, 0);
	EXPECT_CALL (component, process (_)).WillOnce (Return (kResultFalse));
	std::fill (slots.output.begin (), slots.output.end (), -7.0f);
	EXPECT_FALSE (process (100000, 9));
	EXPECT_EQ (slots.out (7)[8191], slots.in (7)[8191]);
}

TEST_F (InstanceAudio, ZeroChannelsFromTheHostReadSilenceAndCopyNothing)
{
	setup ();
	std::fill (slots.input.begin (), slots.input.end (), 1.0f);
	EXPECT_CALL (component, process (_)).WillOnce (Invoke ([] (ProcessData& data) {
		// The plug-in's own stereo buses, reading silence where the host gave nothing.
		EXPECT_EQ (data.inputs[0].numChannels, 2);
		EXPECT_EQ (data.outputs[0].numChannels, 2);
		EXPECT_EQ (data.inputs[0].channelBuffers32[1][63], 0.0f);
		return kResultFalse;
	}));
	EXPECT_FALSE (process (64, 0));
	EXPECT_EQ (slots.out (0)[0], -7.0f);
}

TEST_F (InstanceAudio, SetupWithoutAudioProcessorFails)
{
	component.processor = false;
	const Captured log = captureOutput ([&] { EXPECT_FALSE (instance->setupAudio (48000.0, kMaxBlockSize)); });
	EXPECT_TRUE (log.hasErr ("[PluginInstance] Component doesn't support IAudioProcessor"));
}
