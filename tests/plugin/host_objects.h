// The host's side of the controller's calls: its component handler and its
// run loop (alone, as a host context may offer it, or with the editor's
// frame), recording what the plug-in asked of them.
#pragma once

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <algorithm>
#include <vector>

namespace QuillMarlowTest {

using namespace Steinberg;

// queryInterface of a host stand-in that is one interface (and FUnknown).
template <typename Interface>
tresult answerAs (Interface* self, const TUID iid, void** obj)
{
	if (FUnknownPrivate::iidEqual (iid, Interface::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
	{
		*obj = self;
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

// The host's handler: counts setDirty(true) and restartComponent calls.
class TestHostHandler : public Vst::IComponentHandler, public Vst::IComponentHandler2
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler2::iid))
			*obj = static_cast<Vst::IComponentHandler2*> (this);
		else if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler::iid) ||
		         FUnknownPrivate::iidEqual (iid, FUnknown::iid))
			*obj = static_cast<Vst::IComponentHandler*> (this);
		else
		{
			*obj = nullptr;
			return kNoInterface;
		}
		return kResultOk;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API beginEdit (Vst::ParamID) override { return kResultOk; }
	tresult PLUGIN_API performEdit (Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
	tresult PLUGIN_API endEdit (Vst::ParamID) override { return kResultOk; }
	tresult PLUGIN_API restartComponent (int32 flags) override
	{
		++restartCalls;
		restartFlags = flags;
		return kResultOk;
	}
	tresult PLUGIN_API setDirty (TBool state) override
	{
		dirtyCalls += state ? 1 : 0;
		return kResultOk;
	}
	tresult PLUGIN_API requestOpenEditor (FIDString) override { return kResultFalse; }
	tresult PLUGIN_API startGroupEdit () override { return kResultOk; }
	tresult PLUGIN_API finishGroupEdit () override { return kResultOk; }

	int dirtyCalls = 0;
	int restartCalls = 0;
	int32 restartFlags = 0;
};

// The host's run loop: keeps the timers it is given; `timer` is the first.
class TestRunLoop : public Linux::IRunLoop
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		return answerAs<Linux::IRunLoop> (this, iid, obj);
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API registerEventHandler (Linux::IEventHandler*, Linux::FileDescriptor) override
	{
		return kResultOk;
	}
	tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler*) override { return kResultOk; }
	tresult PLUGIN_API registerTimer (Linux::ITimerHandler* handler, Linux::TimerInterval) override
	{
		timers.push_back (handler);
		timer = timers.front ();
		return kResultOk;
	}
	tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler* handler) override
	{
		timers.erase (std::remove (timers.begin (), timers.end (), handler), timers.end ());
		timer = timers.empty () ? nullptr : timers.front ();
		return kResultOk;
	}
	// One tick of every timer.
	void fire ()
	{
		for (Linux::ITimerHandler* each : std::vector<Linux::ITimerHandler*> (timers))
			each->onTimer ();
	}

	std::vector<Linux::ITimerHandler*> timers;
	Linux::ITimerHandler* timer = nullptr;
};

// The host's frame with its run loop.
class TestFrame : public IPlugFrame, public TestRunLoop
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
		{
			*obj = static_cast<IPlugFrame*> (this);
			return kResultOk;
		}
		return TestRunLoop::queryInterface (iid, obj);
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API resizeView (IPlugView*, ViewRect*) override { return kResultOk; }
};

} // namespace QuillMarlowTest
