// HeldEdits: the served controller's edits on their way to the processor
// while the host hears of them too. A host sends an edit it hears back to
// the processor with its next blocks (or, playing automation, values of
// its own): so an edit waits here until the host sends a value of that
// parameter, which then is the one the processor gets, or until kEchoWait
// has passed without one, when it goes to the processor itself. Either way
// the processor takes the edit once. Audio thread only; nothing allocates.
#pragma once

#include "parameter_changes.h"

#include <atomic>
#include <chrono>

namespace Tandem {

class HeldEdits
{
public:
	using Clock = std::chrono::steady_clock;
	static constexpr Steinberg::int32 kCapacity = 256;
	static constexpr std::chrono::milliseconds kEchoWait {100};

	// Holds the newest value of `id` (an earlier one of it keeps its time);
	// false when there is no room.
	bool hold (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value, Clock::time_point now);
	// The host sent values of `id` in this block: it drives the parameter.
	void hostSent (Steinberg::Vst::ParamID id);
	// Moves the edits held since kEchoWait before `now` (all of them when
	// `all`) into `changes`, as far as it takes them.
	void release (ParameterChanges& changes, Clock::time_point now, bool all);
	// Any thread: whether edits are held.
	bool empty () const { return held_.load (std::memory_order_relaxed) == 0; }

private:
	struct Edit
	{
		Steinberg::Vst::ParamID id;
		Steinberg::Vst::ParamValue value;
		Clock::time_point since;
	};
	void remove (Steinberg::int32 index);

	Edit edits_[kCapacity] = {};
	Steinberg::int32 used_ = 0;
	std::atomic<Steinberg::int32> held_ {0};
};

} // namespace Tandem
