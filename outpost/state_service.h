// outpost's state commands: the served processor's state and its
// controller's own state, in and out through the state region, each
// answering the served plug-in's result (protocol/state_commands.h).
#pragma once

#include "audio_thread.h"
#include "parameter_service.h"
#include "protocol/tandem_protocol.h"
#include "served_instance.h"

namespace Tandem {

class StateService
{
public:
	StateService (ServedInstance& instance, AudioThread& audio, ParameterService& parameters)
	: instance_ (instance), audio_ (audio), parameters_ (parameters)
	{
	}

	// GetState, SetState, GetControllerState and SetControllerState.
	void handle (CommandCode code);

private:
	ServedInstance& instance_;
	// Edits made so far reach the processor before its state is taken or set.
	AudioThread& audio_;
	// The host reads the values right after a state.
	ParameterService& parameters_;
};

} // namespace Tandem
