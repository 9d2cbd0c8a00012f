// Shared pieces of the benchmarks: timing summaries and an in-process
// stand-in for outpost's audio thread.
#pragma once

#include "protocol/handshake.h"
#include "protocol/parameter_data.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Stats
{
	double min, median, p99, p999, max; // microseconds
};

inline Stats summarise (std::vector<double> ns)
{
	std::sort (ns.begin (), ns.end ());
	auto at = [&] (double q) { return ns[std::min (ns.size () - 1, static_cast<size_t> (q * ns.size ()))] / 1000.0; };
	return {ns.front () / 1000.0, at (0.5), at (0.99), at (0.999), ns.back () / 1000.0};
}

// Keeps the calling thread on one CPU from now on.
inline void pinThisThread (int cpu)
{
	cpu_set_t set;
	CPU_ZERO (&set);
	CPU_SET (cpu, &set);
	::pthread_setaffinity_np (::pthread_self (), sizeof set, &set);
}

inline double nanosSince (Clock::time_point t0)
{
	return std::chrono::duration<double, std::nano> (Clock::now () - t0).count ();
}

// Services blocks the way outpost's audio thread does (spinning, then
// sleeping between blocks), with unity gain, once `shared` points at an
// audio region.
inline void standIn (std::atomic<bool>& run, std::atomic<Tandem::AudioData*>& shared)
{
	Tandem::AudioData* audio = nullptr;
	while (run && !(audio = shared.load ()))
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	if (!audio)
		return;
	// Says it speaks this build's file, as outpost does before it is ready.
	void* base = reinterpret_cast<unsigned char*> (audio) - Tandem::kAudioDataOffset;
	Tandem::sessionAt (base)->outpostVersion.store (Tandem::kSessionVersion);
	audio->outpostCanWake.store (1);
	audio->audioReady.store (1);
	Tandem::fullFence ();
	auto keepGoing = [&run] { return run.load (std::memory_order_relaxed); };
	Tandem::BlockRhythm rhythm;
	while (keepGoing () && Tandem::waitForBlock (*audio, true, keepGoing, std::chrono::milliseconds (10), &rhythm))
	{
		const int channels = Tandem::clampCount (audio->numChannels, Tandem::kMaxChannels);
		const int samples = Tandem::clampCount (audio->numSamples, Tandem::kMaxBlockSize);
		for (int c = 0; c < channels; ++c)
			std::memcpy (audio->outputBuffers[c], audio->inputBuffers[c], sizeof (float) * samples);
		Tandem::finishBlock (*audio);
	}
}

// Processor time (ms, all CPUs) that the hypervisor has taken from this
// machine so far: the "steal" column of /proc/stat; 0 on bare metal. A burst
// of it stops every thread, the measured ones among them, for milliseconds.
inline double stolenMs ()
{
	std::ifstream stat ("/proc/stat");
	std::string cpu;
	long long user, nice, system, idle, iowait, irq, softirq, steal = 0;
	stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
	return cpu == "cpu" ? static_cast<double> (steal) * 1000.0 / static_cast<double> (::sysconf (_SC_CLK_TCK)) : 0.0;
}

// One row of a results table, printed and kept for the JSON file.
struct Row
{
	std::string path;
	int samples, channels, blocks;
	Stats stats;
	long timeouts; // -1: not applicable
};

inline void printHeader (FILE* out = stdout)
{
	std::fprintf (out, "%-22s %7s %3s %7s | %9s %9s %9s %9s %9s | %8s\n", "path", "samples", "ch", "blocks", "min us",
	              "median", "p99", "p99.9", "max", "timeouts");
}

inline void printRow (const Row& r, FILE* out = stdout)
{
	std::fprintf (out, "%-22s %7d %3d %7d | %9.2f %9.2f %9.2f %9.2f %9.2f | %8s\n", r.path.c_str (), r.samples,
	              r.channels, r.blocks, r.stats.min, r.stats.median, r.stats.p99, r.stats.p999, r.stats.max,
	              r.timeouts < 0 ? "-" : std::to_string (r.timeouts).c_str ());
	std::fflush (out);
}

// The benches' JSON: members in the order they were measured.
using Json = nlohmann::ordered_json;

// A figure as the tables print it: to `digits` decimals.
inline double rounded (double value, int digits)
{
	const double scale = std::pow (10.0, digits);
	return std::round (value * scale) / scale;
}

// {"rows": [...], then the members of `extra`}.
inline bool writeJson (const std::string& path, const std::vector<Row>& rows, const Json& extra = Json::object ())
{
	Json all = {{"rows", Json::array ()}};
	for (const Row& r : rows)
		all["rows"].push_back ({{"path", r.path},
		                        {"samples", r.samples},
		                        {"channels", r.channels},
		                        {"blocks", r.blocks},
		                        {"min_us", rounded (r.stats.min, 3)},
		                        {"median_us", rounded (r.stats.median, 3)},
		                        {"p99_us", rounded (r.stats.p99, 3)},
		                        {"p999_us", rounded (r.stats.p999, 3)},
		                        {"max_us", rounded (r.stats.max, 3)},
		                        {"timeouts", r.timeouts}});
	for (const auto& member : extra.items ())
		all[member.key ()] = member.value ();
	std::ofstream out (path);
	out << all.dump (2) << "\n";
	out.close ();
	return static_cast<bool> (out);
}

} // namespace bench
