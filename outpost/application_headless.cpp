// The shared file without Win32, for native builds of the application logic:
// the path is opened and mapped with POSIX calls, whole and shared, as Wine
// does it for outpost.exe.
#include "application.h"
#include "log/log.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tandem {

namespace {
void* const kNoFile = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
}

bool OutpostApplication::mapSharedFile() {
    const int fd = ::open(sharedMemoryName_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        logError() << "[Outpost] Failed to open file: " << sharedMemoryName_;
        return false;
    }
    // A shorter file would fault when a region beyond its end is touched.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !sizeFits(st.st_size)) {
        ::close(fd);
        return false;
    }
    void* view = ::mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        logError() << "[Outpost] Failed to map view of file";
        ::close(fd);
        return false;
    }
    fileHandle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
    useView(view);
    return true;
}

void OutpostApplication::unmapSharedFile() {
    if (uiCommand_) {
        ::munmap(uiCommand_, kFileSize);
        forgetView();
    }
    if (fileHandle_ != kNoFile) {
        ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(fileHandle_)));
        fileHandle_ = kNoFile;
    }
}

}  // namespace Tandem
