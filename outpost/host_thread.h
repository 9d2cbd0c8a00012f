// What a Windows host sets up on its user-interface thread before it loads a
// plug-in, and what plug-ins therefore take for granted: COM initialised as
// OLE in a single-threaded apartment (GUI toolkits create their drawing
// objects through COM and fail, or crash, without it), a DPI-aware process
// (or Windows scales the plug-in's windows behind its back), and a wait that
// wakes for any message of the thread's windows, the plug-in's own included.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Tandem {

class HostThread
{
public:
	HostThread () = default;
	// Leaves the apartment if enter() joined it; the owner destroys this
	// after the plug-in's module is freed.
	~HostThread ();
	HostThread (const HostThread&) = delete;
	HostThread& operator= (const HostThread&) = delete;

	// Call on the thread that will own the plug-in's editor, before the
	// module is loaded. True when COM is ready on this thread.
	bool enter ();

	// Dispatches the messages waiting for the thread's windows (a bounded
	// number): every editor's, whichever instance it serves.
	void dispatchMessages ();
	// Waits up to `timeout`, returning early when a message arrives for the
	// calling thread (without removing it) or wake() is called.
	void waitForMessages (std::chrono::milliseconds timeout);
	// Ends the thread's wait, from any thread (the next one, if it is not
	// waiting now).
	void wake ();

private:
	bool oleInitialized_ = false;
	void* wakeEvent_ = nullptr;
	// Without Win32: the wait and its wake-up.
	std::mutex wakeLock_;
	std::condition_variable woken_;
	bool wakePending_ = false;
};

} // namespace Tandem
