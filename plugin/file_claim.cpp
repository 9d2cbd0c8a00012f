#include "plugin/file_claim.h"

#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tandem {

namespace {

bool ownRegularFile (const struct stat& st)
{
	return S_ISREG (st.st_mode) && st.st_uid == ::geteuid ();
}

// An outpost's shared lock (protocol/file_hold.h) is there when a write
// lock over the whole file could not be had.
bool heldByAnOutpost (int fd)
{
	struct flock probe
	{};
	probe.l_type = F_WRLCK;
	probe.l_whence = SEEK_SET;
	probe.l_start = 0;
	probe.l_len = 0;
	if (::fcntl (fd, F_OFD_GETLK, &probe) != 0)
		return true; // cannot tell: taken as used
	return probe.l_type != F_UNLCK;
}

// Whether `path` still names the file open at `fd`.
bool stillAtPath (int fd, const std::string& path)
{
	struct stat open
	{
	}, named {};
	return ::fstat (fd, &open) == 0 && ::lstat (path.c_str (), &named) == 0 && open.st_dev == named.st_dev &&
	       open.st_ino == named.st_ino;
}

} // namespace

FileClaim claimFile (const std::string& path)
{
	FileClaim claim;
	// A file removed between our open and our lock (by its creator leaving,
	// or by a clean-up) is not the one at the path any more: open again.
	for (int attempt = 0; attempt < 4; ++attempt)
	{
		const int fd = ::open (path.c_str (), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
		if (fd < 0)
		{
			claim.error = std::string ("open failed: ") + std::strerror (errno);
			return claim;
		}
		// The name is predictable and /tmp is shared with other users: only a
		// regular file of our own is used, anything else is left as it is.
		struct stat st
		{};
		if (::fstat (fd, &st) != 0 || !ownRegularFile (st))
		{
			::close (fd);
			claim.error = "refused " + path + ": not a regular file owned by this user";
			return claim;
		}
		if (::flock (fd, LOCK_EX | LOCK_NB) != 0 || heldByAnOutpost (fd))
		{
			::close (fd);
			claim.outcome = FileClaim::kInUse;
			return claim;
		}
		if (stillAtPath (fd, path))
		{
			claim.outcome = FileClaim::kTaken;
			claim.fd = fd;
			return claim;
		}
		::close (fd);
	}
	claim.error = path + " kept changing while it was opened";
	return claim;
}

namespace {

// A group file names its host's process (instance_group.h): once that is
// gone, nobody joins through it again.
bool groupFileOfGoneHost (const std::string& directory, const std::string& name)
{
	constexpr char kStem[] = "quillmarlow_group_";
	constexpr std::size_t kStemLength = sizeof kStem - 1;
	if (name.compare (0, kStemLength, kStem) != 0)
		return false;
	const long host = std::strtol (name.c_str () + kStemLength, nullptr, 10);
	if (host <= 0 || ::kill (static_cast<pid_t> (host), 0) == 0 || errno != ESRCH)
		return false;
	const std::string path = directory + "/" + name;
	struct stat st
	{};
	return ::lstat (path.c_str (), &st) == 0 && ownRegularFile (st) && ::unlink (path.c_str ()) == 0;
}

} // namespace

int removeLeftoverFiles (const std::string& directory)
{
	DIR* dir = ::opendir (directory.c_str ());
	if (!dir)
		return 0;
	int removed = 0;
	while (const dirent* entry = ::readdir (dir))
	{
		const std::string name = entry->d_name;
		if (groupFileOfGoneHost (directory, name))
		{
			++removed;
			continue;
		}
		if (name.size () <= 11 || name.compare (0, 7, "tandem_") != 0 ||
		    name.compare (name.size () - 4, 4, ".shm") != 0)
			continue;
		const std::string path = directory + "/" + name;
		const int fd = ::open (path.c_str (), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
		if (fd < 0)
			continue;
		struct stat st
		{};
		// The creator's lock first: while we hold it, no creator can take
		// the file, and an outpost only ever maps a file its creator holds.
		if (::fstat (fd, &st) == 0 && ownRegularFile (st) && ::flock (fd, LOCK_EX | LOCK_NB) == 0 &&
		    !heldByAnOutpost (fd) && stillAtPath (fd, path) && ::unlink (path.c_str ()) == 0)
			++removed;
		::close (fd);
	}
	::closedir (dir);
	return removed;
}

} // namespace Tandem
