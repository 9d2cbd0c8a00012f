// Starts outpost under Wine as a child of the host process and stops it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace Tandem {

struct OutpostConfig
{
	std::string winePath = "/usr/bin/wine";
	std::string hostPath;
	std::string sharedMemoryName;
	std::string vst3Path;
	// A made bundle's class: the module file (a Windows path) and the
	// class id that outpost serves, passed after the two arguments above;
	// empty for the fixed plug-in. The module's Wine prefix, when given,
	// replaces the host's WINEPREFIX.
	std::string modulePath;
	std::string classId;
	std::string winePrefix;
	// The group the instance is served in (empty: an outpost of its own),
	// and the group file a group's new outpost is told of
	// (QUILLMARLOW_GROUP_FILE in its environment).
	std::string group;
	std::string groupFile;
	// Runs in the child between fork and exec, after the environment has
	// been prepared. The host may be multi-threaded, so it must only make
	// async-signal-safe calls (no allocation, no locks, no stdio).
	std::function<void ()> childSetup;
};

struct ProcessResult
{
	bool success;
	std::string error;
	std::int32_t exitCode;
};

class ChildProcess
{
public:
	ChildProcess () = default;
	~ChildProcess ();
	ChildProcess (const ChildProcess&) = delete;
	ChildProcess& operator= (const ChildProcess&) = delete;

	// Ends any previous child, then runs `winePath hostPath sharedMemoryName
	// vst3Path [modulePath classId]` with the host's environment less
	// WAYLAND_DISPLAY, with DISPLAY=:0 when DISPLAY is unset and with the
	// configuration's WINEPREFIX when it names one.
	ProcessResult launchOutpost (const OutpostConfig& config);

	// SIGTERM, up to `timeoutMs` for the child to end, then SIGKILL.
	ProcessResult terminate (int timeoutMs);

	// The child's process id; 0 or below means none.
	pid_t pid () const { return pid_; }
	// Lets the child go on without us (a group's outpost, which outlives the
	// instance that started it); its id.
	pid_t release ()
	{
		const pid_t pid = pid_;
		pid_ = -1;
		return pid;
	}

private:
	pid_t pid_ = -1;
};

} // namespace Tandem
