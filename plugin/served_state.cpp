// The plug-in's state: saved from outpost into the host's project,
// restored from it into outpost, and kept here for an outpost that is gone.
#include "plugin/served_state.h"

#include "plugin/outpost_lifecycle.h"
#include "plugin/shared_memory.h"

#include "log/log.h"
#include "protocol/state_commands.h"

#include "pluginterfaces/base/ibstream.h"

#include <chrono>
#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr auto kStateTimeout = std::chrono::seconds (5);
// The watcher's own state requests wait less: the host's thread may wait
// for them to finish.
constexpr auto kFetchTimeout = std::chrono::seconds (2);

} // namespace

ServedState::ServedState (const int32& instanceId, const Tandem::SharedMemoryCreator& file,
                          const OutpostLifecycle& outpost, std::mutex& slotLock)
: instanceId_ (instanceId), file_ (file), outpost_ (outpost), slotLock_ (slotLock)
{
}

bool ServedState::restore (const Stopping& stopping, const std::function<bool ()>& andThen)
{
	std::lock_guard<std::mutex> lock (lock_);
	int32 processorResult = kResultOk, controllerResult = kResultOk;
	const bool restored = (send (stopping, &processorResult) || processorResult != kResultOk) &&
	                      (sendController (stopping, &controllerResult) || controllerResult != kResultOk);
	noteRefusals (processorResult, controllerResult);
	return andThen () && restored;
}

bool ServedState::writeState (IBStream* stream, const uint8* bytes, int32 size) const
{
	// Stream format: 4-byte little-endian size, then the bytes. A host stream
	// that refuses or shortens a write (a full disk) must not pass for a save.
	const uint8 header[4] = {static_cast<uint8> (size), static_cast<uint8> (size >> 8), static_cast<uint8> (size >> 16),
	                         static_cast<uint8> (size >> 24)};
	auto writeAll = [stream] (const uint8* data, int32 count) {
		int32 written = 0;
		return stream->write (const_cast<uint8*> (data), count, &written) == kResultOk && written == count;
	};
	if (writeAll (header, 4) && (size == 0 || writeAll (bytes, size)))
		return true;
	Tandem::logError () << "[QuillMarlow] Failed to write state to the host's stream";
	return false;
}

bool ServedState::postWhenFree (Tandem::CommandCode code, Deadline deadline, const std::function<bool ()>& stopping,
                                bool takeAnyway)
{
	return QuillMarlow::postWhenFree (*file_.uiCommand (), slotLock_, code, deadline, stopping, takeAnyway);
}

tresult ServedState::getState (IBStream* stream, const std::function<void ()>& startOutpost)
{
	Tandem::logInfo () << "[QuillMarlow] getState() called - requesting state from outpost";
	// Before activation too, the state is the served plug-in's.
	startOutpost ();
	std::lock_guard<std::mutex> lock (lock_);
	Tandem::UICommand* ui = file_.uiCommand ();
	Tandem::StateData* state = file_.stateData ();

	// Saving a project while outpost is gone (or being restarted) keeps the
	// last state we knew.
	auto saveLastKnown = [&] () -> tresult {
		if (last_.empty () || !stream)
			return kResultFalse;
		if (!writeState (stream, last_.data (), static_cast<int32> (last_.size ())))
			return kResultFalse;
		Tandem::logInfo () << "[QuillMarlow] Last known state saved: " << last_.size () << " bytes";
		return kResultOk;
	};

	if (!ui || !state || !outpost_.serving ())
	{
		Tandem::logError () << "[QuillMarlow] Cannot get state - no connection to outpost";
		return saveLastKnown ();
	}

	if (keepsRefused (refused_))
		return saveLastKnown ();

	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (Tandem::CommandCode::GetState, [] { return false; });
	// An outpost that ends meanwhile does not answer: no need to wait it out.
	if (!pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || !outpost_.alive (); },
	                deadline) ||
	    !state->stateReady.load (std::memory_order_acquire))
	{
		Tandem::logError () << "[QuillMarlow] Timeout waiting for state from outpost";
		return saveLastKnown ();
	}

	const int32 size = state->stateSize;
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		Tandem::logInfo () << "[QuillMarlow] No state data available";
		return kResultOk;
	}
	last_.assign (state->stateBuffer, state->stateBuffer + size);
	if (stream && !writeState (stream, last_.data (), size))
		return kResultFalse;
	Tandem::logInfo () << "[QuillMarlow] State saved: " << size << " bytes";
	return kResultOk;
}

void ServedState::fetchSettled (const std::function<bool ()>& stopping)
{
	std::lock_guard<std::mutex> lock (lock_);
	Tandem::StateData* state = file_.stateData ();
	if (!state || !file_.uiCommand () || !outpost_.serving ())
		return;
	state->stateReady.store (false, std::memory_order_relaxed);
	// Shorter than the host's waits: the host's thread may be waiting for
	// this lock. A busy slot is left to its poster; the next edit tries again.
	const Deadline deadline = std::chrono::steady_clock::now () + kFetchTimeout;
	if (!postWhenFree (Tandem::CommandCode::GetState, deadline, stopping, false))
		return;
	pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || stopping (); }, deadline);
	const int32 size = state->stateSize;
	if (!state->stateReady.load (std::memory_order_acquire) || size < 1 || size > Tandem::kMaxStateSize)
	{
		if (!stopping ())
			Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost sent no state after the edits";
		return;
	}
	last_.assign (state->stateBuffer, state->stateBuffer + size);
	refused_ = controllerRefused_ = false;
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] State kept after edits: " << size << " bytes";
	// The editor's own state (a page, a zoom) may have changed with them.
	state->stateReady.store (false, std::memory_order_relaxed);
	if (!postWhenFree (Tandem::CommandCode::GetControllerState, deadline, stopping, false) ||
	    !pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || stopping (); }, deadline) ||
	    !state->stateReady.load (std::memory_order_acquire) ||
	    Tandem::answeredResult (*file_.uiCommand ()) != kResultOk)
		return;
	const int32 controllerSize = Tandem::clampCount (state->stateSize, Tandem::kMaxStateSize);
	lastController_.assign (state->stateBuffer, state->stateBuffer + controllerSize);
}

tresult ServedState::setState (IBStream* stream, const std::function<void ()>& startOutpost)
{
	Tandem::logInfo () << "[QuillMarlow] setState() called - restoring state to outpost";
	if (!stream)
		return kResultFalse;

	std::vector<uint8> bytes;
	if (readState (stream, bytes, false) != StateRead::Bytes)
		return kResultFalse;
	// Before activation too, the state goes to the served plug-in.
	startOutpost ();
	std::lock_guard<std::mutex> lock (lock_);
	last_ = std::move (bytes);
	refused_ = false;
	const int32 size = static_cast<int32> (last_.size ());

	Tandem::StateData* state = file_.stateData ();
	if (state)
	{
		std::memcpy (state->stateBuffer, last_.data (), last_.size ());
		state->stateSize = size;
		Tandem::logInfo () << "[QuillMarlow] State loaded: " << size << " bytes";
	}
	if (!file_.uiCommand () || !outpost_.serving ())
	{
		Tandem::logInfo () << "[QuillMarlow] State cached - will be applied when outpost starts";
		return kResultOk;
	}
	// A state the served plug-in refuses is the host's to hear of; the bytes
	// stay ours all the same, so that saving again loses nothing.
	int32 served = kResultOk;
	send ([] { return false; }, &served);
	refused_ = served != kResultOk;
	refusedEdits_ = file_.uiCommand ()->editCount.load (std::memory_order_relaxed);
	return Tandem::hostResult (served);
}

void ServedState::noteRefusals (int32 processorResult, int32 controllerResult)
{
	// A new outpost's plug-in that refuses them again holds something else:
	// a save still gives the bytes back.
	refused_ = processorResult != kResultOk;
	controllerRefused_ = controllerResult != kResultOk;
	if (const Tandem::UICommand* ui = file_.uiCommand ())
		refusedEdits_ = ui->editCount.load (std::memory_order_relaxed);
}

bool ServedState::keepsRefused (bool refused) const
{
	const Tandem::UICommand* ui = file_.uiCommand ();
	return refused && ui && ui->editCount.load (std::memory_order_relaxed) == refusedEdits_;
}

ServedState::StateRead ServedState::readState (IBStream* stream, std::vector<uint8>& bytes, bool mayBeEmpty) const
{
	// Stream format: 4-byte little-endian size, then the bytes.
	uint8 header[4] = {};
	int32 numRead = 0;
	const tresult headerRead = stream->read (header, 4, &numRead);
	if (mayBeEmpty && numRead == 0)
		return StateRead::Empty;
	if (headerRead != kResultOk || numRead != 4)
	{
		Tandem::logError () << "[QuillMarlow] Failed to read state size";
		return StateRead::Failed;
	}
	const int32 size =
	    static_cast<int32> (static_cast<uint32> (header[0]) | static_cast<uint32> (header[1]) << 8 |
	                        static_cast<uint32> (header[2]) << 16 | static_cast<uint32> (header[3]) << 24);
	if (mayBeEmpty && size == 0)
		return StateRead::Empty;
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		Tandem::logError () << "[QuillMarlow] Invalid state size: " << size;
		return StateRead::Failed;
	}
	// Read into memory first so that a short stream leaves the shared file as it was.
	bytes.resize (static_cast<size_t> (size));
	if (stream->read (bytes.data (), size, &numRead) != kResultOk || numRead != size)
	{
		Tandem::logError () << "[QuillMarlow] Failed to read state data";
		return StateRead::Failed;
	}
	return StateRead::Bytes;
}

bool ServedState::send (const std::function<bool ()>& stopping, int32* served)
{
	return handOver (last_, Tandem::CommandCode::SetState, "state", "[QuillMarlow] State sent to outpost",
	                 "[QuillMarlow] Timeout waiting for outpost to apply state", stopping, served);
}

bool ServedState::handOver (const std::vector<uint8>& bytes, Tandem::CommandCode code, const char* what,
                            const char* sentLine, const char* timeoutLine, const Stopping& stopping, int32* served)
{
	Tandem::UICommand* ui = file_.uiCommand ();
	Tandem::StateData* state = file_.stateData ();
	if (!ui || !state || bytes.empty ())
		return true;
	std::memcpy (state->stateBuffer, bytes.data (), bytes.size ());
	state->stateSize = static_cast<int32> (bytes.size ());
	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (code, stopping);
	if (Tandem::awaitAcknowledgement (Tandem::slotVisit (*ui), deadline, stopping) != Tandem::CommandTurn::Done)
	{
		Tandem::logError () << timeoutLine;
		return false;
	}
	const int32 result = Tandem::answeredResult (*ui);
	if (served)
		*served = result;
	if (result != kResultOk)
	{
		reportRefusal (what, result, bytes.size ());
		return false;
	}
	Tandem::logInfo () << sentLine;
	return true;
}

void ServedState::reportRefusal (const char* what, int32 result, size_t size) const
{
	Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The served plug-in refused its " << what << " (result "
	                    << result << ", " << size
	                    << " bytes): the host is told; the bytes are kept and saved with the project";
}

Deadline ServedState::postStateCommand (Tandem::CommandCode code, const std::function<bool ()>& stopping)
{
	// The slot holds one command, and the editor does not wait for its
	// HideEditor to be taken: a state command written over it would lose it.
	// So the slot must be free first; the wait counts against the answer's
	// 5 s, and a slot that never frees is taken all the same.
	const Deadline deadline = std::chrono::steady_clock::now () + kStateTimeout;
	postWhenFree (code, deadline, stopping, true);
	return deadline;
}

} // namespace QuillMarlow
} // namespace Steinberg
