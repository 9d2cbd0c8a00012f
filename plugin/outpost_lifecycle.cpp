#include "plugin/outpost_lifecycle.h"

#include "plugin/command_slot.h"
#include "plugin/sleep_fully.h"

#include "log/log.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

namespace {

constexpr auto kReadyTimeout = std::chrono::seconds (10);
constexpr const char* kServedPluginPath = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";

// How a child that is gone ended, from its exit status (without reaping it);
// empty when it is not our child to ask.
std::string howProcessEnded (pid_t pid)
{
	siginfo_t info {};
	if (::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid)
		return {};
	if (info.si_code == CLD_EXITED)
		return "it exited with status " + std::to_string (info.si_status);
	const char* name = ::strsignal (info.si_status);
	return "it was killed by signal " + std::to_string (info.si_status) + (name ? std::string (" (") + name + ")" : "");
}

} // namespace

std::string getBundlePath ()
{
	Dl_info info {};
	if (::dladdr (reinterpret_cast<void*> (&getBundlePath), &info) == 0 || !info.dli_fname)
		return {};
	// Absolute, so that outpost is found whatever the host's current directory.
	std::error_code error;
	const auto library = std::filesystem::absolute (info.dli_fname, error);
	return library.parent_path ().parent_path ().parent_path ().string ();
}

// A child that has exited but is not reaped yet still answers signal 0, so
// it is asked whether it has exited (without reaping it) first; signal 0
// decides only when it is not our child to wait for (the host reaps or
// ignores SIGCHLD).
bool processGone (pid_t pid)
{
	siginfo_t info {};
	if (::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
		return info.si_pid == pid;
	return errno == ECHILD && ::kill (pid, 0) != 0 && errno == ESRCH;
}

OutpostLifecycle::OutpostLifecycle (int32 instanceId, const Tandem::SharedMemoryCreator& file)
: instanceId_ (instanceId), file_ (file)
{
}

bool OutpostLifecycle::alive () const
{
	const pid_t pid = child_.pid ();
	if (pid <= 0)
		return false;
	if (!processGone (pid))
		return true;
	reportEnd (pid);
	return false;
}

void OutpostLifecycle::reportEnd (pid_t pid) const
{
	// Once per outpost: audio has only been passing through since then.
	if (pid == endReported_)
		return;
	endReported_ = pid;
	const std::string how = howProcessEnded (pid);
	Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost has ended"
	                    << (how.empty () ? std::string () : ": " + how) << "; audio passes through unprocessed";
}

bool OutpostLifecycle::running () const
{
	return alive () && file_.isMapped ();
}

bool OutpostLifecycle::launch (const ConfigAdjuster& adjust, double sampleRate, int32 maxSamplesPerBlock,
                               bool& cameUp)
{
	Tandem::logInfo () << "[QuillMarlow] Lancement du outpost...";
	const std::string dir = getBundlePath ();
	Tandem::logInfo () << "[QuillMarlow] Plugin directory: " << dir;

	Tandem::OutpostConfig config;
	config.winePath = "/usr/bin/wine";
	config.hostPath = dir + "/Contents/Resources/outpost.exe";
	config.vst3Path = kServedPluginPath;
	config.sharedMemoryName = file_.path ();
	if (adjust)
		adjust (config);

	Tandem::logInfo () << "[QuillMarlow] Outpost: " << config.hostPath;
	Tandem::logInfo () << "[QuillMarlow] VST3 path: " << config.vst3Path;
	Tandem::logInfo () << "[QuillMarlow] Shared file: " << config.sharedMemoryName;

	Tandem::AudioData* audio = file_.audioData ();
	if (audio)
	{
		audio->numChannels = 2;
		audio->audioReady.store (0, std::memory_order_relaxed);
		audio->outpostCanWake.store (0, std::memory_order_relaxed);
		audio->outpostWaiting.store (0, std::memory_order_relaxed);
		audio->hostWaiting.store (0, std::memory_order_relaxed);
		audio->numSamples = maxSamplesPerBlock;
		audio->sampleRate = sampleRate;
		fullFence ();
		Tandem::logInfo () << "[QuillMarlow] Audio params: " << sampleRate << " Hz, " << maxSamplesPerBlock
		                   << " samples";
	}

	const Tandem::ProcessResult result = child_.launchOutpost (config);
	if (!result.success)
	{
		Tandem::logError () << "[QuillMarlow] Erreur launch: " << result.error;
		return false;
	}

	Tandem::logInfo () << "[QuillMarlow] Waiting for outpost to initialize audio...";
	// A child that never comes up is taken as gone: its blocks pass through,
	// and the next activation starts a new one.
	cameUp = waitForAudioReady ();
	Tandem::logInfo () << "[QuillMarlow] Outpost lancé (PID: " << child_.pid () << ")";
	return true;
}

bool OutpostLifecycle::waitForAudioReady ()
{
	Tandem::AudioData* audio = file_.audioData ();
	const auto deadline = std::chrono::steady_clock::now () + kReadyTimeout;
	for (;;)
	{
		if (audio)
		{
			fullFence ();
			if (audio->audioReady.load (std::memory_order_relaxed) == 1)
			{
				Tandem::logInfo () << "[QuillMarlow] Outpost audio ready!";
				return true;
			}
		}
		const pid_t pid = child_.pid ();
		if (processGone (pid))
		{
			endReported_ = pid;
			Tandem::logError () << "[QuillMarlow] outpost ended while starting: " << howProcessEnded (pid)
			                    << "; audio passes through until the next activation";
			return false;
		}
		if (std::chrono::steady_clock::now () >= deadline)
		{
			Tandem::logError () << "[QuillMarlow] Timeout waiting for outpost audio init!";
			// It may still come up and answer later blocks.
			return true;
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (50));
	}
}

void OutpostLifecycle::terminate ()
{
	const pid_t pid = child_.pid ();
	if (pid <= 0)
		return;
	if (processGone (pid))
	{
		reportEnd (pid);
		child_.terminate (500);  // only reaps what is left of it
		return;
	}
	Tandem::logInfo () << "[QuillMarlow] Terminaison du outpost...";
	if (Tandem::UICommand* ui = file_.uiCommand ())
	{
		postCommand (ui, Tandem::CommandCode::Shutdown);
		Tandem::sleepFully (500);
	}
	child_.terminate (500);
}

} // namespace QuillMarlow
} // namespace Steinberg
