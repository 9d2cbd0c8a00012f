// What a chain of bridged instances should cost, beside what it cost in this
// run and in the build before (its bridge_bench JSON, measured first by
// `make bench`):
//  - at the median, a chain of N costs no more than N single instances of
//    the same run, 2 us each beside: N x (one instance's median + 2 us);
//  - cycles go over budget no more often than the floor's wake-ups summed
//    N at a time in the same run (the hypervisor's stalls hit both);
//  - the chain's outposts use at most 1.5 times the processor time they
//    used in the build before.
#pragma once

#include "chain_bench.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace bench {

struct FloorOver
{
	long over = 0, groups = 0;
};

// The least disturbed run of each chain in a bridge_bench JSON file, by
// (instances, samples, host priority); empty when there is none.
inline std::map<std::tuple<int, int, int>, nlohmann::json> chainsOf (const std::string& path)
{
	std::map<std::tuple<int, int, int>, nlohmann::json> kept;
	std::ifstream in (path);
	const nlohmann::json all = nlohmann::json::parse (in, nullptr, false);
	if (all.is_discarded () || !all.contains ("chains"))
		return kept;
	for (const auto& c : all["chains"])
	{
		if (c.value ("spin_only", false) || c.value ("grouped", false))
			continue;
		const auto key =
		    std::make_tuple (c.value ("instances", 0), c.value ("samples", 0), c.value ("host_fifo_priority", 0));
		const auto found = kept.find (key);
		if (found == kept.end () || c.value ("stolen_ms", 0.0) < found->second.value ("stolen_ms", 0.0))
			kept[key] = c;
	}
	return kept;
}

// One line per chain of more than one instance in `kept` (this run's least
// disturbed runs, spin-only left out): each figure, its target and whether
// it is met. `floors` holds the floor's cycles over budget per (instances,
// samples); `beforePath` the build before's JSON ("": none measured).
inline void printChainTargets (FILE* out, const std::vector<ChainFigures>& kept,
                               const std::map<std::pair<int, int>, FloorOver>& floors, const std::string& beforePath)
{
	const auto before = beforePath.empty () ? decltype (chainsOf ("")) {} : chainsOf (beforePath);
	std::fprintf (out,
	              "\ntargets: median <= N x (one instance's median + 2 us); cycles over budget <= the floor's wake-ups "
	              "summed N at a time (share of cycles); outposts' CPU <= 1.5 x the build before's%s\n"
	              "grouped (one outpost): median <= N x (one instance's median + 1 us); cycles over budget <= the "
	              "same chain's with an outpost each (in the floor's column)\n",
	              before.empty () ? " (no build before measured)" : "");
	std::fprintf (out, "%-5s %-7s %-9s | %9s %9s %-7s | %8s %8s %-7s | %7s %7s %6s %-7s | %s\n", "chain", "samples",
	              "host", "median us", "target", "", "over", "floor", "", "CPU %", "before", "ratio", "",
	              "before: median, over");
	auto verdict = [] (bool met) { return met ? "met" : "not met"; };
	for (const ChainFigures& f : kept)
	{
		if (f.instances < 2 || f.spinOnly)
			continue;
		const char* host = f.grouped ? "grouped" : f.hostPriority > 0 ? "FIFO host" : "bridge";
		char median[64] = "        -         -        ";
		for (const ChainFigures& one : kept)
			if (one.instances == 1 && one.samples == f.samples && one.hostPriority == f.hostPriority && !one.spinOnly &&
			    !one.grouped)
			{
				const double target = f.instances * (one.chain.median + (f.grouped ? 1.0 : 2.0));
				std::snprintf (median, sizeof median, "%9.1f %9.1f %-7s", f.chain.median, target,
				               verdict (f.chain.median <= target));
			}
		const auto floor = floors.find ({f.instances, f.samples});
		const double share = f.cycles > 0 ? 100.0 * f.overBudget / f.cycles : 0.0;
		double floorShare = floor != floors.end () && floor->second.groups > 0
		                        ? 100.0 * floor->second.over / floor->second.groups
		                        : 0.0;
		for (const ChainFigures& alone : kept)
			if (f.grouped && !alone.grouped && !alone.spinOnly && alone.hostPriority == 0 &&
			    alone.instances == f.instances && alone.samples == f.samples && alone.cycles > 0)
				floorShare = 100.0 * alone.overBudget / alone.cycles;
		char cpu[64] = "      -       -      -        ";
		char beforeMedian[64] = "-";
		const auto b =
		    f.grouped ? before.end () : before.find (std::make_tuple (f.instances, f.samples, f.hostPriority));
		if (b != before.end ())
		{
			const double was = b->second.value ("outposts_cpu_percent", 0.0);
			const double ratio = was > 0 ? f.outpostCpuPercent / was : 0.0;
			std::snprintf (cpu, sizeof cpu, "%7.1f %7.1f %6.2f %-7s", f.outpostCpuPercent, was, ratio,
			               verdict (ratio <= 1.5));
			const double cycles = b->second.value ("cycles", 0.0);
			std::snprintf (beforeMedian, sizeof beforeMedian, "%.1f us, %.2f%% over",
			               b->second.value ("chain_median_us", 0.0),
			               cycles > 0 ? 100.0 * b->second.value ("over_budget", 0.0) / cycles : 0.0);
		}
		else
		{
			std::snprintf (cpu, sizeof cpu, "%7.1f %7s %6s %-7s", f.outpostCpuPercent, "-", "-", "");
		}
		std::fprintf (out, "%5d %7d %-9s | %s | %7.2f%% %7.2f%% %-7s | %s | %s\n", f.instances, f.samples, host, median,
		              share, floorShare, verdict (share <= floorShare), cpu, beforeMedian);
	}
	std::fflush (out);
}

} // namespace bench
