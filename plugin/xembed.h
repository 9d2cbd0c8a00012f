// The XEmbed side of the wrapper window. A host that passes an X11 window to
// a plug-in may speak XEmbed: it reads the `_XEMBED_INFO` of the window the
// plug-in creates inside its own as soon as it learns of it, maps that window
// when the property asks for it (XEMBED_MAPPED), and then talks to it with
// `_XEMBED` client messages. Some such hosts give up on a child without the
// property, or on one that is already marked mapped when they first look.
//
// So the wrapper is born carrying version 0 with no flags, and asks to be
// mapped only once an embedder is known to follow it: when a client other
// than us watches the wrapper's properties (how an embedder learns of the
// flag's change), or when the embedder tells us we are embedded. We map the
// wrapper ourselves as well, for hosts that do not speak XEmbed.
#pragma once

#include "pluginterfaces/base/ftypes.h"

#include <xcb/xcb.h>

namespace Steinberg {
namespace QuillMarlow {

class XEmbed
{
public:
	// Interns the protocol's atoms on `connection` (none without one).
	explicit XEmbed (xcb_connection_t* connection);

	// Sets the window's `_XEMBED_INFO`: version 0, XEMBED_MAPPED or no flag.
	void writeInfo (uint32 window, bool mapped);
	// True when another client watches the wrapper's properties: an embedder.
	bool embedderWatches (uint32 wrapper);
	void askEmbedderToMap (uint32 wrapper);
	// Answers an `_XEMBED` message of the embedder; false for other messages.
	// `askedToMap` is the event thread's record of having set XEMBED_MAPPED.
	bool handleMessage (const xcb_client_message_event_t& event, uint32 wrapper, uint32 wine, bool& askedToMap);

private:
	xcb_connection_t* connection_;
	// XCB_NONE when the server did not answer.
	uint32 infoAtom_ = 0;
	uint32 messageAtom_ = 0;
};

} // namespace QuillMarlow
} // namespace Steinberg
