// Waking the outposts of a chain ahead of their blocks.
//
// A host runs the inserts of a track one after another on one audio thread
// (plugin/chain_links.h tells which instance ran right behind which). The
// outpost of a chain's first instance wakes itself on a timer shortly
// before its block is due (handshake.h). The blocks of the instances behind
// it come a moment later, each as soon as the one before it is answered:
// waking their outposts only then would cost the host a futex call and each
// block a whole wake-up. So each outpost, as its block comes, wakes the
// outpost of the instance that ran right behind it in the last cycle: that
// one is awake when the host posts its block, and only one outpost of a
// chain waits ahead of the one at work. On two cores the woken one shares
// the working one's core (both are kept off the host thread's) and runs as
// soon as the working one has answered and gone back to sleep: the chain's
// outposts take turns on one core, none spins while another works.
//
// The outposts of one host process (of one copy of the library in it, see
// kChainCopyShift) share a chain file, beside each instance's own file: one
// slot per instance, its number and the file's owner in the instance's
// session region (session_data.h). The Linux side creates the file with its
// first instance and removes it with its last.
// Fields of a slot and their writers:
//  - after, next (the Linux side, on the host's audio thread, with each
//    block): `after` is the slot of the instance that ran right before this
//    one on the same thread (-1: none, this one starts a chain); `next` of
//    that one then names this one. A link holds only while both ends agree
//    (slots[s.next].after == s), so a chain that changes shape (an instance
//    bypassed, removed, moved to another thread) is followed from the next
//    cycle on, and a stale link is never followed.
//  - nudge, asleep: an outpost whose instance follows another sleeps on the
//    futex word `nudge` with `asleep` raised (it writes 1, then looks at its
//    block once more). Whoever wakes it, the outpost ahead of it or else
//    the Linux side posting its block, first takes `asleep` back with an
//    exchange: only the one that took it advances `nudge` and makes the
//    call, so the host makes none for an outpost woken ahead.
// The file's spin seats, shared by all its outposts (the seats of
// handshake.h bound the spins of one outpost's threads only): a thread
// waiting for a block spins only while it holds a seat of its process and
// one of the file; without them it sleeps until its block wakes it, so
// thirty outposts of one plug-in do not keep every core busy.
//  - seatCount (the Linux side, at creation): how many of `seats` are in
//    use, its machine's cores but one (at least 1, at most kChainSeats);
//  - seats: 0 when free, else the slot + 1 of the instance whose outpost
//    holds it. The outpost takes one with an exchange and gives it back as
//    its spin ends; the Linux side frees those of its slot as it starts an
//    outpost (the one before may have died holding one) and as it gives
//    its slot back.
// Waking the one behind as a block comes is what the host relies on: its
// block can only come after this one is answered, so the host finds it
// woken (even when it was late for its cycle). A woken outpost spins for
// its block for as long as the blocks of its chain have lately kept it
// waiting, twice that and kMinFollowerSpin more, never longer than
// kFollowerSpin (FollowerSpin); then it sleeps again, and a block that
// still comes wakes it as any other.
#pragma once

#include "protocol/futex.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Tandem {

constexpr std::uint32_t kChainMagic = 0x51434831; // "QCH1"
constexpr std::uint32_t kChainVersion = 2;
// Slots are numbered 0..kChainSlots-1; the session region holds number + 1.
constexpr std::int32_t kChainSlots = 254;
constexpr std::int32_t kNoChainSlot = -1;
// How long a woken outpost spins for its block: at least, and at most.
constexpr std::chrono::microseconds kMinFollowerSpin {20};
constexpr std::chrono::microseconds kFollowerSpin {200};
// How many outposts behind its own an outpost wakes.
constexpr std::int32_t kWakeAhead = 1;
// Spin seat words in a chain file; a machine of more cores uses them all.
constexpr std::int32_t kChainSeats = 8;
constexpr std::int32_t kNoChainSeat = -1;

struct alignas (64) ChainSlot
{
	std::atomic<std::int32_t> nudge;
	std::atomic<std::int32_t> next;
	std::atomic<std::int32_t> after;
	std::atomic<std::uint8_t> asleep;
};

struct ChainRegion
{
	std::uint32_t magic;
	std::uint32_t version;
	std::uint32_t slotCount;
	std::uint32_t seatCount;
	std::atomic<std::int32_t> seats[kChainSeats];
	std::uint8_t padding[16];
	ChainSlot slots[kChainSlots];
};

static_assert (sizeof (ChainSlot) == 64, "ChainSlot layout");
static_assert (offsetof (ChainSlot, nudge) == 0, "ChainSlot layout");
static_assert (offsetof (ChainSlot, next) == 4, "ChainSlot layout");
static_assert (offsetof (ChainSlot, after) == 8, "ChainSlot layout");
static_assert (offsetof (ChainSlot, asleep) == 12, "ChainSlot layout");
static_assert (offsetof (ChainRegion, seatCount) == 12, "ChainRegion layout");
static_assert (offsetof (ChainRegion, seats) == 16, "ChainRegion layout");
static_assert (offsetof (ChainRegion, slots) == 64, "ChainRegion layout");
static_assert (sizeof (ChainRegion) == 64 + 64 * kChainSlots, "ChainRegion layout");

// Every bundle made for a Windows plug-in carries its own copy of the
// bridge's library, and each copy in a host process has a chain file of its
// own: the file of copy c (from 0) of the library in process p is named
// after p + (c << kChainCopyShift) (Linux process ids fit in 22 bits).
constexpr std::uint32_t kChainCopyShift = 22;
constexpr std::uint32_t kChainFileCopies = 1024;

// The chain file named after `owner` (see kChainCopyShift).
inline std::string chainFilePath (std::uint32_t owner)
{
	return "/tmp/tandem_chain_" + std::to_string (owner) + ".shm";
}

inline bool validChainSlot (std::int32_t slot)
{
	return slot >= 0 && slot < kChainSlots;
}

// Linux side, at creation: the header, `seatCount` spin seats free (see
// above; bounded to 1..kChainSeats) and every slot unlinked and awake.
inline void initialiseChain (ChainRegion& chain, std::int32_t seatCount = 1)
{
	chain.magic = kChainMagic;
	chain.version = kChainVersion;
	chain.slotCount = kChainSlots;
	chain.seatCount = static_cast<std::uint32_t> (std::clamp<std::int32_t> (seatCount, 1, kChainSeats));
	for (auto& seat : chain.seats)
		seat.store (0, std::memory_order_relaxed);
	for (ChainSlot& slot : chain.slots)
	{
		slot.nudge.store (0, std::memory_order_relaxed);
		slot.next.store (kNoChainSlot, std::memory_order_relaxed);
		slot.after.store (kNoChainSlot, std::memory_order_relaxed);
		slot.asleep.store (0, std::memory_order_relaxed);
	}
}

// outpost: whether a mapped chain file is one this build speaks.
inline bool chainHeaderMatches (const ChainRegion& chain)
{
	return chain.magic == kChainMagic && chain.version == kChainVersion && chain.slotCount == kChainSlots;
}

// outpost, before a spin for the instance in `slot`: a free seat of the
// file taken, its index; kNoChainSeat when every seat is held.
inline std::int32_t takeChainSeat (ChainRegion& chain, std::int32_t slot)
{
	const std::uint32_t count = std::min (chain.seatCount, static_cast<std::uint32_t> (kChainSeats));
	for (std::uint32_t i = 0; i < count; ++i)
	{
		std::int32_t free = 0;
		if (chain.seats[i].load (std::memory_order_relaxed) == 0 &&
		    chain.seats[i].compare_exchange_strong (free, slot + 1, std::memory_order_acquire))
			return static_cast<std::int32_t> (i);
	}
	return kNoChainSeat;
}

// outpost, as that spin ends: the seat given back, unless the Linux side
// freed it meanwhile (and somebody else may hold it now).
inline void giveChainSeat (ChainRegion& chain, std::int32_t seat, std::int32_t slot)
{
	std::int32_t held = slot + 1;
	chain.seats[seat].compare_exchange_strong (held, 0, std::memory_order_release);
}

// Linux side: the seats the outpost of the instance in `slot` still holds
// are freed (it died spinning, or the slot is given back).
inline void freeChainSeatsOf (ChainRegion& chain, std::int32_t slot)
{
	for (auto& seat : chain.seats)
	{
		std::int32_t held = slot + 1;
		seat.compare_exchange_strong (held, 0);
	}
}

// Wakes the outpost asleep on `slot`, if it sleeps there and nobody else
// took it first; true when this call woke it.
inline bool nudge (ChainSlot& slot)
{
	if (slot.asleep.load (std::memory_order_relaxed) == 0 || slot.asleep.exchange (0) == 0)
		return false;
	slot.nudge.fetch_add (1);
	futexWake (&slot.nudge);
	return true;
}

// Linux side, with each block of the instance in `self`: it ran right
// behind the one in `before` (kNoChainSlot: it starts a chain). Writes only
// what changed.
inline void linkChain (ChainRegion& chain, std::int32_t self, std::int32_t before)
{
	if (!validChainSlot (self))
		return;
	if (!validChainSlot (before) || before == self)
		before = kNoChainSlot;
	if (chain.slots[self].after.load (std::memory_order_relaxed) != before)
		chain.slots[self].after.store (before, std::memory_order_relaxed);
	if (before != kNoChainSlot && chain.slots[before].next.load (std::memory_order_relaxed) != self)
		chain.slots[before].next.store (self, std::memory_order_relaxed);
}

// The slot of the instance that ran right behind the one in `self`, while
// both ends of the link agree; kNoChainSlot when none does.
inline std::int32_t followerOf (const ChainRegion& chain, std::int32_t self)
{
	if (!validChainSlot (self))
		return kNoChainSlot;
	const std::int32_t next = chain.slots[self].next.load (std::memory_order_relaxed);
	return validChainSlot (next) && next != self && chain.slots[next].after.load (std::memory_order_relaxed) == self
	           ? next
	           : kNoChainSlot;
}

// outpost, as its block comes: wakes the outposts of the `ahead` instances
// that ran behind it, as far as the links hold. Returns how many it woke.
inline int nudgeFollowers (ChainRegion& chain, std::int32_t self, std::int32_t ahead = kWakeAhead)
{
	int woken = 0;
	for (std::int32_t step = 0; step < ahead; ++step)
	{
		self = followerOf (chain, self);
		if (self == kNoChainSlot)
			break;
		woken += nudge (chain.slots[self]) ? 1 : 0;
	}
	return woken;
}

// outpost, behind another instance: how long it spins once woken ahead.
// It learns how long its blocks kept it waiting after such a wake (the
// longest lately, fading by an eighth a block) and spins twice that and
// kMinFollowerSpin more, up to `limit`. A spin that ran out counts as a
// wait of its whole length, so a chain whose blocks come later than they
// used to lengthens the spin within a few cycles.
class FollowerSpin
{
public:
	std::chrono::nanoseconds limit = kFollowerSpin;

	std::chrono::nanoseconds bound () const
	{
		return std::min<std::chrono::nanoseconds> (2 * longest_ + kMinFollowerSpin, limit);
	}
	void waited (std::chrono::nanoseconds wait) { longest_ = std::max (wait, longest_ - longest_ / 8); }

private:
	std::chrono::nanoseconds longest_ {};
};

// outpost's place in its host's chains: the flag its instance's blocks set
// when they follow another (UICommand::followsAnother), and its slot of the
// chain file when it has one.
struct ChainPlace
{
	const std::atomic<std::uint8_t>* follows = nullptr;
	ChainRegion* chain = nullptr;
	// Whose chain file it is (chainFilePath): the instances of a group's
	// outpost map it each for itself.
	std::uint32_t owner = 0;
	std::int32_t slot = kNoChainSlot;
	FollowerSpin spin;
	// The outpost hands blocks on to the instances behind it itself
	// (outpost/chain_relay.h), and wakes or holds them there.
	bool handsOn = false;

	bool following () const { return follows && follows->load (std::memory_order_relaxed) != 0; }
	bool linked () const { return chain && validChainSlot (slot); }
	ChainSlot& own () const { return chain->slots[slot]; }
	// Its instance runs behind another, or another runs behind it.
	bool inChain () const { return following () || (chain && followerOf (*chain, slot) != kNoChainSlot); }
	void wakeFollowers () const
	{
		if (linked () && !handsOn)
			nudgeFollowers (*chain, slot);
	}
};

} // namespace Tandem
