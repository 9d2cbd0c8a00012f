#include "plugin/latency_cache.h"

#include "plugin/command_slot.h"

#include "log/log.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// The host's thread may wait here (a watcher's timer): a hung outpost must
// not hold it long.
constexpr auto kLatencyTimeout = std::chrono::seconds (2);

// Every cache, by instance id. Never destroyed: a host that exits with
// processors alive destroys them after this library's static objects.
struct Registry
{
	std::mutex mutex;
	std::vector<LatencyCache*> caches;
};

Registry& registry ()
{
	static Registry* const instance = new Registry ();
	return *instance;
}

} // namespace

bool askServedLatency (const CommandRegionLink& region, uint32& latency, uint32& tail)
{
	// The region may go away between two looks (the processor terminates).
	bool gone = false;
	auto slotFree = [&] {
		bool free = false;
		gone = !region.with ([&free] (Tandem::UICommand& ui) { free = ui.processed.load (std::memory_order_acquire); });
		return free || gone;
	};
	const Deadline deadline = std::chrono::steady_clock::now () + kLatencyTimeout;
	if (!pollUntil (slotFree, deadline) || gone)
		return false;
	const bool posted = region.with ([] (Tandem::UICommand& ui) {
		ui.parentWindow = 0;
		postCommand (&ui, Tandem::CommandCode::GetLatency);
	});
	if (!posted || !pollUntil (slotFree, deadline) || gone)
		return false;
	uint64 answer = 0;
	if (!region.with ([&answer] (Tandem::UICommand& ui) { answer = ui.parentWindow; }))
		return false;
	latency = Tandem::packedLatency (answer);
	tail = Tandem::packedTail (answer);
	return true;
}

LatencyCache::LatencyCache (int32 instanceId) : instanceId_ (instanceId)
{
	Registry& r = registry ();
	std::lock_guard<std::mutex> lock (r.mutex);
	r.caches.push_back (this);
}

LatencyCache::~LatencyCache ()
{
	Registry& r = registry ();
	std::lock_guard<std::mutex> lock (r.mutex);
	r.caches.erase (std::remove (r.caches.begin (), r.caches.end (), this), r.caches.end ());
}

void LatencyCache::fetch ()
{
	uint32 latency = 0, tail = 0;
	if (!askServedLatency (CommandRegionLink::toProcessor (instanceId_), latency, tail))
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost did not report latency and tail; keeping "
		                    << this->latency () << " samples, tail " << this->tail () << " samples";
		return;
	}
	latency_.store (latency, std::memory_order_relaxed);
	tail_.store (tail, std::memory_order_relaxed);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Latency: " << latency << " samples, tail " << tail
	                   << " samples";
}

bool LatencyCache::reportedLatency (int32 instanceId, uint32& latency)
{
	Registry& r = registry ();
	std::lock_guard<std::mutex> lock (r.mutex);
	for (const LatencyCache* cache : r.caches)
		if (cache->instanceId_ == instanceId)
		{
			latency = cache->latency ();
			return true;
		}
	return false;
}

void LatencyCache::takeTail (int32 instanceId, uint32 tail)
{
	Registry& r = registry ();
	std::lock_guard<std::mutex> lock (r.mutex);
	for (LatencyCache* cache : r.caches)
		if (cache->instanceId_ == instanceId)
			cache->tail_.store (tail, std::memory_order_relaxed);
}

} // namespace QuillMarlow
} // namespace Steinberg
