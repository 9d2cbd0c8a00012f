#include "application.h"

#include "chain_file.h"
#include "linux_calls.h"
#include "protocol/command_post.h"
#include "protocol/file_regions.h"
#include "protocol/handshake.h"

#include <chrono>

namespace Tandem {

OutpostApplication::OutpostApplication (std::string sharedMemoryName, std::string vst3Path, std::string classId)
: sharedMemoryName_ (std::move (sharedMemoryName)), vst3Path_ (std::move (vst3Path)), classId_ (std::move (classId))
{
}

OutpostApplication::~OutpostApplication ()
{
	audio_.stop ();
	parameters_.stop ();
	instance_.plugin.reset ();
	running_ = false;
	instance_.regions = {};
	file_.close ();
}

bool OutpostApplication::initialize ()
{
	logInfo () << "[Outpost] Initializing...";
	logInfo () << "[Outpost] Shared memory: " << sharedMemoryName_;
	logInfo () << "[Outpost] VST3 path: " << vst3Path_;

	// Held while this application lives: while it is, a starting instance's
	// clean-up of /tmp leaves the file alone (protocol/file_hold.h).
	if (linuxCallsUsable ())
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
	UICommand* uiCommand = instance_.regions.uiCommand;
	logInfo () << "[Outpost] Memory-mapped file opened successfully";
	if (!session_.acceptRegion ())
		return false;
	// Locked (and so read in) now, the file costs the audio thread no page
	// fault; without the lock it still works, with a fault now and then.
	std::int64_t locked = lockInMemory (uiCommand, kAudioPartSize);
	for (const LockedRange& range : kLockedBusRanges)
		if (locked == 0)
			locked = lockInMemory (reinterpret_cast<unsigned char*> (uiCommand) + range.offset, range.size);
	if (locked != 0)
		logError () << "[Outpost] Could not lock the shared file in memory (" << locked << "); audio may page-fault";

	linuxCalls_ = linuxCallsUsable ();
	hostPid_ = linuxParentPid ();
	if (linuxCalls_)
		chain_ = openChainPlace (*instance_.regions.session);
	if (!linuxCalls_)
		logInfo () << "[Outpost] Linux system calls unavailable: the audio thread spins between blocks and the "
		              "host's exit is not watched";

	// A Windows host's user-interface thread is ready before any plug-in loads.
	hostThread_.enter ();

	logInfo () << "[Outpost] Loading VST3 plugin: " << vst3Path_;
	if (!loader_.load (vst3Path_))
	{
		logError () << "[Outpost] Failed to load VST3 plugin";
		logError () << "[Outpost] Failed to load VST3 plugin";
		return false;
	}
	logInfo () << "[Outpost] VST3 plugin loaded successfully!";
	logInfo () << "[Outpost] Factory: " << static_cast<void*> (loader_.factory ());

	instance_.plugin = std::make_unique<PluginInstance> (loader_.factory (), classId_);
	if (!instance_.plugin->createInstance ())
	{
		logError () << "[Outpost] Failed to create plugin instance";
		logError () << "[Outpost] Failed to load VST3 plugin";
		return false;
	}
	logInfo () << "[Outpost] Plugin instance created successfully!";
	logInfo () << "[Outpost] Window will be created on ShowEditor command";
	// The host lists the buses and parameters long before it activates anything.
	buses_.start ();
	parameters_.start ();

	running_ = true;
	if (linuxCalls_)
		parameters_.startWaker (hostThread_);
	// The served processor is set up and activated when the host activates
	// its instance (the Activate command), with the host's setup.

	audio_.start (linuxCalls_, chain_);
	logInfo () << "[Outpost] Initialized successfully";
	return true;
}

void OutpostApplication::run ()
{
	logInfo () << "[Outpost] Running main loop (UI only - audio in dedicated thread)...";
	for (long n = 0; running_; ++n)
	{
		if (n % 1000 == 0)
			logInfo () << "[Outpost] UI Loop " << n;
		if (n % 10 == 0 && hostGone ())
		{
			leaveForGoneHost ();
			break;
		}
		UICommand* ui = instance_.regions.uiCommand;
		if (PluginInstance* plugin = instance_.plugin.get ())
		{
			plugin->editor ().processMessages ();
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
		if (ui && commandWaiting (*ui))
		{
			logInfo () << "[Outpost] *** COMMAND RECEIVED: " << ui->command << " ***";
			processUICommand ();
		}
		// An open editor needs its messages every 10 ms; without one, a
		// slower turn keeps an idle outpost cheap (each turn asks Wine's
		// server for messages) and commands still start within 50 ms. A
		// message that comes wakes the wait at once.
		hostThread_.waitForMessages (std::chrono::milliseconds (editor_.shown () ? 10 : 50));
	}
	audio_.stop ();
	parameters_.stop ();
	logInfo () << "[Outpost] Main loop ended";
}

void OutpostApplication::processUICommand ()
{
	UICommand* ui = instance_.regions.uiCommand;
	const auto code = static_cast<CommandCode> (ui->command);
	switch (code)
	{
	case CommandCode::Shutdown:
		logInfo () << "[Outpost] Received Shutdown command - stopping";
		running_ = false;
		audio_.stop ();
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
}

bool OutpostApplication::hostGone () const
{
	return hostPid_ > 0 && linuxParentPid () != hostPid_;
}

// The host died without stopping us (a crash, SIGKILL): nobody else will
// remove the shared file, and nobody needs us any more.
void OutpostApplication::leaveForGoneHost ()
{
	logError () << "[Outpost] Host process " << hostPid_ << " is gone: removing " << sharedMemoryName_
	            << " and exiting";
	if (!removeLinuxFile (sharedMemoryName_))
		logError () << "[Outpost] Failed to remove " << sharedMemoryName_;
	// So is the host's chain file (each of its outposts tries; one succeeds).
	if (chain_.linked ())
		removeLinuxFile (chainFilePath (instance_.regions.session->chainOwner));
	running_ = false;
}

int outpostMain (int argc, char** argv)
{
	logInfo () << "=== Tandem Host ===";
	logInfo () << "Version: 0.1.0 MVP";
	// Two arguments serve the fixed plug-in; a made bundle adds the module
	// file and the class to serve, which replace it.
	if (argc < 3 || argc == 4)
	{
		logError () << "Usage: " << argv[0] << " <shared_memory_name> <vst3_path>";
		logError () << "       " << argv[0] << " <shared_memory_name> <vst3_path> <module_path> <class_id>";
		logError () << "Example: " << argv[0] << " /tandem_12345 \"C:\\\\Program Files\\\\VST3\\\\Quill.vst3\"";
		return 1;
	}
	OutpostApplication app (argv[1], argc >= 5 ? argv[3] : argv[2], argc >= 5 ? argv[4] : "");
	if (!app.initialize ())
	{
		logError () << "[Outpost] Initialization failed";
		return 1;
	}
	logInfo () << "[Outpost] Running... (press Ctrl+C to stop or wait for Shutdown command)";
	app.run ();
	logInfo () << "[Outpost] Exiting cleanly";
	return 0;
}

} // namespace Tandem
