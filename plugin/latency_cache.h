// The served plug-in's latency and tail as a processor reports them to the
// host. outpost reads them from the served processor and counts their
// changes in the command region (`latencyReport`); the values are asked for
// through the command slot. The processor asks at each activation and keeps
// the answer, so that its latency stays what the host was told until the
// host restarts it, and so that the last known values remain while outpost
// is not running.
#pragma once

#include "plugin/command_region_link.h"

#include "pluginterfaces/base/ftypes.h"

#include <atomic>

namespace Steinberg {
namespace QuillMarlow {

// Asks outpost for the served processor's latency and tail (GetLatency);
// false when the region is gone or outpost does not answer in time. Not on
// the audio thread: it waits for outpost.
bool askServedLatency (const CommandRegionLink& region, uint32& latency, uint32& tail);

class LatencyCache
{
public:
	// The cache of the processor with this instance id (processors find
	// each other's through their registry, withLatencyCache).
	explicit LatencyCache (int32 instanceId) : instanceId_ (instanceId) {}
	LatencyCache (const LatencyCache&) = delete;
	LatencyCache& operator= (const LatencyCache&) = delete;

	// Main thread: the values outpost reported with an activation.
	void take (uint32 latency, uint32 tail);
	// Any thread.
	uint32 latency () const { return latency_.load (std::memory_order_relaxed); }
	uint32 tail () const { return tail_.load (std::memory_order_relaxed); }
	// A new tail, reported from now on: hosts read the tail whenever they
	// need it, so it takes no restart.
	void takeTail (uint32 tail) { tail_.store (tail, std::memory_order_relaxed); }

private:
	const int32 instanceId_;
	std::atomic<uint32> latency_ {0};
	std::atomic<uint32> tail_ {0};
};

} // namespace QuillMarlow
} // namespace Steinberg
