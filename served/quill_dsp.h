// Quill's signal path: a one-pole low-pass ("tone") followed by a gain stage.
//
// Header-only and free of Win32 and VST 3 types, so the plug-in, the Windows
// tests and the native tests all compile the very same code and can compute
// the expected output of a block sample for sample.
#pragma once

#include <cmath>
#include <cstdint>

namespace Quill {

// Parameter ids as the controller publishes them.
enum ParamId : std::uint32_t
{
	kGainId = 0,
	kToneId = 1,
	kParamCount = 2
};

// Gain: normalized 0..1 maps linearly to -24..+12 dB.
constexpr double kGainMinDb = -24.0;
constexpr double kGainMaxDb = 12.0;
constexpr double kDefaultGain = 0.5; // -6 dB

// Tone: normalized 0..1 maps exponentially to a cut-off of 200 Hz..20 kHz.
constexpr double kToneMinHz = 200.0;
constexpr double kToneMaxHz = 20000.0;
constexpr double kDefaultTone = 0.7; // about 5 kHz

// Channels the filter keeps state for; a bridge may hand up to eight.
constexpr int kDspMaxChannels = 8;

inline double clampNormalized (double value)
{
	if (!(value >= 0.0))
		return 0.0; // also catches NaN
	return value > 1.0 ? 1.0 : value;
}

inline double gainDb (double normalized)
{
	return kGainMinDb + (kGainMaxDb - kGainMinDb) * clampNormalized (normalized);
}

inline double toneHz (double normalized)
{
	return kToneMinHz * std::pow (kToneMaxHz / kToneMinHz, clampNormalized (normalized));
}

class QuillDsp
{
public:
	// Sets the sample rate and clears the filter memory.
	void prepare (double sampleRate)
	{
		sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
		updateCoefficient ();
		reset ();
	}

	void reset ()
	{
		for (float& z : state_)
			z = 0.0f;
	}

	void setGain (double normalized)
	{
		gain_ = clampNormalized (normalized);
		gainFactor_ = static_cast<float> (std::pow (10.0, gainDb (gain_) / 20.0));
	}

	void setTone (double normalized)
	{
		tone_ = clampNormalized (normalized);
		updateCoefficient ();
	}

	double gain () const { return gain_; }
	double tone () const { return tone_; }

	// Processes numChannels channels of numSamples samples; input and output
	// may be the same buffers. Channels beyond kDspMaxChannels are silenced.
	// Never allocates.
	void process (const float* const* in, float* const* out, int numChannels, int numSamples)
	{
		for (int c = 0; c < numChannels; ++c)
		{
			if (c >= kDspMaxChannels)
			{
				for (int i = 0; i < numSamples; ++i)
					out[c][i] = 0.0f;
				continue;
			}
			float z = state_[c];
			const float* src = in[c];
			float* dst = out[c];
			for (int i = 0; i < numSamples; ++i)
			{
				z += coefficient_ * (src[i] - z);
				dst[i] = gainFactor_ * z;
			}
			// Keep the filter memory out of the denormal range on silence.
			if (std::fabs (z) < 1e-30f)
				z = 0.0f;
			state_[c] = z;
		}
	}

private:
	void updateCoefficient ()
	{
		const double pi = 3.14159265358979323846;
		coefficient_ = static_cast<float> (1.0 - std::exp (-2.0 * pi * toneHz (tone_) / sampleRate_));
	}

	double sampleRate_ = 48000.0;
	double gain_ = kDefaultGain;
	double tone_ = kDefaultTone;
	float gainFactor_ = static_cast<float> (std::pow (10.0, gainDb (kDefaultGain) / 20.0));
	float coefficient_ = 0.0f;
	float state_[kDspMaxChannels] = {};
};

} // namespace Quill
