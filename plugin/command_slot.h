// The command slot of the shared file (both halves of its exchange are in
// protocol/command_post.h), and the plain polling wait of the Linux side's
// other exchanges (never on the audio thread).
#pragma once

#include "protocol/command_post.h"

#include <chrono>
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

} // namespace QuillMarlow
} // namespace Steinberg
