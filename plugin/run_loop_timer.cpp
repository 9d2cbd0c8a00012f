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
