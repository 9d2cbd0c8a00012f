// EditWatcher: tells the audio host that the project changed after an edit
// in the served plug-in's editor, so that the host offers to save it.
// outpost counts the edits in the command region (`editCount`); a timer of
// the host's run loop, on the host's user-interface thread, compares the
// count with the one seen last and calls the host's
// IComponentHandler2::setDirty(true) when it grew.
#pragma once

#include "plugin/command_region_link.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <atomic>

namespace Steinberg {
namespace QuillMarlow {

class EditWatcher : public Linux::ITimerHandler
{
public:
	static constexpr Linux::TimerInterval kIntervalMs = 100;

	// Reads the count through `region`; takes a reference on the host's handler.
	EditWatcher (CommandRegionLink region, Vst::IComponentHandler* hostHandler);

	tresult PLUGIN_API queryInterface (const TUID _iid, void** obj) SMTG_OVERRIDE;
	uint32 PLUGIN_API addRef () SMTG_OVERRIDE;
	uint32 PLUGIN_API release () SMTG_OVERRIDE;

	// Linux::ITimerHandler
	void PLUGIN_API onTimer () SMTG_OVERRIDE { check (); }

	// Follows the run loop of `frame` (the view's plug frame; null to stop).
	void useRunLoopOf (IPlugFrame* frame);
	// Compares the count; true when the host was told the project changed.
	bool check ();

private:
	virtual ~EditWatcher ();

	// False while the region is gone.
	bool readCount (int32& count) const;

	CommandRegionLink region_;
	Vst::IComponentHandler* hostHandler_;
	Linux::IRunLoop* runLoop_ = nullptr;
	int32 seen_;
	bool reported_ = false;  // the first marking is logged, later ones not
	std::atomic<int32> refCount_ {1};
};

} // namespace QuillMarlow
} // namespace Steinberg
