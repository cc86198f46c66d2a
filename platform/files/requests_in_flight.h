// Every read and write not yet ended, on any file: what a new request must not share with them. Windows lets a
// program reuse an OVERLAPPED record or a buffer that pending I/O still uses and corrupts it silently; the layer
// reports it as misuse.
#pragma once

#include <windows.h>

#include "files/io_request.h"

#include <memory>
#include <vector>

namespace platform {

// After the request was accepted by its file, before its driver sees it.
void requestStarted(const std::shared_ptr<IoRequest> &request, HANDLE file);
// When the request ends, before its record and buffer are handed back to the caller.
void requestEnded(const IoRequest &request);

// Reports a new request by `operation` on `file` whose OVERLAPPED record is still in use by pending I/O, or whose
// buffer overlaps that of a read still pending. Null or empty arguments are not checked.
void checkRecordInUse(const char *operation, HANDLE file, LPOVERLAPPED overlapped);
void checkBufferInUse(const char *operation, HANDLE file, const void *buffer, DWORD length);

// The requests not yet ended that a thread issued: a thread's I/O is the thread's (thread_io.h).
std::vector<std::shared_ptr<IoRequest>> requestsOfThread(DWORD threadId);

}  // namespace platform
