// Quill's DSP and state format, compiled natively from the plug-in's own
// headers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quill_dsp.h"
#include "quill_state.h"

using namespace Quill;

namespace {

// Runs `blocks` blocks of a constant on one channel and returns the last sample.
float settle (QuillDsp& dsp, float value, int blocks, int samples)
{
	std::vector<float> in (samples, value), out (samples);
	const float* ins[1] = {in.data ()};
	float* outs[1] = {out.data ()};
	for (int b = 0; b < blocks; ++b)
		dsp.process (ins, outs, 1, samples);
	return out.back ();
}

} // namespace

TEST (QuillDspResponse, SettlesAtTheGainAndLowPassesANyquistTone)
{
	QuillDsp dsp;
	dsp.prepare (48000.0);
	dsp.setGain (0.5); // -6 dB
	EXPECT_NEAR (settle (dsp, 1.0f, 20, 512), std::pow (10.0, -6.0 / 20.0), 1e-5);

	dsp.setTone (0.0);       // 200 Hz cut-off
	dsp.setGain (2.0 / 3.0); // 0 dB
	dsp.reset ();
	std::vector<float> in (4096), out (4096);
	for (int i = 0; i < 4096; ++i)
		in[i] = (i % 2) ? -1.0f : 1.0f;
	const float* ins[1] = {in.data ()};
	float* outs[1] = {out.data ()};
	dsp.process (ins, outs, 1, 4096);
	EXPECT_LT (std::fabs (out[4095]), 0.02f);
}

TEST (QuillDspResponse, InPlaceEqualsSeparateAndChannelsAreIndependent)
{
	QuillDsp a, b;
	a.prepare (44100.0);
	b.prepare (44100.0);
	std::vector<float> left (300), right (300, 0.0f);
	for (int i = 0; i < 300; ++i)
		left[i] = std::sin (0.1f * i);
	std::vector<float> outL (300), outR (300);
	const float* ins[2] = {left.data (), right.data ()};
	float* outs[2] = {outL.data (), outR.data ()};
	a.process (ins, outs, 2, 300);
	float* inPlace[2] = {left.data (), right.data ()};
	b.process (inPlace, inPlace, 2, 300);
	EXPECT_EQ (std::memcmp (outL.data (), left.data (), 300 * sizeof (float)), 0);
	for (float v : outR)
		EXPECT_EQ (v, 0.0f);
}

TEST (QuillState, RoundTripsAndRefusesWhatItCannotRead)
{
	std::uint8_t bytes[kStateSize];
	encodeState ({0.25, 0.75}, bytes);
	EXPECT_EQ (std::memcmp (bytes, "QUIL\1\0\0\0", 8), 0);
	QuillParams params {};
	ASSERT_TRUE (decodeState (bytes, sizeof bytes, params));
	EXPECT_EQ (params.gain, 0.25);
	EXPECT_EQ (params.tone, 0.75);

	EXPECT_FALSE (decodeState (bytes, sizeof bytes - 1, params)); // short
	std::uint8_t newer[kStateSize];
	std::memcpy (newer, bytes, sizeof bytes);
	newer[4] = 2; // a later version
	EXPECT_FALSE (decodeState (newer, sizeof newer, params));
	newer[4] = 1;
	newer[0] = 'X';
	EXPECT_FALSE (decodeState (newer, sizeof newer, params));

	encodeState ({std::numeric_limits<double>::quiet_NaN (), 0.5}, bytes);
	EXPECT_FALSE (decodeState (bytes, sizeof bytes, params));
	encodeState ({7.0, -3.0}, bytes);
	ASSERT_TRUE (decodeState (bytes, sizeof bytes, params));
	EXPECT_EQ (params.gain, 1.0);
	EXPECT_EQ (params.tone, 0.0);
}
