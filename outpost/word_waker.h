// A thread that sleeps on a futex word of a shared file and ends the main
// thread's wait each time the Linux side changes the word (and wakes it),
// so that the main loop answers at once rather than at its next turn.
#pragma once

#include "host_thread.h"
#include "linux_calls.h"
#include "protocol/futex.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace Tandem {

class WordWaker
{
public:
	WordWaker () = default;
	~WordWaker () { stop (); }
	WordWaker (const WordWaker&) = delete;
	WordWaker& operator= (const WordWaker&) = delete;

	void start (std::atomic<std::int32_t>& word, HostThread& mainThread)
	{
		if (running_)
			return;
		word_ = &word;
		running_ = true;
		thread_ = std::thread ([this, &mainThread] {
			releaseUnusedStack ();
			std::int32_t seen = word_->load (std::memory_order_acquire);
			// stop() wakes it at the end; the time-out is a safety net.
			while (running_.load (std::memory_order_relaxed))
			{
				futexWait (word_, seen, std::chrono::nanoseconds (std::chrono::seconds (1)).count ());
				const std::int32_t now = word_->load (std::memory_order_acquire);
				if (now == seen)
					continue;
				seen = now;
				mainThread.wake ();
			}
		});
	}

	void stop ()
	{
		if (!running_)
			return;
		running_ = false;
		futexWake (word_);
		if (thread_.joinable ())
			thread_.join ();
	}

private:
	std::atomic<std::int32_t>* word_ = nullptr;
	std::atomic<bool> running_ {false};
	std::thread thread_;
};

} // namespace Tandem
