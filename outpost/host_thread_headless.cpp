// HostThread without Win32, for native builds of the application logic:
// there is no COM and no message queue, so the wait only ends early for a
// wake-up.
#include "host_thread.h"

namespace Tandem {

HostThread::~HostThread () = default;

bool HostThread::enter ()
{
	oleInitialized_ = true; // nothing to initialise natively
	return true;
}

void HostThread::dispatchMessages () {}

void HostThread::waitForMessages (std::chrono::milliseconds timeout)
{
	std::unique_lock<std::mutex> lock (wakeLock_);
	woken_.wait_for (lock, timeout, [this] { return wakePending_; });
	wakePending_ = false;
}

void HostThread::wake ()
{
	{
		std::lock_guard<std::mutex> lock (wakeLock_);
		wakePending_ = true;
	}
	woken_.notify_one ();
}

} // namespace Tandem
