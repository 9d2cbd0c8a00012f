// Instances that a host runs one after another on one audio thread (the
// inserts of a track) are told apart from the first of such a chain: only
// the first one's block comes a steady period after the host's own wake-up,
// so only its outpost profits from waking itself ahead of time. The others
// follow a moment after whatever ran before them, and an outpost that wakes
// early only takes a core from the instances still at work (two cores here,
// and the host's audio thread holds one of them).
//
// Each audio thread has a lane that remembers which instance ran last on it,
// and when that instance finished. A block that starts within a quarter of
// its period after another instance's block on the same thread follows it,
// and the chain file (protocol/chain_wake.h) learns that link, so that the
// outpost of the chain's first instance can wake the outposts behind it.
// Nothing here locks, allocates or makes a system call.
#pragma once

#include "protocol/chain_wake.h"

#include <cstdint>

namespace Steinberg {
namespace QuillMarlow {
namespace ChainLinks {

// One block of the instance `id` on the audio thread; `periodNs` is the
// block's length. With a `chain`, the instance's `slot` in it is linked
// behind the one that ran before it, or marked as a chain's first.
class Turn
{
public:
	Turn (std::int32_t id, std::int64_t periodNs, Tandem::ChainRegion* chain = nullptr,
	      std::int32_t slot = Tandem::kNoChainSlot);
	// Another instance finished on this thread just before this block.
	bool followsAnother () const { return follows_; }
	// Records this instance as the last one that ran on this thread.
	~Turn ();
	Turn (const Turn&) = delete;
	Turn& operator= (const Turn&) = delete;

private:
	const std::int32_t id_;
	const std::int32_t slot_;
	int lane_ = -1;
	bool follows_ = false;
};

} // namespace ChainLinks
} // namespace QuillMarlow
} // namespace Steinberg
