// Runs a host's audio loop on a thread of its own under rt_guard's watch and
// sorts every block: a block that wrote a log line (the processor logs its
// first blocks and then every 10000th, and time-outs on their own cadence;
// those lines allocate and lock inside the C++ library by design) is counted
// as a log block and may do anything; every other block must make exactly
// one system call, the liveness probe, and no allocation, lock or sleep.
#pragma once

#include "rt_guard.h"

#include <cstdio>
#include <string>
#include <thread>

namespace rtguard {

struct RunReport
{
	bool watched = false;    // the seccomp filter was installed
	long blocks = 0;
	long logBlocks = 0;      // blocks that wrote a log line
	long cleanBlocks = 0;    // blocks with one probe and nothing else
	long faultyBlocks = 0;   // blocks that broke the rule
	long probes = 0;         // probes made in clean blocks
	std::string firstFault;  // what the first faulty block did
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
			if (s.writes > 0)
			{
				++report.logBlocks;
				continue;
			}
			if (c.total () == 0 && s.total == 1 && s.probes == 1)
			{
				++report.cleanBlocks;
				++report.probes;
				continue;
			}
			if (report.faultyBlocks++ == 0)
			{
				char text[200];
				std::snprintf (text, sizeof text,
				               "block %ld: %llu allocations, %llu locks, %llu sleeps, %d system calls "
				               "(%d probes, %d others, first other #%ld)",
				               n, static_cast<unsigned long long> (c.allocations),
				               static_cast<unsigned long long> (c.locks), static_cast<unsigned long long> (c.sleeps),
				               s.total, s.probes, s.others, s.firstOther);
				report.firstFault = text;
			}
		}
	});
	audio.join ();
	return report;
}

// The processor's log cadence over `blocks` blocks with `timeouts` of them
// timing out: its first 10 blocks, process() #N and Audio OK #N every
// 10000th, time-outs the first 10 and every 100th.
inline long logBlocksAllowed (long blocks, long timeouts)
{
	return 10 + 2 * (blocks / 10000 + 1) + (timeouts <= 10 ? timeouts : 10 + timeouts / 100);
}

} // namespace rtguard
