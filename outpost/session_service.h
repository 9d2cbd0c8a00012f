// outpost's side of the host's session: the session region checked at
// start, and the host's activation and deactivation of the served
// processor (commands). Its processing state is followed on the audio
// thread (audio_thread.h).
#pragma once

#include <functional>

#include "latency_service.h"
#include "served_instance.h"

namespace Tandem {

class SessionService
{
public:
	// `wakeAudio` wakes the audio thread to take up a new processing state.
	SessionService (ServedInstance& instance, LatencyService& latency, std::function<void ()> wakeAudio)
	: instance_ (instance), latency_ (latency), wakeAudio_ (std::move (wakeAudio))
	{
	}

	// The session region must be the one this build speaks (written by a
	// plug-in of the same build); outpost says which version it speaks
	// either way.
	bool acceptRegion ();
	void activate ();
	void deactivate ();

private:
	ServedInstance& instance_;
	LatencyService& latency_;
	std::function<void ()> wakeAudio_;
};

} // namespace Tandem
