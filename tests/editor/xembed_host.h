// A host that speaks XEmbed strictly, as some real hosts do: it reads the
// `_XEMBED_INFO` of the window a plug-in creates inside the host's window the
// moment it learns of it, and gives up (such a host exits) when the property
// is missing or already asks to be mapped. It maps the child only when the
// property changes to XEMBED_MAPPED, and then sends the child the XEmbed
// messages embedded notify, window activate and focus in.
#pragma once

#include "x_host.h"

#include <xcb/xcb.h>

#include <atomic>
#include <string>
#include <thread>

namespace QuillMarlowTest {

class XEmbedStrictHost
{
public:
	static constexpr uint32_t kMapped = 1;
	enum Message : uint32_t
	{
		kEmbeddedNotify = 0,
		kWindowActivate = 1,
		kFocusIn = 4
	};

	// Starts watching `hostWindow` for a child on a connection of its own. A
	// thread takes the child's creation as soon as the server reports it and
	// reads the property at once, as a host with an event thread would.
	XEmbedStrictHost (const std::string& display, xcb_window_t hostWindow) : x_ (display), hostWindow_ (hostWindow)
	{
		info_ = x_.atom ("_XEMBED_INFO");
		xembed_ = x_.atom ("_XEMBED");
		const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
		xcb_change_window_attributes (x_.c, hostWindow_, XCB_CW_EVENT_MASK, &mask);
		free (xcb_get_input_focus_reply (x_.c, xcb_get_input_focus (x_.c), nullptr)); // selection in force
		watcher_ = std::thread ([this] { takeCreation (); });
	}
	~XEmbedStrictHost () { stopWatcher (); }

	// The rest of the host's work, on the caller's thread after the plug-in's
	// `attached` returned, as a host that runs its event loop on the thread
	// that calls the plug-in does: the child's property is looked at again,
	// then the host waits for it to ask to be mapped. Returns "" when the
	// child was mapped and told, else why the host would have exited.
	std::string embed (int ms = 5000)
	{
		stopWatcher ();
		if (!child_)
			return "no child window was created in the host window";
		if (!firstInfo_.present)
			return "the child had no _XEMBED_INFO when it was created";
		if (firstInfo_.flags & kMapped)
			return "the child was XEMBED_MAPPED when it was created";
		const Info now = readInfo ();
		if (!now.present || (now.flags & kMapped))
			return "the child's _XEMBED_INFO was missing or XEMBED_MAPPED when the host looked after attached";
		// Looked at first, watched after: any change from now on is the
		// child's answer to being watched.
		const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
		xcb_change_window_attributes (x_.c, child_, XCB_CW_EVENT_MASK, &mask);
		xcb_flush (x_.c);
		const bool mapped = waitFor (
		    [&] {
			    while (xcb_generic_event_t* e = xcb_poll_for_event (x_.c))
			    {
				    auto* p = reinterpret_cast<xcb_property_notify_event_t*> (e);
				    const bool change =
				        (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && p->window == child_ && p->atom == info_;
				    free (e);
				    if (change && (readInfo ().flags & kMapped))
					    return true;
			    }
			    return false;
		    },
		    ms);
		if (!mapped)
			return "the child never asked to be mapped";
		xcb_map_window (x_.c, child_);
		send (kEmbeddedNotify, hostWindow_, 0);
		send (kWindowActivate, 0, 0);
		send (kFocusIn, 0, 0);
		xcb_flush (x_.c);
		return "";
	}

	xcb_window_t child () const { return child_; }

private:
	struct Info
	{
		bool present = false;
		uint32_t version = 0, flags = 0;
	};

	void takeCreation ()
	{
		while (!stop_)
		{
			xcb_generic_event_t* e = xcb_wait_for_event (x_.c);
			if (!e)
				return;
			auto* created = reinterpret_cast<xcb_create_notify_event_t*> (e);
			if ((e->response_type & 0x7f) == XCB_CREATE_NOTIFY && created->parent == hostWindow_ && !child_)
			{
				child_ = created->window;
				firstInfo_ = readInfo ();
				stop_ = true;
			}
			free (e);
		}
	}

	void stopWatcher ()
	{
		if (!watcher_.joinable ())
			return;
		if (!stop_)
		{
			// Wakes the watcher with an event of our own.
			stop_ = true;
			char buffer[32] = {};
			auto* wake = reinterpret_cast<xcb_client_message_event_t*> (buffer);
			wake->response_type = XCB_CLIENT_MESSAGE;
			wake->format = 32;
			wake->window = hostWindow_;
			xcb_send_event (x_.c, 0, hostWindow_, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, buffer);
			xcb_flush (x_.c);
		}
		watcher_.join ();
	}

	Info readInfo ()
	{
		Info info;
		auto* r = xcb_get_property_reply (x_.c, xcb_get_property (x_.c, 0, child_, info_, info_, 0, 2), nullptr);
		if (r && r->format == 32 && xcb_get_property_value_length (r) == 8)
		{
			const auto* v = static_cast<const uint32_t*> (xcb_get_property_value (r));
			info = {true, v[0], v[1]};
		}
		free (r);
		return info;
	}

	void send (uint32_t message, uint32_t data1, uint32_t data2)
	{
		char buffer[32] = {};
		auto* e = reinterpret_cast<xcb_client_message_event_t*> (buffer);
		e->response_type = XCB_CLIENT_MESSAGE;
		e->format = 32;
		e->window = child_;
		e->type = xembed_;
		e->data.data32[0] = XCB_CURRENT_TIME;
		e->data.data32[1] = message;
		e->data.data32[3] = data1;
		e->data.data32[4] = data2;
		xcb_send_event (x_.c, 0, child_, XCB_EVENT_MASK_NO_EVENT, buffer);
	}

	HostDisplay x_;
	xcb_window_t hostWindow_;
	xcb_atom_t info_ = XCB_NONE, xembed_ = XCB_NONE;
	std::thread watcher_;
	std::atomic<bool> stop_ {false};
	xcb_window_t child_ = XCB_NONE; // written by the watcher, read after it ended
	Info firstInfo_;
};

} // namespace QuillMarlowTest
