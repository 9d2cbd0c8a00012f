// outpost's life as one processor sees it: starting it under Wine on the
// processor's shared file, telling whether it still runs (and how it ended
// when not), and stopping it.
#pragma once

#include "plugin/child_process.h"
#include "plugin/shared_memory.h"

#include "pluginterfaces/base/ftypes.h"

#include <functional>
#include <string>
#include <sys/types.h>

namespace Steinberg {
namespace QuillMarlow {

// Directory of the bundle that holds the loaded plug-in library; empty when
// it cannot be found.
std::string getBundlePath ();

// Liveness probe, one system call in the usual case (safe on the audio
// thread, which already makes it).
bool processGone (pid_t pid);

class OutpostLifecycle
{
public:
	using ConfigAdjuster = std::function<void (Tandem::OutpostConfig&)>;

	// `file` is the processor's shared file, which outlives this object.
	OutpostLifecycle (int32 instanceId, const Tandem::SharedMemoryCreator& file);

	// Starts outpost on the shared file, `adjust` having the last word on
	// the configuration, and waits for its audio thread to report ready.
	// False when the start itself failed; `cameUp` tells whether outpost
	// reported ready (a time-out counts as up: it may still come).
	bool launch (const ConfigAdjuster& adjust, double sampleRate, int32 maxSamplesPerBlock, bool& cameUp);
	// Asks outpost to shut down, then ends it by signals.
	void terminate ();

	// Whether outpost still runs; reports how it ended, once, when not.
	bool alive () const;
	// Alive and attached to a mapped file.
	bool running () const;

	const Tandem::ChildProcess& process () const { return child_; }
	pid_t pid () const { return child_.pid (); }

private:
	void reportEnd (pid_t pid) const;
	// Waits for the new outpost's audio thread to report ready; false when
	// the child ended first (a time-out is not an end: it may still come).
	bool waitForAudioReady ();

	int32 instanceId_;
	const Tandem::SharedMemoryCreator& file_;
	Tandem::ChildProcess child_;
	// The outpost whose end has been reported.
	mutable pid_t endReported_ = -1;
};

} // namespace QuillMarlow
} // namespace Steinberg
