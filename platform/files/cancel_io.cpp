// CancelIo and CancelIoEx: the driver ends each cancelled request with ERROR_OPERATION_ABORTED.
#include "files/file_object.h"
#include "kernel/faults.h"

extern "C" BOOL WINAPI CancelIo(HANDLE hFile) {
    if (platform::injectedFault("CancelIo")) return FALSE;
    auto file = platform::lookupHandleAs<platform::FileObject>(hFile);
    if (!file) return FALSE;
    DWORD self = GetCurrentThreadId();
    for (const auto &request : file->inFlight()) {
        if (request->threadId() == self) file->cancel(*request);
    }
    // Succeeds with nothing to cancel, unlike CancelIoEx.
    return TRUE;
}

extern "C" BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
    if (platform::injectedFault("CancelIoEx")) return FALSE;
    auto file = platform::lookupHandleAs<platform::FileObject>(hFile);
    if (!file) return FALSE;
    bool cancelled = false;
    for (const auto &request : file->inFlight()) {
        if (lpOverlapped != nullptr && request->overlapped() != lpOverlapped) continue;
        if (file->cancel(*request)) cancelled = true;
    }
    if (!cancelled) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}
