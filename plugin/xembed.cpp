#include "plugin/xembed.h"

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

XEmbed::XEmbed (xcb_connection_t* connection) : connection_ (connection)
{
	if (!connection_)
		return;
	static const char kInfo[] = "_XEMBED_INFO";
	static const char kXEmbed[] = "_XEMBED";
	const auto info = xcb_intern_atom (connection_, 0, sizeof (kInfo) - 1, kInfo);
	const auto message = xcb_intern_atom (connection_, 0, sizeof (kXEmbed) - 1, kXEmbed);
	infoAtom_ = intern (connection_, info);
	messageAtom_ = intern (connection_, message);
}

void XEmbed::writeInfo (uint32 window, bool mapped)
{
	if (!infoAtom_)
		return;
	const uint32 info[] = {kXEmbedVersion, mapped ? kXEmbedMapped : 0};
	xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window, infoAtom_, infoAtom_, 32, 2, info);
}

bool XEmbed::embedderWatches (uint32 wrapper)
{
	auto* attrs =
	    xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wrapper), nullptr);
	// We never select property changes on the wrapper: whoever does is
	// waiting for its `_XEMBED_INFO` to change.
	const bool watched = attrs && (attrs->all_event_masks & XCB_EVENT_MASK_PROPERTY_CHANGE);
	free (attrs);
	return watched;
}

void XEmbed::askEmbedderToMap (uint32 wrapper)
{
	writeInfo (wrapper, true);
	xcb_flush (connection_);
	Tandem::logInfo () << "[QuillMarlowView] XEmbed: wrapper 0x" << std::hex << wrapper << std::dec
	                   << " asks its embedder to map it";
}

bool XEmbed::handleMessage (const xcb_client_message_event_t& event, uint32 wrapper, uint32 wine, bool& askedToMap)
{
	if (!messageAtom_ || event.type != messageAtom_ || event.format != 32 || event.window != wrapper)
		return false;
	const uint32 message = event.data.data32[1];
	switch (message)
	{
	case kEmbeddedNotify:
		Tandem::logInfo () << "[QuillMarlowView] XEmbed: embedded by 0x" << std::hex << event.data.data32[3] << std::dec
		                   << " (protocol version " << event.data.data32[4] << ")";
		if (!askedToMap)
		{
			askEmbedderToMap (wrapper);
			askedToMap = true;
		}
		break;
	case kWindowActivate:
	case kFocusIn:
		Tandem::logInfo () << "[QuillMarlowView] XEmbed: " << (message == kFocusIn ? "focus in" : "window activate")
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
