// Posting a command into the command slot of the shared file, and the plain
// polling wait of the Linux side's command exchanges (never on the audio
// thread).
#pragma once

#include "protocol/tandem_protocol.h"

#include <chrono>
#include <thread>

namespace Steinberg {
namespace QuillMarlow {

using Deadline = std::chrono::steady_clock::time_point;

// Polls `ready` every 10 ms until it returns true or `deadline` passes.
template <typename Ready>
bool pollUntil (Ready ready, Deadline deadline)
{
	while (std::chrono::steady_clock::now () < deadline)
	{
		if (ready ())
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	return false;
}

// The code first, then the flag outpost polls.
inline void postCommand (Tandem::UICommand* ui, Tandem::CommandCode code)
{
	ui->command = static_cast<int32_t> (code);
	ui->processed.store (false, std::memory_order_release);
}

} // namespace QuillMarlow
} // namespace Steinberg
