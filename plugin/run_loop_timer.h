// A timer on the host's run loop (Linux::IRunLoop), so that its work runs on
// the host's user-interface thread. Hosts offer the run loop through the
// editor's plug frame, some also through their host context. A timer that
// has none of its own can ride along on another's (`carry`).
#pragma once

#include "pluginterfaces/gui/iplugview.h"
#include "sdk/ref_counted.h"

namespace Steinberg {
namespace QuillMarlow {

class RunLoopTimer : public Tandem::RefCounted<Linux::ITimerHandler>
{
public:
	// Linux::ITimerHandler: this timer's work, then the carried one's while
	// that has no run loop of its own.
	void PLUGIN_API onTimer () SMTG_OVERRIDE;

	// Follows the run loop that `source` (a plug frame, a host context)
	// offers; null, or a source without one, stops the timer.
	void useRunLoopOf (FUnknown* source);
	bool hasRunLoop () const { return runLoop_ != nullptr; }
	// Another timer to run on each tick while it has no run loop of its own
	// (null to stop); takes a reference.
	void carry (RunLoopTimer* passenger);

protected:
	// `refusedLine` is logged when a run loop refuses the timer.
	RunLoopTimer (Linux::TimerInterval intervalMs, const char* refusedLine);
	virtual ~RunLoopTimer ();
	virtual void tick () = 0;

private:
	const Linux::TimerInterval intervalMs_;
	const char* refusedLine_;
	Linux::IRunLoop* runLoop_ = nullptr;
	RunLoopTimer* passenger_ = nullptr;
};

} // namespace QuillMarlow
} // namespace Steinberg
