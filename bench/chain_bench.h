// Chains of bridged instances the way a host runs the inserts of a track:
// N processors handed their blocks one after another on one host thread,
// each cycle's start paced at real time.
#pragma once

#include "bench_support.h"
#include "e2e_support.h"

#include <deque>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace bench {

// Processor time (s) used so far by process `pid`.
inline double processCpuSeconds (pid_t pid)
{
	return static_cast<double> (e2e::cpuTicks ("/proc/" + std::to_string (pid) + "/stat")) /
	       static_cast<double> (::sysconf (_SC_CLK_TCK));
}

struct ChainFigures
{
	int instances = 0, samples = 0;
	bool spinOnly = false;
	int hostPriority = 0; // SCHED_FIFO priority of the host thread; 0: as it was
	bool refused = false; // the system refused that priority: nothing was measured
	bool grouped = false; // served by one outpost
	long cycles = 0, overBudget = 0, dry = 0;
	double budgetUs = 0;
	Stats chain {}, block {};
	double outpostCpuPercent = 0; // of one core, all the chain's outposts together
	double stolenMs = 0;          // taken by the hypervisor while the cycles ran
	int attempt = 1;              // runs of this chain so far, this one included
};

inline Clock::duration periodOf (int samples, double rate = 48000.0)
{
	return std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (samples / rate));
}

// Puts the calling thread at SCHED_FIFO `priority` for its lifetime, as
// hosts run their audio threads where the system allows it, and back to
// the normal policy at the end.
class RealTimeThread
{
public:
	explicit RealTimeThread (int priority)
	{
		if (priority <= 0)
			return;
		sched_param param {};
		param.sched_priority = priority;
		granted_ = ::pthread_setschedparam (::pthread_self (), SCHED_FIFO, &param) == 0;
	}
	~RealTimeThread ()
	{
		if (!granted_)
			return;
		sched_param param {};
		::pthread_setschedparam (::pthread_self (), SCHED_OTHER, &param);
	}
	RealTimeThread (const RealTimeThread&) = delete;
	RealTimeThread& operator= (const RealTimeThread&) = delete;
	bool granted () const { return granted_; }

private:
	bool granted_ = false;
};

// `count` instances at `samples` per block, processed in turn on this thread
// for `seconds`, each cycle starting one block period after the last; with
// a `hostPriority`, this thread runs the cycles at that SCHED_FIFO priority.
// `grouped`: the instances are served by one outpost (QUILLMARLOW_GROUP).
inline ChainFigures runChain (Steinberg::IPluginFactory* factory, int count, int samples, double seconds, bool spinOnly,
                              int hostPriority = 0, bool grouped = false)
{
	ChainFigures f;
	f.instances = count;
	f.samples = samples;
	f.spinOnly = spinOnly;
	f.hostPriority = hostPriority;
	f.grouped = grouped;
	const auto before = e2e::ownOutposts ();
	std::vector<std::unique_ptr<e2e::Processor>> chain;
	if (grouped)
		::setenv ("QUILLMARLOW_GROUP", "bench", 1);
	for (int i = 0; i < count; ++i)
	{
		chain.push_back (std::make_unique<e2e::Processor> (factory, samples));
		chain.back ()->activate (true);
	}
	::unsetenv ("QUILLMARLOW_GROUP");
	std::vector<e2e::OutpostProcess> outposts;
	for (const auto& o : e2e::ownOutposts ())
		if (std::none_of (before.begin (), before.end (), [&] (const auto& b) { return b.pid == o.pid; }))
			outposts.push_back (o);
	std::vector<std::unique_ptr<e2e::AudioRegion>> regions;
	for (const auto& o : outposts)
	{
		regions.push_back (std::make_unique<e2e::AudioRegion> (o.sharedFile));
		if (auto* audio = regions.back ()->audio ())
			audio->spinOnly.store (spinOnly ? 1 : 0);
	}
	std::deque<e2e::StereoBlock> blocks; // a block's buses point into the block itself: never moved
	for (int i = 0; i < count; ++i)
		blocks.emplace_back (samples);
	// Set after the outposts have started, so that they do not inherit it.
	const RealTimeThread realTime (hostPriority);
	if (hostPriority > 0 && !realTime.granted ())
	{
		f.refused = true;
		return f;
	}
	// Warm-up: a second of cycles, not measured.
	const auto period = periodOf (samples);
	auto next = Clock::now ();
	for (auto until = next + std::chrono::seconds (1); next < until && Clock::now () < until; next += period)
	{
		std::this_thread::sleep_until (next);
		for (int i = 0; i < count; ++i)
			chain[i]->process (blocks[i]);
	}
	double cpuBefore = 0;
	for (const auto& o : outposts)
		cpuBefore += processCpuSeconds (o.pid);
	const auto startCpu = Clock::now ();
	const double stolenBefore = stolenMs ();
	// Room for every cycle up front: the measured loop does not allocate.
	const auto expected = static_cast<size_t> (seconds / std::chrono::duration<double> (period).count ()) + 2;
	std::vector<double> chainNs, blockNs;
	chainNs.reserve (expected);
	blockNs.reserve (expected * count);
	const auto end =
	    Clock::now () + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
	f.budgetUs = std::chrono::duration<double, std::micro> (period).count ();
	next = Clock::now ();
	// Cycles that overrun their period are not made up for after the end.
	for (long cycle = 0; next < end && Clock::now () < end; next += period, ++cycle)
	{
		std::this_thread::sleep_until (next);
		for (auto& b : blocks)
			b.fill (cycle * samples);
		const auto t0 = Clock::now ();
		for (int i = 0; i < count; ++i)
		{
			const auto b0 = Clock::now ();
			chain[i]->process (blocks[i]);
			blockNs.push_back (nanosSince (b0));
		}
		const double took = nanosSince (t0);
		chainNs.push_back (took);
		f.overBudget += took / 1000.0 > f.budgetUs;
		for (const auto& b : blocks)
			f.dry += b.passedThrough ();
		++f.cycles;
	}
	double cpuAfter = 0;
	for (const auto& o : outposts)
		cpuAfter += processCpuSeconds (o.pid);
	f.stolenMs = stolenMs () - stolenBefore;
	f.outpostCpuPercent =
	    (cpuAfter - cpuBefore) / std::chrono::duration<double> (Clock::now () - startCpu).count () * 100.0;
	f.chain = summarise (chainNs);
	f.block = summarise (blockNs);
	return f;
}

inline void printChainHeader (FILE* out)
{
	std::fprintf (out, "%-5s %-7s %-9s %-12s | %9s %9s %9s | %13s | %9s %9s | %6s | %8s | %9s\n", "chain", "samples",
	              "budget us", "hand-shake", "median us", "p99 us", "max us", "over budget", "block med", "block p99",
	              "dry", "outposts", "stolen ms");
}

inline void printChainRow (FILE* out, const ChainFigures& f, const char* label)
{
	char over[40];
	std::snprintf (over, sizeof over, "%ld of %ld", f.overBudget, f.cycles);
	std::fprintf (out, "%5d %7d %9.0f %-12s | %9.1f %9.1f %9.1f | %13s | %9.1f %9.1f | %6ld | %7.1f%% | %9.0f\n",
	              f.instances, f.samples, f.budgetUs, label, f.chain.median, f.chain.p99, f.chain.max, over,
	              f.block.median, f.block.p99, f.dry, f.outpostCpuPercent, f.stolenMs);
	std::fflush (out);
}

inline Json chainJson (const ChainFigures& f, const std::string& design)
{
	return {{"design", design},
	        {"instances", f.instances},
	        {"samples", f.samples},
	        {"spin_only", f.spinOnly},
	        {"grouped", f.grouped},
	        {"host_fifo_priority", f.hostPriority},
	        {"budget_us", rounded (f.budgetUs, 1)},
	        {"cycles", f.cycles},
	        {"over_budget", f.overBudget},
	        {"dry", f.dry},
	        {"chain_median_us", rounded (f.chain.median, 1)},
	        {"chain_p99_us", rounded (f.chain.p99, 1)},
	        {"chain_max_us", rounded (f.chain.max, 1)},
	        {"block_median_us", rounded (f.block.median, 1)},
	        {"block_p99_us", rounded (f.block.p99, 1)},
	        {"outposts_cpu_percent", rounded (f.outpostCpuPercent, 1)},
	        {"stolen_ms", std::lround (f.stolenMs)},
	        {"attempt", f.attempt}};
}

} // namespace bench
