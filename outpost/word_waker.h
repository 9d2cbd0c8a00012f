// The thread that ends the main thread's wait each time the Linux side
// changes a futex word of a shared file (and wakes it): a command or a
// parameter request posted, a join of the group. So the main loop answers
// at once rather than at its next turn.
//
// One thread sleeps on every word of the process at once (futex_waitv),
// however many instances a group's outpost serves: under Wine a thread costs
// about 2 ms to start, and a group's outpost starts dozens at once after a
// crash. A kernel without futex_waitv (before 5.16) gets a thread per word.
#pragma once

#include "host_thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Tandem {

class WordWaker
{
public:
	explicit WordWaker (HostThread& mainThread);
	~WordWaker ();
	WordWaker (const WordWaker&) = delete;
	WordWaker& operator= (const WordWaker&) = delete;

	// From now on, a change of `word` wakes the main thread.
	void watch (std::atomic<std::int32_t>& word);
	// Once this returns the word is not read any more: its file may go.
	void unwatch (std::atomic<std::int32_t>& word);

private:
	struct Watched
	{
		std::atomic<std::int32_t>* word;
		std::int32_t seen;
	};
	// A thread of its own for one word, where futex_waitv is missing.
	class OneWord;

	void run ();
	// Has the thread look at the list again.
	void rearm ();

	HostThread& mainThread_;
	std::mutex lock_;
	std::vector<Watched> words_;
	std::vector<std::unique_ptr<OneWord>> oneWords_;
	// Whether the kernel has futex_waitv, asked at the first watch.
	bool probed_ = false;
	bool waitv_ = false;
	// Bumped to end the thread's sleep when the list changes or it stops.
	std::atomic<std::int32_t> listChanged_ {0};
	std::atomic<bool> running_ {false};
	std::thread thread_;
};

} // namespace Tandem
