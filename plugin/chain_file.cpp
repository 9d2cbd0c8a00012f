#include "plugin/chain_file.h"

#include "log/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {
namespace ChainFile {
namespace {

// Plain static storage: constant-initialised, trivially destroyed.
std::mutex lock;
Tandem::ChainRegion* mapped = nullptr;
bool taken[Tandem::kChainSlots] = {};
std::int32_t takenCount = 0;

std::string ownPath ()
{
	return Tandem::chainFilePath (static_cast<std::uint32_t> (::getpid ()));
}

// Made as the shared file is: a regular file of this user only, 0600.
Tandem::ChainRegion* create ()
{
	const std::string path = ownPath ();
	const int fd = ::open (path.c_str (), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0)
	{
		Tandem::logError () << "[QuillMarlow] Chain file " << path << " not made (" << std::strerror (errno)
		                    << "): each outpost is woken by its own blocks";
		return nullptr;
	}
	struct stat st {};
	void* view = MAP_FAILED;
	if (::fstat (fd, &st) == 0 && S_ISREG (st.st_mode) && st.st_uid == ::geteuid () &&
	    ::ftruncate (fd, sizeof (Tandem::ChainRegion)) == 0)
		view = ::mmap (nullptr, sizeof (Tandem::ChainRegion), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	::close (fd);
	if (view == MAP_FAILED)
	{
		Tandem::logError () << "[QuillMarlow] Chain file " << path << " refused: each outpost is woken by its own blocks";
		return nullptr;
	}
	::mlock (view, sizeof (Tandem::ChainRegion));
	auto* chain = static_cast<Tandem::ChainRegion*> (view);
	Tandem::initialiseChain (*chain);
	return chain;
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
			return {mapped, slot};
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
	taken[place.slot] = false;
	place = {};
	if (--takenCount > 0)
		return;
	::unlink (ownPath ().c_str ());
	::munmap (mapped, sizeof (Tandem::ChainRegion));
	mapped = nullptr;
}

} // namespace ChainFile
} // namespace QuillMarlow
} // namespace Steinberg
