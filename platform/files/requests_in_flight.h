// Every read and write not yet ended, on any file: what a new request must not share with them. Windows lets a
// program reuse an OVERLAPPED record or a buffer that pending I/O still uses and corrupts it silently; the layer
// reports it as misuse.
#pragma once

#include <windows.h>

#include "files/io_request.h"

namespace platform {

// After the request was accepted by its file, before its driver sees it.
void requestStarted(const IoRequest &request, HANDLE file);
// When the request ends, before its record and buffer are handed back to the caller.
void requestEnded(const IoRequest &request);

// Reports a new request by `operation` on `file` whose OVERLAPPED record is still in use by pending I/O, or whose
// buffer overlaps that of a read still pending. Null or empty arguments are not checked.
void checkRecordInUse(const char *operation, HANDLE file, LPOVERLAPPED overlapped);
void checkBufferInUse(const char *operation, HANDLE file, const void *buffer, DWORD length);

}  // namespace platform
