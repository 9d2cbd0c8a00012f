// The chain file in native builds: opened and mapped with POSIX calls.
#include "chain_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tandem {

ChainRegion* mapChainFile (const std::string& path)
{
	const int fd = ::open (path.c_str (), O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	struct stat st
	{};
	void* view = MAP_FAILED;
	if (::fstat (fd, &st) == 0 && st.st_size >= static_cast<off_t> (sizeof (ChainRegion)))
		view = ::mmap (nullptr, sizeof (ChainRegion), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	::close (fd);
	return view == MAP_FAILED ? nullptr : static_cast<ChainRegion*> (view);
}

} // namespace Tandem
