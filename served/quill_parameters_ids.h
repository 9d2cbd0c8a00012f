// What the parameters test variant of Quill (quill_parameters.h) and the
// flood variant (quill_flood.h) publish: ids, flags, defaults, strings, their
// state and how they sound. Free of Win32 and VST 3 types so that the Linux
// tests check what a host sees with the plug-in's own numbers.
//
// Parameters variant, one object with units and a program list:
//   0 Gain     root unit, sample-accurate: sample i is multiplied by the
//              value (as float) of the last change point at or before i, a
//              step, no ramp; plain = normalized.
//   1 Tone     root unit, no effect on the sound; plain 20 * 1000^v Hz.
//   2 Bypass   two steps, the host's bypass: on, the output is the input.
//   3 Meter    read-only: each block of at least one sample reports the peak
//              of input channel 0 (clamped to 0..1) at its last sample.
//   4 Mode     list in unit 1; step Hard retitles Gain to "Drive" ("Drv")
//              with restartComponent(kParamTitlesChanged).
//   5 Program  list in unit 1, the program change of program list 7.
//   6 Hidden   hidden and read-only.
//   7 Edit     setting it on (from the controller) plays an editor's drag of
//              Gain to the host's component handler: startGroupEdit,
//              beginEdit, performEdit 0.25 and 0.5, endEdit, finishGroupEdit,
//              setDirty(true); Gain is then 0.5 and Edit back off.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Quill {

// Named apart from Quill's own kGainId and kToneId (quill_dsp.h), which a
// test may include beside this.
enum ParametersId : std::uint32_t
{
	kParamGain = 0,
	kParamTone = 1,
	kParamBypass = 2,
	kParamMeter = 3,
	kParamMode = 4,
	kParamProgram = 5,
	kParamHidden = 6,
	kParamEdit = 7,
	kParametersCount = 8
};

// The values of ParameterInfo::flags, as the VST 3 headers define them.
constexpr std::int32_t kFlagCanAutomate = 1 << 0;
constexpr std::int32_t kFlagReadOnly = 1 << 1;
constexpr std::int32_t kFlagList = 1 << 3;
constexpr std::int32_t kFlagHidden = 1 << 4;
constexpr std::int32_t kFlagProgramChange = 1 << 15;
constexpr std::int32_t kFlagBypass = 1 << 16;

struct ParametersInfo
{
	const char* title;
	const char* shortTitle;
	const char* units;
	std::int32_t stepCount;
	double defaultValue;
	std::int32_t flags;
	std::int32_t unitId;
};

// Indexed by id; Gain's titles change with the mode (see below).
constexpr ParametersInfo kParametersInfo[kParametersCount] = {
    {"Gain", "Gain", "x", 0, 1.0, kFlagCanAutomate, 0},
    {"Tone", "Tone", "Hz", 0, 0.5, kFlagCanAutomate, 0},
    {"Bypass", "Bypass", "", 1, 0.0, kFlagCanAutomate | kFlagBypass, 0},
    {"Meter", "Meter", "", 0, 0.0, kFlagReadOnly, 0},
    {"Mode", "Mode", "", 2, 0.0, kFlagCanAutomate | kFlagList, 1},
    {"Program", "Program", "", 2, 0.0, kFlagCanAutomate | kFlagList | kFlagProgramChange, 1},
    {"Hidden", "Hidden", "", 0, 0.25, kFlagHidden | kFlagReadOnly, 0},
    {"Edit", "Edit", "", 1, 0.0, kFlagCanAutomate, 0},
};

// Gain's titles while the mode is Hard.
constexpr const char* kDriveTitle = "Drive";
constexpr const char* kDriveShortTitle = "Drv";

// A stepped value's step: the nearest one, so that Hard starts at 0.75.
inline int parameterStep (double normalized, int stepCount)
{
	if (!(normalized >= 0.0))
		return 0; // also catches NaN
	if (normalized >= 1.0)
		return stepCount;
	return static_cast<int> (std::lround (normalized * stepCount));
}

constexpr int kModeSoft = 0;
constexpr int kModeWarm = 1;
constexpr int kModeHard = 2;
constexpr const char* kModeNames[3] = {"Soft", "Warm", "Hard"};
constexpr const char* kProgramNames[3] = {"Init", "Bright", "Dark"};

inline bool driveTitled (double mode)
{
	return parameterStep (mode, 2) == kModeHard;
}
inline bool bypassed (double bypass)
{
	return bypass >= 0.5;
}

// Tone: 20 Hz .. 20 kHz.
inline double parametersToneHz (double normalized)
{
	return 20.0 * std::pow (1000.0, normalized);
}

// The drag that switching Edit on plays, and Gain after it.
constexpr double kEditDragFirst = 0.25;
constexpr double kEditDragLast = 0.5;

// Units and the program list behind Program.
constexpr std::int32_t kRootUnit = 0;
constexpr std::int32_t kCharacterUnit = 1;
constexpr std::int32_t kCharacterProgramList = 7;
constexpr std::int32_t kCharacterProgramCount = 3;
constexpr const char* kRootUnitName = "Root";
constexpr const char* kCharacterUnitName = "Character";
constexpr const char* kCharacterProgramListName = "Characters";

// The state, component and controller alike: the values of these ids as
// float64, little-endian, nothing else.
constexpr std::uint32_t kParametersStateIds[5] = {kParamGain, kParamTone, kParamBypass, kParamMode, kParamProgram};
constexpr std::size_t kParametersStateSize = sizeof kParametersStateIds / sizeof kParametersStateIds[0] * 8;

inline void encodeParametersState (const double (&values)[kParametersCount], std::uint8_t (&out)[kParametersStateSize])
{
	std::size_t at = 0;
	for (std::uint32_t id : kParametersStateIds)
	{
		std::uint64_t bits = 0;
		std::memcpy (&bits, &values[id], 8);
		for (int b = 0; b < 8; ++b)
			out[at++] = static_cast<std::uint8_t> (bits >> (8 * b));
	}
}

// Sets the saved ids in `values` and leaves the others; a value that is not
// a number refuses the whole state, one outside 0..1 is clamped.
inline bool decodeParametersState (const std::uint8_t* data, std::size_t size, double (&values)[kParametersCount])
{
	if (!data || size < kParametersStateSize)
		return false;
	double decoded[5] = {};
	for (std::size_t i = 0; i < 5; ++i)
	{
		std::uint64_t bits = 0;
		for (int b = 0; b < 8; ++b)
			bits |= static_cast<std::uint64_t> (data[i * 8 + b]) << (8 * b);
		std::memcpy (&decoded[i], &bits, 8);
		if (!std::isfinite (decoded[i]))
			return false;
	}
	for (std::size_t i = 0; i < 5; ++i)
		values[kParametersStateIds[i]] = decoded[i] < 0.0 ? 0.0 : (decoded[i] > 1.0 ? 1.0 : decoded[i]);
	return true;
}

// Flood variant: far more parameters than a host expects, every title,
// short title and units filled to the last of its 128 characters without a
// terminating zero, and one string that never comes back.
constexpr std::int32_t kFloodParameterCount = 100000;
constexpr double kFloodDefault = 0.5;
constexpr char16_t kFloodTitleChar = u'P';
constexpr char16_t kFloodShortTitleChar = u'S';
constexpr char16_t kFloodUnitsChar = u'U';
// getParamStringByValue(kFloodHangId, kFloodHangValue) does not return.
constexpr std::uint32_t kFloodHangId = 1;
constexpr double kFloodHangValue = 0.75;

} // namespace Quill
