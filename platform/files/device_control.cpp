// DeviceIoControl and PurgeComm: requests the drivers answer at once.
#include "files/file_object.h"
#include "files/overlapped_record.h"
#include "kernel/faults.h"

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                       LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    if (platform::injectedFault("DeviceIoControl")) return FALSE;
    auto file = platform::lookupHandleAs<platform::FileObject>(hDevice);
    if (!file) return FALSE;
    // What Windows does on a synchronous handle: the request waits until the one running on the file has ended.
    platform::SynchronousIoScope turn(file->synchronousIoLock(), !file->isOverlapped());
    if (lpOverlapped != nullptr && !platform::beginOverlapped(lpOverlapped)) return FALSE;
    DWORD returned = 0;
    DWORD error = file->device().control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                                         returned);
    if (lpOverlapped != nullptr) platform::finishOverlapped(lpOverlapped, lpOverlapped->hEvent, error, returned);
    if (lpBytesReturned != nullptr) *lpBytesReturned = returned;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
    if (platform::injectedFault("PurgeComm")) return FALSE;
    auto file = platform::lookupHandleAs<platform::FileObject>(hFile);
    if (!file) return FALSE;
    // PurgeComm is a control request, serialised like any other on a synchronous handle, as on Windows; a purge
    // through another handle of the device does not wait.
    platform::SynchronousIoScope turn(file->synchronousIoLock(), !file->isOverlapped());
    DWORD error = file->device().purge(dwFlags);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
