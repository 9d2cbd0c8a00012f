// A chain's blocks handed on inside a group's outpost. A host runs the
// inserts of a track one after another on one thread (protocol/chain_wake.h):
// when the instances behind one are served by this outpost too, the audio
// thread that answered a block stays awake and processes the next
// instance's block itself as soon as the host posts it, and so on down the
// chain. The followers' own audio threads sleep meanwhile: no block of the
// chain waits for a thread to be woken, and the host makes no wake-up call.
// A follower whose block does not come within its spin bound (the chain
// changed shape, or the host does other work between them) is woken as
// before and takes its blocks itself again.
//
// The table is written by the main thread as instances start and stop and
// read by the audio threads without a lock; a pass counts itself in, so
// that an instance that stops waits until no pass can still hold it.
#pragma once

#include "protocol/chain_wake.h"

#include <atomic>
#include <cstdint>

namespace Tandem {

class AudioThread;

class ChainRelay
{
public:
	static constexpr int kEntries = kChainSlots;

	// Main thread: `thread` serves `place`'s slot of its chain file.
	void enter (AudioThread& thread, const ChainPlace& place);
	// Main thread: it stops; returns once no pass uses it any more.
	void leave (AudioThread& thread);

	// Audio thread, as its block comes: the instance behind it, when served
	// here, is kept asleep (its block will be handed on); any other is
	// woken ahead, as outposts of their own are.
	void holdFollower (ChainPlace& place);
	// Audio thread, once its block is answered: processes the blocks of the
	// instances served here that follow it, one after another.
	void passOn (ChainPlace& place);

private:
	AudioThread* find (std::uint32_t owner, std::int32_t slot) const;

	struct Entry
	{
		std::atomic<AudioThread*> thread {nullptr};
		std::atomic<std::uint32_t> owner {0};
		std::atomic<std::int32_t> slot {kNoChainSlot};
	};
	Entry entries_[kEntries];
	std::atomic<int> used_ {0};
	std::atomic<int> passes_ {0};
};

} // namespace Tandem
