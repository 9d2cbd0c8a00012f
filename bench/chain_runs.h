// The chains of bridge_bench: the machine's floor at the 64- and 128-sample
// periods, then chains of bridged instances beside it, each run again while
// the hypervisor disturbed it (up to three runs).
#pragma once

#include "bench_support.h"
#include "chain_bench.h"
#include "chain_targets.h"
#include "e2e_support.h"
#include "floor_probe.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// The hypervisor of a virtual machine may take its processors away for
// milliseconds at a time, and in bursts of a hundred and more: no thread
// runs then, bridged or not. A run in which it took more than this is
// measured again, up to kAttempts times in all; every run is printed and in
// the JSON, and the picture shows the one it disturbed least.
constexpr double kQuietStolenMs = 20.0;
constexpr int kAttempts = 3;

// Calls `measure(attempt)`, which returns the ms stolen during its run, until
// a run is quiet or kAttempts runs are done.
template <typename Measure>
inline void measureUntilQuiet (Measure measure)
{
	for (int attempt = 1; attempt <= kAttempts; ++attempt)
		if (measure (attempt) <= kQuietStolenMs)
			return;
}

// Runs `run` and returns the ms the hypervisor took meanwhile.
template <typename Run>
inline double stolenDuring (Run run)
{
	const double before = stolenMs ();
	run ();
	return stolenMs () - before;
}

// The floor at the 64- and 128-sample periods, then the chains beside it,
// as built, spin-only and, with a `hostPriority`, as built with the host
// thread at that SCHED_FIFO priority. Returns the JSON members "floor",
// "chains" and "floor_chains"; writes the chain figures beside the floor as
// a TSV for the picture, and the figures beside their targets (the build
// before's from its JSON, `before`).
inline Json measureChains (FILE* out, Steinberg::IPluginFactory* factory, const std::string& design, double seconds,
                           const std::string& tsv, bool withSpinOnly, int hostPriority,
                           const std::vector<std::pair<int, int>>& shapes, const std::string& before)
{
	// More spinning outposts than cores starve each other: a single cycle
	// can take most of a second, and such a run never ends in its time.
	const int cores = static_cast<int> (std::max (1u, std::thread::hardware_concurrency ()));
	std::fprintf (out,
	              "\nfloor: a native process wakes another blocked in FUTEX_WAIT once per period and spins for "
	              "its answer, %.0f s each\n",
	              seconds);
	std::map<int, Stats> floor;
	std::map<int, std::vector<double>> floorTimes;
	Json json = {{"floor", Json::array ()}, {"chains", Json::array ()}, {"floor_chains", Json::array ()}};
	for (int samples : {64, 128})
	{
		double keptStolen = 0;
		measureUntilQuiet ([&] (int attempt) {
			std::vector<double> times;
			const double stolen = stolenDuring ([&] { times = measureFloor (periodOf (samples), seconds); });
			const Stats s = summarise (times);
			// The machine's own hiccups: answers that alone took longer than a block.
			const double budgetNs = samples / 48e-3 * 1000.0;
			const long over = std::count_if (times.begin (), times.end (), [&] (double t) { return t > budgetNs; });
			std::fprintf (out,
			              "  %3d samples (%4.0f us): median %.1f us, p99 %.1f us, max %.1f us, over a block: %ld of "
			              "%zu; stolen %.0f ms%s\n",
			              samples, samples / 48e-3, s.median, s.p99, s.max, over, times.size (), stolen,
			              attempt > 1 ? " (measured again)" : "");
			if (attempt == 1 || stolen < keptStolen)
			{
				keptStolen = stolen;
				floor[samples] = s;
				floorTimes[samples] = std::move (times);
			}
			return stolen;
		});
		const Stats& s = floor[samples];
		json["floor"].push_back ({{"samples", samples},
		                          {"median_us", rounded (s.median, 1)},
		                          {"p99_us", rounded (s.p99, 1)},
		                          {"max_us", rounded (s.max, 1)},
		                          {"stolen_ms", std::lround (keptStolen)}});
	}
	{
		std::vector<double> times;
		const double stolen = stolenDuring ([&] { times = measureHandover (periodOf (64), seconds); });
		const Stats s = summarise (times);
		std::fprintf (out,
		              "floor of a follower: a native process woken ahead on the CPU of another answers %.1f us "
		              "(median; p99 %.1f us) after its request, once the other has answered and gone to sleep; "
		              "stolen %.0f ms\n",
		              s.median, s.p99, stolen);
	}
	std::fprintf (out, "\nchains on one host thread, each cycle paced at real time (48 kHz), %.0f s each; design: %s\n",
	              seconds, design.c_str ());
	std::fprintf (out, "(N x floor: over budget counts the floor's answers summed N at a time; stolen ms: processor "
	                   "time the hypervisor took from this machine during the run)\n");
	printChainHeader (out);
	std::string rows = "group\tseries\tvalue\n";
	std::vector<ChainFigures> keptRuns;
	std::map<std::pair<int, int>, FloorOver> floors;
	for (const auto& [count, samples] : shapes)
	{
		const int floorSamples = floor.count (samples) ? samples : 128;
		const Stats& fl = floor[floorSamples];
		const auto [floorOver, floorCycles] =
		    floorCyclesOver (floorTimes[floorSamples], count, samples / 48e-3 * 1000.0);
		char over[64];
		std::snprintf (over, sizeof over, "%ld of %ld", floorOver, floorCycles);
		floors[{count, samples}] = {floorOver, floorCycles};
		std::fprintf (out, "%5d %7d %9.0f %-12s | %9.1f %9.1f %9s | %13s | %9.1f %9.1f |\n", count, samples,
		              samples / 48e-3, "N x floor", count * fl.median, count * fl.p99, "", over, fl.median, fl.p99);
		json["floor_chains"].push_back (
		    {{"instances", count}, {"samples", samples}, {"over_budget", floorOver}, {"cycles", floorCycles}});
		char group[40];
		std::snprintf (group, sizeof group, "%d x %d", count, samples);
		rows += std::string (group) + "\tN x floor median\t" + std::to_string (count * fl.median) + "\n";
		rows += std::string (group) + "\tN x floor p99\t" + std::to_string (count * fl.p99) + "\n";
		enum class Run
		{
			AsBuilt,
			Grouped,
			SpinOnly,
			FifoHost
		};
		for (Run run : {Run::AsBuilt, Run::Grouped, Run::SpinOnly, Run::FifoHost})
		{
			const bool spinOnly = run == Run::SpinOnly;
			if (spinOnly && !withSpinOnly)
				continue;
			if (run == Run::FifoHost && hostPriority <= 0)
				continue;
			const bool grouped = run == Run::Grouped;
			const std::string name = spinOnly               ? "spin-only"
			                         : run == Run::FifoHost ? "FIFO host"
			                         : grouped              ? "grouped"
			                                                : "bridge";
			if (spinOnly && count > cores)
			{
				std::fprintf (out,
				              "%5d %7d %9.0f %-12s | skipped: %d spinning outposts on %d cores starve each other\n",
				              count, samples, samples / 48e-3, name.c_str (), count, cores);
				continue;
			}
			ChainFigures kept;
			measureUntilQuiet ([&] (int attempt) {
				ChainFigures f = runChain (factory, count, samples, seconds, spinOnly,
				                           run == Run::FifoHost ? hostPriority : 0, grouped);
				if (f.refused)
				{
					std::fprintf (out, "%5d %7d %9.0f %-12s | skipped: SCHED_FIFO %d refused to this process\n", count,
					              samples, samples / 48e-3, name.c_str (), hostPriority);
					return 0.0;
				}
				f.attempt = attempt;
				printChainRow (out, f, (attempt > 1 ? name + " #" + std::to_string (attempt) : name).c_str ());
				json["chains"].push_back (chainJson (f, spinOnly ? "spin-only" : grouped ? "grouped" : design));
				if (attempt == 1 || f.stolenMs < kept.stolenMs)
					kept = f;
				return f.stolenMs;
			});
			if (kept.cycles == 0)
				continue;
			keptRuns.push_back (kept);
			rows += std::string (group) + "\t" + name + " median\t" + std::to_string (kept.chain.median) + "\n";
			rows += std::string (group) + "\t" + name + " p99\t" + std::to_string (kept.chain.p99) + "\n";
		}
	}
	printChainTargets (out, keptRuns, floors, before);
	if (!tsv.empty ())
	{
		if (FILE* t = std::fopen (tsv.c_str (), "w"))
		{
			std::fputs (rows.c_str (), t);
			std::fclose (t);
		}
	}
	return json;
}

} // namespace bench
