#include "rt_guard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <new>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc (size_t);
void* __libc_calloc (size_t, size_t);
void* __libc_realloc (void*, size_t);
void* __libc_memalign (size_t, size_t);
void __libc_free (void*);
int __nanosleep (const struct timespec*, struct timespec*);
}

namespace {

// initial-exec: reading it never allocates (the program's own TLS block).
thread_local bool t_armed __attribute__ ((tls_model ("initial-exec"))) = false;
thread_local rtguard::Calls t_calls __attribute__ ((tls_model ("initial-exec")));

enum Kind
{
	kAllocation,
	kLock,
	kSleep
};

inline void note (Kind kind)
{
	if (!t_armed)
		return;
	switch (kind)
	{
	case kAllocation:
		++t_calls.allocations;
		break;
	case kLock:
		++t_calls.locks;
		break;
	case kSleep:
		++t_calls.sleeps;
		break;
	}
}

using MutexFn = int (*) (pthread_mutex_t*);
using ClockSleepFn = int (*) (clockid_t, int, const struct timespec*, struct timespec*);
MutexFn realLock = nullptr;
MutexFn realTrylock = nullptr;
ClockSleepFn realClockSleep = nullptr;

__attribute__ ((constructor (101))) void resolveRealFunctions ()
{
	realLock = reinterpret_cast<MutexFn> (::dlsym (RTLD_NEXT, "pthread_mutex_lock"));
	realTrylock = reinterpret_cast<MutexFn> (::dlsym (RTLD_NEXT, "pthread_mutex_trylock"));
	realClockSleep = reinterpret_cast<ClockSleepFn> (::dlsym (RTLD_NEXT, "clock_nanosleep"));
}

} // namespace

// ------------------------------------------------------------------ interposers
extern "C" {

void* malloc (size_t n)
{
	note (kAllocation);
	return __libc_malloc (n);
}
void* calloc (size_t n, size_t size)
{
	note (kAllocation);
	return __libc_calloc (n, size);
}
void* realloc (void* p, size_t n)
{
	note (kAllocation);
	return __libc_realloc (p, n);
}
void free (void* p)
{
	note (kAllocation);
	__libc_free (p);
}
void* memalign (size_t alignment, size_t n)
{
	note (kAllocation);
	return __libc_memalign (alignment, n);
}
void* aligned_alloc (size_t alignment, size_t n)
{
	note (kAllocation);
	return __libc_memalign (alignment, n);
}
int posix_memalign (void** out, size_t alignment, size_t n)
{
	note (kAllocation);
	if (alignment < sizeof (void*) || (alignment & (alignment - 1)) != 0)
		return EINVAL;
	void* p = __libc_memalign (alignment, n);
	if (!p)
		return ENOMEM;
	*out = p;
	return 0;
}

int pthread_mutex_lock (pthread_mutex_t* m)
{
	note (kLock);
	return realLock (m);
}
int pthread_mutex_trylock (pthread_mutex_t* m)
{
	note (kLock);
	return realTrylock (m);
}

int nanosleep (const struct timespec* request, struct timespec* remaining)
{
	note (kSleep);
	return __nanosleep (request, remaining);
}
int clock_nanosleep (clockid_t clock, int flags, const struct timespec* request, struct timespec* remaining)
{
	note (kSleep);
	return realClockSleep (clock, flags, request, remaining);
}
int usleep (useconds_t micros)
{
	note (kSleep);
	const struct timespec t
	{
		static_cast<time_t> (micros / 1000000), static_cast<long> (micros % 1000000) * 1000
	};
	return __nanosleep (&t, nullptr);
}
unsigned int sleep (unsigned int seconds)
{
	note (kSleep);
	struct timespec t
	{
		static_cast<time_t> (seconds), 0
	};
	struct timespec left
	{};
	if (__nanosleep (&t, &left) == 0)
		return 0;
	return static_cast<unsigned int> (left.tv_sec);
}

} // extern "C"

void* operator new (size_t n)
{
	note (kAllocation);
	if (void* p = __libc_malloc (n ? n : 1))
		return p;
	throw std::bad_alloc ();
}
void* operator new[] (size_t n)
{
	return ::operator new (n);
}
void* operator new (size_t n, const std::nothrow_t&) noexcept
{
	note (kAllocation);
	return __libc_malloc (n ? n : 1);
}
void* operator new[] (size_t n, const std::nothrow_t& t) noexcept
{
	return ::operator new (n, t);
}
void operator delete (void* p) noexcept
{
	note (kAllocation);
	__libc_free (p);
}
void operator delete[] (void* p) noexcept
{
	::operator delete (p);
}
void operator delete (void* p, size_t) noexcept
{
	::operator delete (p);
}
void operator delete[] (void* p, size_t) noexcept
{
	::operator delete (p);
}

// ------------------------------------------------------------ system-call watch
// The one place allowed to make system calls of the watched thread: the
// filter lets a call through only when it comes from the instruction after
// this stub's `syscall`.
extern "C" long rtguard_raw_syscall (long nr, long a1, long a2, long a3, long a4, long a5, long a6);
extern "C" char rtguard_after_syscall[];
asm(".text\n"
    ".globl rtguard_raw_syscall\n"
    ".type rtguard_raw_syscall,@function\n"
    "rtguard_raw_syscall:\n"
    "  mov %rdi, %rax\n"
    "  mov %rsi, %rdi\n"
    "  mov %rdx, %rsi\n"
    "  mov %rcx, %rdx\n"
    "  mov %r8, %r10\n"
    "  mov %r9, %r8\n"
    "  mov 8(%rsp), %r9\n"
    "  syscall\n"
    ".globl rtguard_after_syscall\n"
    "rtguard_after_syscall:\n"
    "  ret\n"
    ".size rtguard_raw_syscall, .-rtguard_raw_syscall\n");

namespace {

std::atomic<int> g_total {0};
std::atomic<int> g_probes {0};
std::atomic<int> g_futexes {0};
std::atomic<int> g_yields {0};
std::atomic<int> g_writes {0};
std::atomic<int> g_others {0};
std::atomic<long> g_firstOther {-1};

void onSigsys (int, siginfo_t* info, void* context)
{
	auto* uc = static_cast<ucontext_t*> (context);
	greg_t* r = uc->uc_mcontext.gregs;
	const long nr = info->si_syscall;
	g_total.fetch_add (1, std::memory_order_relaxed);
	if (nr == SYS_waitid || nr == SYS_kill)
		g_probes.fetch_add (1, std::memory_order_relaxed);
	else if (nr == SYS_futex)
		g_futexes.fetch_add (1, std::memory_order_relaxed);
	else if (nr == SYS_sched_yield)
		g_yields.fetch_add (1, std::memory_order_relaxed);
	else if (nr == SYS_write || nr == SYS_writev)
		g_writes.fetch_add (1, std::memory_order_relaxed);
	else
	{
		if (g_others.fetch_add (1, std::memory_order_relaxed) == 0)
			g_firstOther.store (nr, std::memory_order_relaxed);
	}
	r[REG_RAX] = rtguard_raw_syscall (nr, r[REG_RDI], r[REG_RSI], r[REG_RDX], r[REG_R10], r[REG_R8], r[REG_R9]);
}

} // namespace

namespace rtguard {

void arm (bool on)
{
	t_calls = Calls {};
	t_armed = on;
}

Calls calls ()
{
	return t_calls;
}

bool watchSyscalls ()
{
	struct sigaction action
	{};
	action.sa_sigaction = &onSigsys;
	action.sa_flags = SA_SIGINFO;
	sigemptyset (&action.sa_mask);
	if (::sigaction (SIGSYS, &action, nullptr) != 0)
		return false;

	const auto ip = reinterpret_cast<std::uint64_t> (rtguard_after_syscall);
	const auto ipLow = static_cast<std::uint32_t> (ip);
	const auto ipHigh = static_cast<std::uint32_t> (ip >> 32);
	struct sock_filter filter[] = {
	    BPF_STMT (BPF_LD | BPF_W | BPF_ABS, offsetof (seccomp_data, arch)),
	    BPF_JUMP (BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
	    BPF_STMT (BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
	    // Returning from the trap handler is a system call too.
	    BPF_STMT (BPF_LD | BPF_W | BPF_ABS, offsetof (seccomp_data, nr)),
	    BPF_JUMP (BPF_JMP | BPF_JEQ | BPF_K, SYS_rt_sigreturn, 5, 0),
	    BPF_STMT (BPF_LD | BPF_W | BPF_ABS, offsetof (seccomp_data, instruction_pointer)),
	    BPF_JUMP (BPF_JMP | BPF_JEQ | BPF_K, ipLow, 0, 2),
	    BPF_STMT (BPF_LD | BPF_W | BPF_ABS, offsetof (seccomp_data, instruction_pointer) + 4),
	    BPF_JUMP (BPF_JMP | BPF_JEQ | BPF_K, ipHigh, 1, 0),
	    BPF_STMT (BPF_RET | BPF_K, SECCOMP_RET_TRAP),
	    BPF_STMT (BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
	};
	struct sock_fprog program
	{
		static_cast<unsigned short> (sizeof filter / sizeof filter[0]), filter
	};
	if (::prctl (PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
		return false;
	// Without SECCOMP_FILTER_FLAG_TSYNC: only the calling thread is filtered.
	return ::syscall (SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

void resetSyscalls ()
{
	g_total.store (0, std::memory_order_relaxed);
	g_probes.store (0, std::memory_order_relaxed);
	g_futexes.store (0, std::memory_order_relaxed);
	g_yields.store (0, std::memory_order_relaxed);
	g_writes.store (0, std::memory_order_relaxed);
	g_others.store (0, std::memory_order_relaxed);
	g_firstOther.store (-1, std::memory_order_relaxed);
}

Syscalls syscalls ()
{
	Syscalls s;
	s.total = g_total.load (std::memory_order_relaxed);
	s.probes = g_probes.load (std::memory_order_relaxed);
	s.futexes = g_futexes.load (std::memory_order_relaxed);
	s.yields = g_yields.load (std::memory_order_relaxed);
	s.writes = g_writes.load (std::memory_order_relaxed);
	s.others = g_others.load (std::memory_order_relaxed);
	s.firstOther = g_firstOther.load (std::memory_order_relaxed);
	return s;
}

} // namespace rtguard
