#include "plugin/view.h"

#include "plugin/edit_watcher.h"
#include "plugin/processor.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr uint32 kWrapperEventMask = XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW |
                                     XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
static_assert (kWrapperEventMask == 0x220030, "wrapper event selection");

constexpr auto kShowEditorTimeout = std::chrono::seconds (10);
constexpr const char* kRegionGone = "[QuillMarlowView] ERROR: outpost's shared file is gone (processor terminated)";
// How long a window manager gets to give Wine's window back after we unmap it.
constexpr int kWithdrawPolls = 200;

// Sleeps the whole duration even when a signal interrupts the sleep.
void sleepMs (long ms)
{
	timespec req {ms / 1000, (ms % 1000) * 1000000L};
	timespec rem {};
	while (nanosleep (&req, &rem) == -1 && errno == EINTR)
		req = rem;
}

} // namespace

QuillMarlowView::QuillMarlowView (Tandem::UICommand* uiCommand)
: uiCommand_ (uiCommand), regionOfProcessor_ (QuillMarlowProcessor::isUICommandMapped (uiCommand))
{
	std::cout << "[QuillMarlowView] Created" << std::endl;
	xcb_connection_t* c = xcb_connect (nullptr, nullptr);
	if (xcb_connection_has_error (c))
	{
		std::cerr << "[QuillMarlowView] Failed to connect to X11 display!" << std::endl;
		// A failed connection is still an allocated object; it is not used.
		xcb_disconnect (c);
		return;
	}
	connection_ = c;
	std::cout << "[QuillMarlowView] Connected to X11 display" << std::endl;
	screen_ = xcb_setup_roots_iterator (xcb_get_setup (connection_)).data;
}

QuillMarlowView::~QuillMarlowView ()
{
	std::cout << "[QuillMarlowView] Destroyed" << std::endl;
	if (editWatcher_)
	{
		editWatcher_->useRunLoopOf (nullptr);
		editWatcher_->release ();
	}
	if (eventThread_.joinable ())
	{
		std::cout << "[QuillMarlowView] Stopping event thread..." << std::endl;
		running_ = false;
		eventThread_.join ();
	}
	const uint32 wrapper = wrapperWindow ();
	if (wrapper && connection_)
	{
		// A host that releases an attached view without `removed` would
		// otherwise take Wine's window down with our wrapper, and the editor
		// would be gone until outpost restarts. The window is Wine's: hand it
		// back to the root, unmapped so that no window manager adopts it.
		if (wineWindow_ && screen_)
		{
			const uint32 wine = wineWindow ();
			xcb_unmap_window (connection_, wine);
			xcb_reparent_window (connection_, wine, screen_->root, 0, 0);
			// Wait until the server has done it: when we disconnect, the
			// server may drop our connection before reading requests still
			// in the socket, and the wrapper would go with Wine's window in it.
			sync ();
		}
		std::cout << "[QuillMarlowView] Destroying wrapper window..." << std::endl;
		xcb_destroy_window (connection_, wrapper);
		xcb_flush (connection_);
		wrapperWindow_ = 0;
	}
	if (connection_)
	{
		xcb_disconnect (connection_);
		connection_ = nullptr;
	}
}

tresult PLUGIN_API QuillMarlowView::queryInterface (const TUID _iid, void** obj)
{
	if (FUnknownPrivate::iidEqual (_iid, FUnknown::iid) || FUnknownPrivate::iidEqual (_iid, IPlugView::iid))
	{
		addRef ();
		*obj = static_cast<IPlugView*> (this);
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

uint32 PLUGIN_API QuillMarlowView::addRef ()
{
	return static_cast<uint32> (refCount_.fetch_add (1) + 1);
}

uint32 PLUGIN_API QuillMarlowView::release ()
{
	const int32 count = refCount_.fetch_sub (1) - 1;
	if (count == 0)
		delete this;
	return static_cast<uint32> (count);
}

tresult PLUGIN_API QuillMarlowView::isPlatformTypeSupported (FIDString type)
{
	if (type)
		std::cout << "[QuillMarlowView] isPlatformTypeSupported: " << type << std::endl;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::attached (void* parent, FIDString type)
{
	std::cout << "[QuillMarlowView] attached() called" << std::endl;
	std::cout << "[QuillMarlowView] Platform type: " << (type ? type : "null") << std::endl;
	std::cout << "[QuillMarlowView] Parent window: " << parent << std::endl;

	if (!uiCommand_)
	{
		std::cerr << "[QuillMarlowView] ERROR: No UICommand available!" << std::endl;
		return kResultFalse;
	}
	if (!connection_ || !screen_)
	{
		std::cerr << "[QuillMarlowView] ERROR: No XCB connection!" << std::endl;
		return kResultFalse;
	}

	parentWindow_ = static_cast<uint64> (reinterpret_cast<uintptr_t> (parent));
	std::cout << "[QuillMarlowView] Parent X11 Window ID: 0x" << std::hex << parentWindow_ << std::dec
	          << std::endl;

	// `removed` does not wait for its HideEditor, and under Wine hiding can
	// take two seconds. A ShowEditor posted over it would be answered by the
	// hide's acknowledgement, without a window: let the earlier command finish.
	if (!commandRegionUsable ())
	{
		std::cerr << kRegionGone << std::endl;
		return kResultFalse;
	}
	if (!uiCommand_->processed.load (std::memory_order_acquire))
	{
		std::cout << "[QuillMarlowView] Waiting for outpost to finish the previous command..." << std::endl;
		if (!waitForAcknowledgement ())
			return kResultFalse;
	}

	// ShowEditor: arguments first, then the code, then the flag outpost polls.
	uiCommand_->parentWindow = parentWindow_;
	uiCommand_->wineWindow = 0;
	uiCommand_->command = static_cast<int32> (Tandem::CommandCode::ShowEditor);
	uiCommand_->processed.store (false, std::memory_order_release);
	std::cout << "[QuillMarlowView] Waiting for outpost to create editor window..." << std::endl;
	if (!waitForAcknowledgement ())
		return kResultFalse;

	wineWindow_ = uiCommand_->wineWindow;
	if (wineWindow_ == 0)
	{
		std::cerr << "[QuillMarlowView] ERROR: outpost did not provide X11 window handle!" << std::endl;
		return kResultFalse;
	}
	std::cout << "[QuillMarlowView] Wine X11 Window ID: 0x" << std::hex << wineWindow_ << std::dec << std::endl;
	editorWidth_ = uiCommand_->editorWidth;
	editorHeight_ = uiCommand_->editorHeight;
	std::cout << "[QuillMarlowView] Editor size: " << editorWidth_ << "x" << editorHeight_ << std::endl;
	std::cout << "[QuillMarlowView] Using embedded mode (Wine window reparented into the host window)"
	          << std::endl;

	if (!createWrapperWindow ())
	{
		std::cerr << "[QuillMarlowView] Failed to create wrapper window!" << std::endl;
		return kResultFalse;
	}

	if (!eventThread_.joinable ())
	{
		watchedAncestors_ = hostAncestors ();
		for (uint32 w : watchedAncestors_)
		{
			const uint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
			xcb_change_window_attributes (connection_, w, XCB_CW_EVENT_MASK, &mask);
		}
		running_ = true;
		eventThread_ = std::thread (&QuillMarlowView::handleX11Events, this);
		std::cout << "[QuillMarlowView] Started event forwarding thread" << std::endl;
	}

	const uint32 wrapper = wrapperWindow ();
	int16 x = 0, y = 0;
	if (connection_ && wrapper && absolutePosition (wrapper, x, y))
	{
		sendConfigureNotify (wineWindow (), x, y, static_cast<uint16> (editorWidth_.load ()),
		                     static_cast<uint16> (editorHeight_.load ()));
		storeLastPosition (x, y);
		std::cout << "[QuillMarlowView] Initial position: (" << x << "," << y << ")" << std::endl;
	}

	xcb_flush (connection_);
	std::cout << "[QuillMarlowView] Plugin view attached (embedded mode)!" << std::endl;
	return kResultOk;
}

bool QuillMarlowView::createWrapperWindow ()
{
	if (!connection_ || !screen_ || !wineWindow_ || !parentWindow_)
	{
		std::cerr << "[QuillMarlowView] Missing required data for wrapper window" << std::endl;
		return false;
	}
	const uint32 parent = static_cast<uint32> (parentWindow_);
	const uint32 wine = wineWindow ();
	const uint32 previousWrapper = wrapperWindow ();
	const int32 width = editorWidth_, height = editorHeight_;

	std::cout << "[QuillMarlowView] Creating wrapper window architecture..." << std::endl;
	std::cout << "[QuillMarlowView]   Parent (DAW): 0x" << std::hex << parent << std::dec << std::endl;
	std::cout << "[QuillMarlowView]   Wine window:  0x" << std::hex << wine << std::dec << std::endl;

	if (auto* attrs = xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, parent),
	                                                   nullptr))
	{
		std::cout << "[QuillMarlowView] DAW parent map_state: " << static_cast<int> (attrs->map_state)
		          << " (0=Unmapped, 1=Unviewable, 2=Viewable)" << std::endl;
		free (attrs);
	}

	const uint32 wrapper = xcb_generate_id (connection_);
	wrapperWindow_ = wrapper;
	const uint32 eventMask = kWrapperEventMask;
	xcb_create_window (connection_, XCB_COPY_FROM_PARENT, wrapper, parent, 0, 0, static_cast<uint16> (width),
	                   static_cast<uint16> (height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
	                   XCB_CW_EVENT_MASK, &eventMask);
	std::cout << "[QuillMarlowView] Wrapper window created: 0x" << std::hex << wrapper << std::dec << std::endl;

	// Follow Wine's window from now on: the Windows side moves it inside the
	// wrapper, and a window manager may still try to frame it.
	const uint32 wineMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
	xcb_change_window_attributes (connection_, wine, XCB_CW_EVENT_MASK, &wineMask);

	// outpost shows its window at the top level before it answers; under a
	// window manager that window is framed and managed by then, and
	// reparenting it out of the frame while mapped makes the manager unmap it.
	withdrawWineWindow (previousWrapper);

	std::cout << "[QuillMarlowView] Reparenting Wine into wrapper..." << std::endl;
	xcb_reparent_window (connection_, wine, wrapper, 0, 0);
	const uint32 geometry[] = {0, 0, static_cast<uint32> (width), static_cast<uint32> (height)};
	xcb_configure_window (connection_, wine,
	                      XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
	                          XCB_CONFIG_WINDOW_HEIGHT,
	                      geometry);
	xcb_flush (connection_);
	sync ();
	std::cout << "[QuillMarlowView] Configured Wine window to " << width << "x" << height << std::endl;

	static const char kWmState[] = "WM_STATE";
	if (auto* atom = xcb_intern_atom_reply (
	        connection_, xcb_intern_atom (connection_, 0, sizeof (kWmState) - 1, kWmState), nullptr))
	{
		wmStateAtom_ = atom->atom;
		std::cout << "[QuillMarlowView] Cached WM_STATE atom: " << wmStateAtom_ << std::endl;
		free (atom);
	}

	std::cout << "[QuillMarlowView] Mapping wrapper window first..." << std::endl;
	xcb_map_window (connection_, wrapper);
	xcb_flush (connection_);
	sync ();

	std::cout << "[QuillMarlowView] Mapping Wine window in wrapper..." << std::endl;
	xcb_map_window (connection_, wine);
	if (wmStateAtom_)
		setNormalWmState (wine);
	xcb_flush (connection_);
	sync ();

	std::cout << "[QuillMarlowView] Windows mapped" << std::endl;
	std::cout << "[QuillMarlowView] Wrapper window architecture established!" << std::endl;
	std::cout << "[QuillMarlowView] Hierarchy: DAW 0x" << std::hex << parent << " -> Wrapper 0x" << wrapper
	          << " -> Wine 0x" << wine << std::dec << std::endl;
	debugWindowHierarchy ();
	return true;
}

void QuillMarlowView::withdrawWineWindow (uint32 previousWrapper)
{
	const uint32 wine = wineWindow ();
	auto holderOf = [&] () -> uint32 {
		auto* tree = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wine), nullptr);
		const uint32 parent = tree ? tree->parent : 0;
		free (tree);
		return parent;
	};
	uint32 holder = holderOf ();
	bool mapped = false;
	if (auto* attrs =
	        xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wine), nullptr))
	{
		mapped = attrs->map_state != XCB_MAP_STATE_UNMAPPED;
		free (attrs);
	}
	const bool framed = holder && holder != screen_->root && holder != previousWrapper;
	if (mapped)
	{
		std::cout << "[QuillMarlowView] Unmapping Wine window before reparenting" << std::endl;
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
	if (auto* atom = xcb_intern_atom_reply (
	        connection_, xcb_intern_atom (connection_, 0, sizeof (kWmState) - 1, kWmState), nullptr))
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
			std::cout << "[QuillMarlowView] Window manager released Wine window" << std::endl;
			return;
		}
		sleepMs (10);
	}
	std::cerr << "[QuillMarlowView] Wine window still held by 0x" << std::hex << holder << std::dec
	          << ", reparenting anyway" << std::endl;
}

void QuillMarlowView::setNormalWmState (uint32 window)
{
	const uint32 state[] = {1, 0}; // NormalState, no icon window
	xcb_change_property (connection_, XCB_PROP_MODE_REPLACE, window, wmStateAtom_, wmStateAtom_, 32, 2, state);
	std::cout << "[QuillMarlowView] WM_STATE set to NormalState for window 0x" << std::hex << window << std::dec
	          << std::endl;
}

void QuillMarlowView::debugWindowHierarchy ()
{
	if (!connection_)
		return;
	const uint32 wrapper = wrapperWindow ();
	const uint32 wine = wineWindow ();
	std::cout << "[QuillMarlowView] === DEBUG: Window Hierarchy ===" << std::endl;

	if (auto* g = xcb_get_geometry_reply (connection_, xcb_get_geometry (connection_, wrapper), nullptr))
	{
		std::cout << "[QuillMarlowView] Wrapper: pos=(" << g->x << "," << g->y << ") size=" << g->width << "x"
		          << g->height << std::endl;
		free (g);
	}
	if (auto* t = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wrapper), nullptr))
	{
		std::cout << "[QuillMarlowView] Wrapper parent: 0x" << std::hex << t->parent << " (should be DAW 0x"
		          << parentWindow_ << ")" << std::dec << std::endl;
		if (t->parent != static_cast<uint32> (parentWindow_))
			std::cerr << "[QuillMarlowView] ERROR: Wrapper parent is NOT the DAW window!" << std::endl;
		free (t);
	}
	if (auto* a = xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wrapper),
	                                               nullptr))
	{
		std::cout << "[QuillMarlowView] Wrapper map_state: " << static_cast<int> (a->map_state)
		          << " (0=Unmapped, 1=Unviewable, 2=Viewable)" << std::endl;
		free (a);
	}

	if (auto* g = xcb_get_geometry_reply (connection_, xcb_get_geometry (connection_, wine), nullptr))
	{
		std::cout << "[QuillMarlowView] Wine: pos=(" << g->x << "," << g->y << ") size=" << g->width << "x"
		          << g->height << std::endl;
		free (g);
	}
	if (auto* t = xcb_query_tree_reply (connection_, xcb_query_tree (connection_, wine), nullptr))
	{
		std::cout << "[QuillMarlowView] Wine window parent: 0x" << std::hex << t->parent << " (should be wrapper 0x"
		          << wrapper << ")" << std::dec << std::endl;
		if (t->parent != wrapper)
			std::cerr << "[QuillMarlowView] ERROR: Wine window parent is NOT the wrapper!" << std::endl;
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
			std::cout << "[QuillMarlowView] Wine WM_STATE: " << state << " (1=Normal, 3=Iconic)" << std::endl;
		}
		else
		{
			std::cout << "[QuillMarlowView] Wine WM_STATE: NOT SET" << std::endl;
		}
		free (p);
	}

	if (auto* a =
	        xcb_get_window_attributes_reply (connection_, xcb_get_window_attributes (connection_, wine), nullptr))
	{
		std::cout << "[QuillMarlowView] Wine map_state: " << static_cast<int> (a->map_state)
		          << " (0=Unmapped, 1=Unviewable, 2=Viewable)" << std::endl;
		std::cout << "[QuillMarlowView] Wine override_redirect: " << static_cast<int> (a->override_redirect)
		          << std::endl;
		free (a);
	}
	std::cout << "[QuillMarlowView] === END DEBUG ===" << std::endl;
}

tresult PLUGIN_API QuillMarlowView::removed ()
{
	std::cout << "[QuillMarlowView] removed() called" << std::endl;
	if (eventThread_.joinable ())
	{
		std::cout << "[QuillMarlowView] Stopping event thread..." << std::endl;
		running_ = false;
		eventThread_.join ();
	}
	if (wineWindow_ && connection_ && screen_)
	{
		const uint32 wine = wineWindow ();
		// Unmapped first: a mapped window handed to the root is adopted by
		// the window manager. WM_STATE goes with it, as a window manager
		// would do on withdrawal, so that Wine's hide does not wait for it.
		xcb_unmap_window (connection_, wine);
		if (wmStateAtom_)
			xcb_delete_property (connection_, wine, wmStateAtom_);
		std::cout << "[QuillMarlowView] Reparenting Wine window to root..." << std::endl;
		xcb_reparent_window (connection_, wine, screen_->root, 0, 0);
		xcb_flush (connection_);
		// Done before the wrapper can go: a release right after this call
		// disconnects, and the server may drop a closed connection before it
		// has carried out the requests still queued.
		sync ();
	}
	if (uiCommand_ && commandRegionUsable ())
	{
		uiCommand_->command = static_cast<int32> (Tandem::CommandCode::HideEditor);
		uiCommand_->processed.store (false, std::memory_order_release);
	}
	else if (uiCommand_)
	{
		std::cout << "[QuillMarlowView] HideEditor not posted: outpost's shared file is gone" << std::endl;
	}
	const uint32 wrapper = wrapperWindow ();
	if (wrapper && connection_)
	{
		std::cout << "[QuillMarlowView] Destroying wrapper window..." << std::endl;
		xcb_destroy_window (connection_, wrapper);
		xcb_flush (connection_);
		wrapperWindow_ = 0;
	}
	wineWindow_ = 0;
	parentWindow_ = 0;
	watchedAncestors_.clear ();
	std::cout << "[QuillMarlowView] View removed successfully" << std::endl;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onWheel (float)
{
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onKeyDown (char16, int16, int16)
{
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onKeyUp (char16, int16, int16)
{
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::getSize (ViewRect* size)
{
	if (size)
	{
		size->left = 0;
		size->top = 0;
		size->right = editorWidth_;
		size->bottom = editorHeight_;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onSize (ViewRect* newSize)
{
	if (newSize && wineWindow_ && connection_)
	{
		const int32 width = newSize->right - newSize->left;
		const int32 height = newSize->bottom - newSize->top;
		const uint32 values[] = {static_cast<uint32> (width), static_cast<uint32> (height)};
		xcb_configure_window (connection_, wineWindow (), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
		                      values);
		xcb_flush (connection_);
		editorWidth_ = width;
		editorHeight_ = height;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onFocus (TBool state)
{
	if (!wineWindow_ || !connection_)
		return kResultOk;
	if (state)
	{
		xcb_set_input_focus (connection_, XCB_INPUT_FOCUS_POINTER_ROOT, wineWindow (), XCB_CURRENT_TIME);
		xcb_flush (connection_);
		std::cout << "[QuillMarlowView] Focus gained - set X11 input focus" << std::endl;
	}
	else
	{
		std::cout << "[QuillMarlowView] Focus lost" << std::endl;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::setFrame (IPlugFrame* frame)
{
	frame_ = frame;
	if (editWatcher_)
		editWatcher_->useRunLoopOf (frame);
	return kResultOk;
}

void QuillMarlowView::watchEdits (EditWatcher* watcher)
{
	if (watcher)
		watcher->addRef ();
	if (editWatcher_)
	{
		editWatcher_->useRunLoopOf (nullptr);
		editWatcher_->release ();
	}
	editWatcher_ = watcher;
	if (editWatcher_)
		editWatcher_->useRunLoopOf (frame_);
}

tresult PLUGIN_API QuillMarlowView::canResize ()
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowView::checkSizeConstraint (ViewRect*)
{
	return kResultOk;
}

bool QuillMarlowView::absolutePosition (uint32 wrapper, int16& x, int16& y)
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

void QuillMarlowView::sendConfigureNotify (uint32 target, int16 x, int16 y, uint16 width, uint16 height)
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
	std::cout << "[QuillMarlowView] Sent ConfigureNotify to 0x" << std::hex << target << std::dec << " pos=(" << x
	          << "," << y << ") size=" << width << "x" << height << std::endl;
}

void QuillMarlowView::sync ()
{
	free (xcb_get_input_focus_reply (connection_, xcb_get_input_focus (connection_), nullptr));
}

bool QuillMarlowView::commandRegionUsable () const
{
	return !regionOfProcessor_ || QuillMarlowProcessor::isUICommandMapped (uiCommand_);
}

bool QuillMarlowView::waitForAcknowledgement ()
{
	const auto start = std::chrono::steady_clock::now ();
	for (;;)
	{
		// The host may terminate the processor (unmapping the region) from
		// another thread while we wait.
		if (!commandRegionUsable ())
		{
			std::cerr << kRegionGone << std::endl;
			return false;
		}
		if (uiCommand_->processed.load (std::memory_order_acquire))
			return true;
		if (std::chrono::steady_clock::now () - start > kShowEditorTimeout)
		{
			std::cerr << "[QuillMarlowView] TIMEOUT waiting for outpost!" << std::endl;
			return false;
		}
		sleepMs (10);
	}
}

std::vector<uint32> QuillMarlowView::hostAncestors () const
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

} // namespace QuillMarlow
} // namespace Steinberg
