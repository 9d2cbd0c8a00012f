// The served plug-in's shape through the bridge (served/quill_bus_shapes.h):
// its buses listed and arranged as its own, blocks of any buses, side-chain
// and 64-bit samples, and its events both ways, sample-accurately.
#include "e2e_support.h"

#include "../host/host_event_list.h"
#include "../plugin/host_objects.h"

#include "plugin/controller.h"
#include "plugin/latency_watcher.h"
#include "served_processor.h"

#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstnoteexpression.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <cmath>
#include <cstring>

namespace e2e {
namespace {

using Steinberg::QuillMarlow::LatencyWatcher;
using Steinberg::QuillMarlow::QuillMarlowController;
using namespace Steinberg::Vst;

std::string bundle (const char* shape)
{
	return std::string (QUILL_SHAPES_DIR) + "/" + shape + "/Quill.vst3";
}

std::string text (const TChar* s)
{
	std::string out;
	for (int i = 0; i < 128 && s[i]; ++i)
		out += static_cast<char> (s[i]);
	return out;
}

class RestartHandler : public QuillMarlowTest::TestHostHandler
{
public:
	tresult PLUGIN_API restartComponent (int32 flags) override
	{
		restarts.push_back (flags);
		return kResultOk;
	}
	std::vector<int32> restarts;
};

// A processor and controller as a host pairs them; connecting starts outpost.
struct Hosted
{
	explicit Hosted (const std::string& path) : p (new ServedProcessor (path))
	{
		p->initialize (nullptr);
		c = static_cast<QuillMarlowController*> (
		    static_cast<IEditController*> (QuillMarlowController::createInstance (nullptr)));
		c->initialize (nullptr);
		c->setComponentHandler (&handler);
	}
	void connect ()
	{
		p->connect (static_cast<IConnectionPoint*> (c));
		static_cast<IConnectionPoint*> (c)->connect (p);
	}
	~Hosted ()
	{
		p->disconnect (static_cast<IConnectionPoint*> (c));
		static_cast<IConnectionPoint*> (c)->disconnect (p);
		c->terminate ();
		c->release ();
		p->terminate ();
		p->release ();
	}
	// Waits until outpost's list reached the host (the served one has `eventInputs`).
	bool served (MediaType type, BusDirection dir, int32 count)
	{
		return waitFor ([&] { return p->getBusCount (type, dir) == count; }, 30.0);
	}
	void start (int32 sampleSize, int32 block)
	{
		ProcessSetup setup {kRealtime, sampleSize, block, 48000.0};
		ASSERT_EQ (p->setupProcessing (setup), kResultOk);
		ASSERT_EQ (p->setActive (true), kResultOk);
		p->setProcessing (true);
	}
	// Runs `data` until outpost answered one.
	bool process (ProcessData& data)
	{
		return waitFor (
		    [&] {
			    const int32 before = p->audioOkCount ();
			    p->process (data);
			    return p->audioOkCount () > before;
		    },
		    20.0);
	}
	ServedProcessor* p;
	QuillMarlowController* c = nullptr;
	RestartHandler handler;
};

Event event (uint16 type, int32 offset)
{
	Event e {};
	e.busIndex = 0;
	e.sampleOffset = offset;
	e.ppqPosition = 1.5 + offset;
	e.flags = Event::kIsLive;
	e.type = type;
	return e;
}

TEST (Buses, ListedAndArrangedAsTheServedPlugins)
{
	{
		Hosted h (bundle ("instrument"));
		// Before outpost runs (a host's scan starts none): a stereo effect's.
		EXPECT_EQ (h.p->getBusCount (kAudio, kInput), 1);
		EXPECT_EQ (h.p->getBusCount (kEvent, kInput), 0);
		h.connect ();
		ASSERT_TRUE (h.served (kEvent, kInput, 1));
		EXPECT_EQ (h.p->getBusCount (kAudio, kInput), 0);
		ASSERT_EQ (h.p->getBusCount (kAudio, kOutput), 1);
		BusInfo info {};
		ASSERT_EQ (h.p->getBusInfo (kAudio, kOutput, 0, info), kResultTrue);
		EXPECT_EQ (text (info.name), "Synth Out");
		EXPECT_EQ (info.channelCount, 2);
		EXPECT_EQ (info.busType, kMain);
		EXPECT_EQ (info.flags, static_cast<uint32> (BusInfo::kDefaultActive));
		ASSERT_EQ (h.p->getBusInfo (kEvent, kOutput, 0, info), kResultTrue);
		EXPECT_EQ (text (info.name), "MIDI Out");
		EXPECT_EQ (info.channelCount, 16);
		EXPECT_EQ (h.p->canProcessSampleSize (kSample64), kResultTrue);
		// The host, given other buses before, is told to read them again.
		auto* watcher = new LatencyWatcher ();
		watcher->setHostHandler (&h.handler);
		watcher->follow (h.p->instanceId ());
		watcher->check ();
		watcher->release ();
		EXPECT_NE (std::find (h.handler.restarts.begin (), h.handler.restarts.end (), kIoChanged),
		           h.handler.restarts.end ());
	}
	{
		Hosted h (bundle ("mono"));
		h.connect ();
		ASSERT_TRUE (waitFor (
		    [&] {
			    BusInfo info {};
			    return h.p->getBusInfo (kAudio, kInput, 0, info) == kResultTrue && info.channelCount == 1;
		    },
		    30.0));
		SpeakerArrangement stereo = SpeakerArr::kStereo, mono = SpeakerArr::kMono;
		EXPECT_EQ (h.p->setBusArrangements (&stereo, 1, &stereo, 1), kResultFalse) << "refused by the served one";
		EXPECT_EQ (h.p->setBusArrangements (&mono, 1, &mono, 1), kResultTrue);
		SpeakerArrangement read = 0;
		ASSERT_EQ (h.p->getBusArrangement (kOutput, 0, read), kResultTrue);
		EXPECT_EQ (read, SpeakerArr::kMono);
		// Beyond what the file carries: refused whatever the served plug-in says.
		SpeakerArrangement many[9];
		std::fill (std::begin (many), std::end (many), SpeakerArr::k71Cine);
		EXPECT_EQ (h.p->setBusArrangements (many, 9, &mono, 1), kResultFalse);
	}
}

// A block of `samples` into one stereo output bus of `Sample`s, with the
// host's event lists, as a host hands an instrument its blocks.
template <typename Sample>
struct StereoOutBlock
{
	StereoOutBlock (int32 samples, IEventList* in, IEventList* out = nullptr)
	: left (static_cast<size_t> (samples)), right (static_cast<size_t> (samples))
	{
		bus.numChannels = 2;
		if constexpr (sizeof (Sample) == sizeof (Sample32))
			bus.channelBuffers32 = channels;
		else
			bus.channelBuffers64 = channels;
		data.processMode = kRealtime;
		data.symbolicSampleSize = sizeof (Sample) == sizeof (Sample32) ? kSample32 : kSample64;
		data.numSamples = samples;
		data.numOutputs = 1;
		data.outputs = &bus;
		data.inputEvents = in;
		data.outputEvents = out;
	}
	std::vector<Sample> left, right;
	Sample* channels[2] = {left.data (), right.data ()};
	AudioBusBuffers bus {};
	ProcessData data {};
};

TEST (Buses, AMidiEffectWithoutAudioGetsEveryBlock)
{
	Hosted h (bundle ("midi"));
	h.connect ();
	ASSERT_TRUE (h.served (kAudio, kOutput, 0));
	h.start (kSample32, 64);
	HostEventList in, out;
	Event note = event (Event::kNoteOnEvent, 17);
	note.noteOn = {3, 64, 0.0f, 0.5f, 0, 11};
	in.addEvent (note);
	ProcessData d {};
	d.processMode = kRealtime;
	d.symbolicSampleSize = kSample32;
	d.numSamples = 64;
	d.inputEvents = &in;
	d.outputEvents = &out;
	ASSERT_TRUE (h.process (d));
	ASSERT_EQ (out.events ().size (), 1u);
	EXPECT_EQ (std::memcmp (&out.events ()[0], &note, sizeof note), 0);
}

TEST (Events, NotesSoundAtTheirOffsetsAndEveryTypeComesBackUnchanged)
{
	Hosted h (bundle ("instrument"));
	h.connect ();
	ASSERT_TRUE (h.served (kEvent, kOutput, 1));
	constexpr int32 kBlock = 512;
	h.start (kSample32, kBlock);

	const uint8 sysex[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
	const TChar words[] = u"legato";
	const TChar chordName[] = u"Cmaj7";
	std::vector<Event> sent;
	Event e = event (Event::kNoteOnEvent, 200);
	e.noteOn = {0, 69, 0.0f, 1.0f, 100, 7};
	sent.push_back (e);
	e = event (Event::kPolyPressureEvent, 210);
	e.polyPressure = {0, 69, 0.25f, 7};
	sent.push_back (e);
	e = event (Event::kNoteExpressionValueEvent, 220);
	e.noteExpressionValue = {kTuningTypeID, 7, 0.625};
	sent.push_back (e);
	e = event (Event::kNoteExpressionTextEvent, 230);
	e.noteExpressionText = {kTextTypeID, 7, 6, words};
	sent.push_back (e);
	e = event (Event::kChordEvent, 240);
	e.chord = {0, 4, 0x891, 5, chordName};
	sent.push_back (e);
	e = event (Event::kScaleEvent, 250);
	e.scale = {2, 0xAB5, 0, nullptr};
	sent.push_back (e);
	e = event (Event::kDataEvent, 260);
	e.data = {sizeof sysex, DataEvent::kMidiSysEx, sysex};
	sent.push_back (e);
	e = event (Event::kLegacyMIDICCOutEvent, 270);
	e.midiCCOut = {static_cast<uint8> (kPitchBend), 2, 0x12, 0x34};
	sent.push_back (e);
	e = event (Event::kNoteOffEvent, 300);
	e.noteOff = {0, 69, 0.5f, 7, 0.0f};
	sent.push_back (e);

	HostEventList in, out;
	for (Event& s : sent)
		in.addEvent (s);
	StereoOutBlock<float> block (kBlock, &in, &out);
	const std::vector<float>& left = block.left;
	ASSERT_TRUE (waitFor (
	    [&] {
		    out.clear ();
		    return h.process (block.data) && !out.events ().empty ();
	    },
	    20.0));

	// The note sounds from sample 200 exactly, at 440 Hz, until its note-off.
	const double step = 2.0 * 3.14159265358979323846 * 440.0 / 48000.0;
	for (int32 i = 0; i < kBlock; ++i)
	{
		const double expected = i >= 200 && i < 300 ? std::sin ((i - 200) * step) : 0.0;
		ASSERT_NEAR (left[i], expected, 1e-5) << "sample " << i;
		ASSERT_EQ (left[i], block.right[i]);
	}

	// Every event back, with its bytes and texts.
	ASSERT_EQ (out.events ().size (), sent.size ());
	for (size_t i = 0; i < sent.size (); ++i)
	{
		const Event& a = sent[i];
		const Event& b = out.events ()[i];
		EXPECT_EQ (std::memcmp (&a, &b, 24), 0) << "bus, offset, ppq, flags, type of event " << i;
		switch (a.type)
		{
		case Event::kDataEvent:
			ASSERT_EQ (b.data.size, a.data.size);
			EXPECT_EQ (b.data.type, a.data.type);
			EXPECT_EQ (std::memcmp (b.data.bytes, a.data.bytes, a.data.size), 0);
			break;
		case Event::kNoteExpressionTextEvent:
			EXPECT_EQ (b.noteExpressionText.typeId, a.noteExpressionText.typeId);
			EXPECT_EQ (b.noteExpressionText.noteId, a.noteExpressionText.noteId);
			ASSERT_EQ (b.noteExpressionText.textLen, a.noteExpressionText.textLen);
			EXPECT_EQ (text (b.noteExpressionText.text), "legato");
			break;
		case Event::kChordEvent:
			EXPECT_EQ (std::memcmp (&b.chord, &a.chord, 8), 0);
			EXPECT_EQ (text (b.chord.text), "Cmaj7");
			break;
		case Event::kScaleEvent:
			EXPECT_EQ (std::memcmp (&b.scale, &a.scale, 6), 0);
			EXPECT_EQ (text (b.scale.text), "");
			break;
		default:
			EXPECT_EQ (std::memcmp (&a, &b, sizeof a), 0) << "event " << i;
		}
	}
}

TEST (Buses, TheSideChainReachesTheServedPlugin)
{
	Hosted h (bundle ("sidechain"));
	h.connect ();
	ASSERT_TRUE (h.served (kAudio, kInput, 2));
	BusInfo info {};
	ASSERT_EQ (h.p->getBusInfo (kAudio, kInput, 1, info), kResultTrue);
	EXPECT_EQ (info.busType, kAux);
	ASSERT_EQ (h.p->activateBus (kAudio, kInput, 1, true), kResultOk);
	constexpr int32 kBlock = 128;
	h.start (kSample32, kBlock);
	std::vector<float> main (kBlock, 0.0f), side (kBlock, 0.5f), out0 (kBlock), out1 (kBlock);
	float* mainPtrs[] = {main.data (), main.data ()};
	float* sidePtrs[] = {side.data (), side.data ()};
	float* outPtrs[] = {out0.data (), out1.data ()};
	AudioBusBuffers inputs[2] {}, output {};
	inputs[0].numChannels = inputs[1].numChannels = output.numChannels = 2;
	inputs[0].channelBuffers32 = mainPtrs;
	inputs[1].channelBuffers32 = sidePtrs;
	output.channelBuffers32 = outPtrs;
	ProcessData d {};
	d.processMode = kRealtime;
	d.symbolicSampleSize = kSample32;
	d.numSamples = kBlock;
	d.numInputs = 2;
	d.inputs = inputs;
	d.numOutputs = 1;
	d.outputs = &output;
	ASSERT_TRUE (h.process (d));
	EXPECT_EQ (out0, side);
	EXPECT_EQ (out1, side);
}

TEST (Buses, SixtyFourBitBlocksTravelAsDoubles)
{
	Hosted h (bundle ("instrument"));
	h.connect ();
	ASSERT_TRUE (waitFor ([&] { return h.p->canProcessSampleSize (kSample64) == kResultTrue; }, 30.0));
	constexpr int32 kBlock = 256;
	h.start (kSample64, kBlock);
	HostEventList in;
	Event note = event (Event::kNoteOnEvent, 0);
	note.noteOn = {0, 81, 0.0f, 1.0f, 0, 1};
	in.addEvent (note);
	// Each block on its own: the note ends at its last sample.
	Event off = event (Event::kNoteOffEvent, kBlock - 1);
	off.noteOff = {0, 81, 0.0f, 1, 0.0f};
	in.addEvent (off);
	StereoOutBlock<double> block (kBlock, &in);
	const std::vector<double>& left = block.left;
	ASSERT_TRUE (waitFor ([&] { return h.process (block.data) && left[1] != 0.0; }, 20.0));
	const double step = 2.0 * 3.14159265358979323846 * 880.0 / 48000.0;
	for (int32 i = 0; i < kBlock; ++i)
		ASSERT_NEAR (left[i], i < kBlock - 1 ? std::sin (i * step) : 0.0, 1e-12)
		    << "beyond a float's precision: sample " << i;
}

} // namespace
} // namespace e2e
