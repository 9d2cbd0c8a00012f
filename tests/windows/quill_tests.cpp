// PluginInstance driving the real served plug-in under Wine: both builds of
// Quill are loaded from their bundles, set up, fed blocks whose expected
// output is computed here with Quill's own DSP code, and their state is
// saved and restored byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin_instance.h"
#include "protocol/tandem_protocol.h"
#include "quill_dsp.h"
#include "quill_state.h"
#include "vst3_loader.h"

using Tandem::kMaxBlockSize;
using Tandem::kMaxChannels;
using Tandem::PluginInstance;
using Tandem::VST3Loader;

namespace {

const char kInstalledBundle[] = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";

// Input and output slots laid out as in the shared file.
struct Slots
{
	std::vector<float> input = std::vector<float> (kMaxChannels * kMaxBlockSize, 0.0f);
	std::vector<float> output = std::vector<float> (kMaxChannels * kMaxBlockSize, 0.0f);
	float* in (int c) { return input.data () + c * kMaxBlockSize; }
	float* out (int c) { return output.data () + c * kMaxBlockSize; }
};

// A deterministic test signal: a sine per channel plus a little noise.
void fillSignal (Slots& slots, int channels, int samples, unsigned seed)
{
	unsigned state = seed;
	for (int c = 0; c < channels; ++c)
	{
		for (int i = 0; i < samples; ++i)
		{
			state = state * 1664525u + 1013904223u;
			const float noise = static_cast<float> (state >> 8) / 16777216.0f - 0.5f;
			slots.in (c)[i] =
			    0.6f * std::sin (0.05f * static_cast<float> (i) * static_cast<float> (c + 1)) + 0.2f * noise;
		}
	}
}

std::vector<float> expectedBlock (Quill::QuillDsp& dsp, Slots& slots, int channels, int samples)
{
	std::vector<float> out (static_cast<std::size_t> (channels) * samples);
	const float* in[kMaxChannels];
	float* outs[kMaxChannels];
	for (int c = 0; c < channels; ++c)
	{
		in[c] = slots.in (c);
		outs[c] = out.data () + c * samples;
	}
	dsp.process (in, outs, channels, samples);
	return out;
}

void expectBlock (Slots& slots, const std::vector<float>& expected, int channels, int samples)
{
	for (int c = 0; c < channels; ++c)
		for (int i = 0; i < samples; ++i)
			ASSERT_EQ (slots.out (c)[i], expected[c * samples + i]) << "channel " << c << " sample " << i;
}

// Loads a bundle and creates the instance; output of both is swallowed.
class QuillHost
{
public:
	explicit QuillHost (const std::string& bundle)
	{
		testing::internal::CaptureStdout ();
		loaded = loader.load (bundle);
		if (loaded)
		{
			instance = std::make_unique<PluginInstance> (loader.factory ());
			created = instance->createInstance ();
		}
		log = testing::internal::GetCapturedStdout ();
	}
	~QuillHost () { instance.reset (); } // the instance goes before the module

	VST3Loader loader;
	std::unique_ptr<PluginInstance> instance;
	bool loaded = false;
	bool created = false;
	std::string log;
};

bool contains (const std::string& text, const std::string& needle)
{
	return text.find (needle) != std::string::npos;
}

std::vector<std::uint8_t> stateOf (double gain, double tone)
{
	std::uint8_t bytes[Quill::kStateSize];
	Quill::encodeState ({gain, tone}, bytes);
	return std::vector<std::uint8_t> (bytes, bytes + sizeof bytes);
}

std::vector<std::uint8_t> savedState (PluginInstance& instance)
{
	std::vector<std::uint8_t> buffer (Tandem::kMaxStateSize);
	testing::internal::CaptureStdout ();
	const std::int32_t size = instance.state ().getState (buffer.data (), Tandem::kMaxStateSize);
	testing::internal::GetCapturedStdout ();
	buffer.resize (size > 0 ? static_cast<std::size_t> (size) : 0);
	return buffer;
}

// Processes one block through the instance and through the local DSP and
// compares them sample for sample.
void processAndCompare (PluginInstance& instance, Quill::QuillDsp& dsp, Slots& slots, int samples, unsigned seed)
{
	fillSignal (slots, 2, samples, seed);
	const std::vector<float> expected = expectedBlock (dsp, slots, 2, samples);
	testing::internal::CaptureStdout ();
	const bool processed = instance.processAudio (slots.input.data (), slots.output.data (), samples, 2);
	testing::internal::GetCapturedStdout ();
	ASSERT_TRUE (processed);
	expectBlock (slots, expected, 2, samples);
}

} // namespace

TEST (QuillTwoObjects, CreatesSeparateControllerSyncedAndConnected)
{
	QuillHost host (kInstalledBundle);
	ASSERT_TRUE (host.loaded);
	ASSERT_TRUE (host.created) << host.log;
	EXPECT_NE (host.instance->controller (), nullptr);
	EXPECT_TRUE (contains (host.log, "[PluginInstance] Found processor: Quill\n"));
	EXPECT_TRUE (contains (host.log, "[PluginInstance] Found controller: Quill Controller\n"));
	EXPECT_TRUE (contains (host.log, "[PluginInstance] Component state: 24 bytes\n"));
	EXPECT_TRUE (contains (host.log, "[PluginInstance] Controller state synchronized!\n"));
	EXPECT_TRUE (contains (host.log, "[PluginInstance] IConnectionPoint connected successfully!\n"));
	// The controller asked the host context for its name during initialize.
	EXPECT_TRUE (contains (host.log, "[HostApplication] getName() called, returning: Tandem\n"));
}

TEST (QuillTwoObjects, ProcessesBlocksAsItsDspComputes)
{
	QuillHost host (kInstalledBundle);
	ASSERT_TRUE (host.created);
	PluginInstance& instance = *host.instance;
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (instance.setupAudio (48000.0, kMaxBlockSize));
	const std::string setupLog = testing::internal::GetCapturedStdout ();
	EXPECT_TRUE (contains (setupLog, "[PluginInstance] Audio setup: 48000 Hz, 8192 samples\n"));

	Quill::QuillDsp dsp;
	dsp.prepare (48000.0);
	Slots slots;
	// Two blocks in a row: the filter memory carries over between them.
	processAndCompare (instance, dsp, slots, 512, 1);
	processAndCompare (instance, dsp, slots, 512, 2);
	// The default setting is audible: -6 dB and a low-pass.
	EXPECT_NE (slots.out (0)[100], slots.in (0)[100]);
}

TEST (QuillTwoObjects, StateRoundTripIsBitExactAndReachesTheDsp)
{
	QuillHost host (kInstalledBundle);
	ASSERT_TRUE (host.created);
	PluginInstance& instance = *host.instance;
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (instance.setupAudio (44100.0, kMaxBlockSize));
	testing::internal::GetCapturedStdout ();

	EXPECT_EQ (savedState (instance), stateOf (Quill::kDefaultGain, Quill::kDefaultTone));

	const std::vector<std::uint8_t> wanted = stateOf (0.8, 0.25);
	testing::internal::CaptureStdout ();
	ASSERT_EQ (instance.state ().setState (wanted.data (), static_cast<std::int32_t> (wanted.size ())),
	           Steinberg::kResultOk);
	const std::string log = testing::internal::GetCapturedStdout ();
	EXPECT_TRUE (contains (log, "[PluginInstance] State restored: 24 bytes\n"));
	EXPECT_FALSE (contains (log, "setComponentState returned"));
	EXPECT_EQ (savedState (instance), wanted);
	// The controller followed through setComponentState.
	EXPECT_DOUBLE_EQ (instance.controller ()->getParamNormalized (Quill::kGainId), 0.8);
	EXPECT_DOUBLE_EQ (instance.controller ()->getParamNormalized (Quill::kToneId), 0.25);

	Quill::QuillDsp dsp;
	dsp.prepare (44100.0);
	dsp.setGain (0.8);
	dsp.setTone (0.25);
	Slots slots;
	processAndCompare (instance, dsp, slots, 300, 7);
}

TEST (QuillTwoObjects, RefusedStateLeavesTheOldOne)
{
	QuillHost host (kInstalledBundle);
	ASSERT_TRUE (host.created);
	const std::vector<std::uint8_t> before = savedState (*host.instance);
	std::vector<std::uint8_t> future = stateOf (0.1, 0.1);
	future[4] = 99; // a version this build does not know
	testing::internal::CaptureStderr ();
	EXPECT_EQ (host.instance->state ().setState (future.data (), static_cast<std::int32_t> (future.size ())),
	           Steinberg::kResultFalse);
	EXPECT_TRUE (
	    contains (testing::internal::GetCapturedStderr (), "[PluginInstance] component->setState failed: 1\n"));
	EXPECT_EQ (savedState (*host.instance), before);
}

TEST (QuillOneObject, UsesTheComponentAsController)
{
	QuillHost host (QUILL_SINGLE_BUNDLE);
	ASSERT_TRUE (host.created) << host.log;
	EXPECT_NE (host.instance->controller (), nullptr);
	EXPECT_TRUE (contains (host.log, "[PluginInstance] Got controller from component (single component design)\n"));
	EXPECT_FALSE (contains (host.log, "Creating separate controller"));
	EXPECT_FALSE (contains (host.log, "IConnectionPoint"));
}

TEST (QuillOneObject, ProcessesAndRoundTripsState)
{
	QuillHost host (QUILL_SINGLE_BUNDLE);
	ASSERT_TRUE (host.created);
	PluginInstance& instance = *host.instance;
	testing::internal::CaptureStdout ();
	ASSERT_TRUE (instance.setupAudio (48000.0, kMaxBlockSize));
	testing::internal::GetCapturedStdout ();

	const std::vector<std::uint8_t> wanted = stateOf (0.3, 0.9);
	testing::internal::CaptureStdout ();
	ASSERT_EQ (instance.state ().setState (wanted.data (), static_cast<std::int32_t> (wanted.size ())),
	           Steinberg::kResultOk);
	testing::internal::GetCapturedStdout ();
	EXPECT_EQ (savedState (instance), wanted);
	EXPECT_DOUBLE_EQ (instance.controller ()->getParamNormalized (Quill::kGainId), 0.3);

	Quill::QuillDsp dsp;
	dsp.prepare (48000.0);
	dsp.setGain (0.3);
	dsp.setTone (0.9);
	Slots slots;
	processAndCompare (instance, dsp, slots, 1024, 3);
}
