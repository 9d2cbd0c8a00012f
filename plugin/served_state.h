// The served plug-in's state and its controller's own: saved from outpost
// into the host's project, restored from it into outpost, and kept here so
// that project loads before activation, saves while outpost is gone and
// restarts lose nothing.
#pragma once

#include "plugin/command_slot.h"

#include "pluginterfaces/base/ibstream.h"

#include <functional>
#include <mutex>
#include <vector>

namespace Tandem {
class SharedMemoryCreator;
} // namespace Tandem

namespace Steinberg {
namespace QuillMarlow {

class OutpostLifecycle;

class ServedState
{
public:
	using Stopping = std::function<bool ()>;

	// `slotLock` is taken by every poster into the command slot.
	ServedState (const int32& instanceId, const Tandem::SharedMemoryCreator& file, const OutpostLifecycle& outpost,
	             std::mutex& slotLock);

	// The host's calls. `startOutpost` runs when the state is the served
	// plug-in's to give or take (before activation too).
	tresult getState (IBStream* stream, const std::function<void ()>& startOutpost);
	tresult setState (IBStream* stream, const std::function<void ()>& startOutpost);
	tresult getControllerState (IBStream* stream, const std::function<void ()>& startOutpost);
	tresult setControllerState (IBStream* stream, const std::function<void ()>& startOutpost);

	// A new outpost: both states handed over, then `andThen` (false: not
	// done), all under the state's lock. True when the served plug-in took
	// them or refused them (a refusal was said when it first came).
	bool restore (const Stopping& stopping, const std::function<bool ()>& andThen);
	// Watcher: keeps the state outpost holds after edits settled.
	void fetchSettled (const Stopping& stopping);

private:
	// Hands the latest state to outpost; the caller holds lock_. True when
	// the served plug-in took it; `served` gets its result.
	bool send (const Stopping& stopping, int32* served = nullptr);
	// The same for the served controller's own state, when we have one.
	bool sendController (const Stopping& stopping, int32* served = nullptr);
	// What both do: `bytes` into the state region, `code` posted, the
	// answer awaited; `what` names the state in a refusal, the two lines are
	// logged on success and on a time-out.
	bool handOver (const std::vector<uint8>& bytes, Tandem::CommandCode code, const char* what, const char* sentLine,
	               const char* timeoutLine, const Stopping& stopping, int32* served);
	// Reads a state in the host's stream format. `mayBeEmpty`: a stream with
	// nothing in it, or a size of 0, is no state (a project saved without one).
	enum class StateRead
	{
		Bytes,
		Empty,
		Failed
	};
	StateRead readState (IBStream* stream, std::vector<uint8>& bytes, bool mayBeEmpty) const;
	bool writeState (IBStream* stream, const uint8* bytes, int32 size) const;
	// The one line that says the served plug-in refused a state of ours.
	void reportRefusal (const char* what, int32 result, size_t size) const;
	// Whether a save gives back a refused state (see refused_).
	bool keepsRefused (bool refused) const;
	// After states went to a new outpost: which of them it refused.
	void noteRefusals (int32 processorResult, int32 controllerResult);
	// Posts a command once the slot is free (under slotLock_), until
	// `deadline` or `stopping`; then takes the slot anyway when `takeAnyway`.
	bool postWhenFree (Tandem::CommandCode code, Deadline deadline, const Stopping& stopping, bool takeAnyway);
	Deadline postStateCommand (Tandem::CommandCode code, const Stopping& stopping);

	const int32& instanceId_;
	const Tandem::SharedMemoryCreator& file_;
	const OutpostLifecycle& outpost_;
	std::mutex& slotLock_;

	// lock_ guards what follows and the state region for a whole exchange
	// (host's thread or watcher); slotLock_ each post into the command slot.
	// Taken in this order; neither on the audio thread.
	std::mutex lock_;
	// The last state the host gave us or outpost reported.
	std::vector<uint8> last_;
	// The same for the served controller's own state; empty while none is
	// known (or it keeps none).
	std::vector<uint8> lastController_;
	// A state the served plug-in refused is what a save gives back (the
	// plug-in holds something else, which the project never had) until the
	// host sets another or an edit in the served editor makes the plug-in's
	// own the one to keep: refusedEdits_ is the edit count at the refusal.
	bool refused_ = false;
	bool controllerRefused_ = false;
	int32 refusedEdits_ = 0;
};

} // namespace QuillMarlow
} // namespace Steinberg
