#include "plugin/latency_cache.h"

#include "plugin/command_slot.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

namespace {

// The host's thread may wait here (a watcher's timer): a hung outpost must
// not hold it long.
constexpr auto kLatencyTimeout = std::chrono::seconds (2);

} // namespace

bool askServedLatency (const CommandRegionLink& region, uint32& latency, uint32& tail)
{
	// Every look at the slot is one visit of the region: the region may go
	// away between two (the processor terminates), and another poster (the
	// editor, the processor's watcher) may take the slot between them. So
	// the command is posted in the visit that finds the slot free, and the
	// answer read in the one that finds it answered.
	uint64 answer = 0;
	auto visit = [&region] (auto&& use) { return region.with (use); };
	auto noStop = [] { return false; };
	const Deadline deadline = std::chrono::steady_clock::now () + kLatencyTimeout;
	const auto fill = [] (Tandem::UICommand& ui) {
		ui.parentWindow = 0;
		ui.command = static_cast<int32> (Tandem::CommandCode::GetLatency);
	};
	if (Tandem::postWhenFree (visit, fill, region.inSharedFile (), deadline, false, noStop, [] {}) !=
	        Tandem::CommandTurn::Done ||
	    Tandem::awaitAcknowledgement (visit, deadline, noStop, [&answer] (Tandem::UICommand& ui, bool done) {
		    if (done)
			    answer = ui.parentWindow;
	    }) != Tandem::CommandTurn::Done)
		return false;
	latency = Tandem::packedLatency (answer);
	tail = Tandem::packedTail (answer);
	return true;
}

void LatencyCache::take (uint32 latency, uint32 tail)
{
	latency_.store (latency, std::memory_order_relaxed);
	tail_.store (tail, std::memory_order_relaxed);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Latency: " << latency << " samples, tail " << tail
	                   << " samples";
}

} // namespace QuillMarlow
} // namespace Steinberg
