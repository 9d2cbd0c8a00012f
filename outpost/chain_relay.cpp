#include "chain_relay.h"

#include "audio_thread.h"
#include "protocol/handshake.h"

#include <thread>

namespace Tandem {

void ChainRelay::enter (AudioThread& thread, const ChainPlace& place)
{
	if (!place.linked ())
		return;
	for (int i = 0; i < kEntries; ++i)
	{
		Entry& entry = entries_[i];
		if (entry.thread.load (std::memory_order_relaxed))
			continue;
		entry.owner.store (place.owner, std::memory_order_relaxed);
		entry.slot.store (place.slot, std::memory_order_relaxed);
		entry.thread.store (&thread, std::memory_order_release);
		if (used_.load (std::memory_order_relaxed) <= i)
			used_.store (i + 1, std::memory_order_release);
		return;
	}
}

void ChainRelay::leave (AudioThread& thread)
{
	for (Entry& entry : entries_)
		if (entry.thread.load (std::memory_order_relaxed) == &thread)
			entry.thread.store (nullptr, std::memory_order_seq_cst);
	// A pass that found it before it left the table ends within a block.
	while (passes_.load (std::memory_order_seq_cst) != 0)
		std::this_thread::yield ();
}

AudioThread* ChainRelay::find (std::uint32_t owner, std::int32_t slot) const
{
	const int used = used_.load (std::memory_order_acquire);
	for (int i = 0; i < used; ++i)
	{
		const Entry& entry = entries_[i];
		AudioThread* thread = entry.thread.load (std::memory_order_acquire);
		if (thread && entry.slot.load (std::memory_order_relaxed) == slot &&
		    entry.owner.load (std::memory_order_relaxed) == owner)
			return thread;
	}
	return nullptr;
}

void ChainRelay::holdFollower (ChainPlace& place)
{
	if (!place.linked ())
		return;
	const std::int32_t next = followerOf (*place.chain, place.slot);
	if (next == kNoChainSlot)
		return;
	ChainSlot& follower = place.chain->slots[next];
	if (find (place.owner, next))
		follower.asleep.exchange (0); // the host then makes no wake-up call
	else
		nudge (follower);
}

void ChainRelay::passOn (ChainPlace& place)
{
	if (!place.linked ())
		return;
	passes_.fetch_add (1, std::memory_order_seq_cst);
	std::int32_t slot = place.slot;
	for (int step = 0; step < kChainSlots; ++step)
	{
		const std::int32_t next = followerOf (*place.chain, slot);
		AudioThread* follower = next == kNoChainSlot ? nullptr : find (place.owner, next);
		if (!follower)
			break;
		// The host posts the next block as soon as it has read our answer.
		const auto from = HandshakeClock::now ();
		const auto bound = place.spin.bound ();
		const bool came = spinUntil ([follower] { return follower->blockPosted (); }, from + bound);
		place.spin.waited (came ? HandshakeClock::now () - from : bound);
		// The one behind it is held before its block can come, as this one
		// was; it is then either handed its block or woken.
		ChainPlace behind = place;
		behind.slot = next;
		if (came)
			holdFollower (behind);
		if (!came || !follower->takeBlockHandedOn ())
		{
			// It takes its blocks itself again, this one first.
			follower->stopTakingHandedOn ();
			break;
		}
		slot = next;
	}
	passes_.fetch_sub (1, std::memory_order_seq_cst);
}

} // namespace Tandem
