// CreateFileA: device paths open what the installed device namespace offers; any other path is an ordinary file.
#include "files/device_namespace.h"
#include "files/file_object.h"
#include "files/regular_file.h"
#include "kernel/faults.h"

namespace {

HANDLE openOrdinaryFile(LPCSTR path, DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) {
    // The layer does ordinary files synchronously only.
    if ((flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    auto file = platform::openRegularFile(path, desiredAccess, creationDisposition, error);
    if (!file) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = platform::insertHandle(std::make_shared<platform::FileObject>(file, false));
    if (handle == nullptr) return INVALID_HANDLE_VALUE;
    SetLastError(error);
    return handle;
}

}  // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (lpFileName == nullptr || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Injected faults stand for failing devices; an ordinary file (the library's trace) never takes one meant for
    // the device path a test aims at.
    if (platform::isRegularFilePath(lpFileName)) {
        return openOrdinaryFile(lpFileName, dwDesiredAccess, dwCreationDisposition, dwFlagsAndAttributes);
    }
    if (platform::injectedFault("CreateFileA")) return INVALID_HANDLE_VALUE;
    auto devices = platform::deviceNamespace();
    if (!devices) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    auto device = devices->open(lpFileName, dwFlagsAndAttributes, error);
    if (!device) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    bool overlapped = (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
    HANDLE handle = platform::insertHandle(std::make_shared<platform::FileObject>(device, overlapped));
    if (handle == nullptr) {
        device->close();
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}
