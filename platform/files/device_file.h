// The driver side of one open device file. The file layer owns the Win32 semantics (handles, OVERLAPPED records,
// events, cancellation, last error); a driver only decides when and how each request ends.
#pragma once

#include <windows.h>

#include <memory>

#include "files/io_request.h"

namespace platform {

class DeviceFile {
public:
    virtual ~DeviceFile() = default;

    // Starts a read or a write. Before returning, the driver either completes the request or marks it pending.
    virtual void startIo(const std::shared_ptr<IoRequest> &request) = 0;
    // Ends a pending request with ERROR_OPERATION_ABORTED, unless the driver has already taken it up.
    virtual void cancel(IoRequest &request) = 0;
    // A device I/O control request, answered at once: ERROR_SUCCESS or the error code.
    virtual DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
                          DWORD &bytesReturned) = 0;
    // PurgeComm: ERROR_SUCCESS or the error code.
    virtual DWORD purge(DWORD flags) = 0;
    // The file's last handle was closed, after its requests were cancelled. Called once.
    virtual void close() = 0;
};

}  // namespace platform
