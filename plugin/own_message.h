// A message of the plug-in's own, for hosts that make none: when the host
// context cannot create an IMessage, the processor still tells its
// controller who it is through the connection the host made.
#pragma once

#include "pluginterfaces/vst/ivstmessage.h"

namespace Steinberg {
namespace QuillMarlow {

// A new message with an empty attribute list and one reference, the
// caller's.
Vst::IMessage* newOwnMessage ();

} // namespace QuillMarlow
} // namespace Steinberg
