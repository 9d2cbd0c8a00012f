// The served controller's note structures in the MIDI field's payload,
// byte for byte: both programs compile VST 3's NoteExpressionTypeInfo,
// KeyswitchInfo and PhysicalUIMap with the same layout, checked here on
// each side. Texts read from the payload are ended within their arrays.
#pragma once

#include "protocol/midi_controller_data.h"
#include "protocol/parameter_layout.h"

#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/ivstphysicalui.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Tandem {

static_assert (sizeof (Steinberg::Vst::NoteExpressionTypeInfo) == kNoteExpressionTypeInfoSize,
               "NoteExpressionTypeInfo layout");
static_assert (offsetof (Steinberg::Vst::NoteExpressionTypeInfo, unitId) == 772, "NoteExpressionTypeInfo layout");
static_assert (offsetof (Steinberg::Vst::NoteExpressionTypeInfo, flags) == 812, "NoteExpressionTypeInfo layout");
static_assert (sizeof (Steinberg::Vst::KeyswitchInfo) == kKeyswitchInfoSize, "KeyswitchInfo layout");
static_assert (offsetof (Steinberg::Vst::KeyswitchInfo, keyswitchMin) == 516, "KeyswitchInfo layout");
static_assert (sizeof (Steinberg::Vst::PhysicalUIMap) == kPhysicalUIMapSize, "PhysicalUIMap layout");
static_assert (kNoteExpressionTypeInfoSize <= kMidiPayloadSize && kKeyswitchInfoSize <= kMidiPayloadSize,
               "the payload holds one info");

// A result of the served plug-in as the Linux side's SDK spells it: the
// Windows SDK uses COM's codes for its errors. 0 and 1 (ok, false) are
// the same on both; a code neither knows is a plain false.
inline Steinberg::tresult resultOnThisSide (std::int32_t served)
{
#if defined(_WIN32)
	return served;
#else
	switch (static_cast<std::uint32_t> (served))
	{
	case 0:
		return Steinberg::kResultOk;
	case 1:
		return Steinberg::kResultFalse;
	case 0x80004002u:
		return Steinberg::kNoInterface;
	case 0x80070057u:
		return Steinberg::kInvalidArgument;
	case 0x80004001u:
		return Steinberg::kNotImplemented;
	case 0x80004005u:
		return Steinberg::kInternalError;
	case 0x8000FFFFu:
		return Steinberg::kNotInitialized;
	case 0x8007000Eu:
		return Steinberg::kOutOfMemory;
	default:
		return Steinberg::kResultFalse;
	}
#endif
}

inline void writeNoteExpressionInfo (MidiControllerData& data, const Steinberg::Vst::NoteExpressionTypeInfo& info)
{
	std::memcpy (data.payload, &info, sizeof info);
}

inline void readNoteExpressionInfo (const MidiControllerData& data, Steinberg::Vst::NoteExpressionTypeInfo& info)
{
	std::memcpy (&info, data.payload, sizeof info);
	terminateText (info.title);
	terminateText (info.shortTitle);
	terminateText (info.units);
}

inline void writeKeyswitchInfo (MidiControllerData& data, const Steinberg::Vst::KeyswitchInfo& info)
{
	std::memcpy (data.payload, &info, sizeof info);
}

inline void readKeyswitchInfo (const MidiControllerData& data, Steinberg::Vst::KeyswitchInfo& info)
{
	std::memcpy (&info, data.payload, sizeof info);
	terminateText (info.title);
	terminateText (info.shortTitle);
}

} // namespace Tandem
