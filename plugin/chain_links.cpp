#include "plugin/chain_links.h"

#include <atomic>
#include <chrono>
#include <pthread.h>

namespace Steinberg {
namespace QuillMarlow {
namespace ChainLinks {
namespace {

constexpr int kLanes = 64;
// A lane unused this long goes to the next thread that needs one.
constexpr std::int64_t kLaneIdleNs = 1000000000;
constexpr std::int32_t kNobody = -1;

struct Lane
{
	std::atomic<std::uintptr_t> thread; // 0: free
	std::atomic<std::int32_t> lastId;
	std::atomic<std::int32_t> lastSlot;
	std::atomic<std::int64_t> endedAt;
};

// Plain static storage: constant-initialised and trivially destroyed, so an
// audio thread still running while the host exits finds it intact.
Lane lanes[kLanes];

std::int64_t nowNs ()
{
	return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now ().time_since_epoch ())
	    .count ();
}

// This thread's lane, claiming a free or long-unused one; -1 when none is.
// Two threads that claim the same lane at once only blur each other's hint.
int laneOfThisThread (std::int64_t now)
{
	const auto self = static_cast<std::uintptr_t> (pthread_self ());
	for (int i = 0; i < kLanes; ++i)
		if (lanes[i].thread.load (std::memory_order_relaxed) == self)
			return i;
	for (int i = 0; i < kLanes; ++i)
	{
		std::uintptr_t owner = lanes[i].thread.load (std::memory_order_relaxed);
		if (owner != 0 && now - lanes[i].endedAt.load (std::memory_order_relaxed) < kLaneIdleNs)
			continue;
		if (!lanes[i].thread.compare_exchange_strong (owner, self, std::memory_order_relaxed))
			continue;
		lanes[i].lastId.store (kNobody, std::memory_order_relaxed);
		lanes[i].lastSlot.store (Tandem::kNoChainSlot, std::memory_order_relaxed);
		lanes[i].endedAt.store (now, std::memory_order_relaxed);
		return i;
	}
	return -1;
}

} // namespace

Turn::Turn (std::int32_t id, std::int64_t periodNs, Tandem::ChainRegion* chain, std::int32_t slot)
: id_ (id), slot_ (chain ? slot : Tandem::kNoChainSlot)
{
	if (periodNs > 0)
	{
		const std::int64_t now = nowNs ();
		lane_ = laneOfThisThread (now);
		if (lane_ >= 0)
		{
			const std::int32_t before = lanes[lane_].lastId.load (std::memory_order_relaxed);
			follows_ = before != kNobody && before != id_ &&
			           now - lanes[lane_].endedAt.load (std::memory_order_relaxed) < periodNs / 4;
		}
	}
	if (chain)
		Tandem::linkChain (*chain, slot_,
		                   follows_ ? lanes[lane_].lastSlot.load (std::memory_order_relaxed) : Tandem::kNoChainSlot);
}

Turn::~Turn ()
{
	if (lane_ < 0)
		return;
	lanes[lane_].lastId.store (id_, std::memory_order_relaxed);
	lanes[lane_].lastSlot.store (slot_, std::memory_order_relaxed);
	lanes[lane_].endedAt.store (nowNs (), std::memory_order_relaxed);
}

} // namespace ChainLinks
} // namespace QuillMarlow
} // namespace Steinberg
