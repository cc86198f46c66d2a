// CreateFileA on device paths: the layer opens only what the installed device namespace offers.
#include "files/device_namespace.h"
#include "files/file_object.h"
#include "kernel/faults.h"

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (platform::injectedFault("CreateFileA")) return INVALID_HANDLE_VALUE;
    if (lpFileName == nullptr || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
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
