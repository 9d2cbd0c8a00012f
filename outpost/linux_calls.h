// What outpost asks of the Linux kernel directly: futex wake-ups on the
// shared file, its Linux parent's process id, and removing the shared file
// when the host that made it is gone.
#pragma once

#include <cstdint>
#include <string>

namespace Tandem {

// True when direct Linux system calls work in this process. Under Wine the
// first call tries them once, in a way that cannot crash: a Wine that traps
// the `syscall` instruction makes this false. Natively always true.
bool linuxCallsUsable();

// The Linux process id of our parent, or 0 when it cannot be asked.
std::int64_t linuxParentPid();

// Removes the file at a Linux path; true on success.
bool removeLinuxFile(const std::string& path);

}  // namespace Tandem
