// The state exchanges through the command slot and the state region: the
// served processor's state (GetState, SetState) and the served controller's
// own state (GetControllerState, SetControllerState). Both travel in the
// one state region, one exchange at a time (the Linux side holds its state
// lock for the whole exchange).
//
// Fields and their writers:
//  - Get*: the Linux side clears stateReady and posts; outpost writes the
//    bytes into stateBuffer, their count into stateSize (0: none; for the
//    controller also "it keeps no state of its own"), the served plug-in's
//    result into parentWindow (answerResult), then stateReady, then
//    acknowledges.
//  - Set*: the Linux side writes the bytes and stateSize, then posts;
//    outpost hands them to the served plug-in and writes its result into
//    parentWindow before it acknowledges. The Linux side reads it once
//    `processed` is back (answeredResult).
//
// A result is the served plug-in's tresult as it gave it, a Windows value;
// hostResult turns it into the same result in the Linux host's values.
#pragma once

#include "protocol/tandem_protocol.h"

#include <cstdint>

namespace Tandem {

// outpost, before acknowledging a state command.
inline void answerResult (UICommand& ui, std::int32_t result)
{
	ui.parentWindow = static_cast<std::uint64_t> (static_cast<std::int64_t> (result));
}

// Linux side, once the command was acknowledged.
inline std::int32_t answeredResult (const UICommand& ui)
{
	return static_cast<std::int32_t> (static_cast<std::int64_t> (ui.parentWindow));
}

// The failures that COM and Linux builds of VST 3 number differently; the
// others (0 for success, 1 for kResultFalse) are the same on both.
inline std::int32_t hostResult (std::int32_t windowsResult)
{
	switch (static_cast<std::uint32_t> (windowsResult))
	{
	case 0x80004002u:
		return -1; // kNoInterface
	case 0x80070057u:
		return 2; // kInvalidArgument
	case 0x80004001u:
		return 3; // kNotImplemented
	case 0x80004005u:
		return 4; // kInternalError
	case 0x8000FFFFu:
		return 5; // kNotInitialized
	case 0x8007000Eu:
		return 6; // kOutOfMemory
	default:
		return windowsResult;
	}
}

} // namespace Tandem
