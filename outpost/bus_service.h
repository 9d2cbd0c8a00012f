// The served buses in the bus region, the host's bus commands, the blocks
// of any buses (on the audio thread), and the restarts the served plug-in
// asks its host for besides those about parameters.
#pragma once

#include <cstdint>

#include "served_instance.h"

namespace Tandem {

class BusService
{
public:
	explicit BusService (ServedInstance& instance) : instance_ (instance) {}

	// Published after creation: the host lists buses long before it activates.
	void start ();
	// The host's bus commands; the others are left alone.
	void handle (std::int32_t code);
	// Main thread: restarts besides those about parameters, relayed to the
	// host after the buses they announce were published again.
	void relayOtherRestarts ();
	// Audio thread: a block of any buses, in the bus region's pools.
	void processBlock (std::int32_t samples, HostBlock& host);

private:
	ServedInstance& instance_;
};

} // namespace Tandem
