// Taking a file in /tmp as its one creator, and removing the files there
// that nobody uses any more: the shared files and chain files of hosts
// that ended without removing them (a host's whole process group killed
// takes its outposts with it, and nobody is left to remove their files).
// Who uses a file is told by locks (protocol/file_hold.h), never by
// process ids, which the system reuses.
#pragma once

#include <string>

namespace Tandem {

struct FileClaim
{
	enum Outcome
	{
		kTaken,
		kInUse,
		kRefused
	};
	Outcome outcome = kRefused;
	int fd = -1;       // open, holding the creator's lock, when taken
	std::string error; // why it was refused
};

// Opens or creates (mode 0600, links not followed) the regular file of
// this user at `path` and takes it as its creator: an exclusive flock()
// that the descriptor holds until it is closed. In use when another
// creator holds it or an outpost still maps it; refused when it is not a
// regular file of this user or cannot be opened. Should the path be
// removed or replaced while it is taken, the file now there is taken.
FileClaim claimFile (const std::string& path);

// Removes the files of this system in `directory` (tandem_*.shm) that
// belong to this user and that neither a creator nor an outpost holds;
// returns how many. Files in use are left as they are, whatever their age.
int removeLeftoverFiles (const std::string& directory = "/tmp");

} // namespace Tandem
