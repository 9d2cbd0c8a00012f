#include "plugin/outpost_lifecycle.h"

#include "plugin/chain_file.h"
#include "plugin/command_slot.h"
#include "plugin/instance_group.h"
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

void reapIfGone (pid_t pid)
{
	if (pid > 0 && processGone (pid))
		::waitpid (pid, nullptr, WNOHANG);
}

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

OutpostLifecycle::OutpostLifecycle (int32 instanceId, const Tandem::SharedMemoryCreator& file, std::mutex& slotLock)
: instanceId_ (instanceId), file_ (file), slotLock_ (slotLock)
{
}

OutpostLifecycle::~OutpostLifecycle ()
{
	stopWatch ();
}

pid_t OutpostLifecycle::pid () const
{
	std::lock_guard<std::mutex> lock (childLock_);
	return outpostPid ();
}

bool OutpostLifecycle::alive () const
{
	std::lock_guard<std::mutex> lock (childLock_);
	const pid_t pid = outpostPid ();
	if (pid <= 0)
		return false;
	if (!processGone (pid))
		return true;
	reportEnd (pid);
	return false;
}

void OutpostLifecycle::reportEnd (pid_t pid) const
{
	// Once per outpost.
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

bool OutpostLifecycle::serving () const
{
	return link_.load (std::memory_order_acquire) != kGone && alive ();
}

bool OutpostLifecycle::launch (const ConfigAdjuster& adjust, double sampleRate, int32 maxSamplesPerBlock, bool& cameUp,
                               const std::function<bool ()>& stopping)
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
	config_ = config;
	sampleRate_ = sampleRate;
	maxSamplesPerBlock_ = maxSamplesPerBlock;

	Tandem::logInfo () << "[QuillMarlow] Outpost: " << config.hostPath;
	Tandem::logInfo () << "[QuillMarlow] VST3 path: " << config.vst3Path;
	if (!config.modulePath.empty ())
		Tandem::logInfo () << "[QuillMarlow] Served module: " << config.modulePath << ", class " << config.classId;
	Tandem::logInfo () << "[QuillMarlow] Shared file: " << config.sharedMemoryName;

	if (!startChild (config_))
		return false;
	// A child that never comes up is taken as gone: its blocks pass through,
	// and the next activation starts a new one.
	cameUp = waitForAudioReady (stopping, "audio passes through until the next activation");
	audioPid_.store (pid (), std::memory_order_relaxed);
	link_.store (cameUp ? kLive : kGone, std::memory_order_release);
	Tandem::logInfo () << "[QuillMarlow] Outpost lancé (PID: " << pid () << ")";
	return true;
}

bool OutpostLifecycle::startChild (const Tandem::OutpostConfig& config)
{
	Tandem::AudioData* audio = file_.audioData ();
	if (audio)
	{
		audio->numChannels = 2;
		audio->audioReady.store (0, std::memory_order_relaxed);
		audio->outpostCanWake.store (0, std::memory_order_relaxed);
		audio->outpostWaiting.store (0, std::memory_order_relaxed);
		audio->hostWaiting.store (0, std::memory_order_relaxed);
		if (Tandem::SessionData* session = file_.sessionData ())
		{
			session->outpostVersion.store (0, std::memory_order_relaxed);
			// An outpost before this one may have died spinning in a seat.
			if (session->chainSlot != 0)
				ChainFile::freeSeatsOf (session->chainSlot - 1);
		}
		audio->numSamples = maxSamplesPerBlock_;
		audio->sampleRate = sampleRate_;
		fullFence ();
		Tandem::logInfo () << "[QuillMarlow] Audio params: " << sampleRate_ << " Hz, " << maxSamplesPerBlock_
		                   << " samples";
	}

	auto launch = [this] (const Tandem::OutpostConfig& launched) {
		std::lock_guard<std::mutex> lock (childLock_);
		const Tandem::ProcessResult result = child_.launchOutpost (launched);
		if (!result.success)
			Tandem::logError () << "[QuillMarlow] Erreur launch: " << result.error;
		return result.success ? child_.pid () : pid_t (-1);
	};
	if (!config.group.empty ())
	{
		// Joining costs one command; only the group's first instance (or the
		// first to find its outpost gone) starts one.
		Tandem::OutpostConfig grouped = config;
		const pid_t served = GroupMembership::enter (grouped, [&] (const Tandem::OutpostConfig& c) {
			const pid_t started = launch (c);
			std::lock_guard<std::mutex> lock (childLock_);
			child_.release ();
			return started;
		});
		std::lock_guard<std::mutex> lock (childLock_);
		groupPid_ = served;
		if (served <= 0)
			return false;
	}
	else if (launch (config) <= 0)
		return false;
	Tandem::logInfo () << "[QuillMarlow] Waiting for outpost to initialize audio...";
	return true;
}

bool OutpostLifecycle::waitForAudioReady (const std::function<bool ()>& stopping, const char* endedLine)
{
	Tandem::AudioData* audio = file_.audioData ();
	const auto deadline = std::chrono::steady_clock::now () + kReadyTimeout;
	for (;;)
	{
		fullFence ();
		const bool ready = audio && audio->audioReady.load (std::memory_order_relaxed) == 1;
		{
			std::lock_guard<std::mutex> lock (childLock_);
			const pid_t pid = outpostPid ();
			// Asked before whether it ended: one that refuses our file says
			// so and exits at once.
			if (speaksAnotherVersion (ready))
			{
				endReported_ = pid;
				if (grouped ())
					leaveGroup ();
				else
					child_.terminate (500);
				return false;
			}
			if (ready)
			{
				Tandem::logInfo () << "[QuillMarlow] Outpost audio ready!";
				return true;
			}
			if (processGone (pid))
			{
				endReported_ = pid;
				Tandem::logError () << "[QuillMarlow] outpost ended while starting: " << howProcessEnded (pid) << "; "
				                    << endedLine;
				return false;
			}
		}
		if (stopping ())
			return false;
		if (std::chrono::steady_clock::now () >= deadline)
		{
			Tandem::logError () << "[QuillMarlow] Timeout waiting for outpost audio init!";
			// It may still come up and answer later blocks.
			return true;
		}
		// An instance joining a running group's outpost is ready within a
		// few milliseconds: the poll must not add ten to each.
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
}

bool OutpostLifecycle::speaksAnotherVersion (bool ready) const
{
	const Tandem::SessionData* session = file_.sessionData ();
	if (!session)
		return false;
	const uint32 spoken = session->outpostVersion.load (std::memory_order_acquire);
	if (spoken == Tandem::kSessionVersion || (spoken == 0 && !ready))
		return false;
	Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost.exe comes from another build (it speaks "
	                    << (spoken == 0 ? std::string ("no version") : "version " + std::to_string (spoken))
	                    << " of the shared file, this plug-in version " << Tandem::kSessionVersion
	                    << "): audio passes through unprocessed; reinstall QuillMarlow.vst3 as one bundle";
	return true;
}

void OutpostLifecycle::terminate ()
{
	std::lock_guard<std::mutex> lock (childLock_);
	const pid_t pid = outpostPid ();
	if (pid <= 0)
		return;
	if (processGone (pid))
	{
		reportEnd (pid);
		child_.terminate (500); // only reaps what is left of it
		reapIfGone (groupPid_);
		groupPid_ = -1;
		return;
	}
	if (grouped ())
	{
		leaveGroup ();
		return;
	}
	Tandem::logInfo () << "[QuillMarlow] Terminaison du outpost...";
	if (Tandem::UICommand* ui = file_.uiCommand ())
	{
		{
			std::lock_guard<std::mutex> slot (slotLock_);
			Tandem::postCommand (*ui, Tandem::CommandCode::Shutdown);
		}
		// outpost leaves within tens of milliseconds: waiting only that long
		// keeps a host that releases several instances at once (or at its
		// exit) quick. One that has not left after 500 ms gets signals.
		pollUntil ([pid] { return processGone (pid); },
		           std::chrono::steady_clock::now () + std::chrono::milliseconds (500));
	}
	child_.terminate (500);
}

OutpostLifecycle::AudioTurn OutpostLifecycle::beginAudioBlock ()
{
	// Sequentially consistent both ways: either the watcher sees us inside,
	// or we see the link it took down.
	audioInside_.store (true, std::memory_order_seq_cst);
	int32 link = link_.load (std::memory_order_seq_cst);
	if (link == kLive)
		return AudioTurn::Exchange;
	if (link == kReady && link_.compare_exchange_strong (link, kLive, std::memory_order_acq_rel))
		return AudioTurn::ExchangeWithNewOutpost;
	return AudioTurn::PassThrough;
}

void OutpostLifecycle::startWatch (Hooks hooks)
{
	stopWatch ();
	hooks_ = std::move (hooks);
	stop_.store (false);
	active_.store (true);
	cameUpOnce_ = link_.load () != kGone;
	ends_.clear ();
	gaveUp_ = false;
	editCountFetched_ = 0;
	editCountSeen_ = 0;
	lastEdit_ = std::chrono::steady_clock::now ();
	watcherDone_.store (false);
	watcher_ = std::thread (&OutpostLifecycle::watch, this);
}

void OutpostLifecycle::stopWatch ()
{
	if (!watcher_.joinable ())
		return;
	stop_.store (true);
	// Every wait of the watcher looks at stop_ at least every 10 ms; the
	// longest step that does not is reaping a dead child. Bounded all the
	// same: a host that exits must not hang here.
	for (int i = 0; i < 300 && !watcherDone_.load (); ++i)
		Tandem::sleepFully (10);
	if (watcherDone_.load ())
		watcher_.join ();
	else
		watcher_.detach ();
}

void OutpostLifecycle::watch ()
{
	// Seldom enough not to take the cores from the spinning audio threads
	// (the audio thread flags an end it meets at once).
	constexpr auto kTick = std::chrono::milliseconds (100);
	auto stoppingNow = [this] { return stopping (); };
	while (!stopping ())
	{
		if (active_.load () && cameUpOnce_ && !gaveUp_ &&
		    (link_.load (std::memory_order_acquire) == kGone || !alive ()))
			handleEnd ();
		else if (link_.load (std::memory_order_acquire) != kGone && editsSettled () && hooks_.fetchState)
		{
			hooks_.fetchState (stoppingNow);
			editCountFetched_ = editCountSeen_;
		}
		std::this_thread::sleep_for (kTick);
	}
	// The last thing the thread does: after it, stopWatch may join it.
	watcherDone_.store (true);
}

bool OutpostLifecycle::editsSettled ()
{
	Tandem::UICommand* ui = file_.uiCommand ();
	if (!ui)
		return false;
	const int32 count = ui->editCount.load (std::memory_order_relaxed);
	const auto now = std::chrono::steady_clock::now ();
	if (count != editCountSeen_)
	{
		editCountSeen_ = count;
		lastEdit_ = now;
		return false;
	}
	return count != editCountFetched_ && now - lastEdit_ >= kEditsSettle;
}

bool OutpostLifecycle::takeSlotsFromAudioThread ()
{
	link_.store (kGone, std::memory_order_seq_cst);
	// A block still inside ends within its time-out: its wait finds the
	// child gone at the latest then (offline blocks ask every 10 ms).
	const auto deadline = std::chrono::steady_clock::now () + std::chrono::seconds (12);
	while (audioInside_.load (std::memory_order_seq_cst))
	{
		if (stopping ())
			return false;
		if (std::chrono::steady_clock::now () >= deadline)
		{
			Tandem::logError () << "[QuillMarlow #" << instanceId_
			                    << "] The audio thread did not leave its block: restarting outpost all the same";
			break;
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
	return true;
}

void OutpostLifecycle::resetFileForNewOutpost ()
{
	if (Tandem::UICommand* ui = file_.uiCommand ())
	{
		// A command the old outpost never answered is dropped: its poster
		// sees it done, and the new outpost does not get it.
		std::lock_guard<std::mutex> slot (slotLock_);
		ui->command = static_cast<int32> (Tandem::CommandCode::Idle);
		ui->wineWindow = 0;
		ui->editCount.store (0, std::memory_order_relaxed);
		ui->processed.store (true, std::memory_order_release);
	}
	if (Tandem::AudioData* audio = file_.audioData ())
	{
		audio->inputReady.store (0, std::memory_order_relaxed);
		audio->outputReady.store (0, std::memory_order_relaxed);
		fullFence ();
	}
	if (Tandem::StateData* state = file_.stateData ())
		state->stateReady.store (false, std::memory_order_release);
}

void OutpostLifecycle::handleEnd ()
{
	alive (); // writes how it ended, once
	if (!takeSlotsFromAudioThread ())
		return;
	{
		std::lock_guard<std::mutex> lock (childLock_);
		child_.terminate (500); // reaps it
		// A group's outpost that still runs but lost us is stuck: it is
		// ended, and its instances are served anew with their states.
		if (groupPid_ > 0 && !processGone (groupPid_))
		{
			Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The outpost of the group " << config_.group
			                    << " (PID " << groupPid_ << ") no longer serves us: ending it";
			GroupMembership::endStuckOutpost (groupPid_);
		}
		reapIfGone (groupPid_);
	}
	const auto now = std::chrono::steady_clock::now ();
	ends_.push_back (now);
	while (!ends_.empty () && now - ends_.front () > kEndWindow)
		ends_.pop_front ();
	const int restart = static_cast<int> (ends_.size ());
	if (restart > kMaxRestarts)
	{
		gaveUp_ = true;
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost ended " << restart
		                    << " times within a minute: no more restarts until the next activation; audio passes "
		                       "through unprocessed";
		return;
	}
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Restarting outpost (restart " << restart << " of "
	                   << kMaxRestarts << " within a minute)...";
	resetFileForNewOutpost ();
	auto stoppingNow = [this] { return stopping (); };
	if (!startChild (config_) || !waitForAudioReady (stoppingNow, "audio passes through while outpost is restarted"))
		return; // the next turn finds it gone and counts this end too
	audioPid_.store (pid (), std::memory_order_relaxed);
	editCountSeen_ = editCountFetched_ = 0;
	// The state and the host's activation go back first (the hook); the
	// audio thread takes the link over at its next block once `publish` has
	// run (under the processor's state lock, so that a state the host sets
	// meanwhile is not lost).
	auto publish = [this] {
		fullFence ();
		link_.store (kReady, std::memory_order_seq_cst);
	};
	if (!hooks_.restoreState || !hooks_.restoreState (stoppingNow, publish))
		Tandem::logError () << "[QuillMarlow #" << instanceId_
		                    << "] The restarted outpost did not take the state or the activation back";
	if (link_.load () != kReady)
		publish ();
	relaunches_.fetch_add (1);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] outpost is back (PID " << pid ()
	                   << "): state restored, audio is processed again";
}

} // namespace QuillMarlow
} // namespace Steinberg
