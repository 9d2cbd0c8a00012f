#include "linux_calls.h"

#include "protocol/futex.h"

namespace Tandem {

std::int64_t linuxParentPid() {
    if (!linuxCallsUsable()) return 0;
    const std::int64_t parent = linuxSyscall(LinuxCall::kGetppid);
    return parent > 0 ? parent : 0;
}

bool removeLinuxFile(const std::string& path) {
    return linuxCallsUsable() && linuxSyscall(LinuxCall::kUnlink, reinterpret_cast<std::intptr_t>(path.c_str())) == 0;
}

std::int64_t preferPromptWakeUps() {
    constexpr std::int64_t kSetTimerSlack = 29;  // PR_SET_TIMERSLACK
    constexpr std::int64_t kFifo = 1;            // SCHED_FIFO
    if (!linuxCallsUsable()) return -38;
    linuxSyscall(LinuxCall::kPrctl, kSetTimerSlack, 1);
    const std::int32_t priority = 1;  // struct sched_param
    return linuxSyscall(LinuxCall::kSchedSetscheduler, 0, kFifo, reinterpret_cast<std::intptr_t>(&priority));
}

std::int64_t lockInMemory(void* address, std::size_t size) {
    if (!linuxCallsUsable()) return -38;
    return linuxSyscall(LinuxCall::kMlock, reinterpret_cast<std::intptr_t>(address), static_cast<std::int64_t>(size));
}

}  // namespace Tandem
