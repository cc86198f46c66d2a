// What the system itself writes into a caller's OVERLAPPED record.
#pragma once

#include <windows.h>

namespace platform {

// At the start of an operation: resets the record's event and marks the record pending. False, with the last
// error set, when the event cannot be reset (the operation must then not start).
bool beginOverlapped(LPOVERLAPPED overlapped);
// At completion: fills in the status and byte count, then sets `event` (the event named when the operation
// started), without changing the calling thread's last error.
void finishOverlapped(LPOVERLAPPED overlapped, HANDLE event, DWORD error, DWORD bytes);
// The status as last published, read safely while another thread may be completing the operation.
ULONG_PTR overlappedStatus(const OVERLAPPED *overlapped);

}  // namespace platform
