// DeviceIoControl and PurgeComm: requests the drivers answer at once.
#include "files/file_object.h"
#include "files/overlapped_record.h"
#include "files/requests_in_flight.h"
#include "kernel/faults.h"
#include "kernel/misuse.h"

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED lpOverlapped) {
    if (platform::injectedFault("DeviceIoControl")) return FALSE;
    auto file = platform::lookupHandleAs<platform::FileObject>(hDevice);
    if (!file) return FALSE;
    // What Windows does on a synchronous handle: the request waits until the one running on the file has ended.
    if (file->isOverlapped() && lpOverlapped == nullptr) {
        // Windows runs it and waits on the file itself, which the end of any other request on the file may signal;
        // the drivers here answer at once, so the call still works, and is reported.
        platform::reportMisuse("DeviceIoControl", "no OVERLAPPED record on a handle opened with FILE_FLAG_OVERLAPPED",
                               hDevice);
    }
    platform::SynchronousIoScope turn(file->synchronousIoLock(), !file->isOverlapped());
    platform::checkRecordInUse("DeviceIoControl", hDevice, lpOverlapped);
    platform::checkBufferInUse("DeviceIoControl", hDevice, lpInBuffer, nInBufferSize);
    platform::checkBufferInUse("DeviceIoControl", hDevice, lpOutBuffer, nOutBufferSize);
    if (lpOverlapped != nullptr && !platform::beginOverlapped(lpOverlapped)) return FALSE;
    DWORD returned = 0;
    DWORD error =
        file->device().control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, returned);
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
