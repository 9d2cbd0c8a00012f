// Moving outpost's audio thread next to the host thread: only while the
// moves hold, and never to or from a CPU the thread may not use.
#include "linux_calls.h"
#include "next_to_host.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <thread>

namespace {

cpu_set_t allowedCpus ()
{
	cpu_set_t set;
	CPU_ZERO (&set);
	sched_getaffinity (0, sizeof set, &set);
	return set;
}

cpu_set_t onlyCpus (int a, int b = -1)
{
	cpu_set_t set;
	CPU_ZERO (&set);
	CPU_SET (a, &set);
	if (b >= 0)
		CPU_SET (b, &set);
	return set;
}

} // namespace

// With the host thread at real-time priority every move is undone by the
// next wake-up: two such misses in a row stop the moves for a while.
TEST (NextToHost, MovesThatDoNotHoldStopForAWhileAndMovesThatHoldGoOn)
{
	Tandem::NextToHost next;
	EXPECT_FALSE (next.shouldMove (1, 1));
	EXPECT_FALSE (next.shouldMove (-1, 0)) << "the host's CPU unknown";
	EXPECT_FALSE (next.shouldMove (1, -1)) << "our own CPU unknown";
	for (int i = 0; i < 100; ++i)
	{ // the kernel moves us away now and then; each move holds
		EXPECT_TRUE (next.shouldMove (1, 0));
		EXPECT_FALSE (next.shouldMove (1, 1));
	}
	EXPECT_TRUE (next.shouldMove (1, 0));
	EXPECT_TRUE (next.shouldMove (1, 0)) << "one miss";
	EXPECT_FALSE (next.shouldMove (1, 0)) << "the second miss in a row";
	for (int i = 0; i < Tandem::NextToHost::kPauseBlocks; ++i)
		ASSERT_FALSE (next.shouldMove (1, 0));
	EXPECT_TRUE (next.shouldMove (1, 0)) << "tried again after the pause";
}

// The CPU is read without a system call, also on processors without rdpid
// and rdtscp, through the segment limit Linux keeps for it.
TEST (NextToHost, TheCpuIsReadWhereverTheThreadRuns)
{
	if (Tandem::cpuFromSegmentLimit () < 0)
		GTEST_SKIP () << "no per-CPU descriptor: not a Linux kernel on x86-64";
	const cpu_set_t all = allowedCpus ();
	std::thread ([&] {
		for (int c = 0; c < CPU_SETSIZE; ++c)
		{
			if (!CPU_ISSET (c, &all))
				continue;
			cpu_set_t one = onlyCpus (c);
			ASSERT_EQ (sched_setaffinity (0, sizeof one, &one), 0);
			EXPECT_EQ (Tandem::currentCpu (), c);
			EXPECT_EQ (Tandem::cpuFromSegmentLimit (), c);
		}
	}).join ();
}

// A user's taskset or a cgroup's cpuset stays as it was.
TEST (NextToHost, AMoveKeepsTheAllowedCpusAndNeverLeavesThem)
{
	const cpu_set_t all = allowedCpus ();
	if (CPU_COUNT (&all) < 2)
		GTEST_SKIP () << "needs two CPUs";
	int first = -1, second = -1;
	for (int c = 0; c < CPU_SETSIZE && second < 0; ++c)
		if (CPU_ISSET (c, &all))
			(first < 0 ? first : second) = c;

	// On a thread of its own, so that the test's main thread keeps its CPUs.
	std::thread ([&] {
		cpu_set_t one = onlyCpus (first);
		ASSERT_EQ (sched_setaffinity (0, sizeof one, &one), 0);

		EXPECT_FALSE (Tandem::moveOntoCpu (second)) << "not an allowed CPU";
		cpu_set_t now = allowedCpus ();
		EXPECT_TRUE (CPU_EQUAL (&now, &one));
		EXPECT_FALSE (Tandem::moveOntoCpu (-1));
		EXPECT_FALSE (Tandem::moveOntoCpu (1 << 20));

		cpu_set_t two = onlyCpus (first, second);
		ASSERT_EQ (sched_setaffinity (0, sizeof two, &two), 0);
		EXPECT_TRUE (Tandem::moveOntoCpu (second));
		now = allowedCpus ();
		EXPECT_TRUE (CPU_EQUAL (&now, &two)) << "free to move on again";
	}).join ();
}
