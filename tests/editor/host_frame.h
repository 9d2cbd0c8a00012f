// The host's side of an editor view, as a test plays it: an IPlugFrame that
// resizes the host's X11 window when the view asks and then tells the view,
// and a Linux run loop (IRunLoop) that the test runs on its own thread, the
// host's user-interface thread, while it waits for something.
#pragma once

#include "x_host.h"

#include "pluginterfaces/gui/iplugview.h"

#include <poll.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace QuillMarlowTest {

class HostFrame : public Steinberg::IPlugFrame, public Steinberg::Linux::IRunLoop
{
public:
	// `withRunLoop` false plays a host that offers none.
	HostFrame (HostDisplay& host, xcb_window_t window, bool withRunLoop = true)
	: host_ (host), window_ (window), withRunLoop_ (withRunLoop)
	{
	}

	Steinberg::tresult PLUGIN_API resizeView (Steinberg::IPlugView* view, Steinberg::ViewRect* size) override
	{
		if (!view || !size)
			return Steinberg::kInvalidArgument;
		requests.emplace_back (size->getWidth (), size->getHeight ());
		// As the SDK's editor host does: a view that already reports the
		// size needs nothing done.
		Steinberg::ViewRect now {};
		view->getSize (&now);
		if (now.getWidth () == size->getWidth () && now.getHeight () == size->getHeight ())
			return Steinberg::kResultTrue;
		const uint32_t wh[] = {static_cast<uint32_t> (size->getWidth ()), static_cast<uint32_t> (size->getHeight ())};
		xcb_configure_window (host_.c, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wh);
		xcb_flush (host_.c);
		return view->onSize (size);
	}

	Steinberg::tresult PLUGIN_API registerEventHandler (Steinberg::Linux::IEventHandler* handler,
	                                                    Steinberg::Linux::FileDescriptor fd) override
	{
		if (!handler)
			return Steinberg::kInvalidArgument;
		handler->addRef ();
		handlers_.emplace_back (handler, fd);
		return Steinberg::kResultOk;
	}
	Steinberg::tresult PLUGIN_API unregisterEventHandler (Steinberg::Linux::IEventHandler* handler) override
	{
		auto it =
		    std::find_if (handlers_.begin (), handlers_.end (), [&] (const auto& h) { return h.first == handler; });
		if (it == handlers_.end ())
			return Steinberg::kResultFalse;
		handlers_.erase (it);
		handler->release ();
		return Steinberg::kResultOk;
	}
	// Timers only where a test asks for them (`withTimers`): runUntil fires
	// each on every pass.
	Steinberg::tresult PLUGIN_API registerTimer (Steinberg::Linux::ITimerHandler* handler,
	                                             Steinberg::Linux::TimerInterval) override
	{
		if (!withTimers || !handler)
			return Steinberg::kNotImplemented;
		handler->addRef ();
		timers_.push_back (handler);
		return Steinberg::kResultOk;
	}
	Steinberg::tresult PLUGIN_API unregisterTimer (Steinberg::Linux::ITimerHandler* handler) override
	{
		auto it = std::find (timers_.begin (), timers_.end (), handler);
		if (it == timers_.end ())
			return Steinberg::kNotImplemented;
		timers_.erase (it);
		handler->release ();
		return Steinberg::kResultOk;
	}

	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
	{
		using namespace Steinberg;
		if (FUnknownPrivate::iidEqual (iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
			*obj = static_cast<IPlugFrame*> (this);
		else if (withRunLoop_ && FUnknownPrivate::iidEqual (iid, Linux::IRunLoop::iid))
			*obj = static_cast<Linux::IRunLoop*> (this);
		else
		{
			*obj = nullptr;
			return kNoInterface;
		}
		return kResultOk;
	}
	// Owned by the test, on its stack.
	Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
	Steinberg::uint32 PLUGIN_API release () override { return 1; }

	// Runs the loop until `done` or `ms` have passed: every readable
	// descriptor's handler is called here, on the test's thread.
	bool runUntil (const std::function<bool ()>& done, int ms = 5000)
	{
		return waitFor (
		    [&] {
			    for (size_t i = 0; i < handlers_.size (); ++i)
			    {
				    pollfd p {handlers_[i].second, POLLIN, 0};
				    if (::poll (&p, 1, 0) == 1 && (p.revents & POLLIN))
					    handlers_[i].first->onFDIsSet (handlers_[i].second);
			    }
			    for (size_t i = 0; i < timers_.size (); ++i)
				    timers_[i]->onTimer ();
			    return done ();
		    },
		    ms);
	}
	size_t handlerCount () const { return handlers_.size (); }

	// Every size the view asked for, in order.
	std::vector<std::pair<int, int>> requests;
	bool withTimers = false;

private:
	HostDisplay& host_;
	xcb_window_t window_;
	bool withRunLoop_;
	std::vector<std::pair<Steinberg::Linux::IEventHandler*, int>> handlers_;
	std::vector<Steinberg::Linux::ITimerHandler*> timers_;
};

} // namespace QuillMarlowTest
