// outpost's application: loads the served plug-in's module, serves an
// instance of it on each shared file it is given (the first on its command
// line, the others when they join its group), runs the main loop that serves
// their commands and editors, and ends when the last instance has left or
// the host process that started it is gone.
#pragma once

#include "instance_group.h"
#include "chain_relay.h"
#include "host_thread.h"
#include "instance_host.h"
#include "log/log.h"
#include "vst3_loader.h"
#include "word_waker.h"

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Tandem {

class OutpostApplication
{
public:
	// `classId` (32 hex digits) names the audio class to serve; empty: the
	// module's last audio class. `groupFile`, when given, is the group file
	// (protocol/instance_group.h) through which more instances join.
	OutpostApplication (std::string sharedMemoryName, std::string vst3Path, std::string classId = {},
	                    std::string groupFile = {});
	~OutpostApplication ();
	OutpostApplication (const OutpostApplication&) = delete;
	OutpostApplication& operator= (const OutpostApplication&) = delete;

	bool initialize ();
	void run ();

	// Handles the command in the first instance's command slot; always ends
	// by acknowledging it.
	void processUICommand ();

private:
	// Native tests and fuzz targets drive the services on a file and an
	// instance of their own.
	friend struct OutpostApplicationTestAccess;

	// Loads `vst3Path` once (a group's instances of one plug-in share its
	// module, as in a Windows host) and serves `classId` of it on the file.
	bool serve (const std::string& sharedMemoryName, const std::string& vst3Path, const std::string& classId);
	// The module at `vst3Path`, loaded at its first use; null when it fails.
	VST3Loader* loaderFor (const std::string& vst3Path);
	// Serves the join waiting in the group file, if any; true if one was.
	bool serveJoin ();
	// Keeps a seat from the audio threads' spins while instances join.
	void withholdSeatWhileJoining (bool joined);
	// An instance was shut down: let it go; the last one ends the process.
	void leave (std::size_t index);

	// True when the Linux process that started us has gone away.
	bool hostGone () const;
	void leaveForGoneHost ();

	AudioLogUser logUser_;
	std::string sharedMemoryName_;
	std::string vst3Path_;
	std::string classId_;
	std::string groupFile_;
	// Direct Linux system calls work: the audio thread may sleep between
	// blocks, and the host's exit is watched through our parent's id.
	bool linuxCalls_ = false;
	std::int64_t hostPid_ = 0;
	bool running_ = false;
	// Before the loaders: COM is left only after the modules are freed.
	HostThread hostThread_;
	std::vector<std::pair<std::string, std::unique_ptr<VST3Loader>>> loaders_;
	// Wakes the main loop for every instance's commands and the group's
	// joins; it outlives all of them.
	WordWaker waker_ {hostThread_};
	// Before the instances, which may join through it and hand each other
	// the blocks of a chain.
	GroupDoor group_;
	ChainRelay relay_;
	SpareThreads spares_;
	bool seatWithheld_ = false;
	std::chrono::steady_clock::time_point lastJoin_;
	// The instances served, in the order they came; released before the
	// modules they were made from.
	std::vector<std::unique_ptr<InstanceHost>> instances_;
};

// Entry point behind main(): banner, usage, initialise, run; returns the exit code.
int outpostMain (int argc, char** argv);

} // namespace Tandem
