// Thread ids of the layer: given out lazily to any thread that asks, reused once a thread has ended.
#pragma once

#include <windows.h>

namespace platform {

// The calling thread's id, given out on first use to threads the layer did not start.
DWORD currentThreadId();
// Reserves an id for a thread the layer is about to start; the new thread adopts it with adoptThreadId.
DWORD reserveThreadId();
// Gives back an id reserved for a thread that never started.
void releaseReservedThreadId(DWORD threadId);
// Makes a reserved id the calling thread's own; its exit hooks then run when endCurrentThread is called or, at
// the latest, when the thread ends.
void adoptThreadId(DWORD threadId);
// Runs the exit hooks of the calling thread and makes its id reusable. The layer's own threads call this as
// their last act, before their handle becomes signalled.
void endCurrentThread();

}  // namespace platform
