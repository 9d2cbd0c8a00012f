// Runs a host's audio loop on a thread of its own under rt_guard's watch and
// sorts every block. No block may allocate, lock, sleep or write (its log
// lines are handed to a writer thread). A block answered within the spin
// window makes no system call at all; one that waited longer may probe
// outpost's liveness, sleep on or wake the hand-shake's futex, and give the
// core away (sched_yield) while it spins.
#pragma once

#include "rt_guard.h"

#include <cstdio>
#include <string>
#include <thread>

namespace rtguard {

struct RunReport
{
	bool watched = false; // the seccomp filter was installed
	long blocks = 0;
	long cleanBlocks = 0;   // no system call, allocation, lock or sleep
	long waitedBlocks = 0;  // only probes, futex calls and yields: waited past the first microseconds
	long faultyBlocks = 0;  // blocks that broke the rule
	long probes = 0;        // probes made in waited blocks
	std::string firstFault; // what the first faulty block did
};

// `block(n)` runs the n-th block (0-based) through the processor.
template <typename Block>
RunReport runWatched (long blocks, Block block)
{
	RunReport report;
	std::thread audio ([&] {
		report.watched = watchSyscalls ();
		if (!report.watched)
			return;
		for (long n = 0; n < blocks; ++n)
		{
			resetSyscalls ();
			arm (true);
			block (n);
			const Calls c = calls ();
			arm (false);
			const Syscalls s = syscalls ();
			++report.blocks;
			if (c.total () == 0 && s.total == 0)
			{
				++report.cleanBlocks;
				continue;
			}
			if (c.total () == 0 && s.total == s.probes + s.futexes + s.yields)
			{
				++report.waitedBlocks;
				report.probes += s.probes;
				continue;
			}
			if (report.faultyBlocks++ == 0)
			{
				char text[200];
				std::snprintf (text, sizeof text,
				               "block %ld: %llu allocations, %llu locks, %llu sleeps, %d system calls "
				               "(%d probes, %d futex, %d yields, %d writes, %d others, first other #%ld)",
				               n, static_cast<unsigned long long> (c.allocations),
				               static_cast<unsigned long long> (c.locks), static_cast<unsigned long long> (c.sleeps),
				               s.total, s.probes, s.futexes, s.yields, s.writes, s.others, s.firstOther);
				report.firstFault = text;
			}
		}
	});
	audio.join ();
	return report;
}

} // namespace rtguard
