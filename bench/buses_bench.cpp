// buses_bench: what events and buses cost through the bridge, with the real
// outpost under Wine serving the bus-shape variants (served/quill_bus_shapes.h):
// 0, 32 and 256 note events per 64-sample block to an instrument that echoes
// them, and a 16-stereo-output instrument's block of 128 against a stereo
// one's. Prints its figures.
#include "bench_support.h"

#include "host/host_event_list.h"

#include "e2e/served_processor.h"

#include <cstdlib>

namespace {

using namespace Steinberg;
using bench::Clock;

// An instrument as a host sets it up: started, active, processing.
struct Instrument
{
	Instrument (const std::string& shape, int32 samples) : p (new ServedProcessor (std::string (QUILL_SHAPES_DIR) + "/" + shape + "/Quill.vst3"))
	{
		p->initialize (nullptr);
		Vst::ProcessSetup setup {Vst::kRealtime, Vst::kSample32, samples, 48000.0};
		p->setupProcessing (setup);
		ok = p->setActive (true) == kResultOk;
		p->setProcessing (true);
		outputs = p->getBusCount (Vst::kAudio, Vst::kOutput);
		data.resize (static_cast<size_t> (outputs) * 2, std::vector<float> (static_cast<size_t> (samples)));
		for (auto& channel : data)
			ptrs.push_back (channel.data ());
		buses.resize (static_cast<size_t> (outputs));
		for (int32 b = 0; b < outputs; ++b)
		{
			buses[b].numChannels = 2;
			buses[b].channelBuffers32 = &ptrs[static_cast<size_t> (b) * 2];
		}
	}
	~Instrument ()
	{
		p->setProcessing (false);
		p->setActive (false);
		p->terminate ();
		p->release ();
	}
	// Blocks back to back, each timed.
	void run (int32 samples, Vst::IEventList* in, Vst::IEventList* out, int blocks, std::vector<double>& into)
	{
		HostEventList* back = static_cast<HostEventList*> (out);
		for (int i = 0; i < blocks; ++i)
		{
			Vst::ProcessData d {};
			d.processMode = Vst::kRealtime;
			d.symbolicSampleSize = Vst::kSample32;
			d.numSamples = samples;
			d.numOutputs = outputs;
			d.outputs = buses.data ();
			d.inputEvents = in;
			d.outputEvents = out;
			if (back)
				back->clear ();
			const auto t0 = Clock::now ();
			p->process (d);
			into.push_back (bench::nanosSince (t0));
		}
	}
	ServedProcessor* p;
	bool ok = false;
	int32 outputs = 0;
	std::vector<std::vector<float>> data;
	std::vector<float*> ptrs;
	std::vector<Vst::AudioBusBuffers> buses;
};

void events ()
{
	Instrument synth (std::getenv ("SHAPE") ? std::getenv ("SHAPE") : "instrument", 64);
	if (!synth.ok)
		return;
	HostEventList none, few, many, back (4096);
	for (int32 i = 0; i < 256; ++i)
	{
		Vst::Event e {};
		e.sampleOffset = i / 4;
		e.type = i % 2 ? Vst::Event::kNoteOffEvent : Vst::Event::kNoteOnEvent;
		e.noteOn = {0, static_cast<int16> (36 + i % 48), 0.0f, 0.5f, 0, i};
		if (i < 32)
			few.addEvent (e);
		many.addEvent (e);
	}
	std::vector<double> warm, a, b, c;
	synth.run (64, &none, &back, 2000, warm);
	for (int round = 0; round < 10; ++round)
	{
		synth.run (64, &none, &back, 2000, a);
		synth.run (64, &few, &back, 2000, b);
		synth.run (64, &many, &back, 2000, c);
	}
	const bench::Stats s0 = bench::summarise (a), s32 = bench::summarise (b), s256 = bench::summarise (c);
	std::printf ("\ninstrument, blocks of 64 samples back to back, 20000 each, alternating: no events median %.2f us "
	             "(p99 %.2f); 32 events (echoed back) median %.2f us (p99 %.2f): %+.2f us; 256 events median %.2f us "
	             "(p99 %.2f): %+.2f us\n",
	             s0.median, s0.p99, s32.median, s32.p99, s32.median - s0.median, s256.median, s256.p99,
	             s256.median - s0.median);
}

void outputs ()
{
	std::vector<double> stereo, sixteen, warm;
	{
		Instrument synth ("instrument", 128);
		if (!synth.ok)
			return;
		synth.run (128, nullptr, nullptr, 2000, warm);
		synth.run (128, nullptr, nullptr, 20000, stereo);
	}
	{
		Instrument synth ("multiout", 128);
		if (!synth.ok)
			return;
		synth.run (128, nullptr, nullptr, 2000, warm);
		synth.run (128, nullptr, nullptr, 20000, sixteen);
	}
	const bench::Stats s = bench::summarise (stereo), m = bench::summarise (sixteen);
	std::printf ("\nblocks of 128 samples back to back, 20000 each: a stereo instrument median %.2f us (p99 %.2f); "
	             "16 stereo outputs median %.2f us (p99 %.2f): %.2fx\n",
	             s.median, s.p99, m.median, m.p99, m.median / s.median);
}

} // namespace

int main ()
{
	if (!std::getenv ("WINEPREFIX"))
	{
		std::fprintf (stderr, "buses_bench: set WINEPREFIX to the test prefix\n");
		return 1;
	}
	std::printf ("Events and buses through the bridge (real outpost under Wine)\n");
	events ();
	outputs ();
	return 0;
}
