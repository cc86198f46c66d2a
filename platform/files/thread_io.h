// A thread's I/O is the thread's. Windows keeps every request a thread issues on that thread's own list (the IRP's
// thread list), and two things follow from it that the layer reproduces:
// - CancelSynchronousIo names a thread, not a handle: it cancels that thread's synchronous request in flight, so a
//   watchdog needs no handle value that another thread may have closed and Windows may have given to a new object.
// - A thread that ends does not leave its pending requests behind. Its end cancels every request it issued that is
//   still pending, and the thread is not over (its handle is not signalled) until each has completed. A request
//   whose driver ignores the cancel is given five minutes and then disassociated from the thread, which then ends
//   ("Canceling IRPs", Windows driver documentation: "The system cancels unprocessed IRPs if the thread that
//   initiated the I/O request exits. ... If an IRP is not completed within 5 minutes, the I/O manager considers the
//   IRP timed out. Such IRPs are disassociated from the thread"; IoCancelThreadIo in the Windows Research Kernel
//   waits in steps of 100 ms, 3000 of them).
#pragma once

#include <windows.h>

#include <cstddef>

namespace platform {

// How long a thread's end waits for its cancelled requests, in milliseconds on the time scale.
constexpr DWORD threadIoRundownBound = 5 * 60 * 1000;

// Cancels the synchronous requests in flight that the thread issued; how many were still unfinished.
size_t cancelSynchronousIoOf(DWORD threadId);
// At the end of a thread of the layer: cancels its requests still pending and waits for each to complete, at most
// threadIoRundownBound; one still pending then stays with its file, no longer the thread's.
void rundownThreadIo(DWORD threadId);

}  // namespace platform
