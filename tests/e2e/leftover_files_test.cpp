// Files left in /tmp by hosts that are gone: a host's whole process group
// killed (a terminal closed under it) takes its outposts with it and leaves
// every shared file and its chain file behind. The next instance that
// starts removes them, and only them: the files of a live instance, and
// the file of a killed host whose outpost still runs, stay.
#include "hosted_pair.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>

namespace e2e {
namespace {

std::string bundleDir ()
{
	std::string path = QM_BUNDLE_SO; // <bundle>/Contents/x86_64-linux/QuillMarlow.so
	for (int up = 0; up < 3; ++up)
		path = path.substr (0, path.rfind ('/'));
	return path;
}

// A host in a session and process group of its own, holding two active
// instances.
struct HeldHost
{
	HeldHost ()
	{
		log = "/tmp/qm_held_host_" + std::to_string (::getpid ()) + "_" + std::to_string (++count) + ".log";
		pid = ::fork ();
		if (pid == 0)
		{
			// A session of its own: when it dies, its stopped outpost is not
			// hung up as the member of an orphaned group would be.
			::setsid ();
			const int fd = ::open (log.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0600);
			::dup2 (fd, STDOUT_FILENO);
			::dup2 (fd, STDERR_FILENO);
			::execl (EXIT_HOST, EXIT_HOST, bundleDir ().c_str (), "hold", static_cast<char*> (nullptr));
			::_exit (127);
		}
		// Instance ids start at the process id times 1000, in 32-bit arithmetic.
		const auto first = static_cast<int32> (static_cast<uint32> (pid) * 1000u);
		files = {"/tmp/tandem_" + std::to_string (first) + ".shm", "/tmp/tandem_" + std::to_string (first + 1) + ".shm",
		         "/tmp/tandem_chain_" + std::to_string (pid) + ".shm"};
	}
	~HeldHost ()
	{
		::kill (-pid, SIGKILL);
		::waitpid (pid, nullptr, 0);
		for (const auto& o : runningOutposts ())
			if (std::find (files.begin (), files.end (), o.sharedFile) != files.end ())
				::kill (o.pid, SIGKILL);
		for (const auto& file : files)
			::unlink (file.c_str ());
		::unlink (log.c_str ());
	}
	bool holding () const
	{
		return waitFor ([&] { return readText (log).find ("holding\n") != std::string::npos; }, 60) &&
		       waitFor ([&] { return outpostOf (files[0]) > 0 && outpostOf (files[1]) > 0; }, 10);
	}
	static pid_t outpostOf (const std::string& file)
	{
		for (const auto& o : runningOutposts ())
			if (o.sharedFile == file)
				return o.pid;
		return 0;
	}
	static inline int count = 0;
	pid_t pid = -1;
	std::string log;
	std::vector<std::string> files;
};

// A shared lock over a file, as an outpost holds one: no instance that
// starts meanwhile (this machine may run other test suites) removes it.
int holdFile (const std::string& path)
{
	const int fd = ::open (path.c_str (), O_RDONLY | O_CLOEXEC);
	struct flock range
	{};
	range.l_type = F_RDLCK;
	range.l_whence = SEEK_SET;
	if (fd >= 0 && ::fcntl (fd, F_OFD_SETLK, &range) != 0)
	{
		::close (fd);
		return -1;
	}
	return fd;
}

bool gone (pid_t pid)
{
	return waitFor ([&] { return ::kill (pid, 0) != 0; }, 10);
}

TEST (LeftoverFiles, AStartingInstanceRemovesTheFilesOfGoneHostsOnly)
{
	Hosted live (QUILL_NOEDITOR_BUNDLE);
	live.start ();
	const std::string liveFile = live.p->sharedMemory ().path ();
	ASSERT_TRUE (fileExists (liveFile));

	// Killed alone, its outpost stopped before it could notice: the outpost
	// still maps its file.
	HeldHost orphaned;
	ASSERT_TRUE (orphaned.holding ()) << readText (orphaned.log);
	const pid_t stoppedOutpost = HeldHost::outpostOf (orphaned.files[0]);
	ASSERT_EQ (::kill (stoppedOutpost, SIGSTOP), 0);
	ASSERT_EQ (::kill (orphaned.pid, SIGKILL), 0);
	ASSERT_EQ (::waitpid (orphaned.pid, nullptr, 0), orphaned.pid);

	// Killed with its outposts, as a session manager kills a process group.
	HeldHost killed;
	ASSERT_TRUE (killed.holding ()) << readText (killed.log);
	const pid_t killedOutpost = HeldHost::outpostOf (killed.files[0]);
	std::vector<int> held;
	for (const auto& file : killed.files)
		held.push_back (holdFile (file));
	ASSERT_EQ (::kill (-killed.pid, SIGKILL), 0);
	ASSERT_EQ (::waitpid (killed.pid, nullptr, 0), killed.pid);
	ASSERT_TRUE (gone (killedOutpost));

	for (size_t i = 0; i < killed.files.size (); ++i)
	{
		ASSERT_GE (held[i], 0) << killed.files[i];
		ASSERT_TRUE (fileExists (killed.files[i])) << killed.files[i] << " was not left behind: nothing to remove";
		::close (held[i]);
	}

	Hosted next (QUILL_NOEDITOR_BUNDLE);
	for (const auto& file : killed.files)
		EXPECT_FALSE (fileExists (file)) << file;
	EXPECT_TRUE (fileExists (orphaned.files[0]));
	EXPECT_TRUE (fileExists (liveFile));
	EXPECT_TRUE (fileExists (next.p->sharedMemory ().path ()));

	::kill (stoppedOutpost, SIGKILL);
}

} // namespace
} // namespace e2e
