#include "plugin/chain_file.h"

#include "log/log.h"
#include "plugin/file_claim.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {
namespace ChainFile {
namespace {

// Plain static storage: constant-initialised, trivially destroyed.
std::mutex lock;
Tandem::ChainRegion* mapped = nullptr;
int lockFd = -1;
bool taken[Tandem::kChainSlots] = {};
std::int32_t takenCount = 0;

// The number this copy of the library names its chain file after: the
// process id, and past the first copy (every bundle made for a Windows
// plug-in carries its own) the copy's number above the id's 22 bits.
std::uint32_t owner = 0;

// Made as the shared file is: a regular file of this user only, 0600,
// held by the copy that maps it (plugin/file_claim.h), so that each copy
// has its own, and none takes the file of a gone host whose outposts still
// run.
Tandem::ChainRegion* create ()
{
	const auto pid = static_cast<std::uint32_t> (::getpid ());
	for (std::uint32_t copy = 0; copy < Tandem::kChainFileCopies; ++copy)
	{
		const std::uint32_t key = pid + (copy << Tandem::kChainCopyShift);
		const std::string path = Tandem::chainFilePath (key);
		const Tandem::FileClaim claim = Tandem::claimFile (path);
		if (claim.outcome == Tandem::FileClaim::kInUse)
			continue;
		if (claim.outcome != Tandem::FileClaim::kTaken)
		{
			Tandem::logError () << "[QuillMarlow] Chain file " << path << " not made (" << claim.error
			                    << "): each outpost is woken by its own blocks";
			return nullptr;
		}
		const int fd = claim.fd;
		void* view = MAP_FAILED;
		if (::ftruncate (fd, sizeof (Tandem::ChainRegion)) == 0)
			view = ::mmap (nullptr, sizeof (Tandem::ChainRegion), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
		if (view == MAP_FAILED)
		{
			::unlink (path.c_str ());
			::close (fd);
			Tandem::logError () << "[QuillMarlow] Chain file " << path
			                    << " refused: each outpost is woken by its own blocks";
			return nullptr;
		}
		// The descriptor stays open, holding the lock, while the file is mapped.
		lockFd = fd;
		owner = key;
		::mlock (view, sizeof (Tandem::ChainRegion));
		auto* chain = static_cast<Tandem::ChainRegion*> (view);
		// One core is left to the threads that post blocks (as outpost
		// counts its own seats; an unknown count gives one).
		Tandem::initialiseChain (*chain, static_cast<std::int32_t> (std::thread::hardware_concurrency ()) - 1);
		return chain;
	}
	Tandem::logError () << "[QuillMarlow] Every chain file name of process " << pid
	                    << " is taken: each outpost is woken by its own blocks";
	return nullptr;
}

} // namespace

Place take ()
{
	std::lock_guard<std::mutex> guard (lock);
	if (!mapped && !(mapped = create ()))
		return {};
	for (std::int32_t slot = 0; slot < Tandem::kChainSlots; ++slot)
		if (!taken[slot])
		{
			taken[slot] = true;
			++takenCount;
			return {mapped, slot, owner};
		}
	return {};
}

void giveBack (Place& place)
{
	if (!place.chain)
		return;
	std::lock_guard<std::mutex> guard (lock);
	Tandem::ChainSlot& own = *place.own ();
	own.after.store (Tandem::kNoChainSlot, std::memory_order_relaxed);
	own.next.store (Tandem::kNoChainSlot, std::memory_order_relaxed);
	Tandem::freeChainSeatsOf (*place.chain, place.slot);
	taken[place.slot] = false;
	place = {};
	if (--takenCount > 0)
		return;
	::unlink (Tandem::chainFilePath (owner).c_str ());
	::munmap (mapped, sizeof (Tandem::ChainRegion));
	::close (lockFd);
	lockFd = -1;
	mapped = nullptr;
}

void freeSeatsOf (std::int32_t slot)
{
	std::lock_guard<std::mutex> guard (lock);
	if (mapped && Tandem::validChainSlot (slot) && taken[slot])
		Tandem::freeChainSeatsOf (*mapped, slot);
}

} // namespace ChainFile
} // namespace QuillMarlow
} // namespace Steinberg
