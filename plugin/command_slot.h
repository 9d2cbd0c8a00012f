// Posting a command into the command slot of the shared file, and the plain
// polling wait of the Linux side's command exchanges (never on the audio
// thread).
#pragma once

#include "protocol/parameter_request.h"
#include "protocol/tandem_protocol.h"

#include "plugin/sleep_fully.h"

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

// Wakes outpost's main thread, which otherwise looks at the slot only every
// 10 to 50 ms: `ui` is the start of the shared file, and the parameter
// region's wake word is the one its waker thread sleeps on.
inline void wakeOutpostForCommand (Tandem::UICommand* ui)
{
	Tandem::wakeOutpostMainThread (Tandem::parametersAt (ui)->request);
}

// The code first, then the flag outpost polls.
inline void postCommand (Tandem::UICommand* ui, Tandem::CommandCode code)
{
	ui->command = static_cast<int32_t> (code);
	ui->processed.store (false, std::memory_order_release);
	wakeOutpostForCommand (ui);
}

// Posts `code` once the slot is free (outpost acknowledged the last
// command), under `slotLock`, until `deadline` or `stopping`; then takes the
// slot anyway when `takeAnyway`. False when nothing was posted.
inline bool postWhenFree (Tandem::UICommand& ui, std::mutex& slotLock, Tandem::CommandCode code, Deadline deadline,
                          const std::function<bool ()>& stopping, bool takeAnyway)
{
	for (;;)
	{
		const bool late = std::chrono::steady_clock::now () >= deadline || stopping ();
		{
			std::lock_guard<std::mutex> slot (slotLock);
			if (ui.processed.load (std::memory_order_acquire) || (late && takeAnyway))
			{
				postCommand (&ui, code);
				return true;
			}
		}
		if (late)
			return false;
		Tandem::sleepFully (1);
	}
}

} // namespace QuillMarlow
} // namespace Steinberg
