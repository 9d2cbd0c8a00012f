// This build beside the build before, a stereo effect (Quill) through each:
// blocks of 64, 256 and 1024 samples back to back, and a chain of 4 instances at
// 64 samples on one host thread at a real-time pace. The two bundles run in
// turns, five rounds each, every turn in a process of its own (in one
// process the build before, counting instance ids from the same start and
// not locking its files, would open this build's), and the
// table shows the median of each one's rounds and the median of the rounds'
// ratios (each round's turns ran a moment apart).
//
//   beside_bench --before SO     (the build before's QuillMarlow.so)
//   beside_bench --measure SO    (one turn: prints its figures)
// WINEPREFIX must name a prefix where Quill is installed.
#include "bench_support.h"
#include "chain_bench.h"
#include "e2e_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace bench;
using namespace e2e;

namespace {

constexpr int kRounds = 5;
constexpr int kFigures = 5;
const char* const kNames[kFigures] = {
    "64 samples back to back, median us", "256 samples back to back, median us", "1024 samples back to back, median us",
    "chain of 4 x 64 at a real-time pace, median us", "chain of 4 x 64, outposts' CPU %"};

// Blocks back to back through one instance: the median, in microseconds.
double backToBack (IPluginFactory* factory, int samples, int blocks)
{
	Processor p (factory, samples);
	p.activate (true);
	StereoBlock block (samples);
	for (int b = 0; b < 1000; ++b)
		p.process (block);
	std::vector<double> times;
	times.reserve (static_cast<size_t> (blocks));
	for (int b = 0; b < blocks; ++b)
	{
		block.fill (static_cast<long> (b) * samples);
		const auto t0 = Clock::now ();
		p.process (block);
		times.push_back (nanosSince (t0));
	}
	return summarise (times).median;
}

int measure (const char* bundle)
{
	// The instances' and outposts' lines are not figures.
	const int quiet = ::open ("/dev/null", O_WRONLY);
	FILE* out = ::fdopen (::fcntl (1, F_DUPFD_CLOEXEC, 3), "w");
	::dup2 (quiet, 1);
	::dup2 (quiet, 2);
	BundleModule module (bundle);
	if (!module.factory () || !out)
		return 1;
	const double at64 = backToBack (module.factory (), 64, 20000);
	const double at256 = backToBack (module.factory (), 256, 20000);
	const double at1024 = backToBack (module.factory (), 1024, 10000);
	const ChainFigures chain = runChain (module.factory (), 4, 64, 3.0, false);
	std::fprintf (out, "%.3f %.3f %.3f %.3f %.3f\n", at64, at256, at1024, chain.chain.median, chain.outpostCpuPercent);
	std::fclose (out);
	return 0;
}

// One turn of `bundle` in a child process; false when it gave no figures.
bool turn (const std::string& self, const std::string& bundle, std::vector<double> (&into)[kFigures])
{
	FILE* pipe = ::popen (("'" + self + "' --measure '" + bundle + "'").c_str (), "r");
	double f[kFigures] = {};
	const bool read = pipe && std::fscanf (pipe, "%lf %lf %lf %lf %lf", &f[0], &f[1], &f[2], &f[3], &f[4]) == kFigures;
	if (pipe)
		::pclose (pipe);
	if (read)
		for (int i = 0; i < kFigures; ++i)
			into[i].push_back (f[i]);
	return read;
}

double median (std::vector<double> v)
{
	std::sort (v.begin (), v.end ());
	return v.empty () ? 0.0 : v[v.size () / 2];
}

} // namespace

int main (int argc, char** argv)
{
	if (!std::getenv ("WINEPREFIX"))
	{
		std::fprintf (stderr, "beside_bench: set WINEPREFIX to a prefix with Quill installed\n");
		return 2;
	}
	const std::string option = argc == 3 ? argv[1] : "";
	if (option == "--measure")
		return measure (argv[2]);
	if (option != "--before")
	{
		std::fprintf (stderr, "usage: beside_bench --before SO | --measure SO\n");
		return 2;
	}
	char self[4096] = {};
	if (::readlink ("/proc/self/exe", self, sizeof self - 1) <= 0)
		return 1;
	std::vector<double> now[kFigures], before[kFigures];
	for (int round = 0; round < kRounds; ++round)
	{
		if (!turn (self, QM_BUNDLE_SO, now) || !turn (self, argv[2], before))
		{
			std::fprintf (stderr, "beside_bench: a turn gave no figures\n");
			return 1;
		}
	}
	std::printf ("A stereo effect (Quill), this build beside the build before, in turns (%d rounds each; "
	             "medians of the rounds, and of the rounds' ratios)\n",
	             kRounds);
	std::printf ("%-48s %10s %10s %8s\n", "", "now", "before", "ratio");
	for (int i = 0; i < kFigures; ++i)
	{
		std::vector<double> ratios;
		for (int round = 0; round < kRounds; ++round)
			if (before[i][round] > 0)
				ratios.push_back (now[i][round] / before[i][round]);
		std::printf ("%-48s %10.2f %10.2f %7.2fx\n", kNames[i], median (now[i]), median (before[i]), median (ratios));
	}
	return 0;
}
