// outpost's application: maps the shared file, loads the served plug-in,
// runs its audio on a thread that spins while blocks flow and sleeps when
// none come, serves the commands the Linux plug-in posts, and ends when the
// host process that started it is gone.
#pragma once

#include "audio_thread.h"
#include "bus_service.h"
#include "editor_service.h"
#include "host_thread.h"
#include "latency_service.h"
#include "log/log.h"
#include "parameter_service.h"
#include "protocol/chain_wake.h"
#include "protocol/file_hold.h"
#include "served_instance.h"
#include "session_service.h"
#include "shared_file_view.h"
#include "state_service.h"
#include "vst3_loader.h"

#include <string>

namespace Tandem {

class OutpostApplication
{
public:
	// `classId` (32 hex digits) names the audio class to serve; empty: the
	// module's last audio class.
	OutpostApplication (std::string sharedMemoryName, std::string vst3Path, std::string classId = {});
	~OutpostApplication ();
	OutpostApplication (const OutpostApplication&) = delete;
	OutpostApplication& operator= (const OutpostApplication&) = delete;

	bool initialize ();
	void run ();

	// Handles the command in the command slot; always ends by acknowledging it.
	void processUICommand ();

private:
	// Native tests and fuzz targets drive the services on a file and an
	// instance of their own.
	friend struct OutpostApplicationTestAccess;

	// True when the Linux process that started us has gone away.
	bool hostGone () const;
	void leaveForGoneHost ();

	AudioLogUser logUser_;
	std::string sharedMemoryName_;
	std::string vst3Path_;
	std::string classId_;
	// Direct Linux system calls work: the audio thread may sleep between
	// blocks, and the host's exit is watched through our parent's id.
	bool linuxCalls_ = false;
	std::int64_t hostPid_ = 0;
	bool running_ = false;
	SharedFileView file_;
	// Our slot among the outposts of the host's chains (chain_file.h).
	ChainPlace chain_;
	// Our hold on the shared file, which tells that it is in use
	// (protocol/file_hold.h).
	SharedFileHold sharedHold_;
	// Before the loader: COM is left only after the module is freed.
	HostThread hostThread_;
	VST3Loader loader_;
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

// Entry point behind main(): banner, usage, initialise, run; returns the exit code.
int outpostMain (int argc, char** argv);

} // namespace Tandem
