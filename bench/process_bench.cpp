// Round trip of QuillMarlowProcessor::process against an in-process stand-in
// for outpost (a thread servicing the audio region like outpost's audio
// thread), beside the two plain copies alone (host -> slots -> host), the
// floor of any exchange through the shared file.
//
//   process_bench [--json FILE]
#include "bench_support.h"
#include "plugin/test_support.h"

#include <iostream>
#include <sstream>

using namespace QuillMarlowTest;
using namespace bench;

int main (int argc, char** argv)
{
	const std::string json = argc == 3 && std::string (argv[1]) == "--json" ? argv[2] : "";
	std::ostringstream silenced;
	std::streambuf* console = std::cout.rdbuf (silenced.rdbuf ()); // the processor's log lines

	std::atomic<bool> run {true};
	std::atomic<Tandem::AudioData*> shared {nullptr};
	std::thread service (standIn, std::ref (run), std::ref (shared));
	auto* p = new TestProcessor ("idle"); // a live child for the liveness probe
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

	std::vector<Row> rows;
	std::cout.rdbuf (console);
	std::printf ("process() against the in-process stand-in, and the copies alone\n");
	printHeader ();
	for (int channels : {2, 8})
	{
		for (int samples : {32, 64, 256, 1024, 8192})
		{
			const int blocks = samples >= 8192 ? 5000 : 50000;
			Bus in (channels, samples), out (channels, samples);
			in.fill (0.25f);
			std::vector<double> exchange, copies;
			exchange.reserve (blocks);
			copies.reserve (blocks);
			std::cout.rdbuf (silenced.rdbuf ());
			const int32 timeoutsBefore = p->timeoutCount ();
			for (int b = 0; b < blocks; ++b)
			{
				Vst::ProcessData d = block (in, out, samples);
				const auto t0 = Clock::now ();
				p->process (d);
				exchange.push_back (nanosSince (t0));
			}
			const long timeouts = p->timeoutCount () - timeoutsBefore;
			Tandem::AudioData* audio = p->audio ();
			for (int b = 0; b < blocks; ++b)
			{
				const auto t0 = Clock::now ();
				for (int c = 0; c < channels; ++c)
					std::memcpy (audio->inputBuffers[c], in.ptrs[c], sizeof (float) * samples);
				for (int c = 0; c < channels; ++c)
					std::memcpy (out.ptrs[c], audio->inputBuffers[c], sizeof (float) * samples);
				copies.push_back (nanosSince (t0));
			}
			std::cout.rdbuf (console);
			rows.push_back ({"stand-in", samples, channels, blocks, summarise (exchange), timeouts});
			printRow (rows.back ());
			rows.push_back ({"copies only", samples, channels, blocks, summarise (copies), -1});
			printRow (rows.back ());
		}
	}

	std::cout.rdbuf (silenced.rdbuf ());
	run = false;
	service.join ();
	p->terminate ();
	p->release ();
	std::cout.rdbuf (console);
	if (!json.empty () && !writeJson (json, rows))
	{
		std::fprintf (stderr, "process_bench: cannot write %s\n", json.c_str ());
		return 1;
	}
	return 0;
}
