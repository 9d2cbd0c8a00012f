// A host that calls exit(0) with instances alive (active, one with its
// editor open, audio running on another thread): it ends with status 0
// within a second, and soon after none of its outposts or shared files is
// left. Once with the host releasing everything from its own exit handler
// (after the plug-in library's statics were destroyed) and once with the
// host releasing nothing.
#include "e2e_support.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <ctime>

namespace e2e {
namespace {

long long monotonicNs ()
{
	timespec now {};
	::clock_gettime (CLOCK_MONOTONIC, &now);
	return static_cast<long long> (now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string bundleDir ()
{
	std::string path = QM_BUNDLE_SO; // <bundle>/Contents/x86_64-linux/QuillMarlow.so
	for (int up = 0; up < 3; ++up)
		path = path.substr (0, path.rfind ('/'));
	return path;
}

// The shared files of the first two instances a process makes (ids start at
// its pid times 1000, in 32-bit arithmetic).
std::vector<std::string> sharedFilesOf (pid_t pid)
{
	const auto first = static_cast<int32> (static_cast<uint32> (pid) * 1000u);
	return {"/tmp/tandem_" + std::to_string (first) + ".shm", "/tmp/tandem_" + std::to_string (first + 1) + ".shm"};
}

std::vector<pid_t> outpostsServing (const std::vector<std::string>& files)
{
	std::vector<pid_t> found;
	for (const auto& o : runningOutposts ())
		if (std::find (files.begin (), files.end (), o.sharedFile) != files.end ())
			found.push_back (o.pid);
	return found;
}

class HostExit : public testing::TestWithParam<std::string>
{};

TEST_P (HostExit, StatusZeroWithinASecondAndNothingLeftBehind)
{
	const std::string log = "/tmp/qm_exit_host_" + std::to_string (::getpid ()) + ".log";
	const pid_t child = ::fork ();
	ASSERT_GE (child, 0);
	if (child == 0)
	{
		// Output to a file: Wine's helpers inherit it and may outlive the host.
		const int fd = ::open (log.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		::dup2 (fd, STDOUT_FILENO);
		::dup2 (fd, STDERR_FILENO);
		::execl (EXIT_HOST, EXIT_HOST, bundleDir ().c_str (), GetParam ().c_str (), static_cast<char*> (nullptr));
		::_exit (127);
	}
	const std::vector<std::string> files = sharedFilesOf (child);

	int status = 0;
	long long reaped = 0;
	ASSERT_TRUE (waitFor (
	    [&] {
		    if (::waitpid (child, &status, WNOHANG) != child)
			    return false;
		    reaped = monotonicNs ();
		    return true;
	    },
	    60))
	    << readText (log);
	const std::string output = readText (log);
	ASSERT_TRUE (WIFEXITED (status)) << "signal " << (WIFSIGNALED (status) ? WTERMSIG (status) : 0) << "\n" << output;
	EXPECT_EQ (WEXITSTATUS (status), 0) << output;
	EXPECT_THAT (output, ::testing::Not (::testing::HasSubstr ("terminate called")));
	const size_t at = output.find ("exiting ");
	ASSERT_NE (at, std::string::npos) << output;
	const long long exiting = std::atoll (output.c_str () + at + 8);
	EXPECT_LT (reaped - exiting, 1000000000LL) << "exit took " << (reaped - exiting) / 1000000 << " ms";
	if (GetParam () == "release")
	{
		EXPECT_THAT (output, ::testing::HasSubstr ("released\n"));
	}

	const bool clean = waitFor ([&] { return outpostsServing (files).empty (); }, 2.0) && !fileExists (files[0]) &&
	                   !fileExists (files[1]);
	EXPECT_TRUE (clean) << outpostsServing (files).size () << " outposts, files " << fileExists (files[0])
	                    << fileExists (files[1]) << "\n"
	                    << output;
	for (pid_t pid : outpostsServing (files))
		::kill (pid, SIGKILL);
	for (const auto& file : files)
		::unlink (file.c_str ());
	if (!HasFailure ())
		::unlink (log.c_str ());
}

INSTANTIATE_TEST_SUITE_P (Hosts, HostExit, testing::Values ("release", "keep"));

} // namespace
} // namespace e2e
