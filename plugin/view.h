// The editor view: embeds the X11 window that Wine created for the served
// plug-in's editor into the host's window, through a wrapper window of our
// own, and runs a thread that keeps Wine told of its screen position and
// steers the keyboard focus into it.
#pragma once

#include "plugin/command_region_link.h"
#include "protocol/tandem_protocol.h"

#include "pluginterfaces/gui/iplugview.h"

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class QuillMarlowView : public IPlugView
{
public:
	// Opens the view's own X11 connection (DISPLAY decides which); the view
	// is usable without one, but then every `attached` fails.
	explicit QuillMarlowView (CommandRegionLink region);
	// A bare region: a processor's is linked through its processor.
	explicit QuillMarlowView (Tandem::UICommand* uiCommand);

	// FUnknown
	tresult PLUGIN_API queryInterface (const TUID _iid, void** obj) SMTG_OVERRIDE;
	uint32 PLUGIN_API addRef () SMTG_OVERRIDE;
	uint32 PLUGIN_API release () SMTG_OVERRIDE;

	// IPlugView
	tresult PLUGIN_API isPlatformTypeSupported (FIDString type) SMTG_OVERRIDE;
	tresult PLUGIN_API attached (void* parent, FIDString type) SMTG_OVERRIDE;
	tresult PLUGIN_API removed () SMTG_OVERRIDE;
	tresult PLUGIN_API onWheel (float distance) SMTG_OVERRIDE;
	tresult PLUGIN_API onKeyDown (char16 key, int16 keyCode, int16 modifiers) SMTG_OVERRIDE;
	tresult PLUGIN_API onKeyUp (char16 key, int16 keyCode, int16 modifiers) SMTG_OVERRIDE;
	tresult PLUGIN_API getSize (ViewRect* size) SMTG_OVERRIDE;
	tresult PLUGIN_API onSize (ViewRect* newSize) SMTG_OVERRIDE;
	tresult PLUGIN_API onFocus (TBool state) SMTG_OVERRIDE;
	tresult PLUGIN_API setFrame (IPlugFrame* frame) SMTG_OVERRIDE;
	tresult PLUGIN_API canResize () SMTG_OVERRIDE;
	tresult PLUGIN_API checkSizeConstraint (ViewRect* rect) SMTG_OVERRIDE;

	// Builds host window > wrapper > Wine's window; true when the tree stands.
	bool createWrapperWindow ();
	// Logs the wrapper's and Wine's window state as the server sees it.
	void debugWindowHierarchy ();
	// Body of the X11 event thread (x11_event_thread.cpp).
	void handleX11Events ();

	// Read-only looks for diagnostics and tests.
	uint32 wrapperWindow () const { return static_cast<uint32> (wrapperWindow_.load ()); }
	uint32 wineWindow () const { return static_cast<uint32> (wineWindow_); }
	bool hasConnection () const { return connection_ != nullptr; }
	bool eventThreadRunning () const { return eventThread_.joinable (); }

protected:
	virtual ~QuillMarlowView ();

private:
	// Root-window position of the wrapper's origin; false when the server
	// does not answer.
	bool absolutePosition (uint32 wrapper, int16& x, int16& y);
	// Sends Wine's window the configure notice that tells it where it is on
	// the screen (Wine ignores the real events inside a foreign parent).
	void sendConfigureNotify (uint32 target, int16 x, int16 y, uint16 width, uint16 height);
	// Waits for the reply of a round trip so that the server has carried out
	// every request sent before.
	void sync ();
	// Waits up to `timeout` for outpost to acknowledge the posted command;
	// false (with its message) on a time-out or when the region went away.
	bool waitForAcknowledgement (std::chrono::milliseconds timeout);
	// Takes Wine's window off the top level before we reparent it: unmaps it
	// and, when a window manager had framed it, waits until it let it go.
	void withdrawWineWindow (uint32 previousWrapper);
	void setNormalWmState (uint32 window);
	bool windowManagerRunning () const;
	// The host window and its ancestors below the root: a move of any of
	// them moves the wrapper on the screen without telling the wrapper.
	std::vector<uint32> hostAncestors () const;
	// Position update of the event thread; true when a notice was sent.
	bool updatePosition (uint32 wrapper, uint32 wine, const char* prefix, uint16 width, uint16 height);

	int16 lastX () const { return static_cast<int16> (lastPosition_.load (std::memory_order_relaxed) & 0xFFFF); }
	int16 lastY () const { return static_cast<int16> (lastPosition_.load (std::memory_order_relaxed) >> 16); }
	void storeLastPosition (int16 x, int16 y)
	{
		lastPosition_.store (static_cast<uint16> (x) | (static_cast<uint32> (static_cast<uint16> (y)) << 16),
		                     std::memory_order_relaxed);
	}

	CommandRegionLink region_;
	std::atomic<int32> refCount_ {1};
	uint64 parentWindow_ = 0;
	// Atomic: a second `attached` without `removed` replaces it while the
	// thread of the first one reads it.
	std::atomic<uint64> wrapperWindow_ {0};
	uint64 wineWindow_ = 0;
	xcb_connection_t* connection_ = nullptr;
	xcb_screen_t* screen_ = nullptr;
	IPlugFrame* frame_ = nullptr;
	std::atomic<int32> editorWidth_ {800};
	std::atomic<int32> editorHeight_ {600};
	std::thread eventThread_;
	std::atomic<bool> running_ {false};
	// lastX_ in the low half, lastY_ in the high half, written as one unit.
	std::atomic<uint32> lastPosition_ {0};
	uint32 wmStateAtom_ = 0;
	// Windows whose moves the thread follows; set before the thread starts.
	std::vector<uint32> watchedAncestors_;

};

} // namespace QuillMarlow
} // namespace Steinberg
