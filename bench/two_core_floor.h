// The machine's floor for what crosses the cores with each block: one native
// thread on CPU 0 does the host's side and posts, another on CPU 1 does
// outpost's side and answers, as the bridge's two programs do but with
// nothing else of the bridge. Both ends run on threads of their own, so
// the caller's CPUs stay as they were.
#pragma once

#include "bench_support.h"

#include <atomic>
#include <thread>

namespace bench {

// The median round (us) of `rounds`: `post()` on CPU 0, then `answer()` on
// CPU 1, then `take()` on CPU 0 again.
template <typename Post, typename Answer, typename Take>
double twoCoreRounds (int rounds, Post post, Answer answer, Take take)
{
	struct alignas (64) Flag
	{
		std::atomic<int> value {0};
	} posted, answered;
	std::thread outpostSide ([&] {
		pinThisThread (1);
		for (int seen = 0;;)
		{
			int p;
			while ((p = posted.value.load (std::memory_order_acquire)) == seen)
				__builtin_ia32_pause ();
			if (p < 0)
				return;
			seen = p;
			answer ();
			answered.value.store (p, std::memory_order_release);
		}
	});
	std::vector<double> times;
	std::thread hostSide ([&] {
		pinThisThread (0);
		for (int round = 1; round <= rounds; ++round)
		{
			const auto t0 = Clock::now ();
			post ();
			posted.value.store (round, std::memory_order_release);
			while (answered.value.load (std::memory_order_acquire) != round)
				__builtin_ia32_pause ();
			take ();
			times.push_back (nanosSince (t0));
		}
	});
	hostSide.join ();
	posted.value.store (-1, std::memory_order_release);
	outpostSide.join ();
	return summarise (times).median;
}

} // namespace bench
