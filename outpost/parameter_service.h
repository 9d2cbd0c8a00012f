// The served plug-in's parameters in the parameter region (the list, the
// values both ways, the MIDI mapping, the Linux side's requests), and the
// wake-up of the main thread when the Linux side asks something.
#pragma once

#include <memory>

#include "host_thread.h"
#include "midi_mapping_writer.h"
#include "parameter_list_writer.h"
#include "served_instance.h"
#include "word_waker.h"

namespace Tandem {

class ParameterService
{
public:
	explicit ParameterService (ServedInstance& instance) : instance_ (instance) {}
	~ParameterService () { stop (); }
	ParameterService (const ParameterService&) = delete;
	ParameterService& operator= (const ParameterService&) = delete;

	// Published once the served plug-in exists.
	void start ();
	// Each main-loop turn: the host's values, a request, the plug-in's
	// announcements and values. `linuxCalls`: the requester sleeps on a
	// futex and is woken.
	void service (bool linuxCalls);
	// After a state was set.
	void publishAfterState ();
	// Has `waker` end the main thread's wait when the Linux side asks
	// something of it (it bumps the region's `wake` word).
	void startWaker (WordWaker& waker);
	// Stops the waking and lets the writers go (before the plug-in goes).
	void stop ();

private:
	ServedInstance& instance_;
	std::unique_ptr<ParameterListWriter> list_;
	std::unique_ptr<MidiMappingWriter> midi_;
	WordWaker* waker_ = nullptr;
};

} // namespace Tandem
