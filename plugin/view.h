// The editor view: embeds the X11 window that Wine created for the served
// plug-in's editor into the host's window, through a wrapper window of our
// own, and runs a thread that keeps Wine told of its screen position and
// steers the keyboard focus into it. The host's window and the served editor
// follow each other's size.
//
// Files: view.cpp (the view's life, attach and detach, the editor through
// outpost's restarts), view_sizing.cpp (sizes between host, view and served
// editor). The windows are a WindowTree's, followed by an EditorEventThread;
// the commands to outpost go through ViewCommands.
#pragma once

#include "plugin/command_region_link.h"
#include "plugin/editor_event_thread.h"
#include "plugin/view_commands.h"
#include "plugin/window_tree.h"
#include "protocol/tandem_protocol.h"
#include "sdk/ref_counted.h"

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

class QuillMarlowView : public Tandem::RefCounted<IPlugView, IPlugViewContentScaleSupport, Linux::IEventHandler>,
                        private EditorEventThread::Client
{
public:
	// Opens the view's own X11 connection (DISPLAY decides which); the view
	// is usable without one, but then every `attached` fails.
	explicit QuillMarlowView (CommandRegionLink region);
	// A bare region: a processor's is linked through its processor.
	explicit QuillMarlowView (Tandem::UICommand* uiCommand);

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

	// Read-only looks for diagnostics and tests.
	uint32 wrapperWindow () const { return windows_.wrapper (); }
	uint32 wineWindow () const { return windows_.wine (); }
	bool hasConnection () const { return windows_.connection () != nullptr; }
	bool eventThreadRunning () const { return eventThread_.running (); }

protected:
	virtual ~QuillMarlowView ();

private:
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
	// The event thread's client.
	void checkSizeReport () override;
	void followOutpost (uint32 wrapper, uint32& wine) override;
	uint16 editorWidth () const override { return static_cast<uint16> (editorWidth_.load (std::memory_order_relaxed)); }
	uint16 editorHeight () const override
	{
		return static_cast<uint16> (editorHeight_.load (std::memory_order_relaxed));
	}
	// Event thread: outpost's restarts.
	bool embedRestartedEditor (uint32 wrapper);
	// Host's user-interface thread: the served editor has a new size.
	void followServedSize (int32 width, int32 height);
	// Host's user-interface thread: asks the host's frame for this size.
	void askHostToResize (int32 width, int32 height);
	void registerWithRunLoop ();
	void unregisterFromRunLoop ();

	CommandRegionLink region_;
	WindowTree windows_;
	ViewCommands commands_ {region_, windows_};
	IPlugFrame* frame_ = nullptr;
	EditWatcher* editWatcher_ = nullptr;
	std::atomic<int32> editorWidth_ {800};
	std::atomic<int32> editorHeight_ {600};
	EditorEventThread eventThread_ {windows_, *this};

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
	// that outpost is gone and when it draws that again.
	int32 restartsSeen_ = 0;
	bool outpostGoneShown_ = false;
	std::chrono::steady_clock::time_point nextGoneDraw_ {};
};

} // namespace QuillMarlow
} // namespace Steinberg
