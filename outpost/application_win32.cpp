// The shared file under Wine: the Linux path opens through drive Z:, and the
// view is truly shared with the Linux process that created the file.
#include "application.h"
#include "log/log.h"
#include "win32.h"

namespace Tandem {

bool OutpostApplication::mapSharedFile() {
    HANDLE file = CreateFileA(sharedMemoryName_.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    fileHandle_ = file;
    // Every error code is taken before logging: writing a line resets it.
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        logError() << "[Outpost] Failed to open file: " << sharedMemoryName_;
        logError() << "[Outpost] Error: " << error;
        return false;
    }
    // A mapping longer than the file would grow it: a shorter file is
    // refused before.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || !sizeFits(size.QuadPart)) {
        CloseHandle(file);
        fileHandle_ = INVALID_HANDLE_VALUE;
        return false;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, kFileSize, nullptr);
    if (!mapping) {
        const DWORD error = GetLastError();
        logError() << "[Outpost] Failed to create file mapping";
        logError() << "[Outpost] Error: " << error;
        CloseHandle(file);
        fileHandle_ = INVALID_HANDLE_VALUE;
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kFileSize);
    CloseHandle(mapping);  // the view keeps the mapping alive
    if (!view) {
        const DWORD error = GetLastError();
        logError() << "[Outpost] Failed to map view of file";
        logError() << "[Outpost] Error: " << error;
        CloseHandle(file);
        fileHandle_ = INVALID_HANDLE_VALUE;
        return false;
    }
    useView(view);
    return true;
}

void OutpostApplication::unmapSharedFile() {
    if (uiCommand_) {
        UnmapViewOfFile(uiCommand_);
        forgetView();
    }
    if (fileHandle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(fileHandle_);
        fileHandle_ = INVALID_HANDLE_VALUE;
    }
}

}  // namespace Tandem
