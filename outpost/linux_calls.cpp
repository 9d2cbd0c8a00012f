#include "linux_calls.h"

#include "protocol/futex.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace Tandem {

namespace {

// Linux keeps the CPU number where a program can read it without a system
// call, in three places: the TSC_AUX register (cpu | node << 12), which
// rdpid and rdtscp read, and the limit of the per-CPU segment of its
// descriptor table (selector 0x7b, same encoding), which lsl reads on every
// x86-64 processor. The vDSO's getcpu tries them in the same order.
enum class CpuReader
{
	kNone,
	kRdpid,
	kRdtscp,
	kSegmentLimit
};

CpuReader findCpuReader ()
{
#if defined(__x86_64__)
	unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
	if (__get_cpuid_count (7, 0, &eax, &ebx, &ecx, &edx) && (ecx & (1u << 22)) != 0)
		return CpuReader::kRdpid;
	if (__get_cpuid (0x80000001, &eax, &ebx, &ecx, &edx) && (edx & (1u << 27)) != 0)
		return CpuReader::kRdtscp;
	if (cpuFromSegmentLimit () >= 0)
		return CpuReader::kSegmentLimit;
#endif
	return CpuReader::kNone;
}
const CpuReader cpuReader = findCpuReader ();

// Puts the calling thread under `policy` at `priority` (all a struct
// sched_param holds); the kernel's result.
std::int64_t setPolicy (std::int64_t policy, std::int32_t priority)
{
	if (!linuxCallsUsable ())
		return -38;
	return linuxSyscall (LinuxCall::kSchedSetscheduler, 0, policy, reinterpret_cast<std::intptr_t> (&priority));
}

} // namespace

std::int64_t linuxParentPid ()
{
	if (!linuxCallsUsable ())
		return 0;
	const std::int64_t parent = linuxSyscall (LinuxCall::kGetppid);
	return parent > 0 ? parent : 0;
}

bool removeLinuxFile (const std::string& path)
{
	return linuxCallsUsable () &&
	       linuxSyscall (LinuxCall::kUnlink, reinterpret_cast<std::intptr_t> (path.c_str ())) == 0;
}

std::int64_t preferPromptWakeUps ()
{
	constexpr std::int64_t kSetTimerSlack = 29; // PR_SET_TIMERSLACK
	constexpr std::int64_t kFifo = 1;           // SCHED_FIFO
	if (!linuxCallsUsable ())
		return -38;
	linuxSyscall (LinuxCall::kPrctl, kSetTimerSlack, 1);
	return setPolicy (kFifo, 1);
}

std::int64_t leaveRealTime ()
{
	constexpr std::int64_t kOther = 0; // SCHED_OTHER
	return setPolicy (kOther, 0);
}

std::int64_t lockInMemory (void* address, std::size_t size)
{
	if (!linuxCallsUsable ())
		return -38;
	const auto start = reinterpret_cast<std::intptr_t> (address);
	const std::int64_t locked =
	    linuxSyscall (LinuxCall::kMlock2, start, static_cast<std::int64_t> (size), LinuxCall::kMlockOnFault);
	// Kernels before 4.4 lock every page, touched or not.
	if (locked == -38 || locked == -22)
		return linuxSyscall (LinuxCall::kMlock, start, static_cast<std::int64_t> (size));
	return locked;
}

int cpuFromSegmentLimit ()
{
#if defined(__x86_64__)
	unsigned limit = 0;
	unsigned char valid = 0;
	asm volatile("lsl %[selector], %[limit]\n\tsetz %[valid]"
	             : [limit] "=r"(limit), [valid] "=q"(valid)
	             : [selector] "r"(0x7bu)
	             : "cc");
	return valid ? static_cast<int> (limit & 0xfff) : -1;
#else
	return -1;
#endif
}

int currentCpu ()
{
#if defined(__x86_64__)
	switch (cpuReader)
	{
	case CpuReader::kRdpid:
	{
		std::uint64_t aux = 0;
		asm volatile("rdpid %0" : "=r"(aux));
		return static_cast<int> (aux & 0xfff);
	}
	case CpuReader::kRdtscp:
	{
		unsigned aux = 0;
		__rdtscp (&aux);
		return static_cast<int> (aux & 0xfff);
	}
	case CpuReader::kSegmentLimit:
		return cpuFromSegmentLimit ();
	case CpuReader::kNone:
		break;
	}
#endif
	return -1;
}

bool keepOffCpu (int cpu)
{
	constexpr int kMaxCpus = 1024;
	// The thread's own set, taken before the first change.
	static std::uint64_t allowed[kMaxCpus / 64] = {};
	static bool known = false;
	if (!linuxCallsUsable () || cpu >= kMaxCpus)
		return false;
	if (!known)
	{
		if (linuxSyscall (LinuxCall::kSchedGetaffinity, 0, sizeof allowed, reinterpret_cast<std::intptr_t> (allowed)) <=
		    0)
			return false;
		known = true;
	}
	std::uint64_t others[kMaxCpus / 64];
	bool any = false;
	for (int i = 0; i < kMaxCpus / 64; ++i)
	{
		others[i] = allowed[i];
		if (cpu >= 0 && i == cpu / 64)
			others[i] &= ~(std::uint64_t {1} << (cpu % 64));
		any = any || others[i] != 0;
	}
	return any &&
	       linuxSyscall (LinuxCall::kSchedSetaffinity, 0, sizeof others, reinterpret_cast<std::intptr_t> (others)) == 0;
}

bool moveOntoCpu (int cpu)
{
	constexpr int kMaxCpus = 1024;
	std::uint64_t allowed[kMaxCpus / 64] = {};
	if (!linuxCallsUsable () || cpu < 0 || cpu >= kMaxCpus)
		return false;
	if (linuxSyscall (LinuxCall::kSchedGetaffinity, 0, sizeof allowed, reinterpret_cast<std::intptr_t> (allowed)) <= 0)
		return false;
	const std::uint64_t bit = std::uint64_t {1} << (cpu % 64);
	if ((allowed[cpu / 64] & bit) == 0)
		return false;
	std::uint64_t only[kMaxCpus / 64] = {};
	only[cpu / 64] = bit;
	if (linuxSyscall (LinuxCall::kSchedSetaffinity, 0, sizeof only, reinterpret_cast<std::intptr_t> (only)) != 0)
		return false;
	linuxSyscall (LinuxCall::kSchedSetaffinity, 0, sizeof allowed, reinterpret_cast<std::intptr_t> (allowed));
	return true;
}

} // namespace Tandem
