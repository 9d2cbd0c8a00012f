// PluginInstance: the host's activation of the served processor (set-up,
// activation, deactivation), its processing state, and block processing
// with what the host gave beside the audio.

#include "plugin_instance.h"
#include "log/log.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/vstspeaker.h"
#include "protocol/block_parameters.h"
#include "protocol/tandem_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

// A block in the served processor ends long before this; one that does not
// is a hung plug-in, and the activation goes on without it.
constexpr auto kAudioLeaveTimeout = std::chrono::seconds (2);

} // namespace

PluginInstance::AudioTurn::AudioTurn (PluginInstance& instance) : instance_ (instance)
{
	// Sequentially consistent both ways: either suspendAudio sees us inside,
	// or we see the processor taken away.
	instance_.audioInside_.store (true, std::memory_order_seq_cst);
	ready_ = instance_.audioSetup_.load (std::memory_order_seq_cst) && instance_.audioProcessor_;
}

PluginInstance::AudioTurn::~AudioTurn ()
{
	instance_.audioInside_.store (false, std::memory_order_release);
}

void PluginInstance::suspendAudio ()
{
	audioSetup_.store (false, std::memory_order_seq_cst);
	const auto deadline = std::chrono::steady_clock::now () + kAudioLeaveTimeout;
	while (audioInside_.load (std::memory_order_seq_cst))
	{
		if (std::chrono::steady_clock::now () >= deadline)
		{
			logError () << "[PluginInstance] The audio thread did not leave the processor: going on all the same";
			return;
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (1));
	}
}

void PluginInstance::touchAudioPages (std::int32_t maxSamples)
{
	const std::size_t samples = static_cast<std::size_t> (std::clamp (maxSamples, 1, kMaxBlockSize));
	std::memset (silence_, 0, samples * sizeof silence_[0]);
	std::memset (sink_, 0, samples * sizeof sink_[0]);
	inputEvents_.touchHead ();
	outputEvents_.touchHead ();
}

tresult PluginInstance::activate (const ProcessSetup& wanted)
{
	if (!component_)
	{
		logError () << "[PluginInstance] No component for audio setup";
		return kResultFalse;
	}
	suspendAudio ();
	// A set-up is only taken by an inactive processor.
	deactivate ();
	if (!processor ())
	{
		logError () << "[PluginInstance] Component doesn't support IAudioProcessor";
		return kNoInterface;
	}

	// The buses the block is built from (a host that never asked gets the defaults).
	activateDefaultBuses ();
	readLayout ();
	ProcessSetup setup = wanted;
	tresult result = audioProcessor_->setupProcessing (setup);
	if (result != kResultOk)
	{
		logError () << "[PluginInstance] setupProcessing failed: " << result;
		return result;
	}
	logInfo () << "[PluginInstance] Audio setup: " << setup.sampleRate << " Hz, " << setup.maxSamplesPerBlock
	           << " samples" << (setup.processMode == kOffline ? ", offline" : "")
	           << (setup.processMode == kPrefetch ? ", prefetch" : "");
	touchAudioPages (setup.maxSamplesPerBlock);

	result = component_->setActive (true);
	if (result != kResultOk)
	{
		logError () << "[PluginInstance] setActive(true) failed: " << result;
		return result;
	}
	logInfo () << "[PluginInstance] Component activated";
	active_ = true;
	sampleRate_ = setup.sampleRate;
	maxBlockSize_ = setup.maxSamplesPerBlock;
	processMode_ = setup.processMode;
	sampleSize_ = setup.symbolicSampleSize;
	audioSetup_.store (true, std::memory_order_release);
	return kResultOk;
}

void PluginInstance::deactivate ()
{
	suspendAudio ();
	if (!active_)
		return;
	if (processing_)
	{
		audioProcessor_->setProcessing (false);
		processing_ = false;
		logInfo () << "[PluginInstance] Processing stopped";
	}
	component_->setActive (false);
	active_ = false;
	logInfo () << "[PluginInstance] Component deactivated";
}

void PluginInstance::followProcessing (bool processing)
{
	const AudioTurn turn (*this);
	if (turn.ready ())
		applyProcessing (processing);
}

void PluginInstance::applyProcessing (bool processing)
{
	if (processing == processing_)
		return;
	// Plug-ins that do nothing here answer kNotImplemented: the state follows
	// the host's all the same.
	const tresult result = audioProcessor_->setProcessing (processing);
	processing_ = processing;
	logFromAudio ("[PluginInstance] Processing %s (%d)", processing ? "started" : "stopped", static_cast<int> (result));
}

bool PluginInstance::setupAudio (double sampleRate, std::int32_t maxBlockSize)
{
	const ProcessSetup setup {kRealtime, kSample32, maxBlockSize, sampleRate};
	if (activate (setup) != kResultOk)
		return false;
	followProcessing (true);
	logInfo () << "[PluginInstance] Audio processing enabled";
	return true;
}

bool PluginInstance::processAudio (const float* input, float* output, std::int32_t numSamples, std::int32_t numChannels,
                                   HostBlock* host)
{
	// One bus each way, in slots kMaxBlockSize samples apart.
	HostBlock realTime;
	if (!host)
		host = &realTime;
	numChannels = clampCount (numChannels, kMaxChannels);
	BlockAudio in, out;
	in.base = reinterpret_cast<std::uint8_t*> (const_cast<float*> (input));
	out.base = reinterpret_cast<std::uint8_t*> (output);
	in.stride = out.stride = sizeof (float) * kMaxBlockSize;
	in.busCount = out.busCount = 1;
	in.channels[0] = out.channels[0] = numChannels;
	in.silence[0] = host->inputSilenceFlags;
	const bool processed = processBlock (numSamples, kSample32, in, out, host);
	host->outputSilenceFlags = out.silence[0];
	return processed;
}

void PluginInstance::passThrough (std::int32_t numSamples, std::size_t sampleBytes, const BlockAudio& input,
                                  BlockAudio& output)
{
	const std::size_t bytes = sampleBytes * static_cast<std::size_t> (numSamples);
	std::int32_t inChannel = 0, outChannel = 0;
	for (std::int32_t b = 0; b < output.busCount; ++b)
	{
		const std::int32_t given = b < input.busCount ? input.channels[b] : 0;
		for (std::int32_t c = 0; c < output.channels[b]; ++c)
		{
			std::uint8_t* to = output.base + (outChannel + c) * output.stride;
			if (c < given)
				std::memmove (to, input.base + (inChannel + c) * input.stride, bytes);
			else
				std::memset (to, 0, bytes);
		}
		output.silence[b] = b < input.busCount ? input.silence[b] : ~std::uint64_t {0};
		outChannel += output.channels[b];
		inChannel += given;
	}
}

bool PluginInstance::processBlock (std::int32_t numSamples, std::int32_t sampleSize, BlockAudio& input,
                                   BlockAudio& output, HostBlock* host)
{
	// Process-wide: one set for all instances (outpost has one), touched only
	// by the audio thread.
	static std::int32_t processCallCount = 0;
	static bool everModified = false;
	HostBlock realTime;
	if (!host)
		host = &realTime;

	++processCallCount;
	// The counts come from a file another process writes: bound them to the
	// pools before anything is built or copied.
	numSamples = clampCount (numSamples, kMaxBlockSize);
	const std::size_t sampleBytes = sampleSize == kSample64 ? sizeof (double) : sizeof (float);
	for (BlockAudio* audio : {&input, &output})
	{
		audio->busCount = clampCount (audio->busCount, kMaxAudioBuses);
		std::int32_t room = audio->stride >= sampleBytes * static_cast<std::size_t> (numSamples)
		                        ? (audio->stride ? static_cast<std::int32_t> (kChannelPoolBytes / audio->stride) : 0)
		                        : 0;
		room = clampCount (room, kMaxBusChannels);
		for (std::int32_t b = 0; b < audio->busCount; ++b)
		{
			audio->channels[b] = clampCount (audio->channels[b], room);
			room -= audio->channels[b];
		}
	}

	// What passes through comes out as silent as it went in, and reports nothing.
	host->outputPointCount = 0;
	if (host->outputEvents)
		writeIfChanged (host->outputEvents->count, 0);
	const AudioTurn turn (*this);
	if (!turn.ready () || sampleSize != sampleSize_)
	{
		if (processCallCount <= 5)
			logFromAudio ("[PluginInstance] PASSTHROUGH - audioProcessor_=%#llx audioSetup_=%d",
			              static_cast<unsigned long long> (reinterpret_cast<std::uintptr_t> (audioProcessor_)),
			              audioSetup_ ? 1 : 0);
		passThrough (numSamples, sampleBytes, input, output);
		return false;
	}
	applyProcessing (host->processing);

	// Each served bus with its own channels: the host's where it gave them,
	// else silence (inputs) or the sink (outputs).
	bool readsSilence = false;
	bool fits = true;
	for (std::int32_t dir = 0; dir < 2 && fits; ++dir)
	{
		const BlockAudio& audio = dir == 0 ? input : output;
		std::int32_t hostChannel = 0, pointer = 0;
		for (std::int32_t b = 0; b < layout_.audioBuses[dir]; ++b)
		{
			const std::int32_t served = layout_.channels[dir][b];
			const std::int32_t given = b < audio.busCount ? audio.channels[b] : 0;
			if (pointer + served > kMaxServedChannels)
			{
				fits = false;
				break;
			}
			AudioBusBuffers& bus = busBuffers_[dir][b];
			bus.numChannels = served;
			bus.silenceFlags = dir == 0 ? (b < audio.busCount ? audio.silence[b] : ~std::uint64_t {0}) : 0;
			bus.channelBuffers32 = reinterpret_cast<Sample32**> (&channelPointers_[dir][pointer]);
			for (std::int32_t c = 0; c < served; ++c)
			{
				void* at = c < given ? static_cast<void*> (audio.base + (hostChannel + c) * audio.stride)
				                     : static_cast<void*> (dir == 0 ? silence_ : sink_);
				readsSilence |= dir == 0 && c >= given;
				channelPointers_[dir][pointer++] = at;
			}
			hostChannel += given;
		}
	}
	if (!fits)
	{
		if (processCallCount <= 5)
			logFromAudio ("[PluginInstance] The served buses have more channels than %d",
			              static_cast<int> (kMaxServedChannels));
		passThrough (numSamples, sampleBytes, input, output);
		return false;
	}
	// A processor may write into its inputs: the silence is made anew.
	if (readsSilence)
		std::memset (silence_, 0, sampleBytes * static_cast<std::size_t> (numSamples));

	ProcessData data;
	data.processMode = host->processMode;
	data.symbolicSampleSize = sampleSize;
	data.numSamples = numSamples;
	data.numInputs = layout_.audioBuses[0];
	data.numOutputs = layout_.audioBuses[1];
	data.inputs = data.numInputs ? busBuffers_[0] : nullptr;
	data.outputs = data.numOutputs ? busBuffers_[1] : nullptr;
	// The host's changes and the controller's edits, and room for the values
	// the processor reports back.
	gatherChanges (*host, numSamples);
	outputChanges_.clear ();
	data.inputParameterChanges = &inputChanges_;
	data.outputParameterChanges = &outputChanges_;
	// The host's events, and room for the processor's.
	EventCuts inputCuts, outputCuts;
	if (host->inputEvents)
		inputEvents_.read (*host->inputEvents, numSamples, layout_.eventBuses[0], inputCuts);
	else
		inputEvents_.clear ();
	data.inputEvents = &inputEvents_;
	if (host->outputEvents)
		outputEvents_.start (*host->outputEvents, numSamples, layout_.eventBuses[1]);
	data.outputEvents = host->outputEvents ? &outputEvents_ : nullptr;
	// The host's own context, or none: nothing is made up.
	data.processContext = host->context;

	const tresult result = audioProcessor_->process (data);
	collectOutputChanges (host);
	if (host->outputEvents)
		outputCuts = outputEvents_.finish ();
	if (inputCuts.any () || outputCuts.any ())
		logEventCuts (inputCuts, outputCuts);
	if (result != kResultOk)
	{
		if (host->outputEvents)
			host->outputEvents->count = 0;
		if (processCallCount <= 5)
			logFromAudio ("[PluginInstance] process() FAILED: %d", static_cast<int> (result));
		passThrough (numSamples, sampleBytes, input, output);
		return false;
	}
	// Host channels the served buses do not have come back silent.
	std::int32_t hostChannel = 0;
	for (std::int32_t b = 0; b < output.busCount; ++b)
	{
		const std::int32_t served = b < layout_.audioBuses[1] ? layout_.channels[1][b] : 0;
		for (std::int32_t c = served; c < output.channels[b]; ++c)
			std::memset (output.base + (hostChannel + c) * output.stride, 0,
			             sampleBytes * static_cast<std::size_t> (numSamples));
		output.silence[b] =
		    b < layout_.audioBuses[1] && served > 0 ? busBuffers_[1][b].silenceFlags : ~std::uint64_t {0};
		hostChannel += output.channels[b];
	}

	// An empty block has no first sample and cannot have been modified.
	const bool hasSample = sampleSize == kSample32 && input.busCount > 0 && output.busCount > 0 &&
	                       input.channels[0] > 0 && output.channels[0] > 0 && numSamples > 0;
	const float in0 = hasSample ? *reinterpret_cast<const float*> (input.base) : 0.0f;
	const float out0 = hasSample ? *reinterpret_cast<const float*> (output.base) : 0.0f;
	const bool modified = hasSample && !(in0 == out0); // NaN on either side counts as modified

	if (modified && !everModified)
	{
		everModified = true;
		logFromAudio ("[PluginInstance] *** AUDIO EFFECT ACTIVATED at block %d (after %g seconds) ***",
		              processCallCount, static_cast<double> (processCallCount) * 256.0 / 48000.0);
	}
	if (processCallCount <= 5 || processCallCount % 1000 == 0)
		logFromAudio ("[PluginInstance] process() #%d in[0]=%g out[0]=%g modified=%s", processCallCount,
		              static_cast<double> (in0), static_cast<double> (out0), modified ? "YES" : "NO");
	return true;
}

void PluginInstance::logEventCuts (const EventCuts& in, const EventCuts& out)
{
	static std::uint32_t blocks = 0;
	if (++blocks > 3 && blocks % 1000 != 0)
		return;
	for (const EventCuts* cuts : {&in, &out})
	{
		if (!cuts->any ())
			continue;
		logFromAudio ("[PluginInstance] %s events left out of a block: %d beyond the %d a block holds, %d with "
		              "more bytes than the %d a block holds, %d outside the block, %d on a bus that does not exist, "
		              "%d malformed (%u blocks so far)",
		              cuts == &in ? "The host's" : "The served processor's", static_cast<int> (cuts->full),
		              static_cast<int> (kMaxEvents), static_cast<int> (cuts->tooLarge),
		              static_cast<int> (kMaxEventBytes), static_cast<int> (cuts->outside),
		              static_cast<int> (cuts->noBus), static_cast<int> (cuts->malformed), blocks);
	}
}

bool PluginInstance::flushParameterChanges ()
{
	const AudioTurn turn (*this);
	if (!turn.ready ())
		return false;
	inputChanges_.clear ();
	const bool held = !heldEdits_.empty ();
	heldEdits_.release (inputChanges_, HeldEdits::Clock::now (), true);
	if (toProcessor_.drainInto (inputChanges_) == 0 && !held)
		return true;
	outputChanges_.clear ();
	// No audio: no buses, no samples, no transport; only the changes.
	ProcessData data;
	data.processMode = processMode_;
	data.symbolicSampleSize = kSample32;
	data.numSamples = 0;
	data.numInputs = 0;
	data.numOutputs = 0;
	data.inputs = nullptr;
	data.outputs = nullptr;
	data.inputParameterChanges = &inputChanges_;
	data.outputParameterChanges = &outputChanges_;
	data.inputEvents = nullptr;
	data.outputEvents = nullptr;
	data.processContext = nullptr;
	const tresult result = audioProcessor_->process (data);
	collectOutputChanges ();
	return result == kResultOk;
}

void PluginInstance::gatherChanges (const HostBlock& host, std::int32_t numSamples)
{
	inputChanges_.clear ();
	if (host.inputPoints)
		readPoints (host.inputPoints, host.inputPointCount, kMaxInputPoints, numSamples, inputChanges_);
	const int32 hostQueues = inputChanges_.getParameterCount ();
	auto hostSends = [&] (ParamID id) {
		for (int32 q = 0; q < hostQueues; ++q)
			if (inputChanges_.queue (q)->id () == id)
				return true;
		return false;
	};
	if (!host.holdEdits && heldEdits_.empty () && hostQueues == 0)
	{
		toProcessor_.drainInto (inputChanges_);
		return;
	}
	for (int32 q = 0; q < hostQueues && !heldEdits_.empty (); ++q)
		heldEdits_.hostSent (inputChanges_.queue (q)->id ());
	// The clock only when an edit is held or to be held.
	HeldEdits::Clock::time_point now {};
	auto clock = [&now] {
		if (now == HeldEdits::Clock::time_point {})
			now = HeldEdits::Clock::now ();
		return now;
	};
	ParameterEdit edit {};
	while (toProcessor_.take (edit))
	{
		// In this block the host drives the parameter.
		if (hostSends (edit.id))
			continue;
		if (!host.holdEdits || !heldEdits_.hold (edit.id, edit.value, clock ()))
			inputChanges_.setValue (edit.id, edit.value);
	}
	if (!heldEdits_.empty ())
		heldEdits_.release (inputChanges_, clock (), !host.holdEdits);
}

void PluginInstance::collectOutputChanges (HostBlock* host)
{
	for (int32 i = 0; i < outputChanges_.getParameterCount (); ++i)
	{
		ParamValueQueue* queue = outputChanges_.queue (i);
		ParamValue value = 0.0;
		if (!queue->lastValue (value))
			continue;
		if (!fromProcessor_.push ({queue->id (), value}))
			droppedOutputs_.fetch_add (1, std::memory_order_relaxed);
	}
	if (!host || !host->outputPoints)
		return;
	PointsCut cut = PointsCut::None;
	host->outputPointCount = writePoints (&outputChanges_, host->outputPoints, kMaxOutputPoints, cut);
	if (cut != PointsCut::None)
	{
		// First occurrences, then every 1000th.
		static std::uint32_t cuts = 0;
		if (++cuts <= 3 || cuts % 1000 == 0)
			logFromAudio ("[PluginInstance] The processor reported more parameter points than the host's block "
			              "takes (%d): %s (%u blocks so far)",
			              static_cast<int> (kMaxOutputPoints),
			              cut == PointsCut::ToLastPoints ? "kept the last point of each" : "left parameters out", cuts);
	}
}

} // namespace Tandem
