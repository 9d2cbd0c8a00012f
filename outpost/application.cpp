#include "application.h"

#include "audio_thread.h"
#include "linux_calls.h"

#include <chrono>
#include <cstdlib>

namespace Tandem {

OutpostApplication::OutpostApplication (std::string sharedMemoryName, std::string vst3Path, std::string classId,
                                        std::string groupFile)
: sharedMemoryName_ (std::move (sharedMemoryName)), vst3Path_ (std::move (vst3Path)), classId_ (std::move (classId)),
  groupFile_ (std::move (groupFile))
{
}

OutpostApplication::~OutpostApplication ()
{
	// Every instance goes before the modules it was made from.
	instances_.clear ();
	running_ = false;
	if (seatWithheld_)
		spinSeats ().give ();
	group_.close ();
	loaders_.clear ();
}

bool OutpostApplication::initialize ()
{
	logInfo () << "[Outpost] Initializing...";
	logInfo () << "[Outpost] VST3 path: " << vst3Path_;
	linuxCalls_ = linuxCallsUsable ();
	hostPid_ = linuxParentPid ();
	if (!linuxCalls_)
		logInfo () << "[Outpost] Linux system calls unavailable: the audio thread spins between blocks and the "
		              "host's exit is not watched";
	// A Windows host's user-interface thread is ready before any plug-in loads.
	hostThread_.enter ();
	if (!serve (sharedMemoryName_, vst3Path_, classId_))
		return false;
	running_ = true;
	// The first instance is served: the others of its group may join.
	if (!groupFile_.empty () && group_.open (groupFile_, linuxCalls_, waker_))
		group_.accept (static_cast<int> (instances_.size ()));
	logInfo () << "[Outpost] Initialized successfully";
	return true;
}

bool OutpostApplication::serve (const std::string& sharedMemoryName, const std::string& vst3Path,
                                const std::string& classId)
{
	auto host = std::make_unique<InstanceHost> (sharedMemoryName);
	if (!host->open (linuxCalls_))
		return false;
	// Kept while it has no plug-in: the first instance's commands are still
	// answered (with nothing) until the Linux side sees us end.
	instances_.push_back (std::move (host));
	VST3Loader* loader = loaderFor (vst3Path);
	const bool grouped = !groupFile_.empty ();
	if (loader && instances_.back ()->start (loader->factory (), classId, waker_, grouped ? &relay_ : nullptr,
	                                         grouped ? &spares_ : nullptr))
		return true;
	if (loader)
		logError () << "[Outpost] Failed to load VST3 plugin";
	if (instances_.size () > 1)
		instances_.pop_back ();
	return false;
}

VST3Loader* OutpostApplication::loaderFor (const std::string& vst3Path)
{
	for (auto& loaded : loaders_)
		if (loaded.first == vst3Path)
			return loaded.second.get ();
	logInfo () << "[Outpost] Loading VST3 plugin: " << vst3Path;
	auto loader = std::make_unique<VST3Loader> ();
	if (!loader->load (vst3Path))
	{
		logError () << "[Outpost] Failed to load VST3 plugin";
		logError () << "[Outpost] Failed to load VST3 plugin";
		return nullptr;
	}
	logInfo () << "[Outpost] VST3 plugin loaded successfully!";
	logInfo () << "[Outpost] Factory: " << static_cast<void*> (loader->factory ());
	loaders_.emplace_back (vst3Path, std::move (loader));
	return loaders_.back ().second.get ();
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
		// A join first: the next instance posts its own only once this one
		// is answered, and the turns below take the commands of those that
		// joined meanwhile.
		withholdSeatWhileJoining (serveJoin ());
		// Every editor's messages, once for all instances.
		hostThread_.dispatchMessages ();
		bool editorShown = false;
		for (std::size_t i = 0; i < instances_.size ();)
		{
			InstanceHost& host = *instances_[i];
			// The group hears of a leaving instance before its Shutdown is
			// acknowledged: the last one's closes the group to joins.
			if (host.turn ([this] { group_.leaving (static_cast<int> (instances_.size ()) - 1); }))
			{
				leave (i);
				continue;
			}
			editorShown = editorShown || host.editorShown ();
			++i;
		}
		// An open editor needs its messages every 10 ms; without one, a
		// slower turn keeps an idle outpost cheap (each turn asks Wine's
		// server for messages) and commands still start within 50 ms. A
		// message that comes wakes the wait at once.
		if (running_)
			hostThread_.waitForMessages (std::chrono::milliseconds (editorShown ? 10 : 50));
	}
	instances_.clear ();
	logInfo () << "[Outpost] Main loop ended";
}

void OutpostApplication::processUICommand ()
{
	if (instances_.empty ())
		return;
	if (instances_.front ()->processUICommand ())
		running_ = false;
}

bool OutpostApplication::serveJoin ()
{
	const GroupJoin join = group_.waiting ();
	if (join.number == 0)
		return false;
	logInfo () << "[Outpost] An instance joins the group: " << join.sharedFile;
	const bool served = serve (join.sharedFile, join.vst3Path, join.classId);
	if (!served)
		logError () << "[Outpost] Could not serve the instance that joined: " << join.sharedFile;
	group_.answer (join, served, static_cast<int> (instances_.size ()));
	return true;
}

// Instances join one after another when a project opens or a group's
// outpost is started anew after a crash: the main thread makes each plug-in
// and restores it, and its page faults and plug-in calls are most of the
// time until the last one plays again. The audio threads' spins would take
// the other core meanwhile; from the first join until 100 ms after the last
// one they have a seat less (none on two cores) and sleep until their
// blocks wake them.
void OutpostApplication::withholdSeatWhileJoining (bool joined)
{
	const auto now = std::chrono::steady_clock::now ();
	if (joined)
	{
		lastJoin_ = now;
		if (!seatWithheld_)
			spinSeats ().withhold ();
		seatWithheld_ = true;
	}
	else if (seatWithheld_ && now - lastJoin_ > std::chrono::milliseconds (100))
	{
		spinSeats ().give ();
		seatWithheld_ = false;
	}
}

void OutpostApplication::leave (std::size_t index)
{
	instances_.erase (instances_.begin () + static_cast<std::ptrdiff_t> (index));
	if (instances_.empty ())
		running_ = false;
	else
		logInfo () << "[Outpost] An instance left the group; " << instances_.size () << " still served";
}

bool OutpostApplication::hostGone () const
{
	return hostPid_ > 0 && linuxParentPid () != hostPid_;
}

// The host died without stopping us (a crash, SIGKILL): nobody else will
// remove the shared files, and nobody needs us any more.
void OutpostApplication::leaveForGoneHost ()
{
	for (auto& host : instances_)
	{
		logError () << "[Outpost] Host process " << hostPid_ << " is gone: removing " << host->name ()
		            << " and exiting";
		host->removeFiles ();
	}
	group_.remove ();
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
	// The Linux side names the group file of a grouped instance here.
	const char* groupFile = std::getenv ("QUILLMARLOW_GROUP_FILE");
	OutpostApplication app (argv[1], argc >= 5 ? argv[3] : argv[2], argc >= 5 ? argv[4] : "",
	                        groupFile ? groupFile : "");
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
