#include "state_service.h"

#include "log/log.h"

#include "protocol/state_commands.h"

namespace Tandem {

void StateService::handle (CommandCode code)
{
	UICommand& ui = *instance_.regions.uiCommand;
	StateData& state = *instance_.regions.stateData;
	PluginInstance* plugin = instance_.plugin.get ();
	switch (code)
	{
	case CommandCode::GetState:
	{
		logInfo () << "[Outpost] Received GetState command";
		// The state must hold every edit made so far.
		audio_.flushEdits ();
		const std::int32_t n = plugin ? plugin->state ().getState (state.stateBuffer, kMaxStateSize) : 0;
		state.stateSize = n;
		answerResult (ui, n > 0 ? Steinberg::kResultOk : Steinberg::kResultFalse);
		state.stateReady.store (true, std::memory_order_release);
		if (plugin)
			logInfo () << "[Outpost] State saved: " << n << " bytes";
		break;
	}
	case CommandCode::SetState:
	{
		logInfo () << "[Outpost] Received SetState command";
		// The size comes from the other process: one beyond the buffer is no state.
		const std::int32_t size = state.stateSize;
		Steinberg::tresult result = Steinberg::kResultOk;
		if (plugin && size > 0 && size <= kMaxStateSize)
		{
			// Edits made before the restore must not land on top of it.
			audio_.flushEdits ();
			result = plugin->state ().setState (state.stateBuffer, size);
			logInfo () << "[Outpost] State restored: " << (result == Steinberg::kResultOk ? "OK" : "FAILED");
			// The host reads the values right after the state.
			parameters_.publishAfterState ();
		}
		answerResult (ui, result);
		break;
	}
	case CommandCode::GetControllerState:
	{
		logInfo () << "[Outpost] Received GetControllerState command";
		std::int32_t n = 0;
		const Steinberg::tresult result =
		    plugin ? plugin->state ().getControllerState (state.stateBuffer, kMaxStateSize, n) : Steinberg::kResultOk;
		state.stateSize = n;
		answerResult (ui, result);
		state.stateReady.store (true, std::memory_order_release);
		break;
	}
	case CommandCode::SetControllerState:
	{
		logInfo () << "[Outpost] Received SetControllerState command";
		const std::int32_t size = state.stateSize;
		Steinberg::tresult result = Steinberg::kResultOk;
		if (plugin && size > 0 && size <= kMaxStateSize)
		{
			result = plugin->state ().setControllerState (state.stateBuffer, size);
			// A controller's state may carry values too.
			parameters_.publishAfterState ();
		}
		answerResult (ui, result);
		break;
	}
	default:
		break;
	}
}

} // namespace Tandem
