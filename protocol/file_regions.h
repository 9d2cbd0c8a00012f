// Where each region lies in the mapped file: one description that both
// programs build their pointers from (the Linux side after it created and
// mapped the file, outpost after it mapped it).
#pragma once

#include "protocol/event_data.h"
#include "protocol/tandem_protocol.h"

namespace Tandem {

// The regions of a mapped file of kFileSize bytes.
struct Regions
{
	UICommand* uiCommand;
	AudioData* audioData;
	StateData* stateData;
	SessionData* session;
	ParameterData* parameters;
	BusData* buses;
	EventData* events;
};

inline Regions regionsAt (void* base)
{
	auto* bytes = static_cast<unsigned char*> (base);
	return {reinterpret_cast<UICommand*> (bytes + kUICommandOffset),
	        reinterpret_cast<AudioData*> (bytes + kAudioDataOffset),
	        reinterpret_cast<StateData*> (bytes + kStateDataOffset),
	        sessionAt (base),
	        parametersAt (base),
	        busesAt (base),
	        eventsAt (base)};
}

} // namespace Tandem
