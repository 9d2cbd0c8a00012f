// The one-time check that the `syscall` instruction reaches Linux from
// inside Wine. Should Wine trap it, the fault lands in a vectored handler
// that steps over the instruction with an error result, so the check fails
// instead of the process.
#include "linux_calls.h"
#include "win32.h"

#include "protocol/futex.h"

#include <atomic>

namespace Tandem {

namespace {

constexpr std::int64_t kNoSuchCall = -38; // -ENOSYS
std::atomic<bool> probing {false};

LONG CALLBACK stepOverTrappedCall (EXCEPTION_POINTERS* info)
{
	if (!probing.load ())
		return EXCEPTION_CONTINUE_SEARCH;
	CONTEXT* context = info->ContextRecord;
	const auto* code = reinterpret_cast<const unsigned char*> (context->Rip);
	if (code[0] != 0x0f || code[1] != 0x05)
		return EXCEPTION_CONTINUE_SEARCH;
	context->Rax = static_cast<DWORD64> (kNoSuchCall);
	context->Rip += 2;
	return EXCEPTION_CONTINUE_EXECUTION;
}

bool probe ()
{
	void* handler = AddVectoredExceptionHandler (1, stepOverTrappedCall);
	probing = true;
	const std::int64_t parent = linuxSyscall (LinuxCall::kGetppid);
	std::atomic<std::int32_t> word {0};
	const std::int64_t woken =
	    linuxSyscall (LinuxCall::kFutex, reinterpret_cast<std::intptr_t> (&word), LinuxCall::kFutexWake, 1);
	probing = false;
	if (handler)
		RemoveVectoredExceptionHandler (handler);
	return parent > 0 && woken == 0;
}

} // namespace

bool linuxCallsUsable ()
{
	static const bool usable = probe ();
	return usable;
}

void releaseUnusedStack ()
{
	if (!linuxCallsUsable ())
		return;
	// What the thread is about to use stays, so that it does not fault it in
	// again at once.
	constexpr std::uintptr_t kKept = 64 * 1024;
	constexpr std::uintptr_t kPage = 4096;
	std::uintptr_t stackLimit; // NT_TIB::StackLimit of the thread's TEB
	asm volatile("movq %%gs:0x10, %0" : "=r"(stackLimit));
	const auto here = reinterpret_cast<std::uintptr_t> (__builtin_frame_address (0));
	const std::uintptr_t low = (stackLimit + kPage - 1) & ~(kPage - 1);
	const std::uintptr_t high = here > kKept ? (here - kKept) & ~(kPage - 1) : 0;
	if (high > low)
		linuxSyscall (LinuxCall::kMadvise, static_cast<std::int64_t> (low), static_cast<std::int64_t> (high - low),
		              LinuxCall::kMadviseDontNeed);
}

} // namespace Tandem
