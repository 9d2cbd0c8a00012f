// Where outpost's audio thread waits when its instance follows another on
// a host thread.
//
// Such an outpost sleeps until its block is posted, and the block is posted
// from the host thread's CPU, where the host then only waits for the answer.
// Which CPU the woken outpost runs on is the kernel's choice, and it is
// often another, idle one: on a virtual machine that halts idle CPUs, that
// CPU first has to come back to work (15 to 30 us here, more than the rest
// of the hand-shake). When outpost's audio thread runs at real-time
// priority and the host thread does not, a woken outpost takes the host
// thread's CPU at once; so after each such block outpost moves onto the CPU
// the block came from, and the kernel wakes it there next time.
//
// Where the host thread runs at real-time priority itself (or the kernel
// places the thread otherwise), the kernel puts a woken outpost elsewhere
// every time and each move only costs. A move that did not hold up to the
// next block counts as a miss; two misses in a row stop the moves for a
// while.
#pragma once

#include <cstdint>

namespace Tandem {

class NextToHost
{
public:
	// Blocks that followed another without moves after two misses in a row.
	static constexpr std::int32_t kPauseBlocks = 10000;

	// After a block that followed another: `hostCpu` posted it, the audio
	// thread runs on `ownCpu` (either -1 when unknown). True when the
	// thread should move onto `hostCpu` now.
	bool shouldMove (int hostCpu, int ownCpu)
	{
		if (hostCpu < 0 || ownCpu < 0)
			return false;
		if (paused_ > 0)
		{
			--paused_;
			return false;
		}
		if (ownCpu == hostCpu)
		{
			moved_ = false;
			misses_ = 0;
			return false;
		}
		if (moved_ && ++misses_ == 2)
		{
			paused_ = kPauseBlocks;
			moved_ = false;
			misses_ = 0;
			return false;
		}
		moved_ = true;
		return true;
	}

private:
	bool moved_ = false; // the last block ended with a move
	int misses_ = 0;
	std::int32_t paused_ = 0;
};

} // namespace Tandem
