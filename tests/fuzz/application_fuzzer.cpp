// outpost's command and audio handling fed arbitrary shared-file contents:
// the command slot, the audio block's header and the state header come from
// the input, and so do the served plug-in's behaviour and state size. The
// file is an allocation of exactly the file's size, so that any access
// outside it is caught. After each handler the reply fields must be within
// the protocol's ranges.
#include "application.h"
#include "fake_served_plugin.h"
#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

namespace Tandem {

struct OutpostApplicationTestAccess
{
	// An instance of the application on the fuzzer's file, serving `plugin`.
	static void attach (OutpostApplication& app, unsigned char* base, std::unique_ptr<PluginInstance> plugin)
	{
		app.instances_.push_back (std::make_unique<InstanceHost> ("fuzz"));
		host (app).instance_.regions = regionsAt (base);
		host (app).instance_.plugin = std::move (plugin);
	}
	static void audio (OutpostApplication& app) { host (app).audio_.processBlock (); }
	// Publishes the list, then one main-loop turn of the parameter region.
	static void parameters (OutpostApplication& app)
	{
		host (app).parameters_.start ();
		host (app).parameters_.service (host (app).linuxCalls_);
	}
	static void detach (OutpostApplication& app)
	{
		host (app).parameters_.stop ();
		host (app).instance_.plugin.reset ();
		host (app).instance_.regions = {};
		app.instances_.clear ();
	}
	static InstanceHost& host (OutpostApplication& app) { return *app.instances_.front (); }
};

} // namespace Tandem

namespace {

using namespace Tandem;

constexpr size_t kHeader = 80; // command slot, audio header, state header
// After the behaviour's 6 bytes: the block's point count, the request's
// kind and serial, and the host value ring's count.
constexpr size_t kParameterHeader = 16;

// Cleared for every input: what one input left in the file (an output
// block, a bus list) must not decide how the next one is judged.
unsigned char* freshSharedFile ()
{
	static unsigned char* file = static_cast<unsigned char*> (std::calloc (1, kFileSize));
	std::memset (file, 0, kFileSize);
	return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
	if (size < kHeader + 6 + kParameterHeader)
		return 0;
	unsigned char* file = freshSharedFile ();
	std::memcpy (file + kUICommandOffset, data, 40);
	std::memcpy (file + kAudioDataOffset, data + 40, 32);
	std::memcpy (file + kStateDataOffset, data + 72, 8);
	// The flags are one byte each in the file; keep them 0 or 1 as a bool
	// must be (the other side writes them as bools too).
	file[kUICommandOffset + 8] &= 1;
	file[kStateDataOffset] &= 1;
	const std::uint8_t flags = data[kHeader];
	fuzzplug::Behaviour behaviour;
	behaviour.processFails = flags & 2;
	behaviour.setupFails = flags & 4;
	std::memcpy (&behaviour.stateSize, data + kHeader + 1, 4);
	behaviour.stateSize = clampCount (behaviour.stateSize, kMaxStateSize + 16);
	behaviour.stateFill = data[kHeader + 5];
	// The parameter region as the Linux side (or anything else) left it.
	ParameterData* parameters = parametersAt (file);
	const std::uint8_t* p = data + kHeader + 6;
	std::memcpy (&parameters->block.inputCount, p, 4);
	std::memcpy (&parameters->request.kind, p + 4, 4);
	std::int32_t serial = 0;
	std::memcpy (&serial, p + 8, 4);
	parameters->request.posted.store (serial);
	parameters->request.answered.store (0);
	std::uint32_t written = 0;
	std::memcpy (&written, p + 12, 4);
	parameters->hostValues.written.store (written);
	parameters->hostValues.read.store (0);
	// The rest of the input is the start of the input slots, state bytes,
	// the block's points, the request's arguments, the host's values and the
	// MIDI requests' arguments.
	const std::uint8_t* body = p + kParameterHeader;
	const size_t rest = size - kHeader - 6 - kParameterHeader;
	auto* audio = reinterpret_cast<AudioData*> (file + kAudioDataOffset);
	auto* state = reinterpret_cast<StateData*> (file + kStateDataOffset);
	std::memcpy (audio->inputBuffers, body, std::min (rest, sizeof audio->inputBuffers));
	std::memcpy (state->stateBuffer, body, std::min (rest, sizeof state->stateBuffer));
	std::memcpy (parameters->block.input, body, std::min (rest, sizeof parameters->block.input));
	std::memcpy (&parameters->request.id, body, std::min (rest, sizeof parameters->request - 16));
	std::memcpy (parameters->hostValues.entries, body, std::min (rest, sizeof parameters->hostValues.entries));
	std::memcpy (&parameters->midi.bus, body, std::min (rest, offsetof (MidiControllerData, mapping) - 4));

	OutpostApplication app ("/nonexistent", "fuzz");
	fuzzplug::Factory* factory = nullptr;
	std::unique_ptr<PluginInstance> plugin;
	if (flags & 1)
	{
		factory = new fuzzplug::Factory (behaviour);
		plugin = std::make_unique<PluginInstance> (factory);
		if (!plugin->createInstance ())
			fail ("fake plug-in not created");
		if (flags & 8)
			plugin->setupAudio (48000.0, kMaxBlockSize);
	}
	fuzzplug::Component* component = factory ? factory->component : nullptr;
	OutpostApplicationTestAccess::attach (app, file, std::move (plugin));

	auto* ui = reinterpret_cast<UICommand*> (file + kUICommandOffset);
	const std::int32_t code = ui->command;
	const std::int32_t postedSize = state->stateSize;
	app.processUICommand ();
	if (!ui->processed.load ())
		fail ("command not acknowledged");
	if (code == static_cast<std::int32_t> (CommandCode::GetState) ||
	    code == static_cast<std::int32_t> (CommandCode::GetControllerState))
	{
		if (!state->stateReady.load ())
			fail ("GetState without stateReady");
		if (state->stateSize < 0 || state->stateSize > kMaxStateSize)
			fail ("GetState reported a size outside the buffer");
	}
	if (code == static_cast<std::int32_t> (CommandCode::SetState) && component)
	{
		const bool valid = postedSize > 0 && postedSize <= kMaxStateSize;
		if (valid && (component->lastState.size () != static_cast<size_t> (postedSize) ||
		              std::memcmp (component->lastState.data (), state->stateBuffer, postedSize) != 0))
			fail ("SetState did not hand over exactly the posted bytes");
		if (!valid && !component->lastState.empty ())
			fail ("SetState handed over a state of invalid size");
	}
	if (code == static_cast<std::int32_t> (CommandCode::ShowEditor) && ui->wineWindow != 0)
		fail ("a window id without a window");

	OutpostApplicationTestAccess::parameters (app);
	if (component && parameters->request.answered.load () != parameters->request.posted.load ())
		fail ("request not answered");
	if (parameters->list.count < 0 || parameters->list.count > kMaxParameters)
		fail ("a list count outside the list");

	OutpostApplicationTestAccess::audio (app);
	if (component && (parameters->block.outputCount < 0 || parameters->block.outputCount > kMaxOutputPoints))
		fail ("an output point count outside the block");
	if (component)
	{
		if (audio->inputReady.load () != 0 || audio->outputReady.load () != 1)
			fail ("block not completed");
		const std::int32_t channels = clampCount (audio->numChannels, kMaxChannels);
		const std::int32_t samples = clampCount (audio->numSamples, kMaxBlockSize);
		for (std::int32_t c = 0; c < channels; ++c)
			for (std::int32_t i = 0; i < samples; ++i)
			{
				const float in = audio->inputBuffers[c][i];
				const float out = audio->outputBuffers[c][i];
				const bool halved = out == 0.5f * in || (out != out && in != in);
				const bool copied = std::memcmp (&out, &in, sizeof in) == 0;
				if (!halved && !copied)
					fail ("output neither processed nor copied from its own input");
			}
	}
	OutpostApplicationTestAccess::detach (app);
	if (factory)
		factory->release ();
	return 0;
}
