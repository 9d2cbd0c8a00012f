// LatencyWatcher: tells the audio host when the served plug-in's latency
// changed while the host runs. outpost counts the changes of latency and
// tail in the command region (`latencyReport`); a timer on the host's run
// loop (the host context's, else the open editor's) compares the count with
// the one seen last and, when it moved, asks outpost for the values. A
// latency other than the one the processor reports makes it call the host's
// restartComponent(kLatencyChanged) once; the host then restarts the
// processor, which takes the new values on activation. A change of the tail
// alone needs no restart: the processor reports the new tail at once. It
// also tells the host (kIoChanged) when outpost, once up, read other buses
// than the ones the host was given before it ran.
#pragma once

#include "plugin/run_loop_timer.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

namespace Steinberg {
namespace QuillMarlow {

class LatencyWatcher : public RunLoopTimer
{
public:
	static constexpr Linux::TimerInterval kIntervalMs = 100;

	LatencyWatcher ();

	// The host's handler (null to forget it); takes a reference.
	void setHostHandler (Vst::IComponentHandler* hostHandler);
	// The processor whose outpost to watch.
	void follow (int32 instanceId);
	// Compares the count; true when the host was asked to restart.
	bool check ();

private:
	~LatencyWatcher () override;
	void tick () override { check (); }

	Vst::IComponentHandler* hostHandler_ = nullptr;
	bool following_ = false;
	int32 instanceId_ = 0;
	// The count seen last; -1 before the first look, which always asks.
	int32 seen_ = -1;
	// The latency the host was last asked to restart for, while the
	// processor still reports another; -1 when none is pending.
	int64 asked_ = -1;
	// The processor's count of bus changes the host was told of.
	int32 busChangesSeen_ = 0;
};

} // namespace QuillMarlow
} // namespace Steinberg
