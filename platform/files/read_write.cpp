// ReadFile and WriteFile: one request per call, synchronous or overlapped by the way the handle was opened.
#include "files/file_object.h"
#include "files/io_request.h"
#include "files/overlapped_record.h"
#include "files/regular_file.h"
#include "files/requests_in_flight.h"
#include "kernel/faults.h"
#include "kernel/misuse.h"

namespace platform {
namespace {

bool isOrdinaryFile(const std::shared_ptr<FileObject> &object) {
    return object && dynamic_cast<RegularFile *>(&object->device()) != nullptr;
}

BOOL transfer(const char *operation, IoKind kind, HANDLE file, void *buffer, DWORD length, LPDWORD transferred,
              LPOVERLAPPED overlapped) {
    // Windows clears the count before any work or checking.
    if (transferred != nullptr) *transferred = 0;
    auto object = lookupHandleAs<FileObject>(file);
    // Injected faults stand for failing devices, as in CreateFileA; ordinary files never take them.
    if (!isOrdinaryFile(object) && injectedFault(operation)) return FALSE;
    if (!object) return FALSE;
    if (object->isOverlapped() && overlapped == nullptr) {
        // Windows may report such a request complete before it is; the layer refuses it and reports it.
        reportMisuse(operation, "no OVERLAPPED record on a handle opened with FILE_FLAG_OVERLAPPED", file);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (buffer == nullptr && length != 0) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (kind == IoKind::Read && length == 0 && !object->isOverlapped()) return TRUE;
    // What Windows does on a synchronous handle: this request waits until the one running on the file has ended.
    SynchronousIoScope turn(object->synchronousIoLock(), !object->isOverlapped());
    checkRecordInUse(operation, file, overlapped);
    checkBufferInUse(operation, file, buffer, length);
    if (overlapped != nullptr && !beginOverlapped(overlapped)) return FALSE;

    auto request = std::make_shared<IoRequest>(object, kind, buffer, length, overlapped);
    if (!object->track(request)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    requestStarted(request, file);
    object->device().startIo(request);
    if (object->isOverlapped() && request->isPending()) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    request->wait();
    if (transferred != nullptr) *transferred = request->bytes();
    if (request->error() != ERROR_SUCCESS) {
        SetLastError(request->error());
        return FALSE;
    }
    return TRUE;
}

}  // namespace
}  // namespace platform

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                                LPOVERLAPPED lpOverlapped) {
    return platform::transfer("ReadFile", platform::IoKind::Read, hFile, lpBuffer, nNumberOfBytesToRead,
                              lpNumberOfBytesRead, lpOverlapped);
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    // A write only ever reads from the buffer; the request type is shared with reads.
    return platform::transfer("WriteFile", platform::IoKind::Write, hFile, const_cast<void *>(lpBuffer),
                              nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}
