// One instance outpost serves: its shared file, the served plug-in made from
// a loaded module, and the services that serve it (editor, latency, buses,
// parameters, audio, session, state). An outpost of its own serves one; the
// outpost of a group serves each instance that joins it. Everything here
// runs on outpost's main thread but the audio thread it starts.
#pragma once

#include "audio_thread.h"
#include "bus_service.h"
#include "editor_service.h"
#include "host_thread.h"
#include "latency_service.h"
#include "parameter_service.h"
#include "protocol/chain_wake.h"
#include "protocol/file_hold.h"
#include "served_instance.h"
#include "session_service.h"
#include "shared_file_view.h"
#include "state_service.h"
#include "word_waker.h"

#include <functional>
#include <string>

namespace Tandem {

class InstanceHost
{
public:
	explicit InstanceHost (std::string sharedMemoryName);
	~InstanceHost ();
	InstanceHost (const InstanceHost&) = delete;
	InstanceHost& operator= (const InstanceHost&) = delete;

	// Maps the shared file and checks its session region; `linuxCalls`: the
	// file is held and locked in memory, and the host's chains are joined.
	bool open (bool linuxCalls);
	// Creates the served instance of `classId` (empty: the module's last
	// audio class) and starts serving it; `waker` wakes the main thread for
	// its commands. A group's outpost hands the blocks of a chain on between
	// its instances (`relay`) and starts their audio threads ahead
	// (`spares`). False when it cannot be created.
	bool start (Steinberg::IPluginFactory* factory, const std::string& classId, WordWaker& waker,
	            ChainRelay* relay = nullptr, SpareThreads* spares = nullptr);
	// One turn of the main loop: parameters, sizes, latency; then the
	// command waiting in the slot, if any. True when that was Shutdown.
	bool turn (const std::function<void ()>& leaving = {});
	// Handles the command in the command slot; always ends by acknowledging
	// it. True when it was Shutdown, after `leaving` was called (before the
	// acknowledgement, which the Linux side waits for).
	bool processUICommand (const std::function<void ()>& leaving = {});
	// Stops the audio thread and the waker, and releases the plug-in.
	void stop ();
	// The host is gone: removes the shared file (and its chain file).
	void removeFiles ();

	bool editorShown () const { return editor_.shown (); }
	const std::string& name () const { return sharedMemoryName_; }

private:
	// Native tests and fuzz targets drive the services on a file and an
	// instance of their own.
	friend struct OutpostApplicationTestAccess;

	std::string sharedMemoryName_;
	bool linuxCalls_ = false;
	SharedFileView file_;
	// Our slot among the outposts of the host's chains (chain_file.h).
	ChainPlace chain_;
	// Our hold on the shared file, which tells that it is in use
	// (protocol/file_hold.h).
	SharedFileHold sharedHold_;
	// The instance served, and what serves it (each service keeps a
	// reference to the instance and to the services it calls on).
	ServedInstance instance_;
	EditorService editor_ {instance_};
	LatencyService latency_ {instance_};
	BusService buses_ {instance_};
	ParameterService parameters_ {instance_};
	AudioThread audio_ {instance_, buses_};
	SessionService session_ {instance_, latency_, audio_};
	StateService state_ {instance_, audio_, parameters_};
};

} // namespace Tandem
