#include "plugin/block_exchange.h"

#include "plugin/chain_links.h"
#include "plugin/host_buses.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/shared_memory.h"

#include "log/log.h"
#include "protocol/block_events.h"
#include "protocol/block_parameters.h"
#include "protocol/cross_copy.h"
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

BlockExchange::BlockExchange (const int32& instanceId, const Tandem::SharedMemoryCreator& file,
                              OutpostLifecycle& outpost, const HostBuses& buses, const ChainFile::Place& chain)
: instanceId_ (instanceId), file_ (file), outpost_ (outpost), buses_ (buses), chain_ (chain)
{
}

void BlockExchange::passthroughBuses (Vst::ProcessData& data, int32 samples)
{
	const bool doubles = data.symbolicSampleSize == Vst::kSample64;
	const size_t bytes = (doubles ? sizeof (double) : sizeof (float)) * samples;
	for (int32 b = 0; b < data.numOutputs && data.outputs; ++b)
	{
		Vst::AudioBusBuffers& out = data.outputs[b];
		void** to =
		    doubles ? reinterpret_cast<void**> (out.channelBuffers64) : reinterpret_cast<void**> (out.channelBuffers32);
		if (!to)
			continue;
		const Vst::AudioBusBuffers* in = b < data.numInputs && data.inputs ? &data.inputs[b] : nullptr;
		void** from = !in       ? nullptr
		              : doubles ? reinterpret_cast<void**> (in->channelBuffers64)
		                        : reinterpret_cast<void**> (in->channelBuffers32);
		const int32 given = from ? in->numChannels : 0;
		for (int32 c = 0; c < out.numChannels; ++c)
		{
			if (c < given && from[c] && to[c] != from[c])
				std::memcpy (to[c], from[c], bytes);
			else if (c >= given || !from[c])
				std::memset (to[c], 0, bytes);
		}
		out.silenceFlags = given > 0 ? in->silenceFlags : ~uint64 {0};
	}
}

Tandem::HandshakeClock::duration BlockExchange::blockTimeout (int32 samples, double sampleRate)
{
	const auto blockLength = std::chrono::duration<double> (sampleRate > 0.0 ? samples / sampleRate : 0.0);
	return std::max<Tandem::HandshakeClock::duration> (
	    kMinBlockTimeout, std::chrono::duration_cast<Tandem::HandshakeClock::duration> (blockLength));
}

tresult BlockExchange::process (Vst::ProcessData& data, double sampleRate, bool offline)
{
	++processCallCount_;
	if (processCallCount_ % 10000 == 0)
		Tandem::logFromAudio ("[QuillMarlow #%d] process() #%d - shm=%d wine_pid=%d", instanceId_, processCallCount_,
		                      file_.isMapped () ? 1 : 0, static_cast<int> (outpost_.audioPid ()));

	const int32 samples = Tandem::clampCount (data.numSamples, Tandem::kMaxBlockSize);
	// Every block goes to outpost, whatever its buses: an instrument has no
	// input, a MIDI effect no audio, and a call without samples may carry
	// parameter changes or events.
	// The commonest block, one 32-bit bus each way with the same channels (a
	// stereo effect), travels in the audio region's slots; every other one
	// through the bus region's pools.
	Vst::AudioBusBuffers noBus;
	const bool oneEach = data.numInputs == 1 && data.numOutputs == 1 && data.inputs && data.outputs &&
	                     data.symbolicSampleSize == Vst::kSample32 &&
	                     data.inputs[0].numChannels == data.outputs[0].numChannels &&
	                     data.inputs[0].numChannels <= Tandem::kMaxChannels && data.inputs[0].channelBuffers32 &&
	                     data.outputs[0].channelBuffers32;
	const Vst::AudioBusBuffers& in = oneEach ? data.inputs[0] : noBus;
	Vst::AudioBusBuffers& out = oneEach ? data.outputs[0] : noBus;
	const int32 channels = oneEach ? std::max (in.numChannels, 0) : 0;
	const size_t bytes = sizeof (float) * samples;
	const ChainLinks::Turn chainTurn (
	    instanceId_, sampleRate > 0.0 && samples > 0 ? static_cast<std::int64_t> (samples * 1e9 / sampleRate) : 0,
	    chain_.chain, chain_.slot);

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
		awaitingLateBlock_ = false; // the new outpost's slots start empty

	Tandem::AudioData* audio = file_.audioData ();
	const pid_t pid = outpost_.audioPid ();
	if (!audio || pid <= 0 || blockTurn.turn == OutpostLifecycle::AudioTurn::PassThrough)
	{
		if (processCallCount_ % 10000 == 1)
			Tandem::logFromAudio ("[QuillMarlow #%d] Passthrough mode (no outpost)", instanceId_);
		passthroughBuses (data, samples);
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
			passthroughBuses (data, samples);
			return kResultOk;
		}
		awaitingLateBlock_ = false;
	}

	audio->numChannels = channels;
	audio->numSamples = samples;
	Tandem::BusData* buses = file_.busData ();
	Tandem::writeIfChanged (buses->block.pools, oneEach ? 0 : 1);
	if (Tandem::UICommand* ui = file_.uiCommand ())
	{
		Tandem::storeIfChanged<uint8_t> (ui->followsAnother, chainTurn.followsAnother () ? 1 : 0);
		const int cpu = sched_getcpu (); // the C library reads it without a system call
		Tandem::storeIfChanged<uint8_t> (ui->hostCpu, cpu >= 0 && cpu < 255 ? static_cast<uint8_t> (cpu + 1) : 0);
	}
	audio->sampleRate = sampleRate;
	// What the host gave beside the audio: its mode, its context (or none)
	// and which inputs are silent.
	Tandem::SessionData* session = file_.sessionData ();
	session->blockMode = data.processMode;
	Tandem::storeHostContext (*session, data.processContext);
	sendParameterChanges (data.inputParameterChanges);
	sendEvents (data.inputEvents, samples);
	if (oneEach)
	{
		session->inputSilenceFlags = in.silenceFlags;
		for (int32 i = 0; i < channels; ++i)
			Tandem::crossCopy (audio->inputBuffers[i], in.channelBuffers32[i], bytes);
	}
	else
		writeBusBlock (data, samples);

	const auto posted = Tandem::HandshakeClock::now ();
	const bool wokeOutpost = Tandem::postBlock (*audio, chain_.own ());
	outpostWakeCount_ += wokeOutpost ? 1 : 0;

	if (processCallCount_ <= 10)
	{
		fullFence ();
		Tandem::logFromAudio ("[QuillMarlow #%d] Sending block %d (samples=%d, inputReady=%d)", instanceId_,
		                      processCallCount_, samples, audio->inputReady.load (std::memory_order_relaxed));
	}

	// A real-time block waits about its own length; a bounce waits for as long
	// as outpost lives and answers, up to a bound that a hung outpost hits.
	const auto timeout =
	    offline ? Tandem::HandshakeClock::duration (kOfflineTimeout) : blockTimeout (samples, sampleRate);
	const auto slice = offline ? Tandem::HandshakeClock::duration (kOfflineProbeInterval) : timeout;
	const Tandem::AnswerWait answer = Tandem::waitForAnswer (
	    *audio, posted + timeout, slice, [pid] { return !processGone (pid); }, wokeOutpost);
	const long long waitedUs =
	    std::chrono::duration_cast<std::chrono::microseconds> (Tandem::HandshakeClock::now () - posted).count ();

	if (answer == Tandem::AnswerWait::Gone)
	{
		// Every later block passes through at once, until the watcher has
		// started a new outpost.
		outpost_.audioFoundGone ();
		passthroughBuses (data, samples);
		return kResultOk;
	}
	if (answer == Tandem::AnswerWait::TimedOut)
	{
		++timeoutCount_;
		awaitingLateBlock_ = true;
		if (timeoutCount_ <= 10 || timeoutCount_ % 100 == 0)
			Tandem::logFromAudio ("[QuillMarlow #%d] TIMEOUT #%d (block %d, waited %lld us)", instanceId_,
			                      timeoutCount_, processCallCount_, waitedUs);
		passthroughBuses (data, samples);
		return kResultOk;
	}

	++audioOkCount_;
	if (audioOkCount_ <= 10 || audioOkCount_ % 10000 == 0)
		Tandem::logFromAudio ("[QuillMarlow #%d] Audio OK #%d (block %d, waited %lld us)", instanceId_, audioOkCount_,
		                      processCallCount_, waitedUs);
	if (oneEach)
	{
		for (int32 i = 0; i < channels; ++i)
			Tandem::crossCopy (out.channelBuffers32[i], audio->outputBuffers[i], bytes);
		out.silenceFlags = session->outputSilenceFlags;
	}
	else
		readBusBlock (data, samples);
	receiveEvents (data.outputEvents, samples);
	if (data.outputParameterChanges)
	{
		const Tandem::BlockParameters& points = file_.parameterData ()->block;
		Tandem::readPoints (points.output, points.outputCount, Tandem::kMaxOutputPoints, samples,
		                    *data.outputParameterChanges);
	}
	return kResultOk;
}

void BlockExchange::writeBusBlock (const Vst::ProcessData& data, int32 samples)
{
	Tandem::BusBlock& block = file_.busData ()->block;
	uint8* pool = file_.busData ()->inputPool;
	const bool doubles = data.symbolicSampleSize == Vst::kSample64;
	const int32 sampleSize = doubles ? Vst::kSample64 : Vst::kSample32;
	const size_t stride = Tandem::channelStride (samples, sampleSize);
	const size_t bytes = (doubles ? sizeof (double) : sizeof (float)) * samples;
	block.sampleSize = sampleSize;
	// Each direction's channels, bus after bus, as far as the pool holds them
	// (the host was refused layouts beyond it).
	for (int32 dir = 0; dir < 2; ++dir)
	{
		const Vst::AudioBusBuffers* buses = dir == 0 ? data.inputs : data.outputs;
		const int32 count =
		    buses ? Tandem::clampCount (dir == 0 ? data.numInputs : data.numOutputs, Tandem::kMaxAudioBuses) : 0;
		int32 room = Tandem::poolChannels (samples, sampleSize);
		for (int32 b = 0; b < count; ++b)
		{
			const Vst::AudioBusBuffers& bus = buses[b];
			void* const* channels = doubles ? reinterpret_cast<void* const*> (bus.channelBuffers64)
			                                : reinterpret_cast<void* const*> (bus.channelBuffers32);
			// An inactive bus may come without buffers: it carries nothing.
			const int32 n = channels ? Tandem::clampCount (bus.numChannels, room) : 0;
			blockChannels_[dir][b] = n;
			if (dir == 0)
			{
				block.inputChannels[b] = static_cast<uint8> (n);
				block.inputSilence[b] = bus.silenceFlags;
				for (int32 c = 0; c < n; ++c)
				{
					if (channels[c])
						Tandem::crossCopy (pool, channels[c], bytes);
					else
						std::memset (pool, 0, bytes);
					pool += stride;
				}
			}
			else
				block.outputChannels[b] = static_cast<uint8> (n);
			room -= n;
		}
		(dir == 0 ? block.inputCount : block.outputCount) = count;
		blockBuses_[dir] = count;
	}
}

void BlockExchange::readBusBlock (Vst::ProcessData& data, int32 samples)
{
	const Tandem::BusBlock& block = file_.busData ()->block;
	const uint8* pool = file_.busData ()->outputPool;
	const bool doubles = data.symbolicSampleSize == Vst::kSample64;
	const size_t stride = Tandem::channelStride (samples, doubles ? Vst::kSample64 : Vst::kSample32);
	const size_t bytes = (doubles ? sizeof (double) : sizeof (float)) * samples;
	// The counts are the ones written with the block, not what the file says now.
	for (int32 b = 0; b < blockBuses_[1]; ++b)
	{
		Vst::AudioBusBuffers& bus = data.outputs[b];
		void** channels =
		    doubles ? reinterpret_cast<void**> (bus.channelBuffers64) : reinterpret_cast<void**> (bus.channelBuffers32);
		const int32 n = blockChannels_[1][b];
		for (int32 c = 0; c < n; ++c, pool += stride)
			if (channels[c])
				Tandem::crossCopy (channels[c], pool, bytes);
		// Channels beyond what the file holds come back silent.
		for (int32 c = n; channels && c < bus.numChannels; ++c)
			if (channels[c])
				std::memset (channels[c], 0, bytes);
		bus.silenceFlags = block.outputSilence[b];
	}
}

void BlockExchange::sendEvents (Vst::IEventList* events, int32 samples)
{
	Tandem::EventBlock& block = file_.eventData ()->input;
	const int32 count = events ? events->getEventCount () : 0;
	if (count <= 0)
	{
		Tandem::writeIfChanged (block.count, 0);
		return;
	}
	Tandem::EventWriter writer (*sentEvents_, samples, buses_.eventInputs ());
	for (int32 i = 0; i < count; ++i)
	{
		if (writer.count () == Tandem::kMaxEvents)
		{
			// The rest cannot fit: counted, not read.
			writer.cuts.full += count - i;
			break;
		}
		writer.addFrom (*events, i);
	}
	writer.finish ();
	Tandem::publishEvents (*sentEvents_, block);
	if (writer.cuts.any ())
		logEventCuts (writer.cuts, true);
}

void BlockExchange::receiveEvents (Vst::IEventList* events, int32 samples)
{
	const Tandem::EventBlock& block = file_.eventData ()->output;
	if (!events || block.count == 0)
		return;
	Tandem::EventCuts cuts;
	const int32 count =
	    Tandem::readEvents (block, samples, buses_.eventOutputs (), eventBytes_.data (), receivedEvents_.get (), cuts);
	for (int32 i = 0; i < count; ++i)
		events->addEvent (receivedEvents_[i]);
	if (cuts.any ())
		logEventCuts (cuts, false);
}

void BlockExchange::logEventCuts (const Tandem::EventCuts& cuts, bool host)
{
	// First occurrences, then every 1000th.
	if (++eventCutCount_ > 3 && eventCutCount_ % 1000 != 0)
		return;
	Tandem::logFromAudio ("[QuillMarlow #%d] %s events left out of a block: %d beyond the %d a block holds, %d with "
	                      "more bytes than the %d a block holds, %d outside the block, %d on a bus that does not "
	                      "exist, %d malformed (%d blocks so far)",
	                      instanceId_, host ? "The host's" : "The served processor's", static_cast<int> (cuts.full),
	                      static_cast<int> (Tandem::kMaxEvents), static_cast<int> (cuts.tooLarge),
	                      static_cast<int> (Tandem::kMaxEventBytes), static_cast<int> (cuts.outside),
	                      static_cast<int> (cuts.noBus), static_cast<int> (cuts.malformed), eventCutCount_);
}

void BlockExchange::sendParameterChanges (Vst::IParameterChanges* changes)
{
	Tandem::BlockParameters& points = file_.parameterData ()->block;
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
