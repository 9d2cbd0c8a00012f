// The events of one block as the test hosts and the bench hand them to
// process() and take them back: a fixed-capacity IEventList (nothing
// allocates once made), with the bytes of SysEx and texts kept by the list.
#pragma once

#include "pluginterfaces/vst/ivstevents.h"

#include <vector>

class HostEventList : public Steinberg::Vst::IEventList
{
public:
	explicit HostEventList (size_t capacity = 2048) { events_.reserve (capacity); }

	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
	{
		if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::Vst::IEventList::iid) ||
		    Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::FUnknown::iid))
		{
			*obj = this;
			return Steinberg::kResultOk;
		}
		*obj = nullptr;
		return Steinberg::kNoInterface;
	}
	Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
	Steinberg::uint32 PLUGIN_API release () override { return 1; }

	Steinberg::int32 PLUGIN_API getEventCount () override { return static_cast<Steinberg::int32> (events_.size ()); }
	Steinberg::tresult PLUGIN_API getEvent (Steinberg::int32 index, Steinberg::Vst::Event& e) override
	{
		if (index < 0 || index >= getEventCount ())
			return Steinberg::kInvalidArgument;
		e = events_[static_cast<size_t> (index)];
		return Steinberg::kResultOk;
	}
	Steinberg::tresult PLUGIN_API addEvent (Steinberg::Vst::Event& e) override
	{
		if (events_.size () == events_.capacity ())
			return Steinberg::kResultFalse;
		events_.push_back (e);
		return Steinberg::kResultOk;
	}
	void clear () { events_.clear (); }
	const std::vector<Steinberg::Vst::Event>& events () const { return events_; }

private:
	std::vector<Steinberg::Vst::Event> events_;
};
