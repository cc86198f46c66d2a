#include "files/overlapped_record.h"

#include "files/nt_status.h"

namespace platform {

bool beginOverlapped(LPOVERLAPPED overlapped) {
    if (overlapped->hEvent != nullptr && !ResetEvent(overlapped->hEvent)) return false;
    overlapped->InternalHigh = 0;
    __atomic_store_n(&overlapped->Internal, statusPending, __ATOMIC_RELEASE);
    return true;
}

void finishOverlapped(LPOVERLAPPED overlapped, HANDLE event, DWORD error, DWORD bytes) {
    overlapped->InternalHigh = bytes;
    // Another thread may be polling the record (GetOverlappedResult): the status is published last.
    __atomic_store_n(&overlapped->Internal, statusFromError(error), __ATOMIC_RELEASE);
    if (event == nullptr) return;
    // The completing thread may be any thread (a sender on the bus, a canceller); a failed SetEvent on an event
    // the caller has since closed must not change that thread's last error.
    DWORD lastError = GetLastError();
    SetEvent(event);
    SetLastError(lastError);
}

ULONG_PTR overlappedStatus(const OVERLAPPED *overlapped) {
    return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
}

}  // namespace platform
