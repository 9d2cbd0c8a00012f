#include "plugin/processor.h"
#include "plugin/chain_links.h"
#include "plugin/command_slot.h"
#include "plugin/sleep_fully.h"

#include "plugin/connection_messages.h"
#include "plugin/own_message.h"
#include "plugin/plugids.h"

#include "log/log.h"
#include "log/never_destroyed.h"
#include "protocol/handshake.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sched.h>
#include <thread>
#include <unistd.h>

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
constexpr auto kStateTimeout = std::chrono::seconds (5);
// The watcher's own state requests wait less: the host's thread may wait
// for them to finish.
constexpr auto kFetchTimeout = std::chrono::seconds (2);

// Ids start at pid * 1000, computed in 32-bit arithmetic (it may wrap).
int32 firstInstanceId ()
{
	return static_cast<int32> (static_cast<uint32> (::getpid ()) * 1000u);
}

} // namespace

namespace {
Tandem::NeverDestroyed<std::vector<QuillMarlowProcessor*>> registeredProcessors;
Tandem::NeverDestroyed<std::mutex> registryLock;
} // namespace

std::vector<QuillMarlowProcessor*>& QuillMarlowProcessor::s_activeInstances_ = registeredProcessors.get ();
std::mutex& QuillMarlowProcessor::s_instancesMutex_ = registryLock.get ();
std::atomic<int32> QuillMarlowProcessor::s_instanceCounter_ {firstInstanceId ()};

QuillMarlowProcessor::QuillMarlowProcessor ()
: instanceId_ (s_instanceCounter_.fetch_add (1)), outpost_ (instanceId_, sharedMemory_, slotLock_)
{
	Tandem::logInfo () << "[QuillMarlow] New instance created with ID: " << instanceId_;
	registerInstance ();
	setControllerClass (kControllerUID);
}

QuillMarlowProcessor::~QuillMarlowProcessor ()
{
	unregisterInstance ();
	cleanupSharedMemory ();
	terminateOutpost ();
}

FUnknown* QuillMarlowProcessor::createInstance (void*)
{
	return static_cast<Vst::IAudioProcessor*> (new QuillMarlowProcessor ());
}

void QuillMarlowProcessor::registerInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	s_activeInstances_.push_back (this);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Registered (total: " << s_activeInstances_.size ()
	                   << ")";
}

void QuillMarlowProcessor::unregisterInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto it = std::find (s_activeInstances_.begin (), s_activeInstances_.end (), this);
	if (it != s_activeInstances_.end ())
		s_activeInstances_.erase (it);
	// The registry is never destroyed: its memory goes when the last
	// processor does, so that unloading the library leaves nothing behind.
	if (s_activeInstances_.empty ())
		s_activeInstances_.shrink_to_fit ();
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Unregistered (remaining: "
	                   << s_activeInstances_.size () << ")";
}

template <typename Match>
QuillMarlowProcessor* QuillMarlowProcessor::findLocked (Match match)
{
	for (auto* processor : s_activeInstances_)
		if (match (*processor))
			return processor;
	return nullptr;
}

Tandem::UICommand* QuillMarlowProcessor::findActiveUICommand ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () != nullptr; });
	return found ? found->sharedMemory_.uiCommand () : nullptr;
}

bool QuillMarlowProcessor::isUICommandMapped (const Tandem::UICommand* ui)
{
	int32 unused = 0;
	return instanceIdOfUICommand (ui, unused);
}

bool QuillMarlowProcessor::findActiveInstanceId (int32& instanceId)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () != nullptr; });
	if (found)
		instanceId = found->instanceId_;
	return found != nullptr;
}

bool QuillMarlowProcessor::instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId)
{
	if (!ui)
		return false;
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([ui] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () == ui; });
	if (found)
		instanceId = found->instanceId_;
	return found != nullptr;
}

bool QuillMarlowProcessor::withLatencyCache (int32 instanceId, const std::function<void (LatencyCache&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (found)
		use (found->latency_);
	return found != nullptr;
}

bool QuillMarlowProcessor::withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	Tandem::UICommand* ui = found ? found->sharedMemory_.uiCommand () : nullptr;
	if (!ui)
		return false;
	// The processor's own threads post into the slot too.
	std::lock_guard<std::mutex> slot (found->slotLock_);
	use (*ui);
	return true;
}

bool QuillMarlowProcessor::outpostStatus (int32 instanceId, bool& up, int32& restarts)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (!found)
		return false;
	up = found->outpost_.linkUp ();
	restarts = found->outpost_.relaunchCount ();
	return true;
}

tresult PLUGIN_API QuillMarlowProcessor::connect (IConnectionPoint* other)
{
	const tresult result = AudioEffect::connect (other);
	if (result != kResultOk)
		return result;
	// Hosts may put proxies between the two objects, so the peer is told
	// through a message rather than found by casting it.
	// A host that makes no messages (or none with attributes) gets ours.
	IPtr<Vst::IMessage> message = owned (allocateMessage ());
	if (!message || !message->getAttributes ())
		message = owned (newOwnMessage ());
	Vst::IAttributeList* attributes = message->getAttributes ();
	message->setMessageID (kProcessorIdMessage);
	attributes->setInt (kProcessorIdAttribute, instanceId_);
	if (other->notify (message) == kResultOk)
		Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Instance id sent to the controller";
	else
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The controller did not take our instance id";
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::initialize (FUnknown* context)
{
	tresult result = AudioEffect::initialize (context);
	if (result != kResultOk)
		return result;
	addAudioInput (STR16 ("Stereo In"), Vst::SpeakerArr::kStereo);
	addAudioOutput (STR16 ("Stereo Out"), Vst::SpeakerArr::kStereo);
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::setupProcessing (Vst::ProcessSetup& setup)
{
	sampleRate_ = setup.sampleRate;
	maxSamplesPerBlock_ = setup.maxSamplesPerBlock;
	Tandem::logInfo () << "[QuillMarlow] Setup: " << sampleRate_ << " Hz, " << maxSamplesPerBlock_ << " samples";
	return AudioEffect::setupProcessing (setup);
}

tresult PLUGIN_API QuillMarlowProcessor::canProcessSampleSize (int32 symbolicSampleSize)
{
	return symbolicSampleSize == Vst::kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillMarlowProcessor::setActive (TBool state)
{
	if (!state)
	{
		Tandem::logInfo () << "[QuillMarlow] Désactivation du plugin (outpost maintenu en vie)";
		// outpost is no longer restarted when it ends; its state is still kept.
		outpost_.setActive (false);
		return AudioEffect::setActive (false);
	}

	Tandem::logInfo () << "[QuillMarlow] Activation du plugin...";
	// The watcher may be restarting outpost: the activation takes over.
	outpost_.stopWatch ();
	// An outpost whose restart was cut short never got its link: start anew.
	if (outpost_.running () && outpost_.linkUp ())
	{
		Tandem::logInfo () << "[QuillMarlow] outpost déjà actif (PID: " << outpost_.pid () << "), réutilisation";
	}
	else
	{
		if (!initSharedMemory ())
		{
			Tandem::logError () << "[QuillMarlow] Erreur: Impossible d'initialiser la mémoire partagée";
			return kResultFalse;
		}
		// The new file starts with both audio flags clear: nothing is in flight.
		awaitingLateBlock_ = false;
		if (!launchOutpost ())
		{
			Tandem::logError () << "[QuillMarlow] Erreur: Impossible de lancer le outpost";
			return kResultFalse;
		}
		fullFence ();
		if (sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1)
		{
			std::lock_guard<std::mutex> lock (stateLock_);
			sendStateToOutpost ([] { return false; });
		}
	}
	// Latency and tail once outpost has come up (a hung one answers nothing).
	fullFence ();
	if (outpost_.running () && sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1)
		latency_.fetch ();
	startWatch ();
	Tandem::logInfo () << "[QuillMarlow] Plugin activé avec succès";
	return AudioEffect::setActive (true);
}

void QuillMarlowProcessor::startWatch ()
{
	OutpostLifecycle::Hooks hooks;
	hooks.restoreState = [this] (const std::function<bool ()>& stopping, const std::function<void ()>& publish) {
		std::lock_guard<std::mutex> lock (stateLock_);
		const bool restored = sendStateToOutpost (stopping);
		publish ();
		return restored;
	};
	hooks.fetchState = [this] (const std::function<bool ()>& stopping) { fetchSettledState (stopping); };
	outpost_.startWatch (std::move (hooks));
}

tresult PLUGIN_API QuillMarlowProcessor::terminate ()
{
	cleanupSharedMemory ();
	terminateOutpost ();
	return AudioEffect::terminate ();
}

bool QuillMarlowProcessor::initSharedMemory ()
{
	const std::string path = "/tmp/tandem_" + std::to_string (instanceId_) + ".shm";
	Tandem::CreateResult result {false, {}};
	{
		// Under the registry lock: views look the mapping up through it.
		std::lock_guard<std::mutex> lock (s_instancesMutex_);
		result = sharedMemory_.create (path);
	}
	if (!result.success)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] Erreur shared memory: " << result.error;
		return false;
	}
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Fichier mappé créé: " << path;
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] UICommand at offset 0, AudioData at offset "
	                   << Tandem::kAudioDataOffset;
	return true;
}

void QuillMarlowProcessor::cleanupSharedMemory ()
{
	// The watcher reads the file (edits, the link): it stops first.
	outpost_.stopWatch ();
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	sharedMemory_.release ();
}

bool QuillMarlowProcessor::launchOutpost ()
{
	bool cameUp = false;
	return outpost_.launch ([this] (Tandem::OutpostConfig& config) { adjustOutpostConfig (config); }, sampleRate_,
	                        maxSamplesPerBlock_, cameUp);
}

void QuillMarlowProcessor::terminateOutpost ()
{
	outpost_.terminate ();
}

void QuillMarlowProcessor::passthrough (const Vst::AudioBusBuffers& in, Vst::AudioBusBuffers& out,
                                        int32 channels, int32 samples) const
{
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

	if (data.numInputs == 0 || data.numOutputs == 0 || !data.inputs || !data.outputs)
		return kResultOk;

	const Vst::AudioBusBuffers& in = data.inputs[0];
	Vst::AudioBusBuffers& out = data.outputs[0];
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
	return kResultOk;
}

bool QuillMarlowProcessor::writeState (IBStream* stream, const uint8* bytes, int32 size) const
{
	// Stream format: 4-byte little-endian size, then the bytes. A host stream
	// that refuses or shortens a write (a full disk) must not pass for a save.
	const uint8 header[4] = {static_cast<uint8> (size), static_cast<uint8> (size >> 8),
	                         static_cast<uint8> (size >> 16), static_cast<uint8> (size >> 24)};
	auto writeAll = [stream] (const uint8* data, int32 count) {
		int32 written = 0;
		return stream->write (const_cast<uint8*> (data), count, &written) == kResultOk && written == count;
	};
	if (writeAll (header, 4) && writeAll (bytes, size))
		return true;
	Tandem::logError () << "[QuillMarlow] Failed to write state to the host's stream";
	return false;
}

bool QuillMarlowProcessor::postWhenFree (Tandem::CommandCode code, Deadline deadline,
                                         const std::function<bool ()>& stopping, bool takeAnyway)
{
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	for (;;)
	{
		const bool late = std::chrono::steady_clock::now () >= deadline || stopping ();
		{
			std::lock_guard<std::mutex> slot (slotLock_);
			if (ui->processed.load (std::memory_order_acquire) || (late && takeAnyway))
			{
				postCommand (ui, code);
				return true;
			}
		}
		if (late)
			return false;
		Tandem::sleepFully (10);
	}
}

tresult PLUGIN_API QuillMarlowProcessor::getState (IBStream* stream)
{
	Tandem::logInfo () << "[QuillMarlow] getState() called - requesting state from outpost";
	std::lock_guard<std::mutex> lock (stateLock_);
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	Tandem::StateData* state = sharedMemory_.stateData ();

	// Saving a project while outpost is gone (or being restarted) keeps the
	// last state we knew.
	auto saveLastKnown = [&] () -> tresult {
		if (lastState_.empty () || !stream)
			return kResultFalse;
		if (!writeState (stream, lastState_.data (), static_cast<int32> (lastState_.size ())))
			return kResultFalse;
		Tandem::logInfo () << "[QuillMarlow] Last known state saved: " << lastState_.size () << " bytes";
		return kResultOk;
	};

	if (!ui || !state || !outpost_.serving ())
	{
		Tandem::logError () << "[QuillMarlow] Cannot get state - no connection to outpost";
		return saveLastKnown ();
	}

	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (Tandem::CommandCode::GetState, [] { return false; });
	// An outpost that ends meanwhile does not answer: no need to wait it out.
	if (!pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || !outpost_.alive (); },
	                deadline) ||
	    !state->stateReady.load (std::memory_order_acquire))
	{
		Tandem::logError () << "[QuillMarlow] Timeout waiting for state from outpost";
		return saveLastKnown ();
	}

	const int32 size = state->stateSize;
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		Tandem::logInfo () << "[QuillMarlow] No state data available";
		return kResultOk;
	}
	lastState_.assign (state->stateBuffer, state->stateBuffer + size);
	if (stream && !writeState (stream, lastState_.data (), size))
		return kResultFalse;
	Tandem::logInfo () << "[QuillMarlow] State saved: " << size << " bytes";
	return kResultOk;
}

void QuillMarlowProcessor::fetchSettledState (const std::function<bool ()>& stopping)
{
	std::lock_guard<std::mutex> lock (stateLock_);
	Tandem::StateData* state = sharedMemory_.stateData ();
	if (!state || !sharedMemory_.uiCommand () || !outpost_.serving ())
		return;
	state->stateReady.store (false, std::memory_order_relaxed);
	// Shorter than the host's waits: the host's thread may be waiting for
	// this lock. A busy slot is left to its poster; the next edit tries again.
	const Deadline deadline = std::chrono::steady_clock::now () + kFetchTimeout;
	if (!postWhenFree (Tandem::CommandCode::GetState, deadline, stopping, false))
		return;
	pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire) || stopping (); }, deadline);
	const int32 size = state->stateSize;
	if (!state->stateReady.load (std::memory_order_acquire) || size < 1 || size > Tandem::kMaxStateSize)
	{
		if (!stopping ())
			Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] outpost sent no state after the edits";
		return;
	}
	lastState_.assign (state->stateBuffer, state->stateBuffer + size);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] State kept after edits: " << size << " bytes";
}

tresult PLUGIN_API QuillMarlowProcessor::setState (IBStream* stream)
{
	Tandem::logInfo () << "[QuillMarlow] setState() called - restoring state to outpost";
	if (!stream)
		return kResultFalse;

	uint8 header[4] = {};
	int32 numRead = 0;
	if (stream->read (header, 4, &numRead) != kResultOk || numRead != 4)
	{
		Tandem::logError () << "[QuillMarlow] Failed to read state size";
		return kResultFalse;
	}
	const int32 size = static_cast<int32> (static_cast<uint32> (header[0]) | static_cast<uint32> (header[1]) << 8 |
	                                       static_cast<uint32> (header[2]) << 16 |
	                                       static_cast<uint32> (header[3]) << 24);
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		Tandem::logError () << "[QuillMarlow] Invalid state size: " << size;
		return kResultFalse;
	}

	// Read into memory first so that a short stream leaves the shared file as it was.
	std::vector<uint8> bytes (static_cast<size_t> (size));
	if (stream->read (bytes.data (), size, &numRead) != kResultOk || numRead != size)
	{
		Tandem::logError () << "[QuillMarlow] Failed to read state data";
		return kResultFalse;
	}
	std::lock_guard<std::mutex> lock (stateLock_);
	lastState_ = std::move (bytes);

	Tandem::StateData* state = sharedMemory_.stateData ();
	if (state)
	{
		std::memcpy (state->stateBuffer, lastState_.data (), lastState_.size ());
		state->stateSize = size;
		Tandem::logInfo () << "[QuillMarlow] State loaded: " << size << " bytes";
	}
	if (!sharedMemory_.uiCommand () || !outpost_.serving ())
	{
		Tandem::logInfo () << "[QuillMarlow] State cached - will be applied when outpost starts";
		return kResultOk;
	}
	sendStateToOutpost ([] { return false; });
	return kResultOk;
}

bool QuillMarlowProcessor::sendStateToOutpost (const std::function<bool ()>& stopping)
{
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	Tandem::StateData* state = sharedMemory_.stateData ();
	if (!ui || !state || lastState_.empty ())
		return true;
	std::memcpy (state->stateBuffer, lastState_.data (), lastState_.size ());
	state->stateSize = static_cast<int32> (lastState_.size ());
	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (Tandem::CommandCode::SetState, stopping);
	if (pollUntil ([&] { return ui->processed.load (std::memory_order_acquire) || stopping (); }, deadline) &&
	    ui->processed.load (std::memory_order_acquire))
	{
		Tandem::logInfo () << "[QuillMarlow] State sent to outpost";
		return true;
	}
	Tandem::logError () << "[QuillMarlow] Timeout waiting for outpost to apply state";
	return false;
}

Deadline QuillMarlowProcessor::postStateCommand (Tandem::CommandCode code, const std::function<bool ()>& stopping)
{
	// The slot holds one command, and the editor does not wait for its
	// HideEditor to be taken: a state command written over it would lose it.
	// So the slot must be free first; the wait counts against the answer's
	// 5 s, and a slot that never frees is taken all the same.
	const Deadline deadline = std::chrono::steady_clock::now () + kStateTimeout;
	postWhenFree (code, deadline, stopping, true);
	return deadline;
}

} // namespace QuillMarlow
} // namespace Steinberg
