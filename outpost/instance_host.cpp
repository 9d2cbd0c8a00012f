#include "instance_host.h"

#include "chain_file.h"
#include "crash_report.h"
#include "linux_calls.h"
#include "log/log.h"
#include "protocol/command_post.h"
#include "protocol/file_regions.h"

namespace Tandem {

InstanceHost::InstanceHost (std::string sharedMemoryName) : sharedMemoryName_ (std::move (sharedMemoryName)) {}

InstanceHost::~InstanceHost ()
{
	stop ();
	instance_.regions = {};
	file_.close ();
}

bool InstanceHost::open (bool linuxCalls)
{
	linuxCalls_ = linuxCalls;
	logInfo () << "[Outpost] Shared memory: " << sharedMemoryName_;
	// Held while we serve it: while it is, a starting instance's clean-up
	// of /tmp leaves the file alone (protocol/file_hold.h).
	if (linuxCalls_)
	{
		const std::int64_t held = sharedHold_.take (sharedMemoryName_.c_str ());
		if (held < 0)
			logError () << "[Outpost] Could not hold " << sharedMemoryName_ << " (" << held << ")";
	}
	if (!file_.open (sharedMemoryName_))
	{
		logError () << "[Outpost] Failed to open shared memory";
		return false;
	}
	instance_.regions = regionsAt (file_.base ());
	logInfo () << "[Outpost] Memory-mapped file opened successfully";
	if (!session_.acceptRegion ())
		return false;
	// Locked, the file costs the audio thread no page fault once a page is
	// in (the channel slots are touched at activation); without the lock it
	// still works, with a fault now and then.
	auto* start = reinterpret_cast<unsigned char*> (instance_.regions.uiCommand);
	std::int64_t locked = lockInMemory (start, kAudioPartSize);
	for (const LockedRange& range : kLockedBusRanges)
		if (locked == 0)
			locked = lockInMemory (start + range.offset, range.size);
	if (locked != 0)
		logError () << "[Outpost] Could not lock the shared file in memory (" << locked << "); audio may page-fault";
	if (linuxCalls_)
		chain_ = openChainPlace (*instance_.regions.session);
	return true;
}

bool InstanceHost::start (Steinberg::IPluginFactory* factory, const std::string& classId, WordWaker& waker,
                          ChainRelay* relay, SpareThreads* spares)
{
	instance_.plugin = std::make_unique<PluginInstance> (factory, classId);
	if (!instance_.plugin->createInstance ())
	{
		logError () << "[Outpost] Failed to create plugin instance";
		instance_.plugin.reset ();
		return false;
	}
	logInfo () << "[Outpost] Plugin instance created successfully!";
	logInfo () << "[Outpost] Window will be created on ShowEditor command";
	// The host lists the buses and parameters long before it activates anything.
	buses_.start ();
	parameters_.start ();
	if (linuxCalls_)
		parameters_.startWaker (waker);
	// The served processor is set up and activated when the host activates
	// its instance (the Activate command), with the host's setup.
	audio_.start (linuxCalls_, chain_, sharedMemoryName_.c_str (), relay, spares);
	return true;
}

bool InstanceHost::turn (const std::function<void ()>& leaving)
{
	nameCrashInstance (sharedMemoryName_.c_str ());
	UICommand* ui = instance_.regions.uiCommand;
	if (PluginInstance* plugin = instance_.plugin.get ())
	{
		plugin->serviceParameters ();
		parameters_.service (linuxCalls_);
		// Tells the Linux side that the project changed.
		if (ui)
			ui->editCount.store (static_cast<std::int32_t> (plugin->changeCount ()), std::memory_order_relaxed);
	}
	// The served editor may have asked its frame for another size.
	editor_.publishSize ();
	buses_.relayOtherRestarts ();
	latency_.publish (false);
	if (!ui || !commandWaiting (*ui))
		return false;
	logInfo () << "[Outpost] *** COMMAND RECEIVED: " << ui->command << " ***";
	return processUICommand (leaving);
}

bool InstanceHost::processUICommand (const std::function<void ()>& leaving)
{
	UICommand* ui = instance_.regions.uiCommand;
	const auto code = static_cast<CommandCode> (ui->command);
	bool shutdown = false;
	switch (code)
	{
	case CommandCode::Shutdown:
		logInfo () << "[Outpost] Received Shutdown command - stopping";
		shutdown = true;
		audio_.stop ();
		if (leaving)
			leaving ();
		break;
	case CommandCode::GetLatency:
		latency_.answer ();
		break;
	case CommandCode::Activate:
		session_.activate ();
		break;
	case CommandCode::Deactivate:
		session_.deactivate ();
		break;
	case CommandCode::GetState:
	case CommandCode::SetState:
	case CommandCode::GetControllerState:
	case CommandCode::SetControllerState:
		state_.handle (code);
		break;
	default:
		if (!editor_.handle (code))
			buses_.handle (ui->command);
		break;
	}
	acknowledgeCommand (*ui);
	return shutdown;
}

void InstanceHost::stop ()
{
	audio_.stop ();
	parameters_.stop ();
	instance_.plugin.reset ();
}

// The host died without stopping us (a crash, SIGKILL): nobody else will
// remove the shared file.
void InstanceHost::removeFiles ()
{
	if (!removeLinuxFile (sharedMemoryName_))
		logError () << "[Outpost] Failed to remove " << sharedMemoryName_;
	// So is the host's chain file (each of its outposts tries; one succeeds).
	if (chain_.linked ())
		removeLinuxFile (chainFilePath (instance_.regions.session->chainOwner));
}

} // namespace Tandem
