// The host's activation, set-up and processing state, carried to the served
// processor: it is set up with the host's setup and activated when the host
// activates us, deactivated when the host deactivates us, and processes
// when the host's setProcessing says so.
#include "plugin/processor.h"
#include "plugin/command_slot.h"

#include "log/log.h"
#include "protocol/futex.h"
#include "protocol/handshake.h"

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

namespace {

// Served plug-ins allocate and prepare at activation: as long as a state
// command may take.
constexpr auto kActivationTimeout = std::chrono::seconds (5);

const char* modeName (int32 mode)
{
	return mode == Vst::kOffline ? "offline" : mode == Vst::kPrefetch ? "prefetch" : "realtime";
}

} // namespace

tresult PLUGIN_API QuillMarlowProcessor::setupProcessing (Vst::ProcessSetup& setup)
{
	sampleRate_ = setup.sampleRate;
	maxSamplesPerBlock_ = setup.maxSamplesPerBlock;
	Tandem::logInfo () << "[QuillMarlow] Setup: " << sampleRate_ << " Hz, " << maxSamplesPerBlock_ << " samples";
	return AudioEffect::setupProcessing (setup);
}

tresult PLUGIN_API QuillMarlowProcessor::setActive (TBool state)
{
	if (!state)
	{
		Tandem::logInfo () << "[QuillMarlow] Désactivation du plugin (outpost maintenu en vie)";
		// outpost is no longer restarted when it ends; its state is still kept.
		outpost_.setActive (false);
		active_.store (false);
		deactivateServed ();
		return AudioEffect::setActive (false);
	}

	Tandem::logInfo () << "[QuillMarlow] Activation du plugin...";
	std::lock_guard<std::mutex> start (startLock_);
	// The watcher may be restarting outpost: the activation takes over.
	outpost_.stopWatch ();
	// A start begun before activation ends first.
	startTried_ = true;
	finishPendingStart ([] { return false; });
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
		if (!launchAndRestore ([] { return false; }))
			return kResultFalse;
	}
	active_.store (true);
	// A hung outpost answers nothing: audio passes through until it does.
	fullFence ();
	if (outpost_.running () && sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1 &&
	    activateServed ([] { return false; }) == ServedActivation::Refused)
	{
		active_.store (false);
		return kResultFalse;
	}
	startWatch ();
	Tandem::logInfo () << "[QuillMarlow] Plugin activé avec succès";
	return AudioEffect::setActive (true);
}

tresult PLUGIN_API QuillMarlowProcessor::setProcessing (TBool state)
{
	processing_.store (state != 0);
	Tandem::SessionData* session = sharedMemory_.sessionData ();
	Tandem::AudioData* audio = sharedMemory_.audioData ();
	if (!session || !audio)
		return kResultOk;
	session->processing.store (state ? 1 : 0, std::memory_order_release);
	// outpost's audio thread follows before its next block, or at once when
	// it sleeps without blocks.
	fullFence ();
	Tandem::wakeOutpostAudio (*audio, chain_.own ());
	return kResultOk;
}

void QuillMarlowProcessor::startWatch ()
{
	OutpostLifecycle::Hooks hooks;
	// A new outpost lives our session: the states, then the activation. A
	// state the served plug-in refuses was refused before: it was said then.
	hooks.restoreState = [this] (const std::function<bool ()>& stopping, const std::function<void ()>& publish) {
		return state_.restore (stopping, [&] {
			buses_.adoptServed (stopping);
			const bool activated = !active_.load () || activateServed (stopping) == ServedActivation::Active;
			publish ();
			return activated;
		});
	};
	hooks.fetchState = [this] (const std::function<bool ()>& stopping) { state_.fetchSettled (stopping); };
	outpost_.startWatch (std::move (hooks));
}

QuillMarlowProcessor::ServedActivation QuillMarlowProcessor::activateServed (const std::function<bool ()>& stopping)
{
	Tandem::SessionData* session = sharedMemory_.sessionData ();
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	if (!session || !ui)
		return ServedActivation::NoAnswer;
	session->sampleRate = sampleRate_;
	session->maxSamplesPerBlock = maxSamplesPerBlock_;
	session->processMode = processSetup.processMode;
	session->symbolicSampleSize = processSetup.symbolicSampleSize;
	Tandem::touchBlockPages (sharedMemory_.regions (), maxSamplesPerBlock_);
	session->processing.store (processing_.load () ? 1 : 0, std::memory_order_relaxed);
	const Deadline deadline = std::chrono::steady_clock::now () + kActivationTimeout;
	postWhenFree (*ui, slotLock_, Tandem::CommandCode::Activate, deadline, stopping, true);
	if (Tandem::awaitAcknowledgement (Tandem::slotVisit (*ui), deadline,
	                                  [&] { return stopping () || !outpost_.alive (); }) != Tandem::CommandTurn::Done)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_
		                    << "] outpost did not confirm the served plug-in's activation; keeping latency "
		                    << latency_.latency () << " samples";
		return ServedActivation::NoAnswer;
	}
	// Read after the served activation: a plug-in applies a new latency there.
	latency_.take (session->latencySamples, session->tailSamples);
	if (session->activateResult != kResultOk)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The served plug-in refused its activation at "
		                    << sampleRate_ << " Hz, " << maxSamplesPerBlock_ << " samples, "
		                    << modeName (processSetup.processMode) << " (result " << session->activateResult << ")";
		return ServedActivation::Refused;
	}
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Served plug-in activated: " << sampleRate_ << " Hz, "
	                   << maxSamplesPerBlock_ << " samples, " << modeName (processSetup.processMode);
	return ServedActivation::Active;
}

void QuillMarlowProcessor::deactivateServed ()
{
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	if (!ui || !outpost_.serving ())
		return;
	const Deadline deadline = std::chrono::steady_clock::now () + kActivationTimeout;
	postWhenFree (
	    *ui, slotLock_, Tandem::CommandCode::Deactivate, deadline, [] { return false; }, true);
	if (Tandem::awaitAcknowledgement (Tandem::slotVisit (*ui), deadline, [&] { return !outpost_.alive (); }) !=
	        Tandem::CommandTurn::Done &&
	    outpost_.alive ())
		Tandem::logError () << "[QuillMarlow #" << instanceId_
		                    << "] outpost did not confirm the served plug-in's deactivation";
}

} // namespace QuillMarlow
} // namespace Steinberg
