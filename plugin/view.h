// The editor view: embeds the X11 window that Wine created for the served
// plug-in's editor into the host's window, through a wrapper window of our
// own, and runs a thread that keeps Wine told of its screen position and
// steers the keyboard focus into it. The host's window and the served editor
// follow each other's size.
//
// Files: view.cpp (the view's life, attach and detach, the command region),
// view_window_manager.cpp (the window tree and what a window manager would
// otherwise do for Wine's window), view_sizing.cpp (sizes between host,
// view and served editor), view_xembed.cpp (the XEmbed protocol with the
// host), x11_event_thread.cpp (the event thread).
#pragma once

#include "plugin/command_region_link.h"
#include "protocol/tandem_protocol.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

class EditWatcher;

class QuillMarlowView : public IPlugView, public IPlugViewContentScaleSupport, public Linux::IEventHandler
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

	// IPlugViewContentScaleSupport: the served editor scales itself (and
	// reports its scaled size) when it can; kResultFalse when it cannot.
	tresult PLUGIN_API setContentScaleFactor (ScaleFactor factor) SMTG_OVERRIDE;

	// The watcher that marks the project changed after edits; it runs on the
	// run loop of the frame the host sets. Takes a reference.
	void watchEdits (EditWatcher* watcher);
	// Linux::IEventHandler: the host's run loop calls this on its
	// user-interface thread when the event thread has a new editor size.
	void PLUGIN_API onFDIsSet (Linux::FileDescriptor fd) SMTG_OVERRIDE;

	// Builds host window > wrapper > Wine's window; true when the tree stands.
	bool createWrapperWindow ();
	// Puts Wine's window into `wrapper` at (0, 0), at the editor's size, and
	// maps both; `previousWrapper` is the wrapper it may already be in.
	void embedWineWindow (uint32 wrapper, uint32 previousWrapper);
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
	// With `withdrawShown`, Wine's window, as soon as outpost names it, is
	// withdrawn from the top level as a window manager would (see
	// withdrawForShow).
	bool waitForAcknowledgement (std::chrono::milliseconds timeout, bool withdrawShown = false);
	// Deletes WM_STATE of Wine's window `window`, as a window manager does
	// once a client has withdrawn a window. Wine, showing a window it hid
	// before, waits up to two seconds for that when no manager runs.
	void withdrawForShow (uint32 window);
	// Posts the command that `fill` writes (code and arguments) once the
	// slot is free, waiting up to `timeout`; with `takeAnyway` a slot still
	// busy then is taken all the same. False when nothing was posted (the
	// region is gone, or the slot stayed busy).
	bool postWhenFree (const std::function<void (Tandem::UICommand&)>& fill, std::chrono::milliseconds timeout,
	                   bool takeAnyway);
	// Posts a size command with the size as its argument and waits for
	// outpost's answer, which replaces the size; false when there is none.
	bool exchangeEditorSize (Tandem::CommandCode code, int32& width, int32& height);
	// Reads outpost's size report: one consistent size and its report word.
	bool readSizeReport (int32& report, int32& width, int32& height) const;
	// Posts ShowEditor for the host window once the slot is free.
	bool postShowEditor (std::chrono::milliseconds timeout);
	// Once Wine's window is known: takes the size, resizability and report
	// outpost last wrote as the served editor's.
	void takeEmbeddedEditorSize ();
	// Before attaching: takes the size outpost last reported as ours.
	void takeReportedSize ();
	// The same, with the report word; false when there was no size.
	bool takeReportedSize (int32& report);
	// The same; when outpost never made an editor, it makes the served one
	// first (once).
	void takeReportedSizeOrPrepare ();
	// outpost reported a served editor that cannot be resized.
	bool servedSizeFixed () const;
	// Event thread: acts on a new size report of outpost.
	void checkSizeReport ();
	// Event thread (view_outpost_restart.cpp): follows outpost's restarts,
	// `wine` being the thread's Wine window, replaced on a re-embedding.
	void followOutpost (uint32 wrapper, uint32& wine);
	bool embedRestartedEditor (uint32 wrapper);
	void drawOutpostGone (uint32 wrapper);
	// Host's user-interface thread: the served editor has a new size.
	void followServedSize (int32 width, int32 height);
	// Host's user-interface thread: asks the host's frame for this size.
	void askHostToResize (int32 width, int32 height);
	// Resizes the wrapper and Wine's window inside it.
	void resizeEmbeddedWindows (int32 width, int32 height);
	void registerWithRunLoop ();
	void unregisterFromRunLoop ();
	// Takes Wine's window off the top level before we reparent it: unmaps it
	// and, when a window manager had framed it, waits until it let it go.
	void withdrawWineWindow (uint32 previousWrapper);
	void setNormalWmState (uint32 window);
	bool windowManagerRunning () const;
	// XEmbed (view_xembed.cpp).
	void internXEmbedAtoms ();
	// Sets the window's `_XEMBED_INFO`: version 0, XEMBED_MAPPED or no flag.
	void writeXEmbedInfo (uint32 window, bool mapped);
	// True when another client watches the wrapper's properties: an embedder.
	bool embedderWatches (uint32 wrapper);
	void askEmbedderToMap (uint32 wrapper);
	// Answers an `_XEMBED` message of the embedder; false for other messages.
	// `askedToMap` is the event thread's record of having set XEMBED_MAPPED.
	bool handleXEmbedMessage (const xcb_client_message_event_t& event, uint32 wrapper, uint32 wine,
	                          bool& askedToMap);
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
	// Atomic: the event thread replaces it when outpost was restarted.
	std::atomic<uint64> wineWindow_ {0};
	xcb_connection_t* connection_ = nullptr;
	xcb_screen_t* screen_ = nullptr;
	IPlugFrame* frame_ = nullptr;
	EditWatcher* editWatcher_ = nullptr;
	std::atomic<int32> editorWidth_ {800};
	std::atomic<int32> editorHeight_ {600};
	std::thread eventThread_;
	std::atomic<bool> running_ {false};
	// lastX_ in the low half, lastY_ in the high half, written as one unit.
	std::atomic<uint32> lastPosition_ {0};
	uint32 wmStateAtom_ = 0;
	// Interned at construction, XCB_NONE when the server did not answer.
	uint32 xembedInfoAtom_ = 0;
	uint32 xembedAtom_ = 0;
	// Windows whose moves the thread follows; set before the thread starts.
	std::vector<uint32> watchedAncestors_;

	// Sizes. The last size the host was told (getSize), gave (onSize) or
	// accepted (resizeView), 0 while unknown; the served editor's size and whether the host may
	// resize it, as outpost last reported; the report word seen last.
	int32 hostWidth_ = 0;
	int32 hostHeight_ = 0;
	// The served editor was asked for before attaching (once per view).
	bool prepareAsked_ = false;
	std::atomic<uint64> servedSize_ {0};
	std::atomic<bool> servedResizable_ {false};
	std::atomic<int32> sizeReportSeen_ {0};
	// The host's run loop, while we are registered with it, and the event
	// file through which the event thread wakes it (open from the first
	// registration until `removed`); the size it is to apply, 0 for none.
	Linux::IRunLoop* hostLoop_ = nullptr;
	std::atomic<bool> hostLoopRegistered_ {false};
	int eventFd_ = -1;
	std::atomic<uint64> pendingSize_ {0};

	// Event thread: outpost restarts seen so far, whether the wrapper says
	// that outpost is gone and when it draws that again, and its text's GC.
	int32 restartsSeen_ = 0;
	bool outpostGoneShown_ = false;
	std::chrono::steady_clock::time_point nextGoneDraw_ {};
	uint32 goneTextGc_ = 0;

	// Background of the wrapper, seen where Wine's window is not.
	static constexpr uint32 kWrapperBackground = 0x3c3c3c;
};

} // namespace QuillMarlow
} // namespace Steinberg
