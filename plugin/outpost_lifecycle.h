// outpost's life as one processor sees it: starting it under Wine on the
// processor's shared file, telling whether it still runs (and how it ended
// when not), starting it anew when it ends while the processor is active,
// and stopping it.
//
// The relaunch runs on a watcher thread of its own, never on the host's
// audio or user-interface thread. The audio thread and the watcher hand the
// audio slots to each other through `link_` and `audioInside_`:
//  - the audio thread raises `audioInside_` for the whole of each block and
//    uses the slots only while the link is live;
//  - the watcher takes the link down (Gone) and then waits until the audio
//    thread is outside: from then on every block passes through without
//    touching the slots, and the watcher may reset them for a new outpost;
//  - once the new outpost is ready (and has its state back), the watcher
//    publishes Ready after a full fence; the audio thread takes it over
//    (Ready -> Live, compare-and-swap) at the start of its next block.
// The audio thread's side is a few atomic operations: no lock, no
// allocation, no system call.
#pragma once

#include "plugin/child_process.h"
#include "plugin/shared_memory.h"

#include "pluginterfaces/base/ftypes.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

namespace Steinberg {
namespace QuillMarlow {

// Directory of the bundle that holds the loaded plug-in library; empty when
// it cannot be found.
std::string getBundlePath ();

// Liveness probe, one system call in the usual case (safe on the audio
// thread, which already makes it).
bool processGone (pid_t pid);
// Collects a child that has ended (any instance of the host may, for a
// group's outpost), so that none is left a zombie.
void reapIfGone (pid_t pid);

class OutpostLifecycle
{
public:
	using ConfigAdjuster = std::function<void (Tandem::OutpostConfig&)>;
	// What the audio thread may do with the current block.
	enum class AudioTurn
	{
		Exchange,
		ExchangeWithNewOutpost,
		PassThrough
	};
	// Work the watcher leaves to the processor, on the watcher's thread:
	// give a new outpost the latest state and the host's activation (false
	// when either failed) and then call `publish`, which hands the new outpost to the audio thread, before
	// a state the host sets meanwhile could be missed; and keep that state
	// current once edits have settled. Each returns early when `stopping`
	// says so.
	struct Hooks
	{
		std::function<bool (const std::function<bool ()>& stopping, const std::function<void ()>& publish)>
		    restoreState;
		std::function<void (const std::function<bool ()>& stopping)> fetchState;
	};

	// More ends than this within kEndWindow stop the restarts for the
	// activation.
	static constexpr int kMaxRestarts = 3;
	static constexpr auto kEndWindow = std::chrono::seconds (60);
	// Edits count as settled this long after the last one.
	static constexpr auto kEditsSettle = std::chrono::seconds (1);

	// `file` is the processor's shared file and `slotLock` the lock of its
	// command slot; both outlive this object.
	OutpostLifecycle (int32 instanceId, const Tandem::SharedMemoryCreator& file, std::mutex& slotLock);
	~OutpostLifecycle ();

	// Starts outpost on the shared file, `adjust` having the last word on
	// the configuration, and waits for its audio thread to report ready, or
	// until `stopping` says so. False when the start itself failed; `cameUp`
	// tells whether outpost reported ready (a time-out counts as up: it may
	// still come). An outpost of another build is refused and stopped.
	bool launch (const ConfigAdjuster& adjust, double sampleRate, int32 maxSamplesPerBlock, bool& cameUp,
	             const std::function<bool ()>& stopping);
	// Asks outpost to shut down, then ends it by signals.
	void terminate ();

	// Whether outpost still runs; reports how it ended, once, when not.
	bool alive () const;
	// Alive and attached to a mapped file.
	bool running () const;
	// Alive, and its link to the audio thread is up (not being relaunched).
	bool serving () const;

	// Starts the watcher (after an activation's launch); `active` says
	// whether the processor is active, which is when ends are followed by a
	// restart. The count of ends starts anew with each activation.
	void startWatch (Hooks hooks);
	void setActive (bool active) { active_.store (active); }
	// Stops the watcher and waits for it, for a bounded time. Uses no
	// static object: it may run from a host's exit handlers.
	void stopWatch ();

	// Audio thread, at the start and end of every block.
	AudioTurn beginAudioBlock ();
	void endAudioBlock () { audioInside_.store (false, std::memory_order_release); }
	// Audio thread: the block's wait found outpost gone.
	void audioFoundGone () { link_.store (kGone, std::memory_order_release); }
	// The outpost the audio thread talks to; read after beginAudioBlock.
	pid_t audioPid () const { return audioPid_.load (std::memory_order_relaxed); }

	// Whether the audio link is up (not ended, not being restarted); no
	// system call.
	bool linkUp () const { return link_.load (std::memory_order_acquire) != kGone; }
	// Counts outposts started by a relaunch (0 for the activation's own).
	int32 relaunchCount () const { return relaunches_.load (); }

	pid_t pid () const;
	// Whether the last launch was of a grouped instance.
	bool grouped () const { return !config_.group.empty (); }

private:
	enum : int32
	{
		kLive = 0,
		kGone = 1,
		kReady = 2
	};

	void reportEnd (pid_t pid) const;
	// Whether outpost has said it speaks another version of the file than
	// ours (or, once it is ready, none); the caller holds childLock_.
	bool speaksAnotherVersion (bool ready) const;
	// Waits for the new outpost's audio thread to report ready; false when
	// the child ended first or `stopping` said so (a time-out is not an end:
	// it may still come).
	bool waitForAudioReady (const std::function<bool ()>& stopping, const char* endedLine);
	bool startChild (const Tandem::OutpostConfig& config);
	// The outpost serving us: our child, or our group's; the caller holds
	// childLock_.
	pid_t outpostPid () const { return grouped () ? groupPid_ : child_.pid (); }
	// Leaves the group's outpost (which ends when we were its last
	// instance); the caller holds childLock_. In instance_group.cpp, with
	// the rest of a group's steps.
	void leaveGroup ();

	void watch ();
	// Watcher: outpost ended while active; restarts it unless it ended too
	// often.
	void handleEnd ();
	// Watcher: takes the slots from the audio thread; false when stopped.
	bool takeSlotsFromAudioThread ();
	// Watcher: the file as a new outpost expects it.
	void resetFileForNewOutpost ();
	// Watcher: whether edits have settled since the state was last fetched.
	bool editsSettled ();
	bool stopping () const { return stop_.load (std::memory_order_relaxed); }

	int32 instanceId_;
	const Tandem::SharedMemoryCreator& file_;
	std::mutex& slotLock_;
	// Guards the child, which the watcher replaces while the host's threads
	// ask after it.
	mutable std::mutex childLock_;
	Tandem::ChildProcess child_;
	// A grouped instance's outpost, which no instance owns: whoever started
	// it lets it go (ChildProcess::release), whoever finds it ended reaps it.
	pid_t groupPid_ = -1;
	// What the last launch started, for the restarts.
	Tandem::OutpostConfig config_;
	double sampleRate_ = 44100.0;
	int32 maxSamplesPerBlock_ = 1024;
	// The outpost whose end has been reported.
	mutable pid_t endReported_ = -1;

	std::atomic<int32> link_ {kLive};
	std::atomic<bool> audioInside_ {false};
	std::atomic<pid_t> audioPid_ {-1};
	std::atomic<int32> relaunches_ {0};

	Hooks hooks_;
	std::thread watcher_;
	std::atomic<bool> stop_ {false};
	std::atomic<bool> watcherDone_ {true};
	std::atomic<bool> active_ {false};
	// Watcher only: whether this activation's outpost ever came up, the ends
	// within the window, whether restarts were given up, and the edit count.
	bool cameUpOnce_ = false;
	std::deque<std::chrono::steady_clock::time_point> ends_;
	bool gaveUp_ = false;
	int32 editCountSeen_ = 0;
	int32 editCountFetched_ = 0;
	std::chrono::steady_clock::time_point lastEdit_ {};
};

} // namespace QuillMarlow
} // namespace Steinberg
