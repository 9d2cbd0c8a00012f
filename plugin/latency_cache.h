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
	// The cache of the processor with this instance id; findable by that id
	// for as long as it exists.
	explicit LatencyCache (int32 instanceId);
	~LatencyCache ();
	LatencyCache (const LatencyCache&) = delete;
	LatencyCache& operator= (const LatencyCache&) = delete;

	// Main thread, with outpost ready: takes the values outpost reports now;
	// keeps the last known ones when it does not answer.
	void fetch ();
	// Any thread.
	uint32 latency () const { return latency_.load (std::memory_order_relaxed); }
	uint32 tail () const { return tail_.load (std::memory_order_relaxed); }

	// The latency that processor `instanceId` reports; false when there is
	// no such processor.
	static bool reportedLatency (int32 instanceId, uint32& latency);
	// A new tail for processor `instanceId`, reported from now on: hosts
	// read the tail whenever they need it, so it takes no restart.
	static void takeTail (int32 instanceId, uint32 tail);

private:
	// The cache of that processor, or null; the caller holds the lock.
	static LatencyCache* findLocked (int32 instanceId);

	const int32 instanceId_;
	LatencyCache* next_ = nullptr;
	std::atomic<uint32> latency_ {0};
	std::atomic<uint32> tail_ {0};
};

} // namespace QuillMarlow
} // namespace Steinberg
