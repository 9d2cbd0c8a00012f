// Watches one thread for what an audio thread must never do.
//
// Linking rt_guard into a test program replaces malloc, calloc, realloc,
// free, the aligned allocators, operator new and delete, pthread_mutex_lock
// (and trylock), nanosleep, clock_nanosleep, usleep and sleep for the whole
// program, and for every library it loads (the program exports them). Each
// replacement forwards to the C library; when the calling thread is armed it
// counts the call first.
//
// The system-call watch puts the calling thread under a seccomp filter that
// traps every system call of that thread; the trap handler counts it by
// number and then makes it on the thread's behalf, so the thread behaves as
// before. Only this thread is filtered, and the filter stays until it exits.
#pragma once

#include <cstdint>

namespace rtguard {

struct Calls
{
	std::uint64_t allocations = 0; // malloc, calloc, realloc, free, new, delete, aligned
	std::uint64_t locks = 0;       // pthread_mutex_lock, pthread_mutex_trylock
	std::uint64_t sleeps = 0;      // nanosleep, clock_nanosleep, usleep, sleep
	std::uint64_t total () const { return allocations + locks + sleeps; }
};

// Arms or disarms the calling thread; arming clears its counts.
void arm (bool on);
// Calls the calling thread made while armed.
Calls calls ();

// System calls the watched thread made since the last resetSyscalls().
struct Syscalls
{
	int total = 0;
	int probes = 0;  // waitid and kill: the liveness probe
	int futexes = 0; // a wake-up or a sleep of the hand-shake
	int yields = 0;  // sched_yield: a spin past its first microseconds
	int writes = 0;  // write and writev: a log line
	int others = 0;
	long firstOther = -1; // number of the first other call
};

// Installs the filter on the calling thread. False when the kernel refuses.
bool watchSyscalls ();
void resetSyscalls ();
Syscalls syscalls ();

} // namespace rtguard
