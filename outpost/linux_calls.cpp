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

}  // namespace Tandem
