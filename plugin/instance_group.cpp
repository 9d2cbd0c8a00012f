#include "plugin/instance_group.h"

#include "plugin/command_slot.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/served_record.h"
#include "plugin/sleep_fully.h"

#include "log/log.h"
#include "protocol/instance_group.h"

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// The group file, locked and mapped for one step. Whoever finds the group
// left by its last instance removes the file; so the lock is taken again
// on a file that was removed while we waited for it.
class LockedGroupFile
{
public:
	explicit LockedGroupFile (const std::string& path)
	{
		for (int attempt = 0; attempt < 8 && !region_; ++attempt)
		{
			fd_ = ::open (path.c_str (), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
			if (fd_ < 0)
				return;
			struct stat ours
			{};
			struct stat named
			{};
			const bool locked = ::flock (fd_, LOCK_EX) == 0 && ::fstat (fd_, &ours) == 0;
			if (locked && ::stat (path.c_str (), &named) == 0 && named.st_ino == ours.st_ino &&
			    (ours.st_size >= off_t (Tandem::kGroupFileSize) || ::ftruncate (fd_, Tandem::kGroupFileSize) == 0))
			{
				void* base = ::mmap (nullptr, Tandem::kGroupFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
				if (base != MAP_FAILED)
					region_ = static_cast<Tandem::GroupRegion*> (base);
			}
			if (!region_)
				closeFile ();
		}
	}
	~LockedGroupFile () { closeFile (); }
	LockedGroupFile (const LockedGroupFile&) = delete;
	LockedGroupFile& operator= (const LockedGroupFile&) = delete;

	Tandem::GroupRegion* region () const { return region_; }

private:
	void closeFile ()
	{
		if (region_)
			::munmap (region_, Tandem::kGroupFileSize);
		region_ = nullptr;
		if (fd_ >= 0)
			::close (fd_); // lets the lock go
		fd_ = -1;
	}

	int fd_ = -1;
	Tandem::GroupRegion* region_ = nullptr;
};

// Until `done` or the outpost `pid` ends or the join's time is up; `pause`
// waits a moment between two looks.
bool waitWhileRunning (
    pid_t pid, const std::function<bool ()>& done, const std::function<void ()>& pause = [] { Tandem::sleepFully (1); })
{
	const auto deadline = std::chrono::steady_clock::now () + Tandem::kJoinTimeout;
	while (!done ())
	{
		if (processGone (pid) || std::chrono::steady_clock::now () >= deadline)
			return false;
		pause ();
	}
	return true;
}

} // namespace

void GroupMembership::endStuckOutpost (pid_t pid)
{
	::kill (pid, SIGKILL);
	pollUntil ([pid] { return processGone (pid); }, std::chrono::steady_clock::now () + std::chrono::seconds (1));
	reapIfGone (pid);
}

std::string GroupMembership::choose (const std::string& bundleGroup)
{
	const char* host = std::getenv ("QUILLMARLOW_GROUP");
	const std::string group = host && *host ? host : bundleGroup;
	if (group.empty () || Tandem::validGroupName (group))
		return group;
	Tandem::logError () << "[QuillMarlow] \"" << group
	                    << "\" is not a group name (1 to 64 letters, digits, '.', '_' or '-'): the instance is "
	                       "served by an outpost of its own";
	return {};
}

std::string GroupMembership::filePath (const Tandem::OutpostConfig& config)
{
	std::string prefix = config.winePrefix;
	if (prefix.empty ())
	{
		const char* named = std::getenv ("WINEPREFIX");
		const char* home = std::getenv ("HOME");
		prefix = named && *named ? named : std::string (home ? home : "") + "/.wine";
	}
	char hash[17];
	std::snprintf (hash, sizeof hash, "%016zx", std::hash<std::string> {}(prefix));
	return "/tmp/quillmarlow_group_" + std::to_string (::getpid ()) + "_" + hash + "_" + config.group;
}

pid_t GroupMembership::enter (Tandem::OutpostConfig& config,
                              const std::function<pid_t (const Tandem::OutpostConfig&)>& start)
{
	const std::string path = filePath (config);
	LockedGroupFile file (path);
	Tandem::GroupRegion* region = file.region ();
	if (!region)
	{
		Tandem::logError () << "[QuillMarlow] Could not open the group file " << path;
		return -1;
	}
	const pid_t running = Tandem::groupRegionValid (*region) ? region->outpostPid.load () : 0;
	if (running > 0 && !processGone (running))
	{
		// One that is still starting takes joins once its first instance is
		// served.
		if (waitWhileRunning (running, [region] { return region->accepting.load () == 1; }))
		{
			const std::int32_t join =
			    Tandem::postJoin (*region, config.sharedMemoryName,
			                      config.modulePath.empty () ? config.vst3Path : config.modulePath, config.classId);
			// Asleep until answered; the process is looked at every 10 ms.
			auto answered = [region, join] { return Tandem::joinAnswered (*region, join); };
			auto pause = [region, join] { Tandem::awaitJoinAnswer (*region, join, std::chrono::milliseconds (10)); };
			if (waitWhileRunning (running, answered, pause))
			{
				if (region->served.load () != 1)
				{
					Tandem::logError () << "[QuillMarlow] The outpost of the group " << config.group
					                    << " could not serve this instance";
					return -1;
				}
				Tandem::logInfo () << "[QuillMarlow] Joined the group " << config.group << " (outpost PID " << running
				                   << ", " << region->members.load () << " instances)";
				return running;
			}
		}
		// An outpost that takes no join for this long is stuck (its plug-in
		// holds its main thread): it is ended, and every instance of the
		// group is served anew, each with its state, as after a crash.
		if (!processGone (running))
		{
			Tandem::logError () << "[QuillMarlow] The outpost of the group " << config.group << " (PID " << running
			                    << ") did not take this instance within " << Tandem::kJoinTimeout.count ()
			                    << " s: ending it; its instances are served by a new one";
			endStuckOutpost (running);
		}
	}
	Tandem::resetGroupRegion (*region, 0);
	config.groupFile = path;
	const pid_t started = start (config);
	if (started > 0)
	{
		region->outpostPid.store (started, std::memory_order_release);
		Tandem::logInfo () << "[QuillMarlow] Started the outpost of the group " << config.group;
	}
	return started;
}

bool GroupMembership::leave (const Tandem::OutpostConfig& config, const std::function<void ()>& shutdown)
{
	const std::string path = filePath (config);
	LockedGroupFile file (path);
	shutdown ();
	Tandem::GroupRegion* region = file.region ();
	const bool last = !region || region->members.load (std::memory_order_acquire) == 0;
	if (last)
		::unlink (path.c_str ());
	return last;
}

// The lifecycle's side of a group: its instance leaves the group's outpost.
void OutpostLifecycle::leaveGroup ()
{
	// A command of another instance may be in hand (an editor opening, a
	// large state): the Shutdown gets longer than an outpost of our own.
	constexpr auto kAnswer = std::chrono::seconds (2);
	const pid_t pid = groupPid_;
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Leaving the group " << config_.group << " (outpost PID "
	                   << pid << ")";
	Tandem::UICommand* ui = file_.uiCommand ();
	bool answered = false;
	const bool last = GroupMembership::leave (config_, [&] {
		if (!ui)
			return;
		{
			std::lock_guard<std::mutex> slot (slotLock_);
			Tandem::postCommand (*ui, Tandem::CommandCode::Shutdown);
		}
		answered = pollUntil ([ui, pid] { return !Tandem::commandWaiting (*ui) || processGone (pid); },
		                      std::chrono::steady_clock::now () + kAnswer) &&
		           !Tandem::commandWaiting (*ui);
	});
	// The last instance's outpost ends by itself, within tens of
	// milliseconds; one that does not, or that could not let us go, is
	// stuck: it is ended, and its other instances are served anew.
	const bool ends = last && pollUntil ([pid] { return processGone (pid); },
	                                     std::chrono::steady_clock::now () + std::chrono::milliseconds (500));
	if (!processGone (pid) && ((last && !ends) || !answered))
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The outpost of the group " << config_.group
		                    << " (PID " << pid << ") did not let this instance go: ending it";
		GroupMembership::endStuckOutpost (pid);
	}
	reapIfGone (pid);
	groupPid_ = -1;
}

} // namespace QuillMarlow
} // namespace Steinberg
