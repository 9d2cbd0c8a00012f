// The served controller's own state (its editor's page, zoom and size, and
// whatever else a plug-in keeps in its controller): saved from outpost into
// the host's project through our controller, restored from it, and kept here
// for an outpost that is not up yet or is started again.
#include "plugin/served_state.h"

#include "plugin/outpost_lifecycle.h"
#include "plugin/shared_memory.h"

#include "log/log.h"
#include "protocol/state_commands.h"

#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

tresult ServedState::getControllerState (IBStream* stream, const std::function<void ()>& startOutpost)
{
	if (!stream)
		return kInvalidArgument;
	startOutpost ();
	std::lock_guard<std::mutex> lock (lock_);
	Tandem::UICommand* ui = file_.uiCommand ();
	Tandem::StateData* state = file_.stateData ();
	// Without an outpost the last state known is the one to save.
	auto saveLastKnown = [&] () -> tresult {
		return writeState (stream, lastController_.data (), static_cast<int32> (lastController_.size ()))
		           ? kResultOk
		           : kResultFalse;
	};
	if (!ui || !state || !outpost_.serving () || keepsRefused (controllerRefused_))
		return saveLastKnown ();

	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (Tandem::CommandCode::GetControllerState, [] { return false; });
	if (!pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || !outpost_.alive (); },
	                deadline) ||
	    !state->stateReady.load (std::memory_order_acquire))
	{
		Tandem::logError () << "[QuillMarlow] Timeout waiting for the controller's state from outpost";
		return saveLastKnown ();
	}
	const int32 result = Tandem::answeredResult (*ui);
	if (result != kResultOk)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_
		                    << "] The served controller could not save its state (result " << result << ")";
		return Tandem::hostResult (result);
	}
	const int32 size = Tandem::clampCount (state->stateSize, Tandem::kMaxStateSize);
	lastController_.assign (state->stateBuffer, state->stateBuffer + size);
	if (!writeState (stream, lastController_.data (), size))
		return kResultFalse;
	Tandem::logInfo () << "[QuillMarlow] Controller state saved: " << size << " bytes";
	return kResultOk;
}

tresult ServedState::setControllerState (IBStream* stream, const std::function<void ()>& startOutpost)
{
	if (!stream)
		return kInvalidArgument;
	std::vector<uint8> bytes;
	const StateRead read = readState (stream, bytes, true);
	// A project saved before the controller's state was kept has none.
	if (read == StateRead::Empty)
		return kResultOk;
	if (read == StateRead::Failed)
		return kResultFalse;
	startOutpost ();
	std::lock_guard<std::mutex> lock (lock_);
	lastController_ = std::move (bytes);
	controllerRefused_ = false;
	Tandem::logInfo () << "[QuillMarlow] Controller state loaded: " << lastController_.size () << " bytes";
	Tandem::UICommand* ui = file_.uiCommand ();
	if (!ui || !outpost_.serving ())
	{
		Tandem::logInfo () << "[QuillMarlow] Controller state cached - will be applied when outpost starts";
		return kResultOk;
	}
	int32 served = kResultOk;
	sendController ([] { return false; }, &served);
	controllerRefused_ = served != kResultOk;
	refusedEdits_ = ui->editCount.load (std::memory_order_relaxed);
	return Tandem::hostResult (served);
}

bool ServedState::sendController (const std::function<bool ()>& stopping, int32* served)
{
	return handOver (lastController_, Tandem::CommandCode::SetControllerState, "controller's state",
	                 "[QuillMarlow] Controller state sent to outpost",
	                 "[QuillMarlow] Timeout waiting for outpost to apply the controller's state", stopping, served);
}

} // namespace QuillMarlow
} // namespace Steinberg
