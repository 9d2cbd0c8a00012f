// EditWatcher: tells the audio host that the project changed after an edit
// in the served plug-in's editor, so that the host offers to save it.
// outpost counts the edits in the command region (`editCount`); a timer of
// the host's run loop, on the host's user-interface thread, compares the
// count with the one seen last and calls the host's
// IComponentHandler2::setDirty(true) when it grew.
#pragma once

#include "plugin/command_region_link.h"
#include "plugin/run_loop_timer.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

namespace Steinberg {
namespace QuillMarlow {

class EditWatcher : public RunLoopTimer
{
public:
	// Short: the edit relay rides along while the host offers no run loop
	// of its own, and edits must reach the host's handler at once.
	static constexpr Linux::TimerInterval kIntervalMs = 10;

	// Reads the count through `region`; takes a reference on the host's handler.
	EditWatcher (CommandRegionLink region, Vst::IComponentHandler* hostHandler);

	// Compares the count; true when the host was told the project changed.
	bool check ();

private:
	~EditWatcher () override;
	void tick () override { check (); }

	// False while the region is gone.
	bool readCount (int32& count) const;

	CommandRegionLink region_;
	Vst::IComponentHandler* hostHandler_;
	int32 seen_;
	bool reported_ = false; // the first marking is logged, later ones not
};

} // namespace QuillMarlow
} // namespace Steinberg
