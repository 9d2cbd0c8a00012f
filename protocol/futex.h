// Linux futex calls on words of the shared file, for both programs.
//
// outpost runs under Wine, but it is still a Linux process: the x86-64
// `syscall` instruction reaches the Linux kernel directly, so a futex on a
// word of the file that both processes map works across them (no private
// flag: the mapping is shared). Natively the same calls go through libc.
// Each call here is one system call; the audio paths make them only after
// their spin window has passed.
#pragma once

#include <atomic>
#include <cstdint>

#if !defined(_WIN32)
#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Tandem {

namespace LinuxCall {
constexpr std::int64_t kSchedYield = 24;
constexpr std::int64_t kMadvise = 28;
constexpr std::int64_t kMadviseDontNeed = 4;
constexpr std::int64_t kUnlink = 87;
constexpr std::int64_t kMlock = 149;
constexpr std::int64_t kMlock2 = 325;
constexpr std::int64_t kMlockOnFault = 1;
constexpr std::int64_t kPrctl = 157;
constexpr std::int64_t kSchedSetscheduler = 144;
constexpr std::int64_t kSchedSetaffinity = 203;
constexpr std::int64_t kSchedGetaffinity = 204;
constexpr std::int64_t kGetppid = 110;
constexpr std::int64_t kFutex = 202;
constexpr std::int64_t kFutexWait = 0;
constexpr std::int64_t kFutexWake = 1;
constexpr std::int64_t kTimedOut = -110;  // -ETIMEDOUT
constexpr std::int64_t kNoSuchCall = -38; // -ENOSYS
constexpr std::int64_t kClockGettime = 228;
constexpr std::int64_t kClockMonotonic = 1;
constexpr std::int64_t kFutexWaitv = 449;
constexpr std::uint32_t kFutexWaitvMax = 128;
constexpr std::uint32_t kFutex2Size32 = 0x02;
} // namespace LinuxCall

// Raw Linux system call; returns the kernel's result (negative errno on
// failure). On Windows `long` is 32 bits, hence the fixed-width arguments.
inline std::int64_t linuxSyscall (std::int64_t number, std::int64_t a1 = 0, std::int64_t a2 = 0, std::int64_t a3 = 0,
                                  std::int64_t a4 = 0, std::int64_t a5 = 0, std::int64_t a6 = 0)
{
#if defined(_WIN32)
	std::int64_t result;
	register std::int64_t r10 asm("r10") = a4;
	register std::int64_t r8 asm("r8") = a5;
	register std::int64_t r9 asm("r9") = a6;
	asm volatile("syscall"
	             : "=a"(result)
	             : "a"(number), "D"(a1), "S"(a2), "d"(a3), "r"(r10), "r"(r8), "r"(r9)
	             : "rcx", "r11", "memory");
	return result;
#else
	const long r = ::syscall (static_cast<long> (number), a1, a2, a3, a4, a5, a6);
	return r == -1 ? -static_cast<std::int64_t> (errno) : r;
#endif
}

// Sleeps while `*word` equals `expected`, for at most `timeoutNs`
// nanoseconds. Returns at once when the word differs, so a wake-up that
// comes before the sleep is not lost. The result is the kernel's: 0 when
// woken, kTimedOut when the time ran out.
inline std::int64_t futexWait (std::atomic<std::int32_t>* word, std::int32_t expected, std::int64_t timeoutNs)
{
	struct
	{
		std::int64_t seconds;
		std::int64_t nanoseconds;
	} timeout {timeoutNs / 1000000000, timeoutNs % 1000000000};
	return linuxSyscall (LinuxCall::kFutex, reinterpret_cast<std::intptr_t> (word), LinuxCall::kFutexWait, expected,
	                     reinterpret_cast<std::intptr_t> (&timeout));
}

// One word of a futexWaitv call (the kernel's struct futex_waitv).
struct FutexWaiter
{
	std::uint64_t value;
	std::uint64_t address;
	std::uint32_t flags;
	std::uint32_t reserved;
};
static_assert (sizeof (FutexWaiter) == 24, "struct futex_waitv of Linux");

inline FutexWaiter futexWaiterOn (std::atomic<std::int32_t>& word, std::int32_t expected)
{
	return {static_cast<std::uint32_t> (expected), reinterpret_cast<std::uintptr_t> (&word), LinuxCall::kFutex2Size32,
	        0};
}

// Sleeps while each of `count` words (at most kFutexWaitvMax) equals its
// value, for at most `timeoutNs` nanoseconds (Linux 5.16 and later). The
// kernel's result: the index of a word woken, -EAGAIN when one already
// differed, kTimedOut, or kNoSuchCall on an older kernel.
inline std::int64_t futexWaitv (FutexWaiter* waiters, std::uint32_t count, std::int64_t timeoutNs)
{
	struct
	{
		std::int64_t seconds;
		std::int64_t nanoseconds;
	} until {};
	linuxSyscall (LinuxCall::kClockGettime, LinuxCall::kClockMonotonic, reinterpret_cast<std::intptr_t> (&until));
	until.nanoseconds += timeoutNs % 1000000000;
	until.seconds += timeoutNs / 1000000000 + until.nanoseconds / 1000000000;
	until.nanoseconds %= 1000000000;
	return linuxSyscall (LinuxCall::kFutexWaitv, reinterpret_cast<std::intptr_t> (waiters), count, 0,
	                     reinterpret_cast<std::intptr_t> (&until), LinuxCall::kClockMonotonic);
}

// Wakes every thread asleep on `*word`, in this process or the other.
inline void futexWake (std::atomic<std::int32_t>* word)
{
	linuxSyscall (LinuxCall::kFutex, reinterpret_cast<std::intptr_t> (word), LinuxCall::kFutexWake, 0x7fffffff);
}

// Gives the core to another runnable thread, if any, and returns.
inline void yieldCore ()
{
	linuxSyscall (LinuxCall::kSchedYield);
}

} // namespace Tandem
