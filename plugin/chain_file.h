// This process's chain file (protocol/chain_wake.h): made with the first
// instance that takes a slot, removed when the last one gives its slot back.
// Taking and giving back lock; the audio path only uses the mapping a slot
// came with.
#pragma once

#include "protocol/chain_wake.h"

#include <cstdint>

namespace Steinberg {
namespace QuillMarlow {
namespace ChainFile {

struct Place
{
	Tandem::ChainRegion* chain = nullptr;
	std::int32_t slot = Tandem::kNoChainSlot;
	std::uint32_t owner = 0; // what the file is named after (chainFilePath)
	Tandem::ChainSlot* own () const { return chain ? &chain->slots[slot] : nullptr; }
};

// A free slot, with the file it lies in; no chain when the file cannot be
// made or every slot is taken (the instance's outpost is then woken by its
// blocks, as without chains).
Place take ();
// Gives the slot back (its links cut, its spin seats freed); the last one
// removes the file.
void giveBack (Place& place);
// Frees the spin seats held for the slot: its outpost is gone, and a new
// one is about to serve it.
void freeSeatsOf (std::int32_t slot);

} // namespace ChainFile
} // namespace QuillMarlow
} // namespace Steinberg
