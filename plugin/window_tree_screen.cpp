// Where the editor's windows are, as the X server says: the wrapper's place
// on the screen told to Wine's window, the host window's ancestors whose
// moves move it, and the hierarchy as logged after it was built; and what
// the wrapper shows while Wine's window is gone.
#include "plugin/window_tree.h"

#include "log/log.h"

#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

bool WindowTree::updatePosition (uint32 wrapper, uint32 wine, uint16 width, uint16 height, const char* prefix,
                                 bool always)
{
	if (!connection_ || !wrapper)
		return false;
	int16 x = 0, y = 0;
	if (!absolutePosition (wrapper, x, y))
		return false;
	const uint32 last = lastPosition_.load (std::memory_order_relaxed);
	const int16 oldX = static_cast<int16> (last & 0xFFFF), oldY = static_cast<int16> (last >> 16);
	const bool moved = x != oldX || y != oldY;
	if (!moved && !always)
		return false;
	if (moved && prefix)
		Tandem::logInfo () << prefix << oldX << "," << oldY << ") -> (" << x << "," << y << ")";
	lastPosition_.store (static_cast<uint16> (x) | (static_cast<uint32> (static_cast<uint16> (y)) << 16),
	                     std::memory_order_relaxed);
	sendConfigureNotify (wine, x, y, width, height);
	return true;
}

bool WindowTree::absolutePosition (uint32 wrapper, int16& x, int16& y)
{
	auto* geometry = xcb_get_geometry_reply (connection_, xcb_get_geometry (connection_, wrapper), nullptr);
	if (!geometry)
		return false;
	const xcb_window_t root = geometry->root;
	free (geometry);
	auto* translated = xcb_translate_coordinates_reply (
	    connection_, xcb_translate_coordinates (connection_, wrapper, root, 0, 0), nullptr);
	if (!translated)
		return false;
	x = translated->dst_x;
	y = translated->dst_y;
	free (translated);
	return true;
}

void WindowTree::sendConfigureNotify (uint32 target, int16 x, int16 y, uint16 width, uint16 height)
{
	// xcb_send_event always sends 32 bytes; the event struct is shorter.
	char buffer[32] = {};
	auto* event = reinterpret_cast<xcb_configure_notify_event_t*> (buffer);
	event->response_type = XCB_CONFIGURE_NOTIFY;
	event->event = target;
	event->window = target;
	event->above_sibling = XCB_NONE;
	event->x = x;
	event->y = y;
	event->width = width;
	event->height = height;
	event->border_width = 0;
	event->override_redirect = 0;
	xcb_send_event (connection_, 0, target, XCB_EVENT_MASK_STRUCTURE_NOTIFY, buffer);
	Tandem::logInfo () << "[QuillMarlowView] Sent ConfigureNotify to 0x" << std::hex << target << std::dec << " pos=("
	                   << x << "," << y << ") size=" << width << "x" << height;
}

std::vector<uint32> WindowTree::hostAncestors () const
{
	std::vector<uint32> windows;
	uint32 window = static_cast<uint32> (parentWindow_);
	// Bounded: a window tree is shallow, and the server could be hostile.
	for (int depth = 0; depth < 32 && window && window != screen_->root; ++depth)
	{
		windows.push_back (window);
		auto* tree = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, window), nullptr);
		if (!tree)
			break;
		window = tree->parent;
		free (tree);
	}
	return windows;
}

void WindowTree::debugHierarchy ()
{
	if (!connection_)
		return;
	const uint32 wrapper = this->wrapper ();
	const uint32 wine = this->wine ();
	Tandem::logInfo () << "[QuillMarlowView] === DEBUG: Window Hierarchy ===";

	if (auto* g = xcb_get_geometry_reply (connection_, xcb_get_geometry (connection_, wrapper), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wrapper: pos=(" << g->x << "," << g->y << ") size=" << g->width << "x"
		                   << g->height;
		free (g);
	}
	if (auto* t = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wrapper), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wrapper parent: 0x" << std::hex << t->parent << " (should be DAW 0x"
		                   << parentWindow_ << ")";
		if (t->parent != static_cast<uint32> (parentWindow_))
			Tandem::logError () << "[QuillMarlowView] ERROR: Wrapper parent is NOT the DAW window!";
		free (t);
	}
	if (auto* a =
	        xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wrapper), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wrapper map_state: " << static_cast<int> (a->map_state)
		                   << " (0=Unmapped, 1=Unviewable, 2=Viewable)";
		free (a);
	}

	if (auto* g = xcb_get_geometry_reply (connection_, xcb_get_geometry (connection_, wine), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wine: pos=(" << g->x << "," << g->y << ") size=" << g->width << "x"
		                   << g->height;
		free (g);
	}
	if (auto* t = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wine), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wine window parent: 0x" << std::hex << t->parent
		                   << " (should be wrapper 0x" << wrapper << ")";
		if (t->parent != wrapper)
			Tandem::logError () << "[QuillMarlowView] ERROR: Wine window parent is NOT the wrapper!";
		free (t);
	}

	if (wmStateAtom_)
	{
		auto* p = xcb_get_property_reply (
		    connection_, xcb_get_property (connection_, 0, wine, wmStateAtom_, wmStateAtom_, 0, 2), nullptr);
		if (p && p->type != XCB_NONE && xcb_get_property_value_length (p) > 0)
		{
			uint32 state = 0;
			std::memcpy (&state, xcb_get_property_value (p), sizeof (state));
			Tandem::logInfo () << "[QuillMarlowView] Wine WM_STATE: " << state << " (1=Normal, 3=Iconic)";
		}
		else
		{
			Tandem::logInfo () << "[QuillMarlowView] Wine WM_STATE: NOT SET";
		}
		free (p);
	}

	if (auto* a = xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wine), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] Wine map_state: " << static_cast<int> (a->map_state)
		                   << " (0=Unmapped, 1=Unviewable, 2=Viewable)";
		Tandem::logInfo () << "[QuillMarlowView] Wine override_redirect: " << static_cast<int> (a->override_redirect);
		free (a);
	}
	Tandem::logInfo () << "[QuillMarlowView] === END DEBUG ===";
}

void WindowTree::drawNotice (uint32 wrapper, const char* text)
{
	if (!connected () || !wrapper)
		return;
	if (!noticeGc_)
	{
		static const char kFont[] = "fixed";
		const uint32 font = xcb_generate_id (connection_);
		xcb_open_font (connection_, font, sizeof (kFont) - 1, kFont);
		noticeGc_ = xcb_generate_id (connection_);
		const uint32 values[] = {screen_->white_pixel, kWrapperBackground, font};
		xcb_create_gc (connection_, noticeGc_, wrapper, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, values);
		xcb_close_font (connection_, font);
	}
	xcb_clear_area (connection_, 0, wrapper, 0, 0, 0, 0);
	xcb_image_text_8 (connection_, static_cast<uint8_t> (std::strlen (text)), wrapper, noticeGc_, 16, 24, text);
	xcb_flush (connection_);
}

} // namespace QuillMarlow
} // namespace Steinberg
