// The parameter changes of one block, as they cross the file: a flat list
// of points, those of one parameter consecutive and in offset order. The
// Linux side writes the host's and reads the served processor's; outpost
// the other way round. Both run on the audio threads: nothing allocates.
#pragma once

#include "protocol/parameter_data.h"

#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <cmath>
#include <cstdint>

namespace Tandem {

// What writePoints had to leave out.
enum class PointsCut
{
	None,
	ToLastPoints,
	Queues
};

// Writes the points of `changes` (null: none) into `points`, at most
// `capacity`. When they do not all fit, only the last point of each
// parameter is written, so that each still ends on its newest value; when
// even those do not fit, the parameters beyond are left out. `Changes` is
// IParameterChanges or a final class of it (whose calls then need no
// virtual dispatch).
template <typename Changes>
std::int32_t writePoints (Changes* changes, ParameterPoint* points, std::int32_t capacity, PointsCut& cut)
{
	cut = PointsCut::None;
	if (!changes)
		return 0;
	const std::int32_t queues = changes->getParameterCount ();
	for (bool lastOnly : {false, true})
	{
		std::int32_t count = 0;
		bool full = false;
		for (std::int32_t q = 0; q < queues && !full; ++q)
		{
			auto* queue = changes->getParameterData (q);
			if (!queue)
				continue;
			const Steinberg::Vst::ParamID id = queue->getParameterId ();
			const std::int32_t n = queue->getPointCount ();
			for (std::int32_t i = lastOnly && n > 0 ? n - 1 : 0; i < n; ++i)
			{
				if (count == capacity)
				{
					full = true;
					break;
				}
				Steinberg::int32 offset = 0;
				Steinberg::Vst::ParamValue value = 0.0;
				if (queue->getPoint (i, offset, value) != Steinberg::kResultOk)
					continue;
				points[count++] = {id, offset, value};
			}
		}
		if (!full)
			return count;
		if (lastOnly)
		{
			cut = PointsCut::Queues;
			return count;
		}
		cut = PointsCut::ToLastPoints;
	}
	return 0;
}

// Reads `count` points (from the other process: clamped to `capacity`)
// into `changes`. Offsets are kept within the block, values within 0..1; a
// value that is no number is left out. Returns the points `changes` took.
template <typename Changes>
std::int32_t readPoints (const ParameterPoint* points, std::int32_t count, std::int32_t capacity,
                         std::int32_t numSamples, Changes& changes)
{
	count = clampCount (count, capacity);
	const std::int32_t lastOffset = numSamples > 0 ? numSamples - 1 : 0;
	std::int32_t taken = 0;
	decltype (changes.addParameterData (points[0].id, taken)) queue = nullptr;
	Steinberg::Vst::ParamID queueId = 0;
	for (std::int32_t i = 0; i < count; ++i)
	{
		const ParameterPoint point = points[i];
		if (!std::isfinite (point.value))
			continue;
		const double value = point.value < 0.0 ? 0.0 : (point.value > 1.0 ? 1.0 : point.value);
		const std::int32_t offset = clampCount (point.offset, lastOffset);
		if (!queue || queueId != point.id)
		{
			Steinberg::int32 index = 0;
			queue = changes.addParameterData (point.id, index);
			queueId = point.id;
			if (!queue)
				continue;
		}
		Steinberg::int32 index = 0;
		if (queue->addPoint (offset, value, index) == Steinberg::kResultOk)
			++taken;
	}
	return taken;
}

} // namespace Tandem
