// GetOverlappedResult: reads the outcome the system wrote into the OVERLAPPED record, waiting for it if asked.
#include "files/file_object.h"
#include "files/nt_status.h"
#include "files/overlapped_record.h"
#include "kernel/faults.h"
#include "kernel/misuse.h"

namespace platform {
namespace {

// False, with the last error set, when the wait itself fails.
bool waitForCompletion(HANDLE file, LPOVERLAPPED overlapped) {
    // Windows waits on the record's event, or on the file itself when the record names none.
    HANDLE waitOn = overlapped->hEvent != nullptr ? overlapped->hEvent : file;
    if (!lookupHandleAs<Waitable>(waitOn)) {
        reportMisuse("GetOverlappedResult", "waits on a handle value that is not open", waitOn);
        return false;
    }
    if (WaitForSingleObject(waitOn, INFINITE) == WAIT_FAILED) return false;
    if (overlappedStatus(overlapped) != statusPending) return true;
    // The event was set by someone else while the request still runs: wait for the request itself.
    auto object = lookupHandleAs<FileObject>(file);
    auto request = object ? object->findInFlight(overlapped) : nullptr;
    if (request) request->wait();
    return true;
}

}  // namespace
}  // namespace platform

extern "C" BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                           BOOL bWait) {
    if (platform::injectedFault("GetOverlappedResult")) return FALSE;
    if (lpOverlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (platform::overlappedStatus(lpOverlapped) == platform::statusPending) {
        if (!bWait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (!platform::waitForCompletion(hFile, lpOverlapped)) return FALSE;
    }
    ULONG_PTR status = platform::overlappedStatus(lpOverlapped);
    if (status == platform::statusPending) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (lpNumberOfBytesTransferred != nullptr) {
        *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    }
    DWORD error = platform::errorFromStatus(status);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
