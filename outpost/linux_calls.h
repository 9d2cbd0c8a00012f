// What outpost asks of the Linux kernel directly: futex wake-ups on the
// shared file, its Linux parent's process id, removing the shared file
// when the host that made it is gone, and where its audio thread runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tandem {

// True when direct Linux system calls work in this process. Under Wine the
// first call tries them once, in a way that cannot crash: a Wine that traps
// the `syscall` instruction makes this false. Natively always true.
bool linuxCallsUsable ();

// The Linux process id of our parent, or 0 when it cannot be asked.
std::int64_t linuxParentPid ();

// Removes the file at a Linux path; true on success.
bool removeLinuxFile (const std::string& path);

// For the calling thread (outpost's audio thread): timers that fire on time
// (no timer slack), and the lowest real-time priority when the system's
// limits allow it. Returns the kernel's result of the priority request (0
// when granted, a negative errno when not).
std::int64_t preferPromptWakeUps ();

// Puts the calling thread back under the normal policy; the kernel's result.
std::int64_t leaveRealTime ();

// Keeps the pages of `size` bytes at `address` in memory once they are
// touched: each faults in once, then never again, and a page that is never
// touched (a channel or a block size the session does not use) costs no
// memory. The kernel's result (0 or a negative errno).
std::int64_t lockInMemory (void* address, std::size_t size);

// Gives back to Linux the pages of the calling thread's stack below the
// part it is using: Wine commits a new thread's whole stack and leaves
// about a megabyte of it resident, which a thread that only waits or
// processes blocks never uses again. Below the stack pointer nothing is
// alive, and the pages read as zeros when touched again. Called once, as a
// thread of ours starts; natively it does nothing.
void releaseUnusedStack ();

// The CPU the calling thread runs on, read without a system call; -1 when
// this processor cannot tell it that way.
int currentCpu ();

// The CPU number as the segment limit of Linux's per-CPU descriptor tells
// it (what currentCpu falls back to on processors without rdpid or
// rdtscp); -1 where no such descriptor is there.
int cpuFromSegmentLimit ();

// Lets the calling thread (outpost's audio thread) run on every CPU it was
// allowed at its first call but `cpu`, or on all of them again for -1.
// False, with nothing changed, when that leaves none or the kernel refuses.
bool keepOffCpu (int cpu);

// Moves the calling thread onto `cpu` now, then lets it run on every CPU it
// was allowed before again: the kernel keeps it there until it has a reason
// to move it. False, with nothing changed, when `cpu` is not an allowed one.
bool moveOntoCpu (int cpu);

} // namespace Tandem
