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
#include "plugin/window_tree.h"

#include "log/log.h"

#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr uint32 kXEmbedVersion = 0;
constexpr uint32 kXEmbedMapped = 1 << 0;

// Messages of the embedder (data[1] of an `_XEMBED` client message).
enum XEmbedMessage : uint32
{
	kEmbeddedNotify = 0,
	kWindowActivate = 1,
	kWindowDeactivate = 2,
	kFocusIn = 4,
	kFocusOut = 5,
};

xcb_atom_t intern (xcb_connection_t* c, xcb_intern_atom_cookie_t cookie)
{
	auto* reply = xcb_intern_atom_reply (c, cookie, nullptr);
	const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
	free (reply);
	return atom;
}

} // namespace

void WindowTree::internXEmbedAtoms ()
{
	static const char kInfo[] = "_XEMBED_INFO";
	static const char kXEmbed[] = "_XEMBED";
	const auto info = xcb_intern_atom (connection_, 0, sizeof (kInfo) - 1, kInfo);
	const auto message = xcb_intern_atom (connection_, 0, sizeof (kXEmbed) - 1, kXEmbed);
	xembedInfoAtom_ = intern (connection_, info);
	xembedAtom_ = intern (connection_, message);
}

void WindowTree::writeXEmbedInfo (uint32 window, bool mapped)
{
	if (!xembedInfoAtom_)
		return;
	const uint32 info[] = {kXEmbedVersion, mapped ? kXEmbedMapped : 0};
	xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window, xembedInfoAtom_, xembedInfoAtom_, 32, 2, info);
}

bool WindowTree::embedderWatches (uint32 wrapper)
{
	auto* attrs = xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wrapper),
	                                               nullptr);
	// We never select property changes on the wrapper: whoever does is
	// waiting for its `_XEMBED_INFO` to change.
	const bool watched = attrs && (attrs->all_event_masks & XCB_EVENT_MASK_PROPERTY_CHANGE);
	free (attrs);
	return watched;
}

void WindowTree::askEmbedderToMap (uint32 wrapper)
{
	writeXEmbedInfo (wrapper, true);
	xcb_flush (connection_);
	Tandem::logInfo () << "[QuillMarlowView] XEmbed: wrapper 0x" << std::hex << wrapper << std::dec
	                   << " asks its embedder to map it";
}

bool WindowTree::handleXEmbedMessage (const xcb_client_message_event_t& event, uint32 wrapper, uint32 wine,
                                           bool& askedToMap)
{
	if (!xembedAtom_ || event.type != xembedAtom_ || event.format != 32 || event.window != wrapper)
		return false;
	const uint32 message = event.data.data32[1];
	switch (message)
	{
		case kEmbeddedNotify:
			Tandem::logInfo () << "[QuillMarlowView] XEmbed: embedded by 0x" << std::hex << event.data.data32[3]
			                   << std::dec << " (protocol version " << event.data.data32[4] << ")";
			if (!askedToMap)
			{
				askEmbedderToMap (wrapper);
				askedToMap = true;
			}
			break;
		case kWindowActivate:
		case kFocusIn:
			Tandem::logInfo () << "[QuillMarlowView] XEmbed: "
			                   << (message == kFocusIn ? "focus in" : "window activate")
			                   << " - setting focus to Wine window";
			xcb_set_input_focus (connection_, XCB_INPUT_FOCUS_PARENT, wine, XCB_CURRENT_TIME);
			xcb_flush (connection_);
			break;
		case kWindowDeactivate:
		case kFocusOut:
			Tandem::logInfo () << "[QuillMarlowView] XEmbed: "
			                   << (message == kFocusOut ? "focus out" : "window deactivate");
			break;
		default:
			Tandem::logInfo () << "[QuillMarlowView] XEmbed: message " << message << " ignored";
			break;
	}
	return true;
}

} // namespace QuillMarlow
} // namespace Steinberg
