#include "shared_file_view.h"

#include "log/log.h"
#include "protocol/event_data.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tandem {

bool SharedFileView::open (const std::string& path)
{
	return open (path, kFileSize);
}

bool SharedFileView::open (const std::string& path, std::size_t mapped)
{
	close ();
	const int fd = ::open (path.c_str (), O_RDWR | O_CLOEXEC);
	if (fd < 0)
	{
		logError () << "[Outpost] Failed to open file: " << path;
		return false;
	}
	// A shorter file would fault when a region beyond its end is touched.
	struct stat st
	{};
	const bool known = ::fstat (fd, &st) == 0;
	if (!known || !(mapped == kFileSize ? sharedFileSizeFits (st.st_size) : st.st_size >= off_t (mapped)))
	{
		::close (fd);
		return false;
	}
	void* view = ::mmap (nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	if (view == MAP_FAILED)
	{
		logError () << "[Outpost] Failed to map view of file";
		::close (fd);
		return false;
	}
	base_ = view;
	size_ = mapped;
	handle_ = fd;
	return true;
}

void SharedFileView::close ()
{
	if (base_)
	{
		::munmap (base_, size_);
		base_ = nullptr;
	}
	if (handle_ != -1)
	{
		::close (static_cast<int> (handle_));
		handle_ = -1;
	}
}

} // namespace Tandem
