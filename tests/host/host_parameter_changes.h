// A host's parameter changes for one block (IParameterChanges), as test
// hosts and the bench hand them to process() and take them back: queues of
// up to kMaxPoints points, kept in the order they were added. Within the
// room reserved up front nothing allocates, as in a real host's audio
// thread.
#pragma once

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <vector>

class HostParameterChanges : public Steinberg::Vst::IParameterChanges
{
public:
	class Queue : public Steinberg::Vst::IParamValueQueue
	{
	public:
		explicit Queue (Steinberg::Vst::ParamID id = 0) : id_ (id) {}
		Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override
		{
			*obj = nullptr;
			return Steinberg::kNoInterface;
		}
		Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
		Steinberg::uint32 PLUGIN_API release () override { return 1; }
		Steinberg::Vst::ParamID PLUGIN_API getParameterId () override { return id_; }
		static constexpr Steinberg::int32 kMaxPoints = 64;
		Steinberg::int32 PLUGIN_API getPointCount () override { return count_; }
		Steinberg::tresult PLUGIN_API getPoint (Steinberg::int32 index, Steinberg::int32& offset,
		                                        Steinberg::Vst::ParamValue& value) override
		{
			if (index < 0 || index >= getPointCount ())
				return Steinberg::kResultFalse;
			offset = points_[index].first;
			value = points_[index].second;
			return Steinberg::kResultOk;
		}
		Steinberg::tresult PLUGIN_API addPoint (Steinberg::int32 offset, Steinberg::Vst::ParamValue value,
		                                        Steinberg::int32& index) override
		{
			if (count_ == kMaxPoints)
				return Steinberg::kResultFalse;
			index = count_;
			points_[count_++] = {offset, value};
			return Steinberg::kResultOk;
		}
		Steinberg::Vst::ParamID id () const { return id_; }
		// The last point's value; false without points.
		bool last (Steinberg::Vst::ParamValue& value) const
		{
			if (count_ == 0)
				return false;
			value = points_[count_ - 1].second;
			return true;
		}

	private:
		Steinberg::Vst::ParamID id_;
		Steinberg::int32 count_ = 0;
		std::pair<Steinberg::int32, Steinberg::Vst::ParamValue> points_[kMaxPoints] = {};
	};

	// Room for `parameters` queues: nothing allocates while a block runs.
	explicit HostParameterChanges (size_t parameters = 64) { queues_.reserve (parameters); }
	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override
	{
		*obj = nullptr;
		return Steinberg::kNoInterface;
	}
	Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
	Steinberg::uint32 PLUGIN_API release () override { return 1; }
	Steinberg::int32 PLUGIN_API getParameterCount () override
	{
		return static_cast<Steinberg::int32> (queues_.size ());
	}
	Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData (Steinberg::int32 index) override
	{
		return index >= 0 && index < getParameterCount () ? &queues_[static_cast<size_t> (index)] : nullptr;
	}
	Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData (const Steinberg::Vst::ParamID& id,
	                                                               Steinberg::int32& index) override
	{
		for (size_t i = 0; i < queues_.size (); ++i)
			if (queues_[i].id () == id)
			{
				index = static_cast<Steinberg::int32> (i);
				return &queues_[i];
			}
		if (queues_.size () == queues_.capacity ())
			return nullptr;
		index = getParameterCount ();
		queues_.emplace_back (id);
		return &queues_.back ();
	}
	// One point more for `id`.
	void add (Steinberg::Vst::ParamID id, Steinberg::int32 offset, Steinberg::Vst::ParamValue value)
	{
		Steinberg::int32 index = 0;
		if (Steinberg::Vst::IParamValueQueue* queue = addParameterData (id, index))
			queue->addPoint (offset, value, index);
	}
	// The last value of `id` in the block; false without one.
	bool last (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue& value) const
	{
		for (const Queue& q : queues_)
			if (q.id () == id)
				return q.last (value);
		return false;
	}
	void clear () { queues_.clear (); }

private:
	std::vector<Queue> queues_;
};
