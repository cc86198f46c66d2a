// The driver side of one open device file: the lower half of the contract between the platform layer and a device
// backend (docs/device-backends.md). The file layer owns the Win32 semantics (handles, OVERLAPPED records, events,
// cancellation, last error); a driver only decides when and how each request ends.
//
// For every entry: the layer holds none of its own locks but, on a handle opened without FILE_FLAG_OVERLAPPED,
// that file's synchronous-I/O lock (one request at a time on it; cancel and close do not take it). A driver never
// calls IoRequest::complete with a lock of its own held: completion sets events and wakes waiters, which may call
// straight back into the driver.
//
// Unplug: a device that goes ends the requests it holds with ERROR_DEVICE_NOT_CONNECTED (1167); from then on every
// startIo, control and purge on a file opened before fails with ERROR_ACCESS_DENIED (5), as on Windows, until the
// file is closed. A file opened after the device is back is a new file and works.
#pragma once

#include <windows.h>

#include <memory>

#include "files/io_request.h"

namespace platform {

class DeviceFile {
public:
    virtual ~DeviceFile() = default;

    // Starts a read or a write. Thread: the caller of ReadFile or WriteFile. May block on: the driver's lock, never
    // on the device. Before returning, the driver either completes the request (allowed here: the call then
    // reports its result at once, as Windows does for I/O that finishes in its dispatch) or marks it pending; when
    // markPending fails, a cancel came first and the driver completes it with ERROR_OPERATION_ABORTED. A pending
    // request is completed later from any thread (the driver's own, or a caller's).
    virtual void startIo(const std::shared_ptr<IoRequest> &request) = 0;
    // Ends a pending request with ERROR_OPERATION_ABORTED (995) at once, unless the driver has already taken it
    // up, in which case it ends as taken. Thread: the caller of CancelIo, CancelIoEx or CloseHandle. May block on:
    // the driver's lock only; a completion racing it is harmless, as only the first completion counts.
    virtual void cancel(IoRequest &request) = 0;
    // A device I/O control request, answered at once: ERROR_SUCCESS or the error code. Thread: the caller of
    // DeviceIoControl. A driver without such requests (the USB printer class) answers ERROR_INVALID_FUNCTION.
    virtual DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) = 0;
    // PurgeComm: ERROR_SUCCESS or the error code. Thread: its caller.
    virtual DWORD purge(DWORD flags) = 0;
    // The file's last handle was closed, after each of its requests in flight was given a cancel. Called once, on
    // the thread that closed the handle. Ends whatever of the file's requests still pends with
    // ERROR_OPERATION_ABORTED, and releases what the file holds of the device (the last file of a device releases
    // the device). No entry is called on the file afterwards.
    virtual void close() = 0;
};

}  // namespace platform
