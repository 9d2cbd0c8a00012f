// The served controller's structures in the parameter region, byte for
// byte: both programs compile VST 3's ParameterInfo, UnitInfo and
// ProgramListInfo with the same layout, checked here on each side. A text
// read from the region is cut to its array and always ends in a zero: the
// other process may have left it without one.
#pragma once

#include "protocol/parameter_data.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <cstddef>
#include <cstring>

namespace Tandem {

static_assert (sizeof (Steinberg::Vst::TChar) == 2, "String128 layout");
static_assert (sizeof (Steinberg::Vst::String128) == 2 * kTextLength, "String128 layout");
static_assert (sizeof (Steinberg::Vst::ParameterInfo) == kParameterInfoSize, "ParameterInfo layout");
static_assert (offsetof (Steinberg::Vst::ParameterInfo, title) == 4, "ParameterInfo layout");
static_assert (offsetof (Steinberg::Vst::ParameterInfo, stepCount) == 772, "ParameterInfo layout");
static_assert (offsetof (Steinberg::Vst::ParameterInfo, defaultNormalizedValue) == 776, "ParameterInfo layout");
static_assert (offsetof (Steinberg::Vst::ParameterInfo, flags) == 788, "ParameterInfo layout");
static_assert (sizeof (Steinberg::Vst::UnitInfo) == kUnitInfoSize, "UnitInfo layout");
static_assert (offsetof (Steinberg::Vst::UnitInfo, programListId) == 264, "UnitInfo layout");
static_assert (sizeof (Steinberg::Vst::ProgramListInfo) == kProgramListInfoSize, "ProgramListInfo layout");
static_assert (offsetof (Steinberg::Vst::ProgramListInfo, programCount) == 260, "ProgramListInfo layout");

// Ends `text` within its kTextLength characters; true when it had no end.
template <typename Char>
bool terminateText (Char* text)
{
	static_assert (sizeof (Char) == 2, "UTF-16 text");
	for (std::int32_t i = 0; i < kTextLength; ++i)
		if (text[i] == 0)
			return false;
	text[kTextLength - 1] = 0;
	return true;
}

// Copies a text between the region and VST 3's String128, ended either
// way; true when it had no end.
template <typename To, typename From>
bool copyText (To* to, const From* from)
{
	static_assert (sizeof (To) == 2 && sizeof (From) == 2, "UTF-16 text");
	std::memcpy (to, from, 2 * kTextLength);
	return terminateText (to);
}

// A ParameterInfo read from the region, its texts ended; true when one of
// them had no end.
inline bool readParameterInfo (const std::uint8_t* bytes, Steinberg::Vst::ParameterInfo& info)
{
	std::memcpy (&info, bytes, sizeof info);
	const bool a = terminateText (info.title), b = terminateText (info.shortTitle), c = terminateText (info.units);
	return a || b || c;
}

inline void readUnitInfo (const std::uint8_t* bytes, Steinberg::Vst::UnitInfo& info)
{
	std::memcpy (&info, bytes, sizeof info);
	terminateText (info.name);
}

inline void readProgramListInfo (const std::uint8_t* bytes, Steinberg::Vst::ProgramListInfo& info)
{
	std::memcpy (&info, bytes, sizeof info);
	terminateText (info.name);
}

} // namespace Tandem
