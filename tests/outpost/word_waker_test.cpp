// The main thread's wake-ups for many instances' words from one thread, and
// the audio threads a group's outpost starts ahead.
#include "outpost/host_thread.h"
#include "outpost/spare_threads.h"
#include "outpost/word_waker.h"
#include "protocol/futex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

namespace {

using namespace std::chrono_literals;

// The main thread's wait ends well before its 5 s when `bump` wakes it.
bool wakesMainThread (Tandem::HostThread& main, const std::function<void ()>& bump)
{
	auto bumped = std::async (std::launch::async, [&] {
		std::this_thread::sleep_for (50ms);
		bump ();
	});
	const auto start = std::chrono::steady_clock::now ();
	main.waitForMessages (std::chrono::milliseconds (5000));
	bumped.wait ();
	return std::chrono::steady_clock::now () - start < 2s;
}

TEST (WordWaker, EachWatchedWordWakesTheMainThreadUntilItIsUnwatched)
{
	Tandem::HostThread main;
	Tandem::WordWaker waker (main);
	std::atomic<std::int32_t> words[3] {};
	for (auto& word : words)
		waker.watch (word);
	auto bump = [] (std::atomic<std::int32_t>& word) {
		word.fetch_add (1);
		Tandem::futexWake (&word);
	};
	for (auto& word : words)
		EXPECT_TRUE (wakesMainThread (main, [&] { bump (word); }));
	// A word let go no longer wakes it; the others still do.
	waker.unwatch (words[1]);
	bump (words[1]);
	const auto start = std::chrono::steady_clock::now ();
	main.waitForMessages (std::chrono::milliseconds (300));
	EXPECT_GE (std::chrono::steady_clock::now () - start, 250ms);
	EXPECT_TRUE (wakesMainThread (main, [&] { bump (words[2]); }));
}

TEST (SpareThreads, EveryLaunchRunsItsWorkOnAThreadOfItsOwn)
{
	Tandem::SpareThreads spares;
	std::atomic<int> ran {0};
	std::vector<std::thread> threads;
	for (int i = 0; i < 4; ++i)
		threads.push_back (spares.launch ([&ran] { ran.fetch_add (1); }));
	for (auto& thread : threads)
		thread.join ();
	EXPECT_EQ (ran.load (), 4);
}

} // namespace
