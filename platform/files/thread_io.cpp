#include "files/thread_io.h"

#include "files/file_object.h"
#include "files/requests_in_flight.h"
#include "kernel/thread.h"
#include "kernel/time_scale.h"

namespace platform {

size_t cancelSynchronousIoOf(DWORD threadId) {
    size_t cancelled = 0;
    for (const auto &request : requestsOfThread(threadId)) {
        // A request on a handle opened with FILE_FLAG_OVERLAPPED is asynchronous whatever the thread does meanwhile.
        if (request->file()->isOverlapped()) continue;
        if (request->file()->cancel(*request)) ++cancelled;
    }
    return cancelled;
}

void rundownThreadIo(DWORD threadId) {
    auto requests = requestsOfThread(threadId);
    if (requests.empty()) return;
    for (const auto &request : requests) request->file()->cancel(*request);
    Clock::time_point giveUp = deadlineAfter(threadIoRundownBound);
    for (const auto &request : requests) {
        if (!request->waitUntil(giveUp)) return;
    }
}

}  // namespace platform

extern "C" BOOL WINAPI CancelSynchronousIo(HANDLE hThread) {
    auto thread = platform::lookupHandleAs<platform::Thread>(hThread);
    if (!thread) return FALSE;
    if (platform::cancelSynchronousIoOf(thread->id()) == 0) {
        // Documented: "If there are no pending I/O operations ... the function fails and GetLastError returns
        // ERROR_NOT_FOUND."
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}
