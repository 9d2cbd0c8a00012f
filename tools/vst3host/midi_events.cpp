#include "midi_events.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Steinberg;

namespace vst3host {

EventList::EventList (size_t capacity, size_t bytes) : bytes_ (bytes)
{
	events_.reserve (capacity);
}

tresult PLUGIN_API EventList::queryInterface (const TUID iid, void** obj)
{
	if (FUnknownPrivate::iidEqual (iid, Vst::IEventList::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
	{
		*obj = this;
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

tresult PLUGIN_API EventList::getEvent (int32 index, Vst::Event& e)
{
	if (index < 0 || index >= getEventCount ())
		return kInvalidArgument;
	e = events_[static_cast<size_t> (index)];
	return kResultOk;
}

tresult PLUGIN_API EventList::addEvent (Vst::Event& e)
{
	if (events_.size () == events_.capacity ())
		return kResultFalse;
	Vst::Event copy = e;
	if (e.type == Vst::Event::kDataEvent && e.data.bytes)
	{
		if (used_ + e.data.size > bytes_.size ())
			return kResultFalse;
		std::memcpy (bytes_.data () + used_, e.data.bytes, e.data.size);
		copy.data.bytes = bytes_.data () + used_;
		used_ += e.data.size;
	}
	events_.push_back (copy);
	return kResultOk;
}

void EventList::clear ()
{
	events_.clear ();
	used_ = 0;
}

bool toEvent (const TimedMidi& midi, int32 sampleOffset, Vst::Event& event)
{
	const auto& b = midi.bytes;
	event = {};
	event.busIndex = 0;
	event.sampleOffset = sampleOffset;
	event.ppqPosition = 0;
	event.flags = Vst::Event::kIsLive;
	if (b.size () >= 2 && b[0] == 0xF0)
	{
		event.type = Vst::Event::kDataEvent;
		event.data.type = Vst::DataEvent::kMidiSysEx;
		event.data.size = static_cast<uint32> (b.size ());
		event.data.bytes = b.data ();
		return true;
	}
	if (b.size () < 3)
		return false;
	const int status = b[0] & 0xF0;
	const auto channel = static_cast<int16> (b[0] & 0x0F);
	const auto pitch = static_cast<int16> (b[1] & 0x7F);
	const float value = static_cast<float> (b[2] & 0x7F) / 127.0f;
	if (status == 0x90 && value > 0.0f)
	{
		event.type = Vst::Event::kNoteOnEvent;
		event.noteOn = {channel, pitch, 0.0f, value, 0, -1};
		return true;
	}
	if (status == 0x80 || status == 0x90)
	{
		event.type = Vst::Event::kNoteOffEvent;
		event.noteOff = {channel, pitch, status == 0x80 ? value : 0.0f, -1, 0.0f};
		return true;
	}
	if (status == 0xA0)
	{
		event.type = Vst::Event::kPolyPressureEvent;
		event.polyPressure = {channel, pitch, value, -1};
		return true;
	}
	return false;
}

bool toController (const TimedMidi& midi, int& channel, int& controller, double& value)
{
	const auto& b = midi.bytes;
	if (b.size () < 2)
		return false;
	const int status = b[0] & 0xF0;
	channel = b[0] & 0x0F;
	if (status == 0xB0 && b.size () >= 3)
	{
		controller = b[1] & 0x7F;
		value = (b[2] & 0x7F) / 127.0;
		return true;
	}
	if (status == 0xD0)
	{
		controller = 128; // Vst::kAfterTouch
		value = (b[1] & 0x7F) / 127.0;
		return true;
	}
	if (status == 0xE0 && b.size () >= 3)
	{
		controller = 129; // Vst::kPitchBend
		value = ((b[1] & 0x7F) | ((b[2] & 0x7F) << 7)) / 16383.0;
		return true;
	}
	return false;
}

namespace {

unsigned char seven (float value)
{
	return static_cast<unsigned char> (std::clamp (static_cast<int> (std::lround (value * 127.0f)), 0, 127));
}

} // namespace

bool toMidi (const Vst::Event& e, std::vector<unsigned char>& bytes)
{
	switch (e.type)
	{
	case Vst::Event::kNoteOnEvent:
		bytes = {static_cast<unsigned char> (0x90 | (e.noteOn.channel & 0x0F)),
		         static_cast<unsigned char> (e.noteOn.pitch & 0x7F),
		         std::max<unsigned char> (1, seven (e.noteOn.velocity))};
		return true;
	case Vst::Event::kNoteOffEvent:
		bytes = {static_cast<unsigned char> (0x80 | (e.noteOff.channel & 0x0F)),
		         static_cast<unsigned char> (e.noteOff.pitch & 0x7F), seven (e.noteOff.velocity)};
		return true;
	case Vst::Event::kPolyPressureEvent:
		bytes = {static_cast<unsigned char> (0xA0 | (e.polyPressure.channel & 0x0F)),
		         static_cast<unsigned char> (e.polyPressure.pitch & 0x7F), seven (e.polyPressure.pressure)};
		return true;
	case Vst::Event::kDataEvent:
		if (e.data.type != Vst::DataEvent::kMidiSysEx || !e.data.bytes || e.data.size < 2)
			return false;
		bytes.assign (e.data.bytes, e.data.bytes + e.data.size);
		return true;
	case Vst::Event::kLegacyMIDICCOutEvent:
	{
		const auto channel = static_cast<unsigned char> (e.midiCCOut.channel & 0x0F);
		const auto v1 = static_cast<unsigned char> (e.midiCCOut.value & 0x7F);
		const auto v2 = static_cast<unsigned char> (e.midiCCOut.value2 & 0x7F);
		const auto number = static_cast<unsigned char> (e.midiCCOut.controlNumber);
		if (number < 128)
			bytes = {static_cast<unsigned char> (0xB0 | channel), number, v1};
		else if (number == Vst::kAfterTouch)
			bytes = {static_cast<unsigned char> (0xD0 | channel), v1};
		else if (number == Vst::kPitchBend)
			bytes = {static_cast<unsigned char> (0xE0 | channel), v1, v2};
		else
			return false;
		return true;
	}
	default:
		return false;
	}
}

} // namespace vst3host
