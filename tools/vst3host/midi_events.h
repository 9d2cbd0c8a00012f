// MIDI messages as VST 3 events and back, and the event lists of a block.
// Notes, poly pressure and SysEx travel as events; controllers, channel
// pressure and pitch bend as points of the parameters the plug-in assigns
// them to (IMidiMapping), as hosts send them.
#pragma once

#include "midi_file.h"

#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <vector>

namespace vst3host {

// A fixed-capacity IEventList: nothing allocates once it is made. The bytes
// of SysEx that the plug-in sends are copied into the list's own store, so
// they outlive the block.
class EventList : public Steinberg::Vst::IEventList
{
public:
	explicit EventList (size_t capacity = 2048, size_t bytes = 65536);

	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
	Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
	Steinberg::uint32 PLUGIN_API release () override { return 1; }
	Steinberg::int32 PLUGIN_API getEventCount () override { return static_cast<Steinberg::int32> (events_.size ()); }
	Steinberg::tresult PLUGIN_API getEvent (Steinberg::int32 index, Steinberg::Vst::Event& e) override;
	Steinberg::tresult PLUGIN_API addEvent (Steinberg::Vst::Event& e) override;

	void clear ();
	const std::vector<Steinberg::Vst::Event>& events () const { return events_; }

private:
	std::vector<Steinberg::Vst::Event> events_;
	std::vector<Steinberg::uint8> bytes_;
	size_t used_ = 0;
};

// The event of a note on or off, poly pressure or SysEx message, placed at
// `sampleOffset` of its block on event bus 0; false for other messages.
// A SysEx event points into `midi`'s bytes.
bool toEvent (const TimedMidi& midi, Steinberg::int32 sampleOffset, Steinberg::Vst::Event& event);

// The controller (0-127), channel pressure (128) or pitch bend (129) of a
// channel message, with its value from 0 to 1; false for other messages.
bool toController (const TimedMidi& midi, int& channel, int& controller, double& value);

// The MIDI message of an event the plug-in sent; false for events MIDI
// has no message for (note expressions, chords, scales).
bool toMidi (const Steinberg::Vst::Event& event, std::vector<unsigned char>& bytes);

} // namespace vst3host
