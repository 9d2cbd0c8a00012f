#include "plugin/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Tandem::ChildProcess;
using Tandem::OutpostConfig;
using Tandem::ProcessResult;

OutpostConfig standIn (const std::string& mode)
{
	OutpostConfig config;
	config.winePath = FAKE_OUTPOST_PATH;
	config.hostPath = mode;
	config.sharedMemoryName = "/tmp/tandem_42.shm";
	config.vst3Path = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";
	return config;
}

// True once `pid` ignores SIGTERM (its SigIgn mask in /proc has bit 15).
bool ignoresSigterm (pid_t pid)
{
	std::ifstream status ("/proc/" + std::to_string (pid) + "/status");
	for (std::string line; std::getline (status, line);)
		if (line.rfind ("SigIgn:", 0) == 0)
			return (std::strtoull (line.c_str () + 7, nullptr, 16) >> (SIGTERM - 1)) & 1;
	return false;
}

bool gone (pid_t pid)
{
	return ::kill (pid, 0) != 0 && errno == ESRCH;
}

std::vector<std::string> lines (const std::string& path)
{
	std::vector<std::string> result;
	std::ifstream in (path);
	for (std::string line; std::getline (in, line);)
		result.push_back (line);
	return result;
}

// Runs the stand-in in dump mode and returns its argument vector and
// environment as it saw them.
struct Dump
{
	std::vector<std::string> argv, env;
	bool hasEnv (const std::string& entry) const
	{
		for (const auto& e : env)
			if (e == entry)
				return true;
		return false;
	}
	bool hasVar (const std::string& name) const
	{
		for (const auto& e : env)
			if (e.rfind (name + "=", 0) == 0)
				return true;
		return false;
	}
};

Dump runDump (OutpostConfig config = {})
{
	const std::string file = "/tmp/qm_dump_" + std::to_string (::getpid ());
	OutpostConfig c = standIn ("dump:" + file);
	c.childSetup = config.childSetup;
	ChildProcess child;
	const ProcessResult launched = child.launchOutpost (c);
	EXPECT_TRUE (launched.success);
	EXPECT_GT (child.pid (), 0);
	// The stand-in exits by itself; terminate reaps it and reports its status.
	for (int i = 0; i < 200 && !std::ifstream (file).good (); ++i)
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	std::this_thread::sleep_for (std::chrono::milliseconds (50));
	child.terminate (500);
	Dump d;
	bool inEnv = false;
	for (const auto& line : lines (file))
	{
		if (line == "--env--")
			inEnv = true;
		else
			(inEnv ? d.env : d.argv).push_back (line);
	}
	::unlink (file.c_str ());
	return d;
}

TEST (ChildProcess, ChildGetsTheCommandLineAndAnAdjustedEnvironment)
{
	::setenv ("DISPLAY", ":7", 1);
	::setenv ("WAYLAND_DISPLAY", "wayland-0", 1);
	::setenv ("QM_TEST_INHERITED", "yes", 1);
	Dump d = runDump ();
	ASSERT_EQ (d.argv.size (), 4u);
	EXPECT_EQ (d.argv[0], FAKE_OUTPOST_PATH);
	EXPECT_EQ (d.argv[1].rfind ("dump:", 0), 0u);
	EXPECT_EQ (d.argv[2], "/tmp/tandem_42.shm");
	EXPECT_EQ (d.argv[3], "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3");
	EXPECT_TRUE (d.hasEnv ("DISPLAY=:7"));
	EXPECT_FALSE (d.hasVar ("WAYLAND_DISPLAY"));
	EXPECT_TRUE (d.hasEnv ("QM_TEST_INHERITED=yes"));

	::unsetenv ("DISPLAY");
	d = runDump ();
	EXPECT_TRUE (d.hasEnv ("DISPLAY=:0"));
	// The parent's own environment is not touched.
	EXPECT_EQ (::getenv ("DISPLAY"), nullptr);
	EXPECT_STREQ (::getenv ("WAYLAND_DISPLAY"), "wayland-0");
}

TEST (ChildProcess, ChildSetupRunsInTheChildBeforeExec)
{
	int fds[2];
	ASSERT_EQ (::pipe (fds), 0);
	OutpostConfig config;
	config.childSetup = [&fds] { (void)!::write (fds[1], "S", 1); };
	runDump (config);
	::close (fds[1]);
	char c = 0;
	EXPECT_EQ (::read (fds[0], &c, 1), 1);
	EXPECT_EQ (c, 'S');
	::close (fds[0]);
}

TEST (ChildProcess, TerminateWithoutChildDoesNothing)
{
	ChildProcess child;
	EXPECT_EQ (child.pid (), -1);
	const ProcessResult r = child.terminate (500);
	EXPECT_TRUE (r.success);
	EXPECT_EQ (r.exitCode, 0);
	EXPECT_TRUE (r.error.empty ());
}

TEST (ChildProcess, TerminateEndsChildrenThatObeyAndThatIgnoreSigterm)
{
	ChildProcess obedient;
	ASSERT_TRUE (obedient.launchOutpost (standIn ("idle")).success);
	const pid_t first = obedient.pid ();
	std::this_thread::sleep_for (std::chrono::milliseconds (50));
	ProcessResult r = obedient.terminate (500);
	EXPECT_TRUE (r.success);
	EXPECT_EQ (r.exitCode, 0);
	EXPECT_EQ (obedient.pid (), -1);
	EXPECT_TRUE (gone (first)) << "reaped, not left as a zombie";

	ChildProcess stubborn;
	ASSERT_TRUE (stubborn.launchOutpost (standIn ("stubborn")).success);
	const pid_t second = stubborn.pid ();
	for (int i = 0; i < 500 && !ignoresSigterm (second); ++i) // a slow start (sanitizers, load) takes a while
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	const auto start = std::chrono::steady_clock::now ();
	r = stubborn.terminate (500);
	const auto elapsed = std::chrono::steady_clock::now () - start;
	EXPECT_TRUE (r.success);
	EXPECT_EQ (stubborn.pid (), -1);
	EXPECT_GE (elapsed, std::chrono::milliseconds (500)) << "SIGKILL only after the grace period";
	EXPECT_TRUE (gone (second));
}

TEST (ChildProcess, RelaunchEndsTheOlderChildAndExecFailureIs127)
{
	ChildProcess child;
	ASSERT_TRUE (child.launchOutpost (standIn ("idle")).success);
	const pid_t older = child.pid ();
	ASSERT_TRUE (child.launchOutpost (standIn ("idle")).success);
	EXPECT_NE (child.pid (), older);
	EXPECT_TRUE (gone (older));

	OutpostConfig missing = standIn ("idle");
	missing.winePath = "/nonexistent/wine";
	const ProcessResult launched = child.launchOutpost (missing);
	EXPECT_TRUE (launched.success) << "fork worked; exec fails in the child";
	std::this_thread::sleep_for (std::chrono::milliseconds (100));
	const ProcessResult ended = child.terminate (500);
	EXPECT_TRUE (ended.success);
	EXPECT_EQ (ended.exitCode, 127);
}

} // namespace
