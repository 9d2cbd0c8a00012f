// `vst3host process`: a sound file through the effect, or a MIDI file into
// an instrument or MIDI effect (with or without a sound file), block by
// block on a dedicated audio thread, with a progress bar and a timing
// summary; what the plug-in sends back can go to a MIDI file.
#include "commands.h"
#include "bundle.h"
#include "midi_events.h"
#include "midi_file.h"
#include "parameter_points.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Steinberg;

namespace vst3host {

namespace {

// Non-interleaved audio of a whole file.
struct Audio
{
	int channels = 0;
	long frames = 0;
	double rate = 0;
	std::vector<std::vector<float>> data;
};

bool readFile (const std::string& path, Audio& audio, std::string& error)
{
	SF_INFO info {};
	SNDFILE* file = sf_open (path.c_str (), SFM_READ, &info);
	if (!file)
	{
		error = "cannot read " + path + ": " + sf_strerror (nullptr);
		return false;
	}
	std::vector<float> interleaved (static_cast<size_t> (info.frames) * info.channels);
	const sf_count_t got = sf_readf_float (file, interleaved.data (), info.frames);
	sf_close (file);
	audio.channels = info.channels;
	audio.frames = static_cast<long> (got);
	audio.rate = info.samplerate;
	audio.data.assign (info.channels, std::vector<float> (static_cast<size_t> (got)));
	for (long i = 0; i < got; ++i)
		for (int c = 0; c < info.channels; ++c)
			audio.data[c][i] = interleaved[static_cast<size_t> (i) * info.channels + c];
	return true;
}

SNDFILE* openOutput (const std::string& path, int channels, double rate, std::string& error)
{
	SF_INFO info {};
	info.channels = channels;
	info.samplerate = static_cast<int> (rate);
	info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
	SNDFILE* file = sf_open (path.c_str (), SFM_WRITE, &info);
	if (!file)
		error = "cannot write " + path + ": " + sf_strerror (nullptr);
	return file;
}

bool writeFile (SNDFILE* file, const Audio& audio)
{
	std::vector<float> interleaved (static_cast<size_t> (audio.frames) * audio.channels);
	for (long i = 0; i < audio.frames; ++i)
		for (int c = 0; c < audio.channels; ++c)
			interleaved[static_cast<size_t> (i) * audio.channels + c] = audio.data[c][i];
	const bool ok = sf_writef_float (file, interleaved.data (), audio.frames) == audio.frames;
	return sf_close (file) == 0 && ok;
}

double percentile (std::vector<double> values, double q)
{
	if (values.empty ())
		return 0;
	std::sort (values.begin (), values.end ());
	return values[std::min (values.size () - 1, static_cast<size_t> (q * values.size ()))];
}

void drawProgress (long done, long total)
{
	const int width = 40;
	const int filled = total ? static_cast<int> (width * done / total) : width;
	std::fprintf (stderr, "\r[%.*s%*s] %3ld%%", filled, "########################################", width - filled, "",
	              total ? 100 * done / total : 100);
	std::fflush (stderr);
}

} // namespace

int processCommand (const ProcessOptions& options)
{
	std::string error;
	auto fail = [&] (const std::string& message) {
		std::fprintf (stderr, "vst3host: %s\n", message.c_str ());
		return 1;
	};
	if (options.block < 1 || options.block > 65536)
		return fail ("--block must be between 1 and 65536");

	Audio input;
	if (!options.input.empty () && !readFile (options.input, input, error))
		return fail (error);
	std::vector<TimedMidi> notes;
	double midiSeconds = 0;
	if (!options.midi.empty () && !readMidiFile (options.midi, notes, midiSeconds, error))
		return fail (error);
	const double rate = options.rate > 0 ? options.rate : input.rate > 0 ? input.rate : 48000.0;

	Bundle bundle;
	if (!bundle.load (options.bundle, error))
		return fail (error);
	Effect effect;
	if (!effect.create (bundle.factory (), error, options.className) ||
	    !effect.setup (rate, options.block, error, options.realtime))
		return fail (error);
	if (!effect.activateMainBuses (!options.midiOut.empty ()) && !options.midi.empty ())
		return fail (
		    "the plug-in takes no MIDI (it has no event input; --class NAME picks another class of its module)");
	const std::vector<int> inBuses = effect.busChannels (Vst::kInput);
	const std::vector<int> outBuses = effect.busChannels (Vst::kOutput);
	const int outChannels = std::max (1, outBuses.empty () ? 0 : outBuses[0]);

	SNDFILE* outFile = openOutput (options.output, outChannels, rate, error);
	if (!outFile)
		return fail (error);
	if (!options.loadState.empty () && !effect.loadState (options.loadState, error))
	{
		sf_close (outFile);
		return fail (error);
	}
	if (!effect.activate (error))
	{
		sf_close (outFile);
		return fail (error);
	}

	// Without a sound file: silence as long as the notes last and the
	// plug-in's tail after them (an endless tail is given 10 s).
	long frames = input.frames;
	if (!options.midi.empty ())
	{
		const uint32 tail = effect.processor->getTailSamples ();
		const double tailSeconds = tail == Vst::kInfiniteTail ? 10.0 : std::min (10.0, tail / rate);
		// The last message's own sample is played too.
		frames = std::max (frames,
		                   std::lround (midiSeconds * rate) + 1 + static_cast<long> (std::ceil (tailSeconds * rate)));
	}
	// Controllers, channel pressure and pitch bend go to the parameters the
	// plug-in assigns them to; without an assignment they are left out.
	Vst::IMidiMapping* mapping = nullptr;
	if (effect.controller)
		effect.controller->queryInterface (Vst::IMidiMapping::iid, reinterpret_cast<void**> (&mapping));
	std::vector<Vst::ParamID> controllerParameter (notes.size (), Vst::kNoParamId);
	long unplayed = 0;
	for (size_t i = 0; i < notes.size (); ++i)
	{
		int channel = 0, controller = 0;
		double value = 0;
		Vst::Event event {};
		if (toController (notes[i], channel, controller, value))
		{
			Vst::ParamID id = Vst::kNoParamId;
			if (mapping &&
			    mapping->getMidiControllerAssignment (0, static_cast<int16> (channel),
			                                          static_cast<Vst::CtrlNumber> (controller), id) == kResultTrue)
				controllerParameter[i] = id;
			else
				++unplayed;
		}
		else if (!toEvent (notes[i], 0, event))
		{
			++unplayed;
		}
	}
	if (mapping)
		mapping->release ();

	// The file's channels feed the main bus (a mono file every channel of
	// it); the other input buses get silence.
	Audio output;
	output.channels = outChannels;
	output.frames = frames;
	output.data.assign (outChannels, std::vector<float> (static_cast<size_t> (frames)));
	const long blocks = (frames + options.block - 1) / options.block;
	std::vector<double> micros (static_cast<size_t> (blocks));
	// Whether each block came out equal to its input. A block the effect
	// processed can come out equal too (unity gain, an analyser), so this
	// tells changed blocks from equal ones, never processed from skipped.
	std::vector<char> equalToInput (static_cast<size_t> (blocks));
	std::vector<TimedMidi> sent;
	std::atomic<long> done {0};

	std::thread audioThread ([&] {
		// Every bus gets buffers: a host gives them to inactive buses too.
		std::vector<std::vector<std::vector<float>>> inStore, outStore;
		std::vector<std::vector<float*>> inPointers, outPointers;
		std::vector<Vst::AudioBusBuffers> inBusList (inBuses.size ()), outBusList (outBuses.size ());
		for (size_t b = 0; b < inBuses.size (); ++b)
		{
			inStore.emplace_back (inBuses[b], std::vector<float> (options.block));
			inPointers.emplace_back (inBuses[b]);
		}
		for (size_t b = 0; b < outBuses.size (); ++b)
		{
			outStore.emplace_back (outBuses[b], std::vector<float> (options.block));
			outPointers.emplace_back (outBuses[b]);
		}
		for (size_t b = 0; b < inBuses.size (); ++b)
		{
			for (int c = 0; c < inBuses[b]; ++c)
				inPointers[b][c] = inStore[b][c].data ();
			inBusList[b].numChannels = inBuses[b];
			inBusList[b].channelBuffers32 = inPointers[b].data ();
		}
		for (size_t b = 0; b < outBuses.size (); ++b)
		{
			for (int c = 0; c < outBuses[b]; ++c)
				outPointers[b][c] = outStore[b][c].data ();
			outBusList[b].numChannels = outBuses[b];
			outBusList[b].channelBuffers32 = outPointers[b].data ();
		}
		EventList eventsIn, eventsOut;
		ParameterPoints points;
		size_t next = 0;
		const auto blockTime = std::chrono::duration_cast<std::chrono::steady_clock::duration> (
		    std::chrono::duration<double> (options.block / rate));
		auto due = std::chrono::steady_clock::now ();
		for (long b = 0; b < blocks; ++b)
		{
			if (options.realtime)
			{
				due += blockTime;
				std::this_thread::sleep_until (due);
			}
			const long start = b * options.block;
			const int n = static_cast<int> (std::min<long> (options.block, frames - start));
			for (size_t bus = 0; bus < inBuses.size (); ++bus)
				for (int c = 0; c < inBuses[bus]; ++c)
				{
					float* to = inStore[bus][c].data ();
					std::fill_n (to, n, 0.0f);
					if (bus > 0 || input.channels == 0 || start >= input.frames)
						continue;
					const auto& source = input.data[std::min (c, input.channels - 1)];
					std::copy_n (source.begin () + start, std::min<long> (n, input.frames - start), to);
				}
			// The MIDI file's messages of this block, each at its sample.
			eventsIn.clear ();
			eventsOut.clear ();
			points.clear ();
			for (; next < notes.size (); ++next)
			{
				const long at = std::lround (notes[next].seconds * rate);
				if (at >= start + n)
					break;
				const auto offset = static_cast<int32> (std::max (0L, at - start));
				Vst::Event event {};
				if (controllerParameter[next] != Vst::kNoParamId)
				{
					int channel = 0, controller = 0;
					double value = 0;
					toController (notes[next], channel, controller, value);
					points.add (controllerParameter[next], offset, value);
				}
				else if (toEvent (notes[next], offset, event))
				{
					eventsIn.addEvent (event);
				}
			}
			Vst::ProcessData data {};
			data.processMode = options.realtime ? Vst::kRealtime : Vst::kOffline;
			data.symbolicSampleSize = Vst::kSample32;
			data.numSamples = n;
			data.numInputs = static_cast<int32> (inBuses.size ());
			data.numOutputs = static_cast<int32> (outBuses.size ());
			data.inputs = inBusList.empty () ? nullptr : inBusList.data ();
			data.outputs = outBusList.empty () ? nullptr : outBusList.data ();
			data.inputEvents = &eventsIn;
			data.outputEvents = &eventsOut;
			data.inputParameterChanges = &points;
			const auto t0 = std::chrono::steady_clock::now ();
			effect.processor->process (data);
			micros[b] = std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now () - t0).count ();
			for (int c = 0; c < outChannels && !outBuses.empty () && c < outBuses[0]; ++c)
				std::copy_n (outStore[0][c].data (), n, output.data[c].data () + start);
			bool same = !inBuses.empty () && !outBuses.empty ();
			for (int c = 0; same && c < std::min (inBuses[0], outBuses[0]); ++c)
				same = std::memcmp (inStore[0][c].data (), outStore[0][c].data (), sizeof (float) * n) == 0;
			equalToInput[b] = same;
			if (!options.midiOut.empty ())
				for (const Vst::Event& event : eventsOut.events ())
				{
					TimedMidi midi;
					midi.seconds = (start + event.sampleOffset) / rate;
					if (toMidi (event, midi.bytes))
						sent.push_back (std::move (midi));
				}
			done.store (b + 1, std::memory_order_release);
		}
	});
	const bool terminal = ::isatty (STDERR_FILENO);
	while (done.load (std::memory_order_acquire) < blocks)
	{
		if (terminal)
			drawProgress (done.load (), blocks);
		std::this_thread::sleep_for (std::chrono::milliseconds (100));
	}
	audioThread.join ();
	if (terminal)
	{
		drawProgress (blocks, blocks);
		std::fputc ('\n', stderr);
	}

	if (!writeFile (outFile, output))
		return fail ("cannot write " + options.output);

	const long changed = std::count (equalToInput.begin (), equalToInput.end (), 0);
	const double budget = 1e6 * options.block / rate;
	const long misses = std::count_if (micros.begin (), micros.end (), [&] (double t) { return t > budget; });
	std::printf ("blocks: %ld (%d samples at %g Hz)\n", blocks, options.block, rate);
	if (!options.input.empty ())
		std::printf ("changed by the plug-in: %ld, equal to the input: %ld\n", changed, blocks - changed);
	std::printf ("per-block time: median %.1f us, p99 %.1f us, max %.1f us (budget %.1f us)\n",
	             percentile (micros, 0.5), percentile (micros, 0.99), percentile (micros, 1.0), budget);
	std::printf ("deadline misses: %ld\n", misses);
	if (!options.midi.empty ())
		std::printf (
		    "MIDI messages played: %ld of %zu (left out: %ld without a VST 3 event or an assigned parameter)\n",
		    static_cast<long> (notes.size ()) - unplayed, notes.size (), unplayed);
	std::printf ("wrote %s\n", options.output.c_str ());
	if (!options.midiOut.empty ())
	{
		if (!writeMidiFile (options.midiOut, sent, error))
			return fail (error);
		std::printf ("wrote %s (%zu MIDI messages from the plug-in)\n", options.midiOut.c_str (), sent.size ());
	}
	if (!options.saveState.empty ())
	{
		if (!effect.saveState (options.saveState, error))
			return fail (error);
		std::printf ("saved state to %s\n", options.saveState.c_str ());
	}
	return 0;
}

} // namespace vst3host
