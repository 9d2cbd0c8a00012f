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
enum class PointsCut { None, ToLastPoints, Queues };

// Writes the points of `changes` (null: none) into `points`, at most
// `capacity`. When they do not all fit, only the last point of each
// parameter is written, so that each still ends on its newest value; when
// even those do not fit, the parameters beyond are left out.
inline std::int32_t writePoints(Steinberg::Vst::IParameterChanges* changes, ParameterPoint* points,
                                std::int32_t capacity, PointsCut& cut) {
    cut = PointsCut::None;
    if (!changes) return 0;
    const std::int32_t queues = changes->getParameterCount();
    std::int64_t total = 0;
    for (std::int32_t q = 0; q < queues; ++q)
        if (Steinberg::Vst::IParamValueQueue* queue = changes->getParameterData(q))
            total += queue->getPointCount() > 0 ? queue->getPointCount() : 0;
    const bool lastOnly = total > capacity;
    if (lastOnly) cut = PointsCut::ToLastPoints;
    std::int32_t count = 0;
    for (std::int32_t q = 0; q < queues; ++q) {
        Steinberg::Vst::IParamValueQueue* queue = changes->getParameterData(q);
        if (!queue) continue;
        const std::int32_t n = queue->getPointCount();
        for (std::int32_t i = lastOnly ? n - 1 : 0; i < n; ++i) {
            if (i < 0) continue;
            if (count == capacity) {
                cut = PointsCut::Queues;
                return count;
            }
            Steinberg::int32 offset = 0;
            Steinberg::Vst::ParamValue value = 0.0;
            if (queue->getPoint(i, offset, value) != Steinberg::kResultOk) continue;
            points[count++] = {queue->getParameterId(), offset, value};
        }
    }
    return count;
}

// Reads `count` points (from the other process: clamped to `capacity`)
// into `changes`. Offsets are kept within the block, values within 0..1; a
// value that is no number is left out. Returns the points `changes` took.
inline std::int32_t readPoints(const ParameterPoint* points, std::int32_t count, std::int32_t capacity,
                               std::int32_t numSamples, Steinberg::Vst::IParameterChanges& changes) {
    count = clampCount(count, capacity);
    const std::int32_t lastOffset = numSamples > 0 ? numSamples - 1 : 0;
    std::int32_t taken = 0;
    Steinberg::Vst::IParamValueQueue* queue = nullptr;
    for (std::int32_t i = 0; i < count; ++i) {
        const ParameterPoint point = points[i];
        if (!std::isfinite(point.value)) continue;
        const double value = point.value < 0.0 ? 0.0 : (point.value > 1.0 ? 1.0 : point.value);
        const std::int32_t offset = clampCount(point.offset, lastOffset);
        if (!queue || queue->getParameterId() != point.id) {
            Steinberg::int32 index = 0;
            queue = changes.addParameterData(point.id, index);
            if (!queue) continue;
        }
        Steinberg::int32 index = 0;
        if (queue->addPoint(offset, value, index) == Steinberg::kResultOk) ++taken;
    }
    return taken;
}

}  // namespace Tandem
