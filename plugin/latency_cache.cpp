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
	bool gone = false, posted = false, answered = false;
	uint64 answer = 0;
	auto postIfFree = [&] {
		gone = !region.with ([&posted] (Tandem::UICommand& ui) {
			if (!ui.processed.load (std::memory_order_acquire))
				return;
			ui.parentWindow = 0;
			postCommand (&ui, Tandem::CommandCode::GetLatency);
			posted = true;
		});
		return posted || gone;
	};
	auto readAnswer = [&] {
		gone = !region.with ([&] (Tandem::UICommand& ui) {
			if (!ui.processed.load (std::memory_order_acquire))
				return;
			answer = ui.parentWindow;
			answered = true;
		});
		return answered || gone;
	};
	const Deadline deadline = std::chrono::steady_clock::now () + kLatencyTimeout;
	if (!pollUntil (postIfFree, deadline) || gone || !pollUntil (readAnswer, deadline) || gone)
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
