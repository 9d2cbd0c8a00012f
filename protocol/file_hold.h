// Who still uses a shared file or a chain file, told by locks that the
// kernel drops when their process ends, however it ends (a crash, SIGKILL,
// a whole process group killed), so no process id is trusted:
//  - the Linux side that created a file holds an exclusive flock() on it
//    for as long as it maps it (one creator per file);
//  - every outpost that maps a file holds a shared open-file-description
//    lock (fcntl F_OFD_SETLK, F_RDLCK) over the whole of it, taken at its
//    start through its own descriptor, which is closed on exec: the
//    processes that Wine starts (services, devices) never inherit it.
// The two kinds of lock are independent on Linux. A file on which both an
// exclusive flock and a write lock can be had is used by nobody: its host
// and every outpost that mapped it are gone, and it may be removed.
#pragma once

#include "protocol/futex.h"

#include <cstddef>
#include <cstdint>

namespace Tandem {

namespace FileHold {
constexpr std::int64_t kOpenat = 257;
constexpr std::int64_t kFcntl = 72;
constexpr std::int64_t kClose = 3;
constexpr std::int64_t kCurrentDirectory = -100;                         // AT_FDCWD
constexpr std::int64_t kReadOnlyNoLinksClosedOnExec = 0x20000 | 0x80000; // O_RDONLY | O_NOFOLLOW | O_CLOEXEC
constexpr std::int64_t kOfdGetLock = 36;                                 // F_OFD_GETLK
constexpr std::int64_t kOfdSetLock = 37;                                 // F_OFD_SETLK
constexpr std::int16_t kReadLock = 0;                                    // F_RDLCK
constexpr std::int16_t kWriteLock = 1;                                   // F_WRLCK
constexpr std::int16_t kUnlocked = 2;                                    // F_UNLCK

// Linux's struct flock on x86-64, in fixed-width fields (a Windows build's
// `long` is 32 bits).
struct LockRange
{
	std::int16_t type = kReadLock;
	std::int16_t whence = 0; // SEEK_SET
	std::int32_t padding = 0;
	std::int64_t start = 0;
	std::int64_t length = 0; // to the end, however long
	std::int32_t pid = 0;    // 0 for open-file-description locks
	std::int32_t padding2 = 0;
};
static_assert (sizeof (LockRange) == 32, "struct flock of x86-64 Linux");
static_assert (offsetof (LockRange, start) == 8 && offsetof (LockRange, pid) == 24, "struct flock of x86-64 Linux");
} // namespace FileHold

// outpost's hold on the file at the Linux `path`: a descriptor of its own
// with a shared lock over the whole file, kept until the process ends. The
// kernel's result: the descriptor, or a negative errno.
inline std::int64_t holdSharedFile (const char* path)
{
	const std::int64_t fd =
	    linuxSyscall (FileHold::kOpenat, FileHold::kCurrentDirectory, reinterpret_cast<std::intptr_t> (path),
	                  FileHold::kReadOnlyNoLinksClosedOnExec, 0);
	if (fd < 0)
		return fd;
	FileHold::LockRange range;
	const std::int64_t locked =
	    linuxSyscall (FileHold::kFcntl, fd, FileHold::kOfdSetLock, reinterpret_cast<std::intptr_t> (&range));
	if (locked == 0)
		return fd;
	linuxSyscall (FileHold::kClose, fd);
	return locked;
}

// A hold of outpost's that lets go (closes its descriptor) when it goes.
class SharedFileHold
{
public:
	SharedFileHold () = default;
	~SharedFileHold () { release (); }
	SharedFileHold (const SharedFileHold&) = delete;
	SharedFileHold& operator= (const SharedFileHold&) = delete;

	// holdSharedFile's result; any earlier hold is let go first.
	std::int64_t take (const char* path)
	{
		release ();
		const std::int64_t result = holdSharedFile (path);
		fd_ = result >= 0 ? result : -1;
		return result;
	}
	void release ()
	{
		if (fd_ >= 0)
			linuxSyscall (FileHold::kClose, fd_);
		fd_ = -1;
	}

private:
	std::int64_t fd_ = -1;
};

} // namespace Tandem
