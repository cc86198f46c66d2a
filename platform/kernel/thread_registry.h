// Every thread the layer starts (Win32 threads and the simulated bus's timer) is joined, never detached, so that
// once the library is told to unload none of its code runs any more. A thread cannot join itself, and its handle
// is signalled before the thread has quite returned, so finished threads are kept and joined later: when the next
// thread starts, on request, and when the library is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

// Names a thread of the layer; never reused, unlike the system's thread ids.
using LayerThreadId = uint64_t;

// Runs `body` on a new thread of the layer; throws std::system_error as std::thread does.
LayerThreadId startLayerThread(std::function<void()> body);
// For a thread of the layer: its work is done; it no longer counts as live, though it may still be returning.
void markLayerThreadFinished();
// Threads of the layer that have not finished their work.
size_t liveThreadCount();
// Joins every finished thread of the layer (none of them can be the caller).
void joinFinishedThreads();
// Waits for that thread of the layer to return and joins it; at once when it is already joined. Never for itself.
void joinLayerThread(LayerThreadId id);
// Work that stops threads of the layer which would otherwise run on, run at the library's unload before the
// finished threads are joined.
void addUnloadHook(void (*hook)());

}  // namespace platform
