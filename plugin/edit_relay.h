// EditRelay: passes the served controller's edits and announcements, as
// outpost relays them through the parameter region, on to the host's
// component handler, in order and on the host's user-interface thread (a
// timer of the host's run loop): beginEdit, performEdit and endEdit, group
// edits, setDirty, requestOpenEditor, and restartComponent once the list
// copy is refreshed, so that the host reads the new list. It also gives a
// relaunched outpost back the values the host set.
#pragma once

#include "plugin/parameter_list_reader.h"
#include "plugin/run_loop_timer.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

namespace Steinberg {
namespace QuillMarlow {

class EditRelay : public RunLoopTimer
{
public:
	static constexpr Linux::TimerInterval kIntervalMs = 10;

	// `parameters` belongs to the controller, which detaches before it goes.
	explicit EditRelay (ParameterListReader& parameters);
	// The host's handler (null to forget it); takes a reference.
	void setHostHandler (Vst::IComponentHandler* hostHandler);
	void detach ();
	// Passes on what waits; returns how much.
	int32 pass ();

private:
	~EditRelay () override;
	void tick () override { pass (); }
	void passOne (const Tandem::RingEntry& entry);

	ParameterListReader* parameters_;
	Vst::IComponentHandler* hostHandler_ = nullptr;
	Vst::IComponentHandler2* hostHandler2_ = nullptr;
};

} // namespace QuillMarlow
} // namespace Steinberg
