// A session of many instances, each served by an outpost of its own and all
// in one group (QUILLMARLOW_GROUP), side by side in one run:
//  - a project opening: the instances activated one after another on one
//    thread, from the first connect to the last one ready;
//  - one more instance joining the running instances: its activation;
//  - every instance on a host thread of its own at a real-time pace: blocks
//    that came back dry, outpost processes and their memory (PSS), and the
//    processor time of the outposts and of the host (percent of one core);
//  - the outpost of the first instance killed while they stream: the time
//    until every instance is processed again.
//
//   group_bench [--instances N] [--seconds S]
// WINEPREFIX must name a prefix where Quill is installed.
#include "e2e_support.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSamples = 256;

double msBetween (Clock::time_point from, Clock::time_point to)
{
	return std::chrono::duration<double, std::milli> (to - from).count ();
}

long pssKb (pid_t pid)
{
	const std::string rollup = e2e::readText ("/proc/" + std::to_string (pid) + "/smaps_rollup");
	const size_t at = rollup.find ("\nPss:");
	return at == std::string::npos ? 0 : std::atol (rollup.c_str () + at + 5);
}

// Processor time a process has used so far (user and system), in seconds.
double cpuSeconds (pid_t pid)
{
	const std::string stat = e2e::readText ("/proc/" + std::to_string (pid) + "/stat");
	const size_t end = stat.rfind (')');
	if (end == std::string::npos)
		return 0;
	std::istringstream fields (stat.substr (end + 2));
	std::string field;
	double ticks = 0;
	for (int i = 3; i <= 15 && fields >> field; ++i)
		if (i >= 14)
			ticks += std::atof (field.c_str ());
	return ticks / static_cast<double> (::sysconf (_SC_CLK_TCK));
}

struct Figures
{
	double openMs = 0, joinMs = 0, backMs = -1;
	// Cores kept busy while streaming, in percent of one: the outposts, and
	// this process (the host's threads).
	double outpostCpu = 0, hostCpu = 0;
	long dry = 0, blocks = 0, pss = 0;
	size_t outposts = 0;
};

// Each instance on a thread of its own at a real-time pace for `seconds`;
// `kill` (ms from the start, < 0: none) ends the first outpost meanwhile.
void stream (std::vector<std::unique_ptr<e2e::Processor>>& instances, double seconds, double killAtMs, Figures& f)
{
	std::atomic<bool> killed {false};
	std::atomic<long> dry {0}, blocks {0};
	std::atomic<Clock::rep> lastDryAfterKill {0};
	const auto start = Clock::now ();
	const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
	const auto period =
	    std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (kSamples / 48000.0));
	std::vector<std::thread> threads;
	for (auto& instance : instances)
		threads.emplace_back ([&, p = instance.get ()] {
			e2e::StereoBlock block (kSamples);
			long sample = 0;
			for (auto next = Clock::now (); next < end; next += period)
			{
				std::this_thread::sleep_until (next);
				block.fill (sample);
				sample += kSamples;
				p->process (block);
				++blocks;
				if (!block.passedThrough ())
					continue;
				++dry;
				if (killed.load ())
					lastDryAfterKill.store (
					    std::max (lastDryAfterKill.load (), Clock::now ().time_since_epoch ().count ()));
			}
		});
	const auto outposts = e2e::ownOutposts ();
	f.outposts = outposts.size ();
	for (const auto& o : outposts)
		f.pss += pssKb (o.pid);
	auto outpostSeconds = [&] {
		double sum = 0;
		for (const auto& o : outposts)
			sum += cpuSeconds (o.pid);
		return sum;
	};
	const double outpostsBefore = outpostSeconds (), hostBefore = cpuSeconds (::getpid ());
	const auto measured = Clock::now ();
	Clock::time_point killTime {};
	if (killAtMs >= 0 && !outposts.empty ())
	{
		std::this_thread::sleep_until (start + std::chrono::milliseconds (static_cast<long> (killAtMs)));
		killTime = Clock::now ();
		killed.store (true);
		::kill (outposts.front ().pid, SIGKILL);
	}
	for (auto& t : threads)
		t.join ();
	const double wall = msBetween (measured, Clock::now ()) / 1000.0;
	f.outpostCpu = 100.0 * (outpostSeconds () - outpostsBefore) / wall;
	f.hostCpu = 100.0 * (cpuSeconds (::getpid ()) - hostBefore) / wall;
	f.dry = dry.load ();
	f.blocks = blocks.load ();
	if (killAtMs >= 0 && lastDryAfterKill.load () != 0)
		f.backMs = msBetween (killTime, Clock::time_point (Clock::duration (lastDryAfterKill.load ())));
}

Figures measure (Steinberg::IPluginFactory* factory, int count, double seconds, bool grouped)
{
	Figures f;
	if (grouped)
		::setenv ("QUILLMARLOW_GROUP", "bench", 1);
	std::vector<std::unique_ptr<e2e::Processor>> instances;
	const auto open = Clock::now ();
	for (int i = 0; i < count; ++i)
	{
		instances.push_back (std::make_unique<e2e::Processor> (factory, kSamples));
		instances.back ()->activate (true);
	}
	f.openMs = msBetween (open, Clock::now ());
	const auto join = Clock::now ();
	instances.push_back (std::make_unique<e2e::Processor> (factory, kSamples));
	instances.back ()->activate (true);
	f.joinMs = msBetween (join, Clock::now ());
	::unsetenv ("QUILLMARLOW_GROUP");
	stream (instances, seconds, -1, f);
	Figures crash;
	stream (instances, 4.0, 1000.0, crash);
	f.backMs = crash.backMs;
	for (auto& instance : instances)
		instance->activate (false);
	instances.clear ();
	return f;
}

void print (const char* name, const Figures& f)
{
	std::printf ("%-8s | %9.0f %9.1f | %8zu %9.1f | %6ld of %-7ld | %9.0f %9.0f | %9.0f\n", name, f.openMs, f.joinMs,
	             f.outposts, f.pss / 1024.0, f.dry, f.blocks, f.outpostCpu, f.hostCpu, f.backMs);
}

} // namespace

int main (int argc, char** argv)
{
	int count = 32;
	double seconds = 5.0;
	for (int i = 1; i + 1 < argc; i += 2)
	{
		const std::string option = argv[i];
		if (option == "--instances")
			count = std::atoi (argv[i + 1]);
		else if (option == "--seconds")
			seconds = std::atof (argv[i + 1]);
	}
	e2e::BundleModule module;
	if (!module.factory ())
	{
		std::fprintf (stderr, "group_bench: cannot load the bundle\n");
		return 1;
	}
	std::printf ("%d instances of Quill at %d samples (48 kHz): activated one after another, one more joining, "
	             "then each on a host thread of its own for %.0f s; then the first outpost killed while they "
	             "stream\n",
	             count, kSamples, seconds);
	std::printf ("%-8s | %9s %9s | %8s %9s | %-16s | %9s %9s | %9s\n", "served", "open ms", "join ms", "outposts",
	             "PSS MB", "dry blocks", "outpost %", "host %", "back ms");
	const Figures alone = measure (module.factory (), count, seconds, false);
	print ("alone", alone);
	const Figures grouped = measure (module.factory (), count, seconds, true);
	print ("grouped", grouped);
	std::printf ("targets (grouped): one outpost, PSS <= 64 MB, 0 dry blocks, join <= 50 ms, open <= 1500 ms, "
	             "back <= 500 ms: %s %s %s %s %s %s\n",
	             grouped.outposts == 1 ? "met" : "not met", grouped.pss <= 64 * 1024 ? "met" : "not met",
	             grouped.dry == 0 ? "met" : "not met", grouped.joinMs <= 50 ? "met" : "not met",
	             grouped.openMs <= 1500 ? "met" : "not met",
	             grouped.backMs >= 0 && grouped.backMs <= 500 ? "met" : "not met");
	return 0;
}
