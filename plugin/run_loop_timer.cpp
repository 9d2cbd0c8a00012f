#include "plugin/run_loop_timer.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

RunLoopTimer::RunLoopTimer (Linux::TimerInterval intervalMs, const char* refusedLine)
: intervalMs_ (intervalMs), refusedLine_ (refusedLine)
{
}

RunLoopTimer::~RunLoopTimer ()
{
	useRunLoopOf (nullptr);
	carry (nullptr);
}

tresult PLUGIN_API RunLoopTimer::queryInterface (const TUID _iid, void** obj)
{
	if (!obj)
		return kInvalidArgument;
	if (FUnknownPrivate::iidEqual (_iid, Linux::ITimerHandler::iid) || FUnknownPrivate::iidEqual (_iid, FUnknown::iid))
	{
		addRef ();
		*obj = static_cast<Linux::ITimerHandler*> (this);
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

uint32 PLUGIN_API RunLoopTimer::addRef ()
{
	return static_cast<uint32> (refCount_.fetch_add (1) + 1);
}

uint32 PLUGIN_API RunLoopTimer::release ()
{
	const int32 left = refCount_.fetch_sub (1) - 1;
	if (left == 0)
		delete this;
	return static_cast<uint32> (left);
}

void PLUGIN_API RunLoopTimer::onTimer ()
{
	tick ();
	// A passenger without a run loop rides along, with its own passenger.
	if (passenger_ && !passenger_->hasRunLoop ())
		passenger_->onTimer ();
}

void RunLoopTimer::carry (RunLoopTimer* passenger)
{
	if (passenger)
		passenger->addRef ();
	if (passenger_)
		passenger_->release ();
	passenger_ = passenger;
}

void RunLoopTimer::useRunLoopOf (FUnknown* source)
{
	if (runLoop_)
	{
		runLoop_->unregisterTimer (this);
		runLoop_->release ();
		runLoop_ = nullptr;
	}
	Linux::IRunLoop* runLoop = nullptr;
	if (!source || source->queryInterface (Linux::IRunLoop::iid, reinterpret_cast<void**> (&runLoop)) != kResultOk ||
	    !runLoop)
		return;
	if (runLoop->registerTimer (this, intervalMs_) != kResultOk)
	{
		Tandem::logInfo () << refusedLine_;
		runLoop->release ();
		return;
	}
	runLoop_ = runLoop;
}

} // namespace QuillMarlow
} // namespace Steinberg
