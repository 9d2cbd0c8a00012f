// The editor's window tree on the X server: the host's window > a wrapper
// window of ours > the window Wine made for the served editor. It does for
// Wine's window what a window manager would do for a top-level one
// (withdrawing it from the top level, WM_STATE, configure notices with its
// place on the screen), speaks XEmbed with a host that does, and holds the
// X11 connection the view and its event thread share.
#pragma once

#include "plugin/xembed.h"

#include "pluginterfaces/base/ftypes.h"

#include <xcb/xcb.h>

#include <atomic>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class WindowTree
{
public:
	// Opens the connection (DISPLAY decides which); without one every
	// window operation fails or does nothing.
	WindowTree ();
	// Hands Wine's window back to the root (a host that releases an
	// attached view without `removed` would otherwise take it down with our
	// wrapper), destroys the wrapper and disconnects.
	~WindowTree ();
	WindowTree (const WindowTree&) = delete;
	WindowTree& operator= (const WindowTree&) = delete;

	xcb_connection_t* connection () const { return connection_; }
	xcb_screen_t* screen () const { return screen_; }
	bool connected () const { return connection_ && screen_; }

	uint32 parent () const { return static_cast<uint32> (parentWindow_); }
	void setParent (uint64 window) { parentWindow_ = window; }
	uint32 wrapper () const { return static_cast<uint32> (wrapperWindow_.load ()); }
	uint32 wine () const { return static_cast<uint32> (wineWindow_.load ()); }
	void setWine (uint64 window) { wineWindow_ = window; }

	// Builds host window > wrapper > Wine's window at `width` x `height`;
	// true when the tree stands.
	bool createWrapper (int32 width, int32 height);
	// Puts Wine's window into `wrapper` at (0, 0), at the given size, and
	// maps both; `previousWrapper` is the wrapper it may already be in.
	void embedWine (uint32 wrapper, uint32 previousWrapper, int32 width, int32 height);
	// Puts Wine's window back into `wrapper` after the Windows side took it
	// out, mapped, at the given size.
	void reembedWine (uint32 wrapper, uint32 wine, int32 width, int32 height);
	// Takes Wine's window out of the wrapper to the root, unmapped; done
	// when it returns.
	void releaseWine ();
	// Destroys the wrapper (gone when it returns) and forgets Wine's window
	// and the host's.
	void destroyWrapper ();
	// Resizes the wrapper and Wine's window inside it.
	void resize (int32 width, int32 height);
	// Deletes WM_STATE of Wine's window `window`, as a window manager does
	// once a client has withdrawn a window. Wine, showing a window it hid
	// before, waits up to two seconds for that when no manager runs.
	void withdrawForShow (uint32 window);
	// The host window and its ancestors below the root: a move of any of
	// them moves the wrapper on the screen without telling the wrapper.
	std::vector<uint32> hostAncestors () const;
	// Tells Wine's window where it is on the screen when the wrapper moved
	// (or `always`); true when a notice was sent. `prefix` starts the log line.
	bool updatePosition (uint32 wrapper, uint32 wine, uint16 width, uint16 height, const char* prefix,
	                     bool always = false);
	// The wrapper's position on the screen as last told to Wine's window.
	int16 lastX () const { return static_cast<int16> (lastPosition_.load (std::memory_order_relaxed) & 0xFFFF); }
	int16 lastY () const { return static_cast<int16> (lastPosition_.load (std::memory_order_relaxed) >> 16); }
	// Clears `wrapper` to its background and writes one line of `text` in
	// it (the server's "fixed" font); the notice's GC goes with the
	// connection.
	void drawNotice (uint32 wrapper, const char* text);
	// Waits for the reply of a round trip so that the server has carried out
	// every request sent before.
	void sync ();
	// Logs the wrapper's and Wine's window state as the server sees it.
	void debugHierarchy ();

	XEmbed& xembed () { return xembed_; }

	// Background of the wrapper, seen where Wine's window is not.
	static constexpr uint32 kWrapperBackground = 0x3c3c3c;

private:
	// Takes Wine's window off the top level before we reparent it: unmaps it
	// and, when a window manager had framed it, waits until it let it go.
	void withdrawWine (uint32 previousWrapper);
	void setNormalWmState (uint32 window);
	bool windowManagerRunning () const;
	// Root-window position of the wrapper's origin; false when the server
	// does not answer.
	bool absolutePosition (uint32 wrapper, int16& x, int16& y);
	// Sends Wine's window the configure notice that tells it where it is on
	// the screen (Wine ignores the real events inside a foreign parent).
	void sendConfigureNotify (uint32 target, int16 x, int16 y, uint16 width, uint16 height);

	xcb_connection_t* connection_ = nullptr;
	xcb_screen_t* screen_ = nullptr;
	uint32 noticeGc_ = 0;
	uint64 parentWindow_ = 0;
	// Atomic: a second `attached` without `removed` replaces it while the
	// event thread of the first one reads it.
	std::atomic<uint64> wrapperWindow_ {0};
	// Atomic: the event thread replaces it when outpost was restarted.
	std::atomic<uint64> wineWindow_ {0};
	// The wrapper's last position on the screen: x in the low half, y in the
	// high half, written as one unit.
	std::atomic<uint32> lastPosition_ {0};
	uint32 wmStateAtom_ = 0;
	XEmbed xembed_ {connection_};
};

} // namespace QuillMarlow
} // namespace Steinberg
