#include "files/nt_status.h"

namespace platform {
namespace {

struct StatusPair {
    DWORD error;
    ULONG_PTR status;
};

// The statuses behind the errors the drivers of this layer report.
const StatusPair knownStatuses[] = {
    {ERROR_INVALID_FUNCTION, 0xC0000010},      // STATUS_INVALID_DEVICE_REQUEST
    {ERROR_FILE_NOT_FOUND, 0xC0000034},        // STATUS_OBJECT_NAME_NOT_FOUND
    {ERROR_ACCESS_DENIED, 0xC0000022},         // STATUS_ACCESS_DENIED
    {ERROR_INVALID_HANDLE, 0xC0000008},        // STATUS_INVALID_HANDLE
    {ERROR_GEN_FAILURE, 0xC0000001},           // STATUS_UNSUCCESSFUL
    {ERROR_INVALID_PARAMETER, 0xC000000D},     // STATUS_INVALID_PARAMETER
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023},   // STATUS_BUFFER_TOO_SMALL
    {ERROR_OPERATION_ABORTED, 0xC0000120},     // STATUS_CANCELLED
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009D},  // STATUS_DEVICE_NOT_CONNECTED
};

constexpr ULONG_PTR win32Facility = 0xC0070000;

}  // namespace

ULONG_PTR statusFromError(DWORD error) {
    if (error == ERROR_SUCCESS) return statusSuccess;
    for (const StatusPair &pair : knownStatuses) {
        if (pair.error == error) return pair.status;
    }
    return win32Facility | (error & 0xFFFF);
}

DWORD errorFromStatus(ULONG_PTR status) {
    if (status == statusSuccess) return ERROR_SUCCESS;
    for (const StatusPair &pair : knownStatuses) {
        if (pair.status == status) return pair.error;
    }
    if ((status & 0xFFFF0000) == win32Facility) return static_cast<DWORD>(status & 0xFFFF);
    return ERROR_GEN_FAILURE;
}

}  // namespace platform
