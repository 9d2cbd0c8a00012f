// outpost's side of the host's session: the session region checked at
// start, and the host's activation and deactivation of the served
// processor (commands). Its processing state is followed on the audio
// thread (audio_thread.h).
#pragma once

#include "audio_thread.h"
#include "latency_service.h"
#include "served_instance.h"

namespace Tandem {

class SessionService
{
public:
	SessionService (ServedInstance& instance, LatencyService& latency, AudioThread& audio)
	: instance_ (instance), latency_ (latency), audio_ (audio)
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
	// Woken after an activation to take up the processing state asked for.
	AudioThread& audio_;
};

} // namespace Tandem
