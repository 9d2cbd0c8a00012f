// What the session test variant of Quill (quill_session.h) was told by its
// host, as it writes it into output channel 0 of a block: the struct's bytes,
// one 32-bit word per sample. Free of Win32 and VST 3 types so that the
// Linux tests read it with the same code the plug-in writes it with.
#pragma once

#include <cstdint>
#include <cstring>

namespace Quill {

constexpr std::uint32_t kSessionReportMagic = 0x51534E31;

// Fields ordered so that no padding sits between them: the layout is the same
// for mingw-w64 and for the Linux compilers.
struct SessionReport
{
	std::uint32_t magic;
	// Calls so far.
	std::uint32_t setups;           // setupProcessing
	std::uint32_t activations;      // setActive(true)
	std::uint32_t deactivations;    // setActive(false)
	std::uint32_t processingStarts; // setProcessing(true)
	std::uint32_t processingStops;  // setProcessing(false)
	std::uint32_t processing;       // 1 between setProcessing(true) and (false)
	// The last ProcessSetup.
	std::int32_t setupMaxBlock;
	std::int32_t setupMode;
	std::int32_t setupSampleSize;
	double setupRate;
	// This block.
	std::int32_t blockMode;
	std::int32_t numSamples;
	std::uint32_t hasContext;
	// This block's ProcessContext; zero when the block came without one.
	std::uint32_t contextState;
	double sampleRate;
	std::int64_t projectTimeSamples;
	std::int64_t systemTime;
	std::int64_t continousTimeSamples;
	double projectTimeMusic;
	double barPositionMusic;
	double cycleStartMusic;
	double cycleEndMusic;
	double tempo;
	std::int32_t timeSigNumerator;
	std::int32_t timeSigDenominator;
	// silenceFlags of input bus 0 (0 without one).
	std::uint64_t inputSilenceFlags;
};

static_assert (sizeof (float) == 4, "one 32-bit word per sample");
static_assert (sizeof (SessionReport) == 152, "a padded field would move every word after it");
static_assert (sizeof (SessionReport) % 4 == 0, "a report fills whole samples");

// Samples a block needs to carry a report.
constexpr std::int32_t kSessionReportSamples = static_cast<std::int32_t> (sizeof (SessionReport) / 4);

// `channel` must hold kSessionReportSamples samples.
inline void writeReport (const SessionReport& report, float* channel)
{
	std::memcpy (channel, &report, sizeof report);
}

// False when the block is too short for a report or does not carry one.
inline bool readReport (const float* channel, std::int32_t samples, SessionReport& out)
{
	if (!channel || samples < kSessionReportSamples)
		return false;
	SessionReport report;
	std::memcpy (&report, channel, sizeof report);
	if (report.magic != kSessionReportMagic)
		return false;
	out = report;
	return true;
}

} // namespace Quill
