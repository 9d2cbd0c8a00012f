// The parameter changes outpost hands to the served processor with each
// block (IParameterChanges with one IParamValueQueue per parameter), and
// the ones the processor hands back. All storage is reserved on the main
// thread before audio runs; on the audio thread nothing allocates.
#pragma once

#include <vector>

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "sdk/ref_counted.h"

namespace Tandem {

// The points of one parameter within one block, in sample-offset order.
// Owned by its ParameterChanges: the count is fixed at 1.
class ParamValueQueue final : public Embedded<Steinberg::Vst::IParamValueQueue>
{
public:
	static constexpr Steinberg::int32 kMaxPoints = 16;

	Steinberg::Vst::ParamID PLUGIN_API getParameterId () override { return id_; }
	Steinberg::int32 PLUGIN_API getPointCount () override { return count_; }
	Steinberg::tresult PLUGIN_API getPoint (Steinberg::int32 index, Steinberg::int32& sampleOffset,
	                                        Steinberg::Vst::ParamValue& value) override;
	// Keeps the points ordered by offset; a point at an offset already
	// present replaces it, and when the queue is full the last point takes
	// the value, so the block still ends on the newest one.
	Steinberg::tresult PLUGIN_API addPoint (Steinberg::int32 sampleOffset, Steinberg::Vst::ParamValue value,
	                                        Steinberg::int32& index) override;

	Steinberg::Vst::ParamID id () const { return id_; }
	void reset (Steinberg::Vst::ParamID id)
	{
		id_ = id;
		count_ = 0;
	}
	// The value the parameter has at the end of the block; false without points.
	bool lastValue (Steinberg::Vst::ParamValue& value) const;

private:
	struct Point
	{
		Steinberg::int32 offset;
		Steinberg::Vst::ParamValue value;
	};
	Steinberg::Vst::ParamID id_ = 0;
	Steinberg::int32 count_ = 0;
	Point points_[kMaxPoints] = {};
};

// Owned by the plug-in instance: the count is fixed at 1.
class ParameterChanges final : public Embedded<Steinberg::Vst::IParameterChanges>
{
public:
	static constexpr Steinberg::int32 kDefaultCapacity = 64;

	ParameterChanges () { reserve (kDefaultCapacity); }
	ParameterChanges (const ParameterChanges&) = delete;
	ParameterChanges& operator= (const ParameterChanges&) = delete;

	Steinberg::int32 PLUGIN_API getParameterCount () override { return used_; }
	// The queues are ours (covariant returns): the audio thread's own calls
	// need no virtual dispatch.
	ParamValueQueue* PLUGIN_API getParameterData (Steinberg::int32 index) override;
	// The queue of `id`, added when the block has none yet; null when every
	// reserved queue is in use.
	ParamValueQueue* PLUGIN_API addParameterData (const Steinberg::Vst::ParamID& id, Steinberg::int32& index) override;

	// Room for `parameters` distinct parameters per block. Main thread, while
	// no block is processed.
	void reserve (Steinberg::int32 parameters);
	Steinberg::int32 capacity () const { return static_cast<Steinberg::int32> (queues_.size ()); }
	// Empties the block's changes (audio thread; keeps the storage).
	void clear () { used_ = 0; }
	// True when `id` has a queue or one could be added.
	bool canTake (Steinberg::Vst::ParamID id) const;
	// Sets `id` to `value` from the start of the block: one point at offset 0,
	// the last value set wins. False when no queue is left.
	bool setValue (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value);
	ParamValueQueue* queue (Steinberg::int32 index) { return index >= 0 && index < used_ ? &queues_[index] : nullptr; }

private:
	Steinberg::int32 find (Steinberg::Vst::ParamID id) const;

	std::vector<ParamValueQueue> queues_;
	Steinberg::int32 used_ = 0;
};

} // namespace Tandem
