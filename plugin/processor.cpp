#include "plugin/processor.h"

#include "plugin/connection_messages.h"
#include "plugin/own_message.h"
#include "plugin/plugids.h"

#include "log/log.h"
#include "protocol/handshake.h"

#include <string>

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

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

} // namespace QuillMarlow
} // namespace Steinberg
