// The audio exchange: each block handed to outpost through the shared file
// and its answer awaited, or passed through when outpost cannot answer.
#include "plugin/processor.h"
#include "plugin/chain_links.h"

#include "log/log.h"
#include "protocol/block_parameters.h"
#include "protocol/handshake.h"
#include "protocol/host_context.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sched.h>

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

namespace {

// A real-time block waits at least this long for outpost; longer blocks
// wait their own length.
constexpr auto kMinBlockTimeout = std::chrono::milliseconds (3);
// Offline, a block waits while outpost lives, asking after it this often,
// and gives up only after the bound.
constexpr auto kOfflineTimeout = std::chrono::seconds (10);
constexpr auto kOfflineProbeInterval = std::chrono::milliseconds (10);

} // namespace

void QuillMarlowProcessor::passthrough (const Vst::AudioBusBuffers& in, Vst::AudioBusBuffers& out,
                                        int32 channels, int32 samples) const
{
	out.silenceFlags = in.silenceFlags;
	for (int32 i = 0; i < channels; ++i)
		if (in.channelBuffers32[i] != out.channelBuffers32[i])
			std::memcpy (out.channelBuffers32[i], in.channelBuffers32[i], sizeof (float) * samples);
}

Tandem::HandshakeClock::duration QuillMarlowProcessor::blockTimeout (int32 samples) const
{
	const auto blockLength = std::chrono::duration<double> (sampleRate_ > 0.0 ? samples / sampleRate_ : 0.0);
	return std::max<Tandem::HandshakeClock::duration> (
	    kMinBlockTimeout, std::chrono::duration_cast<Tandem::HandshakeClock::duration> (blockLength));
}

tresult PLUGIN_API QuillMarlowProcessor::process (Vst::ProcessData& data)
{
	++processCallCount_;
	if (processCallCount_ % 10000 == 0)
		Tandem::logFromAudio ("[QuillMarlow #%d] process() #%d - shm=%d wine_pid=%d", instanceId_, processCallCount_,
		                      sharedMemory_.isMapped () ? 1 : 0, static_cast<int> (outpost_.audioPid ()));

	// A call without buses may still carry parameter changes (hosts send
	// them so while no audio runs): they go to outpost with no channels.
	const bool buses = data.numInputs > 0 && data.numOutputs > 0 && data.inputs && data.outputs;
	if (!buses && !hasPoints (data.inputParameterChanges))
		return kResultOk;
	Vst::AudioBusBuffers noInput, noOutput;
	const Vst::AudioBusBuffers& in = buses ? data.inputs[0] : noInput;
	Vst::AudioBusBuffers& out = buses ? data.outputs[0] : noOutput;
	// Never write past the output bus, never read past the input bus.
	int32 channels = std::min ({in.numChannels, out.numChannels, Tandem::kMaxChannels});
	if (channels < 0 || !in.channelBuffers32 || !out.channelBuffers32)
		channels = 0;
	const int32 samples = Tandem::clampCount (data.numSamples, Tandem::kMaxBlockSize);
	const size_t bytes = sizeof (float) * samples;
	const ChainLinks::Turn chainTurn (instanceId_, sampleRate_ > 0.0 && samples > 0
	                                                   ? static_cast<std::int64_t> (samples * 1e9 / sampleRate_)
	                                                   : 0);

	// The slots are ours only while outpost's link is up; while it is being
	// restarted every block passes through.
	struct BlockTurn
	{
		explicit BlockTurn (OutpostLifecycle& o) : outpost (o), turn (o.beginAudioBlock ()) {}
		~BlockTurn () { outpost.endAudioBlock (); }
		OutpostLifecycle& outpost;
		const OutpostLifecycle::AudioTurn turn;
	} blockTurn (outpost_);
	if (blockTurn.turn == OutpostLifecycle::AudioTurn::ExchangeWithNewOutpost)
		awaitingLateBlock_ = false;  // the new outpost's slots start empty

	Tandem::AudioData* audio = sharedMemory_.audioData ();
	const pid_t pid = outpost_.audioPid ();
	if (!audio || pid <= 0 || blockTurn.turn == OutpostLifecycle::AudioTurn::PassThrough)
	{
		if (processCallCount_ % 10000 == 1)
			Tandem::logFromAudio ("[QuillMarlow #%d] Passthrough mode (no outpost)", instanceId_);
		passthrough (in, out, channels, samples);
		return kResultOk;
	}

	if (awaitingLateBlock_)
	{
		// The slots stay outpost's until it has finished the block that timed out.
		fullFence ();
		if (audio->inputReady.load (std::memory_order_relaxed) != 0 ||
		    audio->outputReady.load (std::memory_order_relaxed) == 0)
		{
			Tandem::wakeIfAsleepOnPostedBlock (*audio);
			passthrough (in, out, channels, samples);
			return kResultOk;
		}
		awaitingLateBlock_ = false;
	}

	audio->numChannels = channels;
	audio->numSamples = samples;
	if (Tandem::UICommand* ui = sharedMemory_.uiCommand ())
	{
		ui->followsAnother.store (chainTurn.followsAnother () ? 1 : 0, std::memory_order_relaxed);
		const int cpu = sched_getcpu (); // the C library reads it without a system call
		ui->hostCpu.store (cpu >= 0 && cpu < 255 ? static_cast<uint8_t> (cpu + 1) : 0, std::memory_order_relaxed);
	}
	audio->sampleRate = sampleRate_;
	// What the host gave beside the audio: its mode, its context (or none)
	// and which inputs are silent.
	Tandem::SessionData* session = sharedMemory_.sessionData ();
	session->blockMode = data.processMode;
	Tandem::storeHostContext (*session, data.processContext);
	session->inputSilenceFlags = in.silenceFlags;
	sendParameterChanges (data.inputParameterChanges);
	for (int32 i = 0; i < channels; ++i)
		std::memcpy (audio->inputBuffers[i], in.channelBuffers32[i], bytes);

	const auto posted = Tandem::HandshakeClock::now ();
	const bool wokeOutpost = Tandem::postBlock (*audio);

	if (processCallCount_ <= 10)
	{
		fullFence ();
		Tandem::logFromAudio ("[QuillMarlow #%d] Sending block %d (samples=%d, inputReady=%d)", instanceId_,
		                      processCallCount_, samples, audio->inputReady.load (std::memory_order_relaxed));
	}

	// A real-time block waits about its own length; a bounce waits for as long
	// as outpost lives and answers, up to a bound that a hung outpost hits.
	const bool offline = processSetup.processMode == Vst::kOffline;
	const auto timeout = offline ? Tandem::HandshakeClock::duration (kOfflineTimeout) : blockTimeout (samples);
	const auto slice = offline ? Tandem::HandshakeClock::duration (kOfflineProbeInterval) : timeout;
	const Tandem::AnswerWait answer =
	    Tandem::waitForAnswer (*audio, posted + timeout, slice, [pid] { return !processGone (pid); }, wokeOutpost);
	const long long waitedUs =
	    std::chrono::duration_cast<std::chrono::microseconds> (Tandem::HandshakeClock::now () - posted).count ();

	if (answer == Tandem::AnswerWait::Gone)
	{
		// Every later block passes through at once, until the watcher has
		// started a new outpost.
		outpost_.audioFoundGone ();
		passthrough (in, out, channels, samples);
		return kResultOk;
	}
	if (answer == Tandem::AnswerWait::TimedOut)
	{
		++timeoutCount_;
		awaitingLateBlock_ = true;
		if (timeoutCount_ <= 10 || timeoutCount_ % 100 == 0)
			Tandem::logFromAudio ("[QuillMarlow #%d] TIMEOUT #%d (block %d, waited %lld us)", instanceId_,
			                      timeoutCount_, processCallCount_, waitedUs);
		passthrough (in, out, channels, samples);
		return kResultOk;
	}

	++audioOkCount_;
	if (audioOkCount_ <= 10 || audioOkCount_ % 10000 == 0)
		Tandem::logFromAudio ("[QuillMarlow #%d] Audio OK #%d (block %d, waited %lld us)", instanceId_, audioOkCount_,
		                      processCallCount_, waitedUs);
	for (int32 i = 0; i < channels; ++i)
		std::memcpy (out.channelBuffers32[i], audio->outputBuffers[i], bytes);
	out.silenceFlags = session->outputSilenceFlags;
	if (data.outputParameterChanges)
	{
		const Tandem::BlockParameters& points = sharedMemory_.parameterData ()->block;
		Tandem::readPoints (points.output, points.outputCount, Tandem::kMaxOutputPoints, samples,
		                    *data.outputParameterChanges);
	}
	return kResultOk;
}

bool QuillMarlowProcessor::hasPoints (Vst::IParameterChanges* changes)
{
	if (!changes)
		return false;
	for (int32 i = 0; i < changes->getParameterCount (); ++i)
		if (Vst::IParamValueQueue* queue = changes->getParameterData (i))
			if (queue->getPointCount () > 0)
				return true;
	return false;
}

void QuillMarlowProcessor::sendParameterChanges (Vst::IParameterChanges* changes)
{
	Tandem::BlockParameters& points = sharedMemory_.parameterData ()->block;
	Tandem::PointsCut cut = Tandem::PointsCut::None;
	points.inputCount = Tandem::writePoints (changes, points.input, Tandem::kMaxInputPoints, cut);
	if (cut == Tandem::PointsCut::None)
		return;
	// First occurrences, then every 1000th.
	if (++pointsCutCount_ <= 3 || pointsCutCount_ % 1000 == 0)
		Tandem::logFromAudio ("[QuillMarlow #%d] The host gave more parameter points in one block than outpost takes "
		                      "(%d): %s (%d blocks so far)",
		                      instanceId_, static_cast<int> (Tandem::kMaxInputPoints),
		                      cut == Tandem::PointsCut::ToLastPoints ? "kept the last point of each parameter"
		                                                            : "left the parameters beyond out",
		                      pointsCutCount_);
}

} // namespace QuillMarlow
} // namespace Steinberg
