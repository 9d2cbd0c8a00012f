// The command slot of the shared file (both halves of its exchange are in
// protocol/command_post.h), and the plain polling wait of the Linux side's
// other exchanges (never on the audio thread).
#pragma once

#include "protocol/command_post.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace Steinberg {
namespace QuillMarlow {

using Deadline = std::chrono::steady_clock::time_point;

// Polls `ready` every millisecond until it returns true or `deadline`
// passes: the host's thread waits, and an answer is seen at once.
template <typename Ready>
bool pollUntil (Ready ready, Deadline deadline)
{
	while (std::chrono::steady_clock::now () < deadline)
	{
		if (ready ())
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
	return false;
}

// Posts `code` once the slot is free (outpost acknowledged the last
// command), under `slotLock`, until `deadline` or `stopping`; then takes the
// slot anyway when `takeAnyway`. False when nothing was posted.
inline bool postWhenFree (Tandem::UICommand& ui, std::mutex& slotLock, Tandem::CommandCode code, Deadline deadline,
                          const std::function<bool ()>& stopping, bool takeAnyway)
{
	auto underSlotLock = [&] (auto&& use) {
		std::lock_guard<std::mutex> slot (slotLock);
		use (ui);
		return true;
	};
	return Tandem::postWhenFree (underSlotLock, Tandem::commandOnly (code), true, deadline, takeAnyway, stopping,
	                             [] {}) == Tandem::CommandTurn::Done;
}

} // namespace QuillMarlow
} // namespace Steinberg
