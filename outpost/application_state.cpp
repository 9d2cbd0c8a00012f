// outpost's state commands: the served processor's state and its
// controller's own state, in and out through the state region, each
// answering the served plug-in's result (protocol/state_commands.h).
#include "application.h"

#include "protocol/state_commands.h"

namespace Tandem {

void OutpostApplication::handleStateCommand(CommandCode code) {
    UICommand& ui = *uiCommand_;
    StateData& state = *stateData_;
    switch (code) {
    case CommandCode::GetState: {
        logInfo() << "[Outpost] Received GetState command";
        // The state must hold every edit made so far.
        flushEditsToProcessor();
        const std::int32_t n = plugin_ ? plugin_->state().getState(state.stateBuffer, kMaxStateSize) : 0;
        state.stateSize = n;
        answerResult(ui, n > 0 ? Steinberg::kResultOk : Steinberg::kResultFalse);
        state.stateReady.store(true, std::memory_order_release);
        if (plugin_) logInfo() << "[Outpost] State saved: " << n << " bytes";
        break;
    }
    case CommandCode::SetState: {
        logInfo() << "[Outpost] Received SetState command";
        // The size comes from the other process: one beyond the buffer is no state.
        const std::int32_t size = state.stateSize;
        Steinberg::tresult result = Steinberg::kResultOk;
        if (plugin_ && size > 0 && size <= kMaxStateSize) {
            // Edits made before the restore must not land on top of it.
            flushEditsToProcessor();
            result = plugin_->state().setState(state.stateBuffer, size);
            logInfo() << "[Outpost] State restored: " << (result == Steinberg::kResultOk ? "OK" : "FAILED");
            // The host reads the values right after the state.
            publishParametersAfterState();
        }
        answerResult(ui, result);
        break;
    }
    case CommandCode::GetControllerState: {
        logInfo() << "[Outpost] Received GetControllerState command";
        std::int32_t n = 0;
        const Steinberg::tresult result =
            plugin_ ? plugin_->state().getControllerState(state.stateBuffer, kMaxStateSize, n) : Steinberg::kResultOk;
        state.stateSize = n;
        answerResult(ui, result);
        state.stateReady.store(true, std::memory_order_release);
        break;
    }
    case CommandCode::SetControllerState: {
        logInfo() << "[Outpost] Received SetControllerState command";
        const std::int32_t size = state.stateSize;
        Steinberg::tresult result = Steinberg::kResultOk;
        if (plugin_ && size > 0 && size <= kMaxStateSize) {
            result = plugin_->state().setControllerState(state.stateBuffer, size);
            // A controller's state may carry values too.
            publishParametersAfterState();
        }
        answerResult(ui, result);
        break;
    }
    default:
        break;
    }
}

}  // namespace Tandem
