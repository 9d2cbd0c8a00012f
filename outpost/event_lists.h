// The event lists outpost hands to the served processor with each block:
// the host's events read from the file, and the processor's own, copied as
// it adds them (its SysEx bytes and texts while its pointers are valid) and
// into the file at the block's end. Fixed storage: on the audio thread
// nothing allocates. The storage is written before it is read and left as
// the allocation gives it: a page of it is faulted in when first used, and
// `touchHead` brings in the head of the list before audio runs (a page
// fault costs tens of microseconds under load here, and a session restores
// dozens of instances one after another).
#pragma once

#include "protocol/block_events.h"

#include "pluginterfaces/vst/ivstevents.h"
#include "sdk/ref_counted.h"

namespace Tandem {

// The host's events of one block.
// Owned by the plug-in instance: the count is fixed at 1.
class InputEventList final : public Embedded<Steinberg::Vst::IEventList>
{
public:
	Steinberg::int32 PLUGIN_API getEventCount () override { return count_; }
	Steinberg::tresult PLUGIN_API getEvent (Steinberg::int32 index, Steinberg::Vst::Event& e) override;
	Steinberg::tresult PLUGIN_API addEvent (Steinberg::Vst::Event& e) override;

	// Takes the block's events from the file; what was left out is counted.
	void read (const EventBlock& block, std::int32_t numSamples, std::int32_t busCount, EventCuts& cuts);
	void clear () { count_ = 0; }
	// Before audio runs.
	void touchHead ();

private:
	Steinberg::int32 count_ = 0;
	Steinberg::Vst::Event events_[kMaxEvents];
	// The events' bytes, copied out of the file.
	std::uint8_t bytes_[kMaxEventBytes];
};

// The served processor's events of one block, into the file.
class OutputEventList final : public Embedded<Steinberg::Vst::IEventList>
{
public:
	OutputEventList () : writer_ (staged_, 0, 0) { staged_.count = staged_.bytesUsed = 0; }

	Steinberg::int32 PLUGIN_API getEventCount () override { return writer_.count (); }
	// The event as added (its bytes in the list's own copy).
	Steinberg::tresult PLUGIN_API getEvent (Steinberg::int32 index, Steinberg::Vst::Event& e) override;
	// kResultFalse when the event is left out (see EventWriter).
	Steinberg::tresult PLUGIN_API addEvent (Steinberg::Vst::Event& e) override;

	// A new block for `block`, of `numSamples`, for `busCount` event output buses.
	void start (EventBlock& block, std::int32_t numSamples, std::int32_t busCount)
	{
		block_ = &block;
		writer_.restart (staged_, numSamples, busCount);
	}
	// Publishes the block's events into the file; what was left out.
	const EventCuts& finish ()
	{
		writer_.finish ();
		publishEvents (staged_, *block_);
		return writer_.cuts;
	}
	// Before audio runs.
	void touchHead ();

private:
	// The events as the processor adds them, copied into the file at the end.
	EventBlock staged_;
	EventBlock* block_ = &staged_;
	EventWriter writer_;
};

} // namespace Tandem
