#include "plugin/processor.h"

#include "plugin/connection_messages.h"
#include "plugin/file_claim.h"
#include "plugin/own_message.h"
#include "plugin/plugids.h"

#include "log/log.h"

#include <string>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// Names an instance tries for its file: one per bundle loaded at once.
constexpr int kSharedFileNames = 1000;

} // namespace

QuillMarlowProcessor::QuillMarlowProcessor ()
: instanceId_ (s_instanceCounter_.fetch_add (1)), outpost_ (instanceId_, sharedMemory_, slotLock_)
{
	Tandem::logInfo () << "[QuillMarlow] New instance created with ID: " << instanceId_;
	registerInstance ();
	setControllerClass (kControllerUID);
}

QuillMarlowProcessor::~QuillMarlowProcessor ()
{
	stopBackgroundStart ();
	unregisterInstance ();
	cleanupSharedMemory ();
	terminateOutpost ();
}

QuillMarlowProcessor::QuillMarlowProcessor (const ServedTarget& target) : QuillMarlowProcessor ()
{
	served_ = target;
	setControllerClass (target.controller);
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
	std::lock_guard<std::mutex> lock (busLock_);
	buses_ = initialServedBuses (served_);
	eventInputBuses_.store (buses_.count (Tandem::kEventInputs));
	eventOutputBuses_.store (buses_.count (Tandem::kEventOutputs));
	hostArranged_ = false;
	hostActivations_.clear ();
	hostIoMode_ = -1;
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
		{
			// Under the registry lock: views look the mapping up through it.
			std::lock_guard<std::mutex> lock (s_instancesMutex_);
			result = sharedMemory_.create (path);
		}
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
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	sharedMemory_.release ();
	ChainFile::giveBack (chain_);
}

void QuillMarlowProcessor::terminateOutpost ()
{
	outpost_.terminate ();
}

} // namespace QuillMarlow
} // namespace Steinberg
