#include "plugin/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Tandem {

namespace {

// Everything the child needs is built before fork: after fork in a
// multi-threaded host only async-signal-safe calls are allowed, which rules
// out getenv/setenv/unsetenv and any allocation.
std::vector<std::string> childEnvironment (const std::string& winePrefix, const std::string& groupFile)
{
	std::vector<std::string> env;
	bool hasDisplay = false;
	for (char** entry = environ; entry && *entry; ++entry)
	{
		const char* e = *entry;
		if (std::strncmp (e, "WAYLAND_DISPLAY=", 16) == 0)
		{
			continue;
		}
		if ((!winePrefix.empty () && std::strncmp (e, "WINEPREFIX=", 11) == 0) ||
		    std::strncmp (e, "QUILLMARLOW_GROUP_FILE=", 23) == 0)
		{
			continue;
		}
		if (std::strncmp (e, "DISPLAY=", 8) == 0)
		{
			hasDisplay = true;
		}
		env.emplace_back (e);
	}
	if (!hasDisplay)
	{
		env.emplace_back ("DISPLAY=:0");
	}
	if (!winePrefix.empty ())
	{
		env.push_back ("WINEPREFIX=" + winePrefix);
	}
	if (!groupFile.empty ())
	{
		env.push_back ("QUILLMARLOW_GROUP_FILE=" + groupFile);
	}
	return env;
}

std::vector<char*> pointersTo (std::vector<std::string>& strings)
{
	std::vector<char*> pointers;
	pointers.reserve (strings.size () + 1);
	for (auto& s : strings)
	{
		pointers.push_back (s.data ());
	}
	pointers.push_back (nullptr);
	return pointers;
}

} // namespace

ChildProcess::~ChildProcess ()
{
	terminate (500);
}

ProcessResult ChildProcess::launchOutpost (const OutpostConfig& config)
{
	std::vector<std::string> env = childEnvironment (config.winePrefix, config.groupFile);
	std::vector<std::string> args {config.winePath, config.hostPath, config.sharedMemoryName, config.vst3Path};
	if (!config.modulePath.empty ())
	{
		args.push_back (config.modulePath);
		args.push_back (config.classId);
	}
	std::vector<char*> envp = pointersTo (env);
	std::vector<char*> argv = pointersTo (args);

	terminate (500);

	pid_ = ::fork ();
	if (pid_ < 0)
	{
		const int err = errno;
		pid_ = -1;
		return {false, std::string ("fork failed: ") + std::strerror (err), -1};
	}
	if (pid_ == 0)
	{
		if (config.childSetup)
		{
			config.childSetup ();
		}
		::execve (argv[0], argv.data (), envp.data ());
		::_exit (127);
	}
	return {true, {}, 0};
}

ProcessResult ChildProcess::terminate (int timeoutMs)
{
	if (pid_ <= 0)
	{
		return {true, {}, 0};
	}
	if (::kill (pid_, SIGTERM) != 0)
	{
		const int err = errno;
		if (err == ESRCH)
		{
			pid_ = -1;
			return {true, {}, 0};
		}
		return {false, std::string ("kill(SIGTERM) failed: ") + std::strerror (err), -1};
	}

	const auto deadline = std::chrono::steady_clock::now () + std::chrono::milliseconds (timeoutMs);
	while (std::chrono::steady_clock::now () < deadline)
	{
		int status = 0;
		const pid_t r = ::waitpid (pid_, &status, WNOHANG);
		if (r == pid_)
		{
			pid_ = -1;
			return {true, {}, (status >> 8) & 0xff};
		}
		if (r == -1 && errno != EINTR)
		{
			const int err = errno;
			pid_ = -1;
			return {false, std::string ("waitpid failed: ") + std::strerror (err), -1};
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}

	::kill (pid_, SIGKILL);
	::waitpid (pid_, nullptr, 0);
	pid_ = -1;
	return {true, {}, 0};
}

} // namespace Tandem
