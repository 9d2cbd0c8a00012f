// HostThread without Win32, for native builds of the application logic:
// there is no COM and no message queue, so the wait is a plain sleep.
#include "host_thread.h"

#include <thread>

namespace Tandem {

HostThread::~HostThread() = default;

bool HostThread::enter() {
    oleInitialized_ = true;  // nothing to initialise natively
    return true;
}

void HostThread::waitForMessages(std::chrono::milliseconds timeout) { std::this_thread::sleep_for(timeout); }

}  // namespace Tandem
