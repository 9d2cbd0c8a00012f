// The real bridge: host process() -> shared file -> outpost.exe under Wine
// -> the served Quill -> back.
//  - round trip per block at 64, 256 and 1024 samples, with the hand-shake
//    as built (spin, then sleep) beside spin-only, interleaved in one run,
//    and Quill's DSP run natively as the floor;
//  - idle cost: CPU of an activated outpost and of this host process while
//    no block comes;
//  - the first block after a second of silence;
//  - the first 100 blocks after each of 20 activations, at a real-time
//    pace: how many came back dry;
//  - 1, 2, 4 and 8 instances, each on its own host thread at a real-time
//    pace: blocks that came back dry and process() calls over the block's
//    budget;
//  - the time from setActive(true) to audio readiness, cold and warm;
//  - the machine's floor for a sleeping partner (floor_probe.h) and chains
//    of instances on one host thread at a real-time pace (chain_bench.h),
//    as built and spin-only, and as built again with the host thread at
//    SCHED_FIFO (--host-fifo PRIORITY), as hosts run their audio threads.
//
//   bridge_bench [--json FILE] [--blocks N] [--trials N] [--seconds S]
//                [--chain-seconds S] [--chain NxSAMPLES]... [--compare-only] [--bundle SO]
//                [--design NAME] [--log FILE] [--tsv FILE] [--no-spin-only] [--host-fifo PRIORITY]
//                [--before JSON]
// --before names the build before's JSON (a --compare-only run of its
// bundle): its chains' figures are printed beside this run's targets.
// WINEPREFIX must name a prefix where Quill is installed. The measured
// instances' own log lines (and outpost's) go to the --log file, so that
// they do not land between the table's rows.
#include "bench_support.h"
#include "chain_bench.h"
#include "chain_runs.h"
#include "chain_targets.h"
#include "e2e_support.h"
#include "floor_probe.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace bench;
using namespace e2e;

namespace {

// Time from setActive(true) to its return: launch and readiness wait.
double activationSeconds (IPluginFactory* factory)
{
	Processor p (factory, 256);
	const auto t0 = Clock::now ();
	p.activate (true);
	return nanosSince (t0) / 1e9;
}

// Processor time used so far: by process `pid`, or by this process (0).
double cpuSeconds (pid_t pid)
{
	if (pid == 0)
	{
		rusage usage {};
		::getrusage (RUSAGE_SELF, &usage);
		return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
	}
	return processCpuSeconds (pid);
}

struct RealTimeFigures
{
	int instances = 0;
	long blocks = 0, dry = 0, overBudget = 0;
	double worstMs = 0;
};

// `count` instances, each streaming 256-sample blocks at 48 kHz on a thread
// of its own for `seconds`.
RealTimeFigures streamAtRealTimePace (IPluginFactory* factory, int count, double seconds)
{
	constexpr int kSamples = 256;
	const auto budget =
	    std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (kSamples / 48000.0));
	std::vector<std::unique_ptr<Processor>> processors;
	for (int i = 0; i < count; ++i)
	{
		processors.push_back (std::make_unique<Processor> (factory, kSamples));
		processors.back ()->activate (true);
	}
	std::vector<RealTimeFigures> each (count);
	std::vector<std::thread> threads;
	const auto start = Clock::now () + std::chrono::milliseconds (200);
	const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
	for (int i = 0; i < count; ++i)
		threads.emplace_back ([&, i] {
			StereoBlock block (kSamples);
			RealTimeFigures& f = each[i];
			for (auto next = start; next < end; next += budget)
			{
				std::this_thread::sleep_until (next);
				block.fill (f.blocks * kSamples);
				const auto t0 = Clock::now ();
				processors[i]->process (block);
				const auto took = Clock::now () - t0;
				++f.blocks;
				f.dry += block.passedThrough ();
				f.overBudget += took > budget;
				f.worstMs = std::max (f.worstMs, std::chrono::duration<double, std::milli> (took).count ());
			}
		});
	for (auto& t : threads)
		t.join ();
	RealTimeFigures total;
	total.instances = count;
	for (const auto& f : each)
	{
		total.blocks += f.blocks;
		total.dry += f.dry;
		total.overBudget += f.overBudget;
		total.worstMs = std::max (total.worstMs, f.worstMs);
	}
	return total;
}

// Round trips back to back, as built and spin-only in alternating
// stretches, beside Quill's DSP run natively. Every block carries a host's
// context, as hosts give it. False when the shared file cannot be mapped.
bool measureBackToBack (FILE* out, IPluginFactory* factory, int blocks, std::vector<Row>& rows)
{
	std::fprintf (out, "Round trip through the bridge (real outpost and Quill under Wine), back to back\n");
	printHeader (out);
	for (int samples : {64, 256, 1024})
	{
		Processor p (factory, samples);
		p.activate (true);
		const auto outposts = ownOutposts ();
		AudioRegion region (outposts.empty () ? std::string () : outposts.back ().sharedFile);
		if (!region.audio ())
		{
			std::fprintf (out, "bridge_bench: cannot map the shared file of the outpost\n");
			return false;
		}
		StereoBlock block (samples);
		std::vector<double> hybrid, spin, native;
		long hybridDry = 0, spinDry = 0;
		for (int b = 0; b < 1000; ++b)
			p.process (block); // warm-up
		// Ten alternating stretches of each, so that drift hits both alike.
		for (int stretch = 0; stretch < 20; ++stretch)
		{
			const bool spinOnly = stretch % 2 == 1;
			region.audio ()->spinOnly.store (spinOnly ? 1 : 0);
			auto& times = spinOnly ? spin : hybrid;
			long& dry = spinOnly ? spinDry : hybridDry;
			for (int b = 0; b < blocks / 10; ++b)
			{
				block.fill (static_cast<long> (b) * samples);
				const auto t0 = Clock::now ();
				p.process (block);
				times.push_back (nanosSince (t0));
				dry += block.passedThrough ();
			}
		}
		region.audio ()->spinOnly.store (0);
		QuillModel model (48000.0);
		for (int b = 0; b < blocks; ++b)
		{
			const auto t0 = Clock::now ();
			model.dsp.process (block.inPtrs, block.outPtrs, 2, samples);
			native.push_back (nanosSince (t0));
		}
		rows.push_back ({"bridge, spin then sleep", samples, 2, blocks, summarise (hybrid), hybridDry});
		printRow (rows.back (), out);
		rows.push_back ({"bridge, spin only", samples, 2, blocks, summarise (spin), spinDry});
		printRow (rows.back (), out);
		rows.push_back ({"Quill DSP natively", samples, 2, blocks, summarise (native), -1});
		printRow (rows.back (), out);
	}
	return true;
}

} // namespace

int main (int argc, char** argv)
{
	std::string json;
	int blocks = 50000;
	int trials = 100;
	double seconds = 5.0;
	double chainSeconds = 10.0;
	bool compareOnly = false, withSpinOnly = true;
	int hostPriority = 0;
	std::vector<std::pair<int, int>> shapes;
	std::string bundle = QM_BUNDLE_SO, design = "as built", logPath = "bridge_bench.log", tsv, before;
	for (int i = 1; i < argc; ++i)
	{
		const std::string option = argv[i];
		if (option == "--compare-only")
		{
			compareOnly = true;
			continue;
		}
		if (option == "--no-spin-only")
		{
			withSpinOnly = false;
			continue;
		}
		if (i + 1 >= argc)
			break;
		const char* value = argv[++i];
		if (option == "--json")
			json = value;
		if (option == "--blocks")
			blocks = std::atoi (value);
		if (option == "--trials")
			trials = std::atoi (value);
		if (option == "--seconds")
			seconds = std::atof (value);
		if (option == "--chain-seconds")
			chainSeconds = std::atof (value);
		if (option == "--bundle")
			bundle = value;
		if (option == "--design")
			design = value;
		if (option == "--log")
			logPath = value;
		if (option == "--tsv")
			tsv = value;
		if (option == "--host-fifo")
			hostPriority = std::atoi (value);
		if (option == "--before")
			before = value;
		int count = 0, samples = 0;
		if (option == "--chain" && std::sscanf (value, "%dx%d", &count, &samples) == 2 && count > 0 && samples > 0)
			shapes.emplace_back (count, samples);
	}
	if (shapes.empty ())
		shapes = {{1, 64}, {4, 64}, {1, 128}, {8, 128}, {16, 64}, {32, 128}};
	if (!std::getenv ("WINEPREFIX"))
	{
		std::fprintf (stderr, "bridge_bench: set WINEPREFIX to a prefix with Quill installed\n");
		return 2;
	}
	// The tables go to the original standard output; the plug-in's and
	// outpost's lines (outpost inherits the descriptors) go to the log file.
	// Close-on-exec, so that Wine's long-lived helpers never hold the
	// caller's pipe open.
	FILE* out = ::fdopen (::fcntl (1, F_DUPFD_CLOEXEC, 3), "w");
	const int logFd = ::open (logPath.c_str (), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (!out || logFd < 0)
	{
		std::fprintf (stderr, "bridge_bench: cannot open %s\n", logPath.c_str ());
		return 1;
	}
	std::fflush (out);
	::dup2 (logFd, 1);
	::dup2 (logFd, 2);
	::close (logFd);
	std::fprintf (out, "bridge_bench (%s): the measured instances' log lines go to %s\n", design.c_str (),
	              logPath.c_str ());
	BundleModule module (bundle.c_str ());
	if (!module.factory ())
	{
		std::fprintf (out, "bridge_bench: cannot load %s\n", bundle.c_str ());
		return 1;
	}

	const Json chains =
	    measureChains (out, module.factory (), design, chainSeconds, tsv, withSpinOnly, hostPriority, shapes, before);
	if (compareOnly)
	{
		std::vector<Row> rows;
		if (!measureBackToBack (out, module.factory (), blocks, rows))
			return 1;
		if (!json.empty () && !writeJson (json, rows, chains))
		{
			std::fprintf (out, "bridge_bench: cannot write %s\n", json.c_str ());
			return 1;
		}
		return 0;
	}

	// Readiness: cold (no wineserver running for the prefix), then warm.
	std::system ("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1");
	const double cold = activationSeconds (module.factory ());
	const double warm = activationSeconds (module.factory ());

	std::vector<Row> rows;
	if (!measureBackToBack (out, module.factory (), blocks, rows))
		return 1;

	// Idle: activated, a few blocks, then nothing for five seconds.
	double outpostIdle = 0, hostIdle = 0;
	{
		Processor p (module.factory (), 256);
		p.activate (true);
		StereoBlock block (256);
		for (int b = 0; b < 100; ++b)
			p.process (block);
		const auto outposts = ownOutposts ();
		const pid_t outpost = outposts.empty () ? 0 : outposts.back ().pid;
		std::this_thread::sleep_for (std::chrono::seconds (1));
		const double outpostBefore = cpuSeconds (outpost), hostBefore = cpuSeconds (0);
		std::this_thread::sleep_for (std::chrono::seconds (5));
		outpostIdle = (cpuSeconds (outpost) - outpostBefore) / 5.0 * 100.0;
		hostIdle = (cpuSeconds (0) - hostBefore) / 5.0 * 100.0;
	}
	std::fprintf (out, "\nidle for 5 s after activation: outpost %.2f%% of a core, host process %.2f%% of a core\n",
	              outpostIdle, hostIdle);

	// The first block after a second of silence, at 256 samples.
	std::vector<double> first;
	long firstDry = 0;
	{
		Processor p (module.factory (), 256);
		p.activate (true);
		StereoBlock block (256);
		for (int b = 0; b < 100; ++b)
			p.process (block);
		for (int t = 0; t < trials; ++t)
		{
			std::this_thread::sleep_for (std::chrono::seconds (1));
			block.fill (t * 256L);
			const auto t0 = Clock::now ();
			p.process (block);
			first.push_back (nanosSince (t0));
			firstDry += block.passedThrough ();
		}
	}
	const Stats firstStats = summarise (first);
	std::fprintf (out,
	              "first block after 1 s of silence, %d trials: median %.1f us, p99 %.1f us, worst %.1f us, %ld dry\n",
	              trials, firstStats.median, firstStats.p99, firstStats.max, firstDry);

	// The start of playback: the first 100 blocks of fresh activations.
	long startDry = 0;
	for (int a = 0; a < 20; ++a)
	{
		Processor p (module.factory (), 256);
		p.activate (true);
		StereoBlock block (256);
		auto next = Clock::now ();
		for (int b = 0; b < 100; ++b)
		{
			next += std::chrono::microseconds (5333);
			std::this_thread::sleep_until (next);
			block.fill (b * 256L);
			p.process (block);
			startDry += block.passedThrough ();
		}
	}
	std::fprintf (out, "first 100 blocks of 20 activations at a real-time pace: %ld of 2000 dry\n", startDry);

	// Many instances at a real-time pace.
	std::fprintf (out, "\ninstances at a real-time pace (256 samples, 48 kHz, budget 5.33 ms), %.0f s each\n", seconds);
	std::fprintf (out, "%9s %8s %8s %10s %12s %10s %10s\n", "instances", "blocks", "dry", "dry %", "over budget",
	              "worst ms", "stolen ms");
	Json many = Json::array ();
	for (int count : {1, 2, 4, 8})
	{
		measureUntilQuiet ([&] (int attempt) {
			RealTimeFigures f;
			const double stolen = stolenDuring ([&] { f = streamAtRealTimePace (module.factory (), count, seconds); });
			const double dryPercent = 100.0 * f.dry / std::max (1L, f.blocks);
			const double overPercent = 100.0 * f.overBudget / std::max (1L, f.blocks);
			std::fprintf (out, "%9d %8ld %8ld %9.3f%% %11.3f%% %10.2f %10.0f%s\n", count, f.blocks, f.dry, dryPercent,
			              overPercent, f.worstMs, stolen, attempt > 1 ? " (measured again)" : "");
			std::fflush (out);
			many.push_back ({{"instances", count},
			                 {"blocks", f.blocks},
			                 {"dry", f.dry},
			                 {"over_budget", f.overBudget},
			                 {"worst_ms", rounded (f.worstMs, 3)},
			                 {"stolen_ms", std::lround (stolen)},
			                 {"attempt", attempt}});
			return stolen;
		});
	}

	std::fprintf (out, "\nactivation to audio readiness: cold prefix %.3f s, warm prefix %.3f s\n", cold, warm);
	Json extra = {{"readiness_s", {{"cold", rounded (cold, 4)}, {"warm", rounded (warm, 4)}}},
	              {"idle_cpu_percent", {{"outpost", rounded (outpostIdle, 3)}, {"host", rounded (hostIdle, 3)}}},
	              {"first_block_after_silence_us",
	               {{"median", rounded (firstStats.median, 1)},
	                {"p99", rounded (firstStats.p99, 1)},
	                {"worst", rounded (firstStats.max, 1)},
	                {"dry", firstDry}}},
	              {"start_of_playback_dry_of_2000", startDry},
	              {"real_time_instances", std::move (many)}};
	for (const auto& member : chains.items ())
		extra[member.key ()] = member.value ();
	if (!json.empty () && !writeJson (json, rows, extra))
	{
		std::fprintf (out, "bridge_bench: cannot write %s\n", json.c_str ());
		return 1;
	}
	return 0;
}
