// Round-trip time of QuillMarlowProcessor::process against an in-process
// stand-in for outpost (a thread that services the audio region like
// outpost's audio thread, with unity gain), beside the cost of the two plain
// copies alone (host -> slots -> host), which is the floor of any exchange.
#include "plugin/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

using namespace QuillMarlowTest;
using Clock = std::chrono::steady_clock;

namespace {

struct Stats
{
	double min, median, p99, p999, max;
};

Stats summarise (std::vector<double>& ns)
{
	std::sort (ns.begin (), ns.end ());
	auto at = [&] (double q) { return ns[std::min (ns.size () - 1, static_cast<size_t> (q * ns.size ()))] / 1000.0; };
	return {ns.front () / 1000.0, at (0.5), at (0.99), at (0.999), ns.back () / 1000.0};
}

// Services blocks the way outpost's audio thread does.
void standIn (std::atomic<bool>& run, std::atomic<Tandem::AudioData*>& shared)
{
	Tandem::AudioData* audio = nullptr;
	while (run && !(audio = shared.load ()))
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	if (!audio)
		return;
	audio->audioReady.store (1);
	Tandem::fullFence ();
	while (run.load (std::memory_order_relaxed))
	{
		Tandem::fullFence ();
		if (audio->inputReady.load (std::memory_order_relaxed) != 1)
		{
			Tandem::cpuPause ();
			continue;
		}
		const int channels = Tandem::clampCount (audio->numChannels, Tandem::kMaxChannels);
		const int samples = Tandem::clampCount (audio->numSamples, Tandem::kMaxBlockSize);
		for (int c = 0; c < channels; ++c)
			std::memcpy (audio->outputBuffers[c], audio->inputBuffers[c], sizeof (float) * samples);
		audio->inputReady.store (0, std::memory_order_relaxed);
		Tandem::fullFence ();
		audio->outputReady.store (1, std::memory_order_relaxed);
		Tandem::fullFence ();
	}
}

} // namespace

int main ()
{
	std::ostringstream silenced;
	std::streambuf* console = std::cout.rdbuf (silenced.rdbuf ());  // the processor's log lines

	std::atomic<bool> run {true};
	std::atomic<Tandem::AudioData*> shared {nullptr};
	std::thread service (standIn, std::ref (run), std::ref (shared));
	auto* p = new TestProcessor ("idle");  // a live child for the liveness probe
	p->initialize (nullptr);
	Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, 8192, 48000.0};
	p->setupProcessing (setup);
	std::thread publish ([&] {
		// Once the child exists the launch has written its audio parameters.
		while (p->outpostPid () <= 0)
			std::this_thread::sleep_for (std::chrono::milliseconds (1));
		shared = p->audio ();
	});
	p->setActive (true);
	publish.join ();

	std::cout.rdbuf (console);
	std::printf ("process() round trip against the in-process stand-in, microseconds per block\n");
	std::printf ("%-8s %-4s %8s | %8s %8s %8s %8s %8s %8s | copies: %8s %8s %8s\n", "samples", "ch", "blocks", "min",
	             "median", "p99", "p99.9", "max", "timeouts", "median", "p99", "max");
	for (int channels : {2, 8})
	{
		for (int samples : {32, 64, 256, 1024, 8192})
		{
			const int blocks = samples >= 8192 ? 5000 : 50000;
			Bus in (channels, samples), out (channels, samples);
			in.fill (0.25f);
			std::vector<double> bridge, copies;
			bridge.reserve (blocks);
			copies.reserve (blocks);
			std::cout.rdbuf (silenced.rdbuf ());
			const int32 timeoutsBefore = p->timeoutCount ();
			for (int b = 0; b < blocks; ++b)
			{
				Vst::ProcessData d = block (in, out, samples);
				const auto t0 = Clock::now ();
				p->process (d);
				bridge.push_back (std::chrono::duration<double, std::nano> (Clock::now () - t0).count ());
			}
			const int32 timeouts = p->timeoutCount () - timeoutsBefore;
			Tandem::AudioData* audio = p->audio ();
			for (int b = 0; b < blocks; ++b)
			{
				const auto t0 = Clock::now ();
				for (int c = 0; c < channels; ++c)
					std::memcpy (audio->inputBuffers[c], in.ptrs[c], sizeof (float) * samples);
				for (int c = 0; c < channels; ++c)
					std::memcpy (out.ptrs[c], audio->inputBuffers[c], sizeof (float) * samples);
				copies.push_back (std::chrono::duration<double, std::nano> (Clock::now () - t0).count ());
			}
			std::cout.rdbuf (console);
			const Stats s = summarise (bridge);
			const Stats f = summarise (copies);
			std::printf ("%-8d %-4d %8d | %8.2f %8.2f %8.2f %8.2f %8.2f %8d | copies: %8.2f %8.2f %8.2f\n", samples,
			             channels, blocks, s.min, s.median, s.p99, s.p999, s.max, timeouts, f.median, f.p99, f.max);
		}
	}

	std::cout.rdbuf (silenced.rdbuf ());
	run = false;
	service.join ();
	p->terminate ();
	p->release ();
	std::cout.rdbuf (console);
	return 0;
}
