#include "plugin/window_tree.h"

#include "plugin/sleep_fully.h"
#include "log/log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr uint32 kWrapperEventMask = XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW |
                                     XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
static_assert (kWrapperEventMask == 0x220030, "wrapper event selection");

// How long a window manager gets to give Wine's window back after we unmap it.
constexpr int kWithdrawPolls = 200;
// How long a window manager gets to show Wine's window at the top level.
constexpr int kShowPolls = 50;

} // namespace

WindowTree::WindowTree ()
{
	xcb_connection_t* c = xcb_connect (nullptr, nullptr);
	if (xcb_connection_has_error (c))
	{
		Tandem::logError () << "[QuillMarlowView] Failed to connect to X11 display!";
		// A failed connection is still an allocated object; it is not used.
		xcb_disconnect (c);
		return;
	}
	connection_ = c;
	Tandem::logInfo () << "[QuillMarlowView] Connected to X11 display";
	screen_ = xcb_setup_roots_iterator (xcb_get_setup (connection_)).data;
	xembed_ = XEmbed (connection_);
}

WindowTree::~WindowTree ()
{
	const uint32 wrapper = this->wrapper ();
	if (wrapper && connection_)
	{
		// The window is Wine's: it goes back to the root, unmapped so that
		// no window manager adopts it, and the editor stays until outpost
		// hides it.
		if (wineWindow_ && screen_)
		{
			const uint32 wine = this->wine ();
			xcb_unmap_window (connection_, wine);
			xcb_reparent_window (connection_, wine, screen_->root, 0, 0);
			// Wait until the server has done it: when we disconnect, the
			// server may drop our connection before reading requests still
			// in the socket, and the wrapper would go with Wine's window in it.
			sync ();
		}
		Tandem::logInfo () << "[QuillMarlowView] Destroying wrapper window...";
		xcb_destroy_window (connection_, wrapper);
		xcb_flush (connection_);
		wrapperWindow_ = 0;
	}
	if (connection_)
		xcb_disconnect (connection_);
}

void WindowTree::releaseWine ()
{
	if (wineWindow_ && connection_ && screen_)
	{
		const uint32 wine = this->wine ();
		// Unmapped first: a mapped window handed to the root is adopted by
		// the window manager. WM_STATE stays as it is until Wine has hidden
		// the window: Wine hiding a window that it still takes for mapped
		// waits up to two seconds for WM_STATE to come back, and its main
		// thread (every command to outpost) with it. The next show removes it.
		xcb_unmap_window (connection_, wine);
		Tandem::logInfo () << "[QuillMarlowView] Reparenting Wine window to root...";
		xcb_reparent_window (connection_, wine, screen_->root, 0, 0);
		xcb_flush (connection_);
		// Done before the wrapper can go: a release right after this call
		// disconnects, and the server may drop a closed connection before it
		// has carried out the requests still queued.
		sync ();
	}
}

void WindowTree::destroyWrapper ()
{
	const uint32 wrapper = this->wrapper ();
	if (wrapper && connection_)
	{
		Tandem::logInfo () << "[QuillMarlowView] Destroying wrapper window...";
		xcb_destroy_window (connection_, wrapper);
		xcb_flush (connection_);
		// Gone when we return: the host may look at its window's children,
		// or attach a new view, at once.
		sync ();
		wrapperWindow_ = 0;
	}
	wineWindow_ = 0;
	parentWindow_ = 0;
}

bool WindowTree::createWrapper (int32 width, int32 height)
{
	if (!connection_ || !screen_ || !wineWindow_ || !parentWindow_)
	{
		Tandem::logError () << "[QuillMarlowView] Missing required data for wrapper window";
		return false;
	}
	const uint32 parent = this->parent ();
	const uint32 wine = this->wine ();
	const uint32 previousWrapper = this->wrapper ();

	Tandem::logInfo () << "[QuillMarlowView] Creating wrapper window architecture...";
	Tandem::logInfo () << "[QuillMarlowView]   Parent (DAW): 0x" << std::hex << parent;
	Tandem::logInfo () << "[QuillMarlowView]   Wine window:  0x" << std::hex << wine;

	if (auto* attrs =
	        xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, parent), nullptr))
	{
		Tandem::logInfo () << "[QuillMarlowView] DAW parent map_state: " << static_cast<int> (attrs->map_state)
		                   << " (0=Unmapped, 1=Unviewable, 2=Viewable)";
		free (attrs);
	}

	const uint32 wrapper = xcb_generate_id (connection_);
	wrapperWindow_ = wrapper;
	// A plain grey shows wherever Wine's window is not (while outpost is
	// restarted, say), rather than whatever the host window held.
	const uint32 values[] = {kWrapperBackground, kWrapperEventMask};
	// An XEmbed host reads `_XEMBED_INFO` as soon as it hears of the window.
	// Under a server grab no other client's request runs between the two, so
	// whoever learns of the window finds the property on it.
	xcb_grab_server (connection_);
	xcb_create_window (connection_, XCB_COPY_FROM_PARENT, wrapper, parent, 0, 0, static_cast<uint16> (width),
	                   static_cast<uint16> (height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
	                   XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
	xembed_.writeInfo (wrapper, false);
	xcb_ungrab_server (connection_);
	xcb_flush (connection_);
	Tandem::logInfo () << "[QuillMarlowView] Wrapper window created: 0x" << std::hex << wrapper;

	embedWine (wrapper, previousWrapper, width, height);

	Tandem::logInfo () << "[QuillMarlowView] Windows mapped";
	Tandem::logInfo () << "[QuillMarlowView] Wrapper window architecture established!";
	Tandem::logInfo () << "[QuillMarlowView] Hierarchy: DAW 0x" << std::hex << parent << " -> Wrapper 0x" << wrapper
	                   << " -> Wine 0x" << wine;
	debugHierarchy ();
	return true;
}

void WindowTree::embedWine (uint32 wrapper, uint32 previousWrapper, int32 width, int32 height)
{
	const uint32 wine = this->wine ();
	// Follow Wine's window from now on: the Windows side moves it inside the
	// wrapper, and a window manager may still try to frame it.
	const uint32 wineMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
	xcb_change_window_attributes (connection_, wine, XCB_CW_EVENT_MASK, &wineMask);

	// outpost shows its window at the top level before it answers; under a
	// window manager that window is framed and managed by then, and
	// reparenting it out of the frame while mapped makes the manager unmap it.
	withdrawWine (previousWrapper);

	Tandem::logInfo () << "[QuillMarlowView] Reparenting Wine into wrapper...";
	xcb_reparent_window (connection_, wine, wrapper, 0, 0);
	const uint32 geometry[] = {0, 0, static_cast<uint32> (width), static_cast<uint32> (height)};
	xcb_configure_window (
	    connection_, wine,
	    XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, geometry);
	xcb_flush (connection_);
	sync ();
	Tandem::logInfo () << "[QuillMarlowView] Configured Wine window to " << width << "x" << height;

	static const char kWmState[] = "WM_STATE";
	if (auto* atom = xcb_intern_atom_reply (connection_,
	                                        xcb_intern_atom (connection_, 0, sizeof (kWmState) - 1, kWmState), nullptr))
	{
		wmStateAtom_ = atom->atom;
		Tandem::logInfo () << "[QuillMarlowView] Cached WM_STATE atom: " << wmStateAtom_;
		free (atom);
	}

	if (wrapper != previousWrapper)
	{
		// Mapped by us: a host that does not speak XEmbed never maps it. An
		// XEmbed host maps it too, once the event thread sets XEMBED_MAPPED.
		Tandem::logInfo () << "[QuillMarlowView] Mapping wrapper window first...";
		xcb_map_window (connection_, wrapper);
		xcb_flush (connection_);
		sync ();
	}

	Tandem::logInfo () << "[QuillMarlowView] Mapping Wine window in wrapper...";
	xcb_map_window (connection_, wine);
	if (wmStateAtom_)
		setNormalWmState (wine);
	xcb_flush (connection_);
	sync ();
}

void WindowTree::withdrawWine (uint32 previousWrapper)
{
	const uint32 wine = this->wine ();
	auto holderOf = [&] () -> uint32 {
		auto* tree = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wine), nullptr);
		const uint32 parent = tree ? tree->parent : 0;
		free (tree);
		return parent;
	};
	auto isMapped = [&] {
		bool mapped = false;
		if (auto* attrs =
		        xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wine), nullptr))
		{
			mapped = attrs->map_state != XCB_MAP_STATE_UNMAPPED;
			free (attrs);
		}
		return mapped;
	};
	uint32 holder = holderOf ();
	bool mapped = isMapped ();
	auto isFramed = [&] { return holder && holder != screen_->root && holder != previousWrapper; };
	// outpost shows its window just before it answers. Under a window
	// manager that is a request the manager carries out a little later; until
	// then the window looks withdrawn, and the manager would frame it (and
	// take it out of the wrapper) after we embedded it. Wait for the manager.
	if (!mapped && !isFramed () && windowManagerRunning ())
	{
		for (int poll = 0; poll < kShowPolls && !mapped && !isFramed (); ++poll)
		{
			Tandem::sleepFully (10);
			holder = holderOf ();
			mapped = isMapped ();
		}
	}
	const bool framed = isFramed ();
	if (mapped)
	{
		Tandem::logInfo () << "[QuillMarlowView] Unmapping Wine window before reparenting";
		xcb_unmap_window (connection_, wine);
	}
	else if (framed)
	{
		// Managed but not (yet) shown: a client withdraws such a window by
		// telling the window manager with a synthetic unmap notice.
		char buffer[32] = {};
		auto* event = reinterpret_cast<xcb_unmap_notify_event_t*> (buffer);
		event->response_type = XCB_UNMAP_NOTIFY;
		event->event = screen_->root;
		event->window = wine;
		event->from_configure = 0;
		xcb_send_event (connection_, 0, screen_->root,
		                XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, buffer);
	}
	xcb_flush (connection_);
	sync ();
	if (!framed)
		return;

	// Framed by a window manager: it hands the window back to the root and
	// clears WM_STATE. Reparenting before it is done races with its own
	// reparent to the root, and its late WM_STATE change would undo ours.
	xcb_atom_t wmState = XCB_NONE;
	static const char kWmState[] = "WM_STATE";
	if (auto* atom = xcb_intern_atom_reply (connection_,
	                                        xcb_intern_atom (connection_, 0, sizeof (kWmState) - 1, kWmState), nullptr))
	{
		wmState = atom->atom;
		free (atom);
	}
	auto managed = [&] {
		auto* p = xcb_get_property_reply (connection_, xcb_get_property (connection_, 0, wine, wmState, wmState, 0, 1),
		                                  nullptr);
		uint32 state = 0;
		if (p && p->format == 32 && xcb_get_property_value_length (p) >= 4)
			std::memcpy (&state, xcb_get_property_value (p), sizeof (state));
		free (p);
		return state != 0; // NormalState or IconicState: the manager still has it
	};
	for (int poll = 0; poll < kWithdrawPolls; ++poll)
	{
		holder = holderOf ();
		if (!holder)
			return;
		if (holder == screen_->root && !managed ())
		{
			Tandem::logInfo () << "[QuillMarlowView] Window manager released Wine window";
			return;
		}
		Tandem::sleepFully (10);
	}
	Tandem::logError () << "[QuillMarlowView] Wine window still held by 0x" << std::hex << holder << std::dec
	                    << ", reparenting anyway";
}

bool WindowTree::windowManagerRunning () const
{
	// A window manager owns the selection WM_S<screen> while it manages it.
	static const char kWmS0[] = "WM_S0";
	auto* atom =
	    xcb_intern_atom_reply (connection_, xcb_intern_atom (connection_, 0, sizeof (kWmS0) - 1, kWmS0), nullptr);
	if (!atom)
		return false;
	auto* owner =
	    xcb_get_selection_owner_reply (connection_, xcb_get_selection_owner (connection_, atom->atom), nullptr);
	const bool running = owner && owner->owner != XCB_NONE;
	free (owner);
	free (atom);
	return running;
}

void WindowTree::withdrawForShow (uint32 window)
{
	if (!connection_)
		return;
	static const char kWmState[] = "WM_STATE";
	if (!wmStateAtom_)
		if (auto* atom = xcb_intern_atom_reply (
		        connection_, xcb_intern_atom (connection_, 0, sizeof (kWmState) - 1, kWmState), nullptr))
		{
			wmStateAtom_ = atom->atom;
			free (atom);
		}
	if (!wmStateAtom_)
		return;
	xcb_delete_property (connection_, window, wmStateAtom_);
	xcb_flush (connection_);
	Tandem::logInfo () << "[QuillMarlowView] WM_STATE removed from hidden window 0x" << std::hex << window;
}

void WindowTree::setNormalWmState (uint32 window)
{
	const uint32 state[] = {1, 0}; // NormalState, no icon window
	xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window, wmStateAtom_, wmStateAtom_, 32, 2, state);
	Tandem::logInfo () << "[QuillMarlowView] WM_STATE set to NormalState for window 0x" << std::hex << window;
}

void WindowTree::reembedWine (uint32 wrapper, uint32 wine, int32 width, int32 height)
{
	const uint32 geometry[] = {0, 0, static_cast<uint32> (width), static_cast<uint32> (height)};
	xcb_reparent_window (connection_, wine, wrapper, 0, 0);
	xcb_configure_window (
	    connection_, wine,
	    XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, geometry);
	xcb_map_window (connection_, wine);
	if (wmStateAtom_)
		setNormalWmState (wine);
	updatePosition (wrapper, wine, static_cast<uint16> (width), static_cast<uint16> (height), nullptr, true);
	xcb_flush (connection_);
}

void WindowTree::sync ()
{
	free (xcb_get_input_focus_reply (connection_, xcb_get_input_focus (connection_), nullptr));
}

void WindowTree::resize (int32 width, int32 height)
{
	const uint32 wrapper = this->wrapper ();
	if (!connection_ || !wineWindow_)
		return;
	const uint32 size[] = {static_cast<uint32> (width), static_cast<uint32> (height)};
	if (wrapper)
		xcb_configure_window (connection_, wrapper, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
	const uint32 geometry[] = {0, 0, size[0], size[1]};
	xcb_configure_window (
	    connection_, wine (),
	    XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, geometry);
	xcb_flush (connection_);
}

} // namespace QuillMarlow
} // namespace Steinberg
