// buses_bench: what events and buses cost through the bridge, with the real
// outpost under Wine serving the bus-shape variants (served/quill_bus_shapes.h):
// 0, 32 and 256 note events per 64-sample block to a MIDI effect (whose own
// work is nothing, or sending each event back when the host gives it an
// output list), and a 16-stereo-output instrument's block of 128 against a
// stereo one's. Prints its figures.
#include "bench_support.h"
#include "two_core_floor.h"

#include "host/host_event_list.h"
#include "protocol/block_events.h"

#include "e2e/served_processor.h"

#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using namespace Steinberg;
using bench::Clock;

// An instrument as a host sets it up: started, active, processing.
struct Instrument
{
	Instrument (const std::string& shape, int32 samples)
	: p (new ServedProcessor (std::string (QUILL_SHAPES_DIR) + "/" + shape + "/Quill.vst3"))
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

// Blocks of 64 samples with 0, 32 and 256 notes, alternating: the median of each.
// 256 notes on and off, four to a sample, as a keyboard player's chords.
std::vector<Vst::Event> noteEvents ()
{
	std::vector<Vst::Event> notes (256);
	for (int32 i = 0; i < 256; ++i)
	{
		Vst::Event& e = notes[static_cast<size_t> (i)];
		e = {};
		e.sampleOffset = i / 4;
		e.type = i % 2 ? Vst::Event::kNoteOffEvent : Vst::Event::kNoteOnEvent;
		e.noteOn = {0, static_cast<int16> (36 + i % 48), 0.0f, 0.5f, 0, i};
	}
	return notes;
}

void eventRuns (Instrument& effect, std::vector<Vst::Event> notes, HostEventList* back, const char* what)
{
	HostEventList none, few, many;
	for (int32 i = 0; i < 256; ++i)
	{
		if (i < 32)
			few.addEvent (notes[static_cast<size_t> (i)]);
		many.addEvent (notes[static_cast<size_t> (i)]);
	}
	std::vector<double> warm, a, b, c;
	effect.run (64, &none, back, 2000, warm);
	for (int round = 0; round < 10; ++round)
	{
		effect.run (64, &none, back, 2000, a);
		effect.run (64, &few, back, 2000, b);
		effect.run (64, &many, back, 2000, c);
	}
	const bench::Stats s0 = bench::summarise (a), s32 = bench::summarise (b), s256 = bench::summarise (c);
	std::printf ("\n%s, blocks of 64 samples back to back, 20000 each, alternating: no events median %.2f us "
	             "(p99 %.2f); 32 events median %.2f us (p99 %.2f): %+.2f us; 256 events median %.2f us "
	             "(p99 %.2f): %+.2f us\n",
	             what, s0.median, s0.p99, s32.median, s32.p99, s32.median - s0.median, s256.median, s256.p99,
	             s256.median - s0.median);
}

// The machine's floor for the same events: the host's side writes them as
// the plug-in does, outpost's side reads them as outpost does. Returns the
// median round of `count` events.
double eventFloor (int32 count, const Vst::Event* notes)
{
	auto staged = std::make_unique<Tandem::EventBlock> ();
	auto file = std::make_unique<Tandem::EventBlock> ();
	auto read = std::make_unique<Vst::Event[]> (Tandem::kMaxEvents);
	auto scratch = std::make_unique<uint8[]> (Tandem::kMaxEventBytes);
	HostEventList list;
	for (int32 i = 0; i < count; ++i)
		list.addEvent (const_cast<Vst::Event&> (notes[i]));
	return bench::twoCoreRounds (
	    20000,
	    [&] {
		    Tandem::EventWriter events (*staged, 64, 1);
		    for (int32 i = 0; i < count; ++i)
			    events.addFrom (list, i);
		    events.finish ();
		    Tandem::publishEvents (*staged, *file);
	    },
	    [&] {
		    Tandem::EventCuts cuts;
		    Tandem::readEvents (*file, 64, 1, scratch.get (), read.get (), cuts);
	    },
	    [] {});
}

// The machine's floor for a block's output: outpost's side writes `channels`
// of 128 samples into the file, the host's side copies them out, channel
// by channel as the plug-in does.
double outputFloor (int channels)
{
	const size_t samples = 128 * static_cast<size_t> (channels), bytes = 128 * sizeof (float);
	std::vector<float> rendered (samples, 0.25f), file (samples), host (samples);
	auto copy = [channels, bytes] (float* to, const float* from) {
		for (int c = 0; c < channels; ++c)
			Tandem::crossCopy (to + 128 * c, from + 128 * c, bytes);
	};
	return bench::twoCoreRounds (
	    20000, [] {}, [&] { copy (file.data (), rendered.data ()); }, [&] { copy (host.data (), file.data ()); });
}

void events ()
{
	Instrument effect ("midi", 64);
	if (!effect.ok)
		return;
	HostEventList back (4096);
	const std::vector<Vst::Event> notes = noteEvents ();
	eventRuns (effect, notes, nullptr, "notes to a MIDI effect");
	eventRuns (effect, notes, &back, "notes to a MIDI effect and back (it sends each one back)");
	if (std::thread::hardware_concurrency () < 2)
		return;
	const double f0 = eventFloor (0, notes.data ()), f32 = eventFloor (32, notes.data ()),
	             f256 = eventFloor (256, notes.data ());
	std::printf ("\nthe machine's floor, the same notes one way between two native threads on two cores, 20000 "
	             "rounds each: none median %.2f us; 32 %+.2f us; 256 %+.2f us\n",
	             f0, f32 - f0, f256 - f0);
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
	if (std::thread::hardware_concurrency () < 2)
		return;
	const double f2 = outputFloor (2), f32 = outputFloor (32);
	std::printf ("the machine's floor, the same outputs written on one core and copied out on the other, 20000 "
	             "rounds each: 2 channels median %.2f us; 32 channels %.2f us: %.2fx\n",
	             f2, f32, f32 / f2);
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
