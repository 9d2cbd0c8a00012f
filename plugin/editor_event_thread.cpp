#include "plugin/editor_event_thread.h"

#include "plugin/sleep_fully.h"
#include "log/log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>

namespace Steinberg {
namespace QuillMarlow {

namespace {

struct FreeEvent
{
	void operator() (xcb_generic_event_t* e) const { free (e); }
};

// Bound on how often the thread takes Wine's window back from whoever moved
// it out of the wrapper, so that two programs never fight forever.
constexpr int kMaxTakeBacks = 10;

// How often the thread looks at outpost's size report.
constexpr auto kSizeReportPeriod = std::chrono::milliseconds (20);

// How often the thread looks for an XEmbed embedder, until it found one.
constexpr auto kEmbedderCheckPeriod = std::chrono::milliseconds (50);

} // namespace

EditorEventThread::EditorEventThread (WindowTree& windows, Client& client) : windows_ (windows), client_ (client) {}

void EditorEventThread::start ()
{
	if (thread_.joinable ())
		return;
	ancestors_ = windows_.hostAncestors ();
	for (uint32 w : ancestors_)
	{
		const uint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
		xcb_change_window_attributes (windows_.connection (), w, XCB_CW_EVENT_MASK, &mask);
	}
	running_ = true;
	thread_ = std::thread (&EditorEventThread::run, this);
	Tandem::logInfo () << "[QuillMarlowView] Started event forwarding thread";
}

void EditorEventThread::stop ()
{
	if (!thread_.joinable ())
		return;
	Tandem::logInfo () << "[QuillMarlowView] Stopping event thread...";
	running_ = false;
	thread_.join ();
	ancestors_.clear ();
}

void EditorEventThread::run ()
{
	static std::atomic<int32> otherEventCount {0};

	Tandem::logInfo () << "[QuillMarlowView] WM event thread started";
	xcb_connection_t* const connection = windows_.connection ();
	const uint32 wrapper = windows_.wrapper ();
	uint32 wine = windows_.wine ();
	const std::vector<uint32>& ancestors = ancestors_;
	int takeBacks = 0;
	auto nextSizeCheck = std::chrono::steady_clock::now ();
	auto nextEmbedderCheck = nextSizeCheck;
	bool askedToMap = false;

	// Events may be stale (queued while the view built the tree): the
	// server's current answer decides whether to act.
	auto wineAtOrigin = [&] (uint32 window) {
		auto* g = xcb_get_geometry_reply (connection, xcb_get_geometry (connection, window), nullptr);
		const bool atOrigin = !g || (g->x == 0 && g->y == 0);
		free (g);
		return atOrigin;
	};
	auto parentOf = [&] (uint32 window) {
		auto* t = xcb_query_tree_reply (connection, xcb_query_tree (connection, window), nullptr);
		const uint32 parent = t ? t->parent : 0;
		free (t);
		return parent;
	};
	auto focusWine = [&] {
		xcb_set_input_focus (connection, XCB_INPUT_FOCUS_PARENT, wine, XCB_CURRENT_TIME);
		xcb_flush (connection);
	};
	auto countOther = [] (int type) {
		const int32 count = otherEventCount.fetch_add (1) + 1;
		if (count % 10 == 0)
			Tandem::logInfo () << "[QuillMarlowView] X11 event type: " << type << " (count: " << count << ")";
	};
	auto editorWidth = [&] { return client_.editorWidth (); };
	auto editorHeight = [&] { return client_.editorHeight (); };

	for (;;)
	{
		if (!running_)
		{
			Tandem::logInfo () << "[QuillMarlowView] WM event thread stopped";
			return;
		}
		if (!connection || windows_.wrapper () == 0)
		{
			Tandem::sleepFully (10);
			continue;
		}
		if (std::chrono::steady_clock::now () >= nextSizeCheck)
		{
			client_.checkSizeReport ();
			client_.followOutpost (wrapper, wine);
			nextSizeCheck = std::chrono::steady_clock::now () + kSizeReportPeriod;
		}
		if (!askedToMap && std::chrono::steady_clock::now () >= nextEmbedderCheck)
		{
			if (windows_.xembed ().embedderWatches (wrapper))
			{
				windows_.xembed ().askEmbedderToMap (wrapper);
				askedToMap = true;
			}
			nextEmbedderCheck = std::chrono::steady_clock::now () + kEmbedderCheckPeriod;
		}
		std::unique_ptr<xcb_generic_event_t, FreeEvent> event (xcb_poll_for_event (connection));
		if (!event)
		{
			Tandem::sleepFully (5);
			continue;
		}
		const bool synthetic = (event->response_type & 0x80) != 0;
		const int type = event->response_type & 0x7F;
		switch (type)
		{
		case XCB_ENTER_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_enter_notify_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] X11 ENTER window 0x" << std::hex << e->event << std::dec
			                   << " mode=" << static_cast<int> (e->mode) << " detail=" << static_cast<int> (e->detail);
			if (e->event == wrapper || e->event == wine)
			{
				windows_.updatePosition (wrapper, wine, editorWidth (), editorHeight (),
				                         "[QuillMarlowView] Position changed on enter: (");
				Tandem::logInfo () << "[QuillMarlowView] Setting focus to Wine window on enter";
				focusWine ();
			}
			break;
		}
		case XCB_LEAVE_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_leave_notify_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] X11 LEAVE window 0x" << std::hex << e->event;
			break;
		}
		case XCB_FOCUS_IN:
		{
			auto* e = reinterpret_cast<xcb_focus_in_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] X11 FOCUS_IN window 0x" << std::hex << e->event << std::dec
			                   << " mode=" << static_cast<int> (e->mode) << " detail=" << static_cast<int> (e->detail);
			if (e->event == wrapper)
			{
				Tandem::logInfo () << "[QuillMarlowView] Redirecting focus to Wine window";
				focusWine ();
			}
			break;
		}
		case XCB_FOCUS_OUT:
		{
			auto* e = reinterpret_cast<xcb_focus_out_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] X11 FOCUS_OUT window 0x" << std::hex << e->event << std::dec
			                   << " mode=" << static_cast<int> (e->mode) << " detail=" << static_cast<int> (e->detail);
			break;
		}
		case XCB_DESTROY_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_destroy_notify_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] DestroyNotify for window 0x" << std::hex << e->window;
			break;
		}
		case XCB_UNMAP_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_unmap_notify_event_t*> (event.get ());
			Tandem::logInfo () << "[QuillMarlowView] UnmapNotify for window 0x" << std::hex << e->window;
			break;
		}
		case XCB_CONFIGURE_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_configure_notify_event_t*> (event.get ());
			if (e->window == wrapper)
			{
				Tandem::logInfo () << "[QuillMarlowView] Wrapper ConfigureNotify: (" << e->x << "," << e->y << ") "
				                   << e->width << "x" << e->height;
				if (windows_.updatePosition (wrapper, wine, e->width, e->height,
				                             "[QuillMarlowView] Position changed: ("))
					xcb_flush (connection);
			}
			else if (e->window == wine && !synthetic && (e->x != 0 || e->y != 0) && !wineAtOrigin (wine))
			{
				// The Windows side moved its window to where it believes it
				// is on the screen; inside the wrapper it belongs at (0, 0).
				Tandem::logInfo () << "[QuillMarlowView] Wine window moved to (" << e->x << "," << e->y
				                   << ") inside the wrapper - moving it back to (0,0)";
				const uint32 origin[] = {0, 0};
				xcb_configure_window (connection, wine, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, origin);
				windows_.updatePosition (wrapper, wine, editorWidth (), editorHeight (), nullptr, true);
				xcb_flush (connection);
			}
			else if (e->window != wine &&
			         std::find (ancestors.begin (), ancestors.end (), e->window) != ancestors.end ())
			{
				// The host's window or one of its ancestors moved: the
				// wrapper moved on the screen without an event of its own.
				if (windows_.updatePosition (wrapper, wine, editorWidth (), editorHeight (),
				                             "[QuillMarlowView] Position changed on host move: ("))
					xcb_flush (connection);
			}
			break;
		}
		case XCB_REPARENT_NOTIFY:
		{
			auto* e = reinterpret_cast<xcb_reparent_notify_event_t*> (event.get ());
			const uint32 current = windows_.wrapper ();
			const uint32 holder = (e->window == wine && current && e->parent != current) ? parentOf (wine) : current;
			if (holder && holder != current && takeBacks < kMaxTakeBacks)
			{
				// Someone else (a window manager) moved Wine's window out
				// of the wrapper while it is embedded: take it back.
				++takeBacks;
				Tandem::logInfo () << "[QuillMarlowView] Wine window was moved to 0x" << std::hex << holder << std::dec
				                   << " - taking it back into the wrapper";
				windows_.reembedWine (current, wine, editorWidth (), editorHeight ());
				break;
			}
			countOther (type);
			break;
		}
		case XCB_CLIENT_MESSAGE:
			if (!windows_.xembed ().handleMessage (*reinterpret_cast<xcb_client_message_event_t*> (event.get ()),
			                                       wrapper, wine, askedToMap))
				countOther (type);
			break;
		default:
			countOther (type);
			break;
		}
	}
}

} // namespace QuillMarlow
} // namespace Steinberg
