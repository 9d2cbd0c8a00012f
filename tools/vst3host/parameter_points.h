// The parameter points of one block that the host hands to process()
// (IParameterChanges): MIDI controllers sent to the parameters a plug-in
// assigns them to. Fixed capacity: nothing allocates once it is made.
#pragma once

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <utility>
#include <vector>

namespace vst3host {

class ParameterPoints : public Steinberg::Vst::IParameterChanges
{
public:
	class Queue : public Steinberg::Vst::IParamValueQueue
	{
	public:
		static constexpr Steinberg::int32 kMaxPoints = 128;
		explicit Queue (Steinberg::Vst::ParamID id = 0) : id_ (id) {}
		Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override
		{
			*obj = nullptr;
			return Steinberg::kNoInterface;
		}
		Steinberg::uint32 PLUGIN_API addRef () override { return 1; }
		Steinberg::uint32 PLUGIN_API release () override { return 1; }
		Steinberg::Vst::ParamID PLUGIN_API getParameterId () override { return id_; }
		Steinberg::int32 PLUGIN_API getPointCount () override { return count_; }
		Steinberg::tresult PLUGIN_API getPoint (Steinberg::int32 index, Steinberg::int32& offset,
		                                        Steinberg::Vst::ParamValue& value) override
		{
			if (index < 0 || index >= count_)
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
			// Points come in the order of their offsets; one at the same
			// offset as the last replaces it.
			if (count_ > 0 && points_[count_ - 1].first == offset)
				--count_;
			index = count_;
			points_[count_++] = {offset, value};
			return Steinberg::kResultOk;
		}
		Steinberg::Vst::ParamID id () const { return id_; }

	private:
		Steinberg::Vst::ParamID id_;
		Steinberg::int32 count_ = 0;
		std::pair<Steinberg::int32, Steinberg::Vst::ParamValue> points_[kMaxPoints] = {};
	};

	explicit ParameterPoints (size_t parameters = 64) { queues_.reserve (parameters); }
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
	void add (Steinberg::Vst::ParamID id, Steinberg::int32 offset, Steinberg::Vst::ParamValue value)
	{
		Steinberg::int32 index = 0;
		if (Steinberg::Vst::IParamValueQueue* queue = addParameterData (id, index))
			queue->addPoint (offset, value, index);
	}
	void clear () { queues_.clear (); }

private:
	std::vector<Queue> queues_;
};

} // namespace vst3host
