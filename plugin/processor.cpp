#include "plugin/processor.h"

#include "plugin/connection_messages.h"
#include "plugin/file_claim.h"
#include "plugin/instance_group.h"
#include "plugin/own_message.h"
#include "plugin/plugids.h"

#include "log/log.h"
#include "protocol/handshake.h"

#include <filesystem>
#include <string>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// Names an instance tries for its file: one per bundle loaded at once.
constexpr int kSharedFileNames = 1000;

} // namespace

QuillMarlowProcessor::QuillMarlowProcessor ()
: instanceId_ (InstanceRegistry::nextId ()), outpost_ (instanceId_, sharedMemory_, slotLock_)
{
	Tandem::logInfo () << "[QuillMarlow] New instance created with ID: " << instanceId_;
	InstanceRegistry::add (*this);
	setControllerClass (kControllerUID);
	// The host's environment as the instance is made decides, for the
	// instance's whole life (its restarts too).
	group_ = GroupMembership::choose ({});
}

QuillMarlowProcessor::~QuillMarlowProcessor ()
{
	stopBackgroundStart ();
	InstanceRegistry::remove (*this);
	leaveGroup ();
	cleanupSharedMemory ();
	terminateOutpost ();
}

QuillMarlowProcessor::QuillMarlowProcessor (const ServedTarget& target) : QuillMarlowProcessor ()
{
	served_ = target;
	setControllerClass (target.controller);
	group_ = GroupMembership::choose (served_.group);
}

FUnknown* QuillMarlowProcessor::createInstance (void*)
{
	return static_cast<Vst::IAudioProcessor*> (new QuillMarlowProcessor ());
}

FUnknown* QuillMarlowProcessor::createServed (const ServedTarget& target)
{
	return static_cast<Vst::IAudioProcessor*> (new QuillMarlowProcessor (target));
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
	// Hosts enumerate parameters and open editors before they activate us:
	// outpost is started now, in the background. A host that only scans
	// plug-ins creates and terminates us without connecting: no outpost.
	std::lock_guard<std::mutex> start (startLock_);
	if (prepareFirstStart () && !starter_.joinable ())
	{
		starting_.store (true);
		starter_ = std::thread ([this] {
			std::lock_guard<std::mutex> lock (startLock_);
			finishPendingStart ([this] { return cancelStart_.load (); });
			starting_.store (false);
		});
	}
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::initialize (FUnknown* context)
{
	tresult result = AudioEffect::initialize (context);
	if (result != kResultOk)
		return result;
	startTried_ = false;
	cancelStart_.store (false);
	// Hosts ask for the buses right away: the ones known without outpost.
	buses_.reset (served_);
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::terminate ()
{
	stopBackgroundStart ();
	{
		// Nothing starts outpost any more.
		std::lock_guard<std::mutex> start (startLock_);
		startTried_ = true;
		launchPending_ = false;
	}
	leaveGroup ();
	cleanupSharedMemory ();
	terminateOutpost ();
	return AudioEffect::terminate ();
}

bool QuillMarlowProcessor::initSharedMemory ()
{
	// Every bundle made for a Windows plug-in carries its own copy of this
	// library, all counting ids from the same start: an instance of another
	// bundle may hold this id's file, and then the next name is taken.
	// Files of hosts that ended without removing them (their whole process
	// group killed, outposts included) go first; files in use stay.
	if (const int removed = Tandem::removeLeftoverFiles ())
		Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Removed " << removed
		                   << " files left in /tmp by hosts that are gone";
	const std::string stem = "/tmp/tandem_" + std::to_string (instanceId_);
	std::string path;
	Tandem::CreateResult result {false, {}};
	for (int name = 1; name <= kSharedFileNames; ++name)
	{
		path = name == 1 ? stem + ".shm" : stem + "-" + std::to_string (name) + ".shm";
		InstanceRegistry::whileHeld ([&] { result = sharedMemory_.create (path); });
		if (!result.inUse)
			break;
	}
	if (!result.success)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] Erreur shared memory: " << result.error;
		return false;
	}
	// The outposts of instances that run one after another wake each other.
	if (!chain_.chain)
		chain_ = ChainFile::take ();
	if (chain_.chain)
	{
		Tandem::SessionData* session = sharedMemory_.sessionData ();
		session->chainSlot = static_cast<uint8> (chain_.slot + 1);
		session->chainOwner = chain_.owner;
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
	InstanceRegistry::whileHeld ([this] {
		sharedMemory_.release ();
		ChainFile::giveBack (chain_);
	});
}

OutpostStatus QuillMarlowProcessor::outpostStatus () const
{
	OutpostStatus status;
	status.serving = outpost_.serving ();
	status.starting = starting_.load ();
	status.linkUp = outpost_.linkUp ();
	status.restarts = outpost_.relaunchCount ();
	return status;
}

void QuillMarlowProcessor::terminateOutpost ()
{
	outpost_.terminate ();
}

// A group's outpost serves others too: it is asked through the file, while
// the file is still there, to let this instance go.
void QuillMarlowProcessor::leaveGroup ()
{
	outpost_.stopWatch ();
	if (outpost_.grouped ())
		outpost_.terminate ();
}

// Starting outpost: before activation (the host's controller and editor need
// the served plug-in from the moment the host connects us), and at
// activation when none runs.

bool QuillMarlowProcessor::prepareFirstStart ()
{
	if (startTried_)
		return launchPending_;
	startTried_ = true;
	// The file now, so that a view or state call finds it at once; the
	// launch may follow on another thread.
	launchPending_ = !outpost_.running () && initSharedMemory ();
	return launchPending_;
}

void QuillMarlowProcessor::finishPendingStart (const std::function<bool ()>& stopping)
{
	if (!launchPending_)
		return;
	launchPending_ = false;
	launchAndRestore (stopping);
}

bool QuillMarlowProcessor::ensureOutpost ()
{
	std::lock_guard<std::mutex> start (startLock_);
	prepareFirstStart ();
	finishPendingStart ([] { return false; });
	return outpost_.running () && outpost_.linkUp ();
}

bool QuillMarlowProcessor::launchAndRestore (const std::function<bool ()>& stopping)
{
	// The new file starts with both audio flags clear: nothing is in flight
	// (and no block comes while outpost is being started).
	blocks_.forgetLateBlock ();
	if (!launchOutpost (stopping))
	{
		Tandem::logError () << "[QuillMarlow] Erreur: Impossible de lancer le outpost";
		return false;
	}
	Tandem::fullFence ();
	if (sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1)
	{
		state_.restore (stopping, [] { return true; });
		buses_.adoptServed (stopping);
	}
	return true;
}

bool QuillMarlowProcessor::launchOutpost (const std::function<bool ()>& stopping)
{
	// A made bundle outlives the Windows plug-in it was made for: say so
	// once per start instead of letting outpost fail under Wine.
	std::error_code error;
	if (!served_.module.empty () && !std::filesystem::exists (served_.module, error))
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The served module is gone: " << served_.module
		                    << " (run quillmarlow sync); audio passes through unprocessed";
		return false;
	}
	bool cameUp = false;
	return outpost_.launch (
	    [this] (Tandem::OutpostConfig& config) {
		    if (!served_.module.empty ())
		    {
			    config.modulePath = served_.windowsModule;
			    config.classId = served_.classId;
			    config.winePrefix = served_.prefix;
		    }
		    config.group = group_;
		    adjustOutpostConfig (config);
	    },
	    sampleRate_, maxSamplesPerBlock_, cameUp, stopping);
}

void QuillMarlowProcessor::stopBackgroundStart ()
{
	if (!starter_.joinable ())
		return;
	cancelStart_.store (true);
	starter_.join ();
}

} // namespace QuillMarlow
} // namespace Steinberg
