// The editor view's life: creation, attaching to and detaching from the
// host's window, focus, the host's frame and run loop, and the editor
// through outpost's restarts.
#include "plugin/view.h"
#include "plugin/command_slot.h"
#include "plugin/sleep_fully.h"
#include "protocol/editor_size.h"
#include "log/log.h"

#include "plugin/edit_watcher.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr auto kShowEditorTimeout = std::chrono::seconds (10);
constexpr auto kRestartShowTimeout = std::chrono::seconds (10);
constexpr auto kGoneRedrawPeriod = std::chrono::milliseconds (500);
constexpr const char kGoneText[] = "The plug-in has stopped. It is being restarted...";

} // namespace

QuillMarlowView::QuillMarlowView (Tandem::UICommand* uiCommand)
: QuillMarlowView (CommandRegionLink::toRegion (uiCommand))
{
}

QuillMarlowView::QuillMarlowView (CommandRegionLink region) : region_ (region)
{
	Tandem::logInfo () << "[QuillMarlowView] Created";
}

QuillMarlowView::~QuillMarlowView ()
{
	Tandem::logInfo () << "[QuillMarlowView] Destroyed";
	if (editWatcher_)
	{
		editWatcher_->useRunLoopOf (nullptr);
		editWatcher_->release ();
	}
	eventThread_.stop ();
	unregisterFromRunLoop ();
	if (eventFd_ >= 0)
		::close (eventFd_);
	// A host that releases an attached view without `removed` gets Wine's
	// window back at the root when windows_ goes.
}

tresult PLUGIN_API QuillMarlowView::isPlatformTypeSupported (FIDString type)
{
	if (type)
		Tandem::logInfo () << "[QuillMarlowView] isPlatformTypeSupported: " << type;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::attached (void* parent, FIDString type)
{
	Tandem::logInfo () << "[QuillMarlowView] attached() called";
	Tandem::logInfo () << "[QuillMarlowView] Platform type: " << (type ? type : "null");
	Tandem::logInfo () << "[QuillMarlowView] Parent window: " << parent;

	if (!region_.linked ())
	{
		Tandem::logError () << "[QuillMarlowView] ERROR: No UICommand available!";
		return kResultFalse;
	}
	if (!windows_.connected ())
	{
		Tandem::logError () << "[QuillMarlowView] ERROR: No XCB connection!";
		return kResultFalse;
	}

	windows_.setParent (static_cast<uint64> (reinterpret_cast<uintptr_t> (parent)));
	Tandem::logInfo () << "[QuillMarlowView] Parent X11 Window ID: 0x" << std::hex << windows_.parent ();

	// `removed` does not wait for its HideEditor, and under Wine hiding can
	// take two seconds. A ShowEditor posted over it would be answered by the
	// hide's acknowledgement, without a window: let the earlier command finish.
	if (!commands_.postShowEditor (kShowEditorTimeout))
		return kResultFalse;
	Tandem::logInfo () << "[QuillMarlowView] Waiting for outpost to create editor window...";
	if (!commands_.waitForAcknowledgement (kShowEditorTimeout, true))
		return kResultFalse;

	const uint64 wine = commands_.wineWindow ();
	windows_.setWine (wine);
	if (wine == 0)
	{
		Tandem::logError () << "[QuillMarlowView] ERROR: outpost did not provide X11 window handle!";
		return kResultFalse;
	}
	Tandem::logInfo () << "[QuillMarlowView] Wine X11 Window ID: 0x" << std::hex << wine;
	takeEmbeddedEditorSize ();
	Tandem::logInfo () << "[QuillMarlowView] Editor size: " << editorWidth_ << "x" << editorHeight_;
	Tandem::logInfo () << "[QuillMarlowView] Using embedded mode (Wine window reparented into the host window)";

	if (!windows_.createWrapper (editorWidth_, editorHeight_))
	{
		Tandem::logError () << "[QuillMarlowView] Failed to create wrapper window!";
		return kResultFalse;
	}

	if (!eventThread_.running ())
	{
		bool up = true;
		int32 restarts = 0;
		if (region_.outpostStatus (up, restarts))
			restartsSeen_ = restarts;
		outpostGoneShown_ = false;
		eventThread_.start ();
	}

	if (windows_.updatePosition (windows_.wrapper (), windows_.wine (), static_cast<uint16> (editorWidth_.load ()),
	                             static_cast<uint16> (editorHeight_.load ()), nullptr, true))
		Tandem::logInfo () << "[QuillMarlowView] Initial position: (" << windows_.lastX () << "," << windows_.lastY ()
		                   << ")";
	xcb_connection_t* connection = windows_.connection ();
	xcb_flush (connection);
	registerWithRunLoop ();
	// A host that never asked for our size has its window at a size of its
	// own: that is the size it has accepted so far.
	if (hostWidth_ <= 0 || hostHeight_ <= 0)
		if (auto* g = xcb_get_geometry_reply (connection, xcb_get_geometry (connection, windows_.parent ()), nullptr))
		{
			hostWidth_ = g->width;
			hostHeight_ = g->height;
			std::free (g);
		}
	// The host sized its window before it knew the editor: ask it to fit.
	if (editorWidth_ != hostWidth_ || editorHeight_ != hostHeight_)
		askHostToResize (editorWidth_, editorHeight_);
	Tandem::logInfo () << "[QuillMarlowView] Plugin view attached (embedded mode)!";
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::removed ()
{
	Tandem::logInfo () << "[QuillMarlowView] removed() called";
	eventThread_.stop ();
	unregisterFromRunLoop ();
	if (eventFd_ >= 0)
	{
		::close (eventFd_);
		eventFd_ = -1;
	}
	pendingSize_ = 0;
	windows_.releaseWine ();
	// Not waited for; a command in flight (a state request of the
	// processor) gets a moment to finish before the hide is written anyway.
	const bool hidden = commands_.postWhenFree (
	    [] (Tandem::UICommand& ui) { ui.command = static_cast<int32> (Tandem::CommandCode::HideEditor); },
	    std::chrono::milliseconds (500), true);
	if (!hidden && region_.linked ())
	{
		Tandem::logInfo () << "[QuillMarlowView] HideEditor not posted: outpost's shared file is gone";
	}
	windows_.destroyWrapper ();
	Tandem::logInfo () << "[QuillMarlowView] View removed successfully";
	return kResultOk;
}

// Keys and the wheel reach the served editor through the X server, straight
// into Wine's window. What a host hands us here we did not take: the host's
// own shortcuts keep working.
tresult PLUGIN_API QuillMarlowView::onWheel (float)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowView::onKeyDown (char16, int16, int16)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowView::onKeyUp (char16, int16, int16)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowView::onFocus (TBool state)
{
	if (!windows_.wine () || !windows_.connection ())
		return kResultOk;
	if (state)
	{
		xcb_set_input_focus (windows_.connection (), XCB_INPUT_FOCUS_POINTER_ROOT, windows_.wine (), XCB_CURRENT_TIME);
		xcb_flush (windows_.connection ());
		Tandem::logInfo () << "[QuillMarlowView] Focus gained - set X11 input focus";
	}
	else
	{
		Tandem::logInfo () << "[QuillMarlowView] Focus lost";
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::setFrame (IPlugFrame* frame)
{
	// The run loop came with the old frame; the event file stays open for
	// the event thread, which now finds no run loop to wake.
	if (frame != frame_)
		unregisterFromRunLoop ();
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

void QuillMarlowView::registerWithRunLoop ()
{
	if (hostLoop_)
		return;
	Linux::IRunLoop* loop = nullptr;
	if (!frame_ || frame_->queryInterface (Linux::IRunLoop::iid, reinterpret_cast<void**> (&loop)) != kResultOk ||
	    !loop)
	{
		Tandem::logInfo () << "[QuillMarlowView] Host offers no run loop: editor resizes stay inside the host window";
		return;
	}
	if (eventFd_ < 0)
		eventFd_ = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
	if (eventFd_ < 0 || loop->registerEventHandler (this, eventFd_) != kResultOk)
	{
		Tandem::logError () << "[QuillMarlowView] Could not register with the host's run loop";
		loop->release ();
		return;
	}
	hostLoop_ = loop;
	hostLoopRegistered_ = true;
	Tandem::logInfo () << "[QuillMarlowView] Registered with the host's run loop";
}

void QuillMarlowView::unregisterFromRunLoop ()
{
	if (!hostLoop_)
		return;
	hostLoopRegistered_ = false;
	hostLoop_->unregisterEventHandler (this);
	hostLoop_->release ();
	hostLoop_ = nullptr;
}

// While outpost is restarted (on the event thread): the wrapper says that
// the plug-in is gone instead of showing a dead area, and once the new
// outpost is up its editor is embedded in the same wrapper, in the same host
// window.
void QuillMarlowView::followOutpost (uint32 wrapper, uint32& wine)
{
	bool up = true;
	int32 restarts = 0;
	if (!region_.outpostStatus (up, restarts))
		return; // a region of no processor: nothing restarts it
	const auto now = std::chrono::steady_clock::now ();
	if (!up)
	{
		if (!outpostGoneShown_)
			Tandem::logInfo () << "[QuillMarlowView] outpost is gone: the editor comes back once it is restarted";
		// Wine's window went with outpost: the area it leaves is drawn anew
		// now and then, which also covers any exposure.
		if (!outpostGoneShown_ || now >= nextGoneDraw_)
		{
			windows_.drawNotice (wrapper, kGoneText);
			nextGoneDraw_ = now + kGoneRedrawPeriod;
		}
		outpostGoneShown_ = true;
		return;
	}
	if (restarts == restartsSeen_)
		return;
	restartsSeen_ = restarts;
	outpostGoneShown_ = false;
	if (embedRestartedEditor (wrapper))
		wine = windows_.wine ();
}

bool QuillMarlowView::embedRestartedEditor (uint32 wrapper)
{
	Tandem::logInfo () << "[QuillMarlowView] outpost was restarted: asking it for its editor";
	if (!commands_.postShowEditor (kRestartShowTimeout) || !commands_.waitForAcknowledgement (kRestartShowTimeout))
		return false;
	const uint64 window = commands_.wineWindow ();
	if (window == 0)
	{
		Tandem::logError () << "[QuillMarlowView] The restarted outpost did not provide an editor window";
		return false;
	}
	windows_.setWine (window);
	takeEmbeddedEditorSize ();
	const uint16 width = static_cast<uint16> (editorWidth_.load ()),
	             height = static_cast<uint16> (editorHeight_.load ());
	windows_.embedWine (wrapper, wrapper, width, height);
	windows_.updatePosition (wrapper, windows_.wine (), width, height, nullptr, true);
	xcb_flush (windows_.connection ());
	Tandem::logInfo () << "[QuillMarlowView] Editor of the restarted outpost embedded: Wine window 0x" << std::hex
	                   << windows_.wine ();
	return true;
}

} // namespace QuillMarlow
} // namespace Steinberg
