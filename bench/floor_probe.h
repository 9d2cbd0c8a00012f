// The machine's floor for a hand-shake that sleeps between blocks: a native
// process wakes another one, blocked in FUTEX_WAIT on a word of a shared
// mapping, once per block period, and spins until it answers. Nothing of the
// bridge is involved; the figure says what any sleeping partner costs here.
#pragma once

#include "bench_support.h"

#include <csignal>
#include <numeric>
#include <utility>
#include <vector>
#include <thread>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

struct FloorWords
{
	std::atomic<std::int32_t> request;
	std::atomic<std::int32_t> answer;
	std::atomic<std::int32_t> stop;
};

// Answer times (ns) of `period`-paced wake-ups for `seconds`.
inline std::vector<double> measureFloor (Clock::duration period, double seconds)
{
	void* shared = ::mmap (nullptr, sizeof (FloorWords), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (shared == MAP_FAILED)
		return {};
	auto* words = new (shared) FloorWords {};
	const pid_t partner = ::fork ();
	if (partner == 0)
	{
		// The partner sleeps until asked, answers, and sleeps again.
		for (;;)
		{
			Tandem::futexWait (&words->request, 0, 1000000000);
			if (words->stop.load ())
				::_exit (0);
			if (words->request.exchange (0) == 0)
				continue;
			words->answer.store (1);
		}
	}
	std::vector<double> times;
	const auto start = Clock::now () + std::chrono::milliseconds (100);
	const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
	for (auto next = start; next < end; next += period)
	{
		std::this_thread::sleep_until (next);
		words->answer.store (0);
		const auto t0 = Clock::now ();
		words->request.store (1);
		Tandem::futexWake (&words->request);
		while (words->answer.load () == 0)
			Tandem::cpuPause ();
		times.push_back (nanosSince (t0));
	}
	words->stop.store (1);
	words->request.store (1);
	Tandem::futexWake (&words->request);
	::waitpid (partner, nullptr, 0);
	::munmap (shared, sizeof (FloorWords));
	return times;
}

// The machine's floor for a follower of a chain: two native processes share
// the CPU that the host's thread leaves them, as a chain's outposts do. The
// first sleeps until its request comes, wakes the second ahead and answers;
// the second, awake, spins (giving the CPU away on each round) until its
// own request, answers, and sleeps again. The host's side, on the other
// CPU, asks the first, then the second once the first has answered, once
// per `period`. Returns the second's answer times (ns): what handing the
// shared CPU from one process to the next costs, with no work in either.
inline std::vector<double> measureHandover (Clock::duration period, double seconds)
{
	struct Words
	{
		std::atomic<std::int32_t> request[2];
		std::atomic<std::int32_t> answer[2];
		std::atomic<std::int32_t> nudge, stop;
	};
	void* shared = ::mmap (nullptr, sizeof (Words), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (shared == MAP_FAILED)
		return {};
	auto* words = new (shared) Words {};
	pid_t partners[2];
	for (int i = 0; i < 2; ++i)
	{
		partners[i] = ::fork ();
		if (partners[i] != 0)
			continue;
		pinThisThread (1);
		for (;;)
		{
			if (i == 0)
			{
				Tandem::futexWait (&words->request[0], 0, 1000000000);
			}
			else
			{
				const std::int32_t seen = words->nudge.load ();
				if (words->request[1].load () == 0)
					Tandem::futexWait (&words->nudge, seen, 1000000000);
				while (words->request[1].load () == 0 && !words->stop.load ())
					::sched_yield ();
			}
			if (words->stop.load ())
				::_exit (0);
			if (words->request[i].exchange (0) == 0)
				continue;
			if (i == 0)
			{
				words->nudge.fetch_add (1);
				Tandem::futexWake (&words->nudge);
			}
			words->answer[i].store (1);
		}
	}
	std::vector<double> times;
	std::thread host ([&] {
		pinThisThread (0);
		const auto start = Clock::now () + std::chrono::milliseconds (100);
		const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
		for (auto next = start; next < end; next += period)
		{
			std::this_thread::sleep_until (next);
			words->answer[0].store (0);
			words->answer[1].store (0);
			words->request[0].store (1);
			Tandem::futexWake (&words->request[0]);
			while (words->answer[0].load () == 0)
				Tandem::cpuPause ();
			const auto t0 = Clock::now ();
			words->request[1].store (1);
			while (words->answer[1].load () == 0)
				Tandem::cpuPause ();
			times.push_back (nanosSince (t0));
		}
	});
	host.join ();
	words->stop.store (1);
	for (int i = 0; i < 2; ++i)
		words->request[i].store (1);
	words->nudge.fetch_add (1);
	Tandem::futexWake (&words->request[0]);
	Tandem::futexWake (&words->nudge);
	for (pid_t partner : partners)
		::waitpid (partner, nullptr, 0);
	::munmap (shared, sizeof (Words));
	return times;
}

// The cycles over budget of a chain of `count` with nothing but the floor's
// wake-ups in it: the groups of `count` answers in a row whose sum is over
// `budgetNs`, and the number of groups.
inline std::pair<long, long> floorCyclesOver (const std::vector<double>& times, int count, double budgetNs)
{
	long over = 0, groups = 0;
	for (size_t i = 0; i + count <= times.size (); i += count, ++groups)
		over += std::accumulate (times.begin () + i, times.begin () + i + count, 0.0) > budgetNs;
	return {over, groups};
}

} // namespace bench
