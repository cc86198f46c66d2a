// The C control API of the simulated bus, over the C++ one.
#include "sim/simbus.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "discovery/SupportedDevices.h"
#include "jni/LibraryUnload.h"

#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/thread_registry.h"
#include "kernel/time_scale.h"
#include "sim/bus.h"
#include "sim/bus_state.h"
#include "user32/broadcast.h"

// The library's side of a reset. Weak, because the platform tests link the simulated bus without the library;
// there the bus has no library to bring back.
void ReturnToLoadedState() __attribute__((weak));
bool IsPowerSuspended() __attribute__((weak));
bool IsTraceWriterRunning() __attribute__((weak));

namespace {

int result(bool ok) { return ok ? 0 : -1; }

void returnLibraryToLoadedState() {
    if (ReturnToLoadedState != nullptr) ReturnToLoadedState();
}

bool librarySuspended() { return IsPowerSuspended != nullptr && IsPowerSuspended(); }

bool traceWriterRunning() { return IsTraceWriterRunning != nullptr && IsTraceWriterRunning(); }

}  // namespace

extern "C" {

SIMBUS_API int simbus_attach(int transport, int vid, int pid) {
    if (transport != 0 && transport != 1) return -1;
    sim::PrinterSetup setup;
    setup.transport = static_cast<sim::Transport>(transport);
    setup.vid = vid;
    setup.pid = pid;
    return sim::attach(setup);
}

SIMBUS_API int simbus_attach_default(int transport) {
    unsigned vid = 0;
    unsigned pid = 0;
    if (std::sscanf(g_pszSupportedDevices[0], "vid_%4x&pid_%4x", &vid, &pid) != 2) return -1;
    return simbus_attach(transport, static_cast<int>(vid), static_cast<int>(pid));
}

SIMBUS_API int simbus_detach(int id) { return result(sim::unplug(id)); }

SIMBUS_API int simbus_replug(int id) { return result(sim::replug(id)); }

SIMBUS_API int simbus_send(int id, const void *bytes, int n) {
    if (n < 0) return -1;
    return sim::send(id, bytes, static_cast<size_t>(n)) ? n : -1;
}

SIMBUS_API int simbus_take(int id, void *buf, int cap) {
    if (cap < 0) return -1;
    return static_cast<int>(sim::take(id, buf, static_cast<size_t>(cap)));
}

SIMBUS_API int simbus_stall_writes(int id, int on) { return result(sim::stallWrites(id, on != 0)); }

SIMBUS_API int simbus_pending_reads(int id) {
    if (sim::interfacePath(id).empty()) return -1;
    return static_cast<int>(sim::pendingReads(id));
}

SIMBUS_API int simbus_pending_writes(int id) {
    if (sim::interfacePath(id).empty()) return -1;
    return static_cast<int>(sim::pendingWrites(id));
}

SIMBUS_API int simbus_suspended(void) { return librarySuspended() ? 1 : 0; }

SIMBUS_API int simbus_await_resumed(int milliseconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    // The library keeps its suspended state in a flag that nothing signals, so the wait looks at it often.
    while (librarySuspended()) {
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

SIMBUS_API int simbus_power(int event) {
    return platform::broadcastMessage(WM_POWERBROADCAST, static_cast<WPARAM>(event), 0);
}

SIMBUS_API int simbus_fail(const char *operation, int times, unsigned error) {
    return result(platform::armFault(operation, times, error));
}

SIMBUS_API const char *simbus_fault_name(int index) { return platform::faultName(index); }

SIMBUS_API void simbus_time_scale(double factor) { platform::setTimeScale(factor); }

SIMBUS_API int simbus_open_handles(void) { return static_cast<int>(platform::openHandleCount()); }

SIMBUS_API void simbus_reset(void) {
    // Faults first, so that the library's close is not failed by one a test left armed; the test's time scale
    // stays until the close has ended, which then waits no longer than the test's own would have.
    platform::clearFaults();
    returnLibraryToLoadedState();
    sim::removeAll();
    sim::BusState::instance().stopTimer();
    platform::joinFinishedThreads();
    platform::setTimeScale(1.0);
}

SIMBUS_API int simbus_live_threads(void) {
    // The trace's writer runs for as long as tracing is on, whatever the test did; counting it would make every
    // traced test look as if it had left a link open. Its state is read before the count, so that a writer starting
    // in between is counted once too often (a caller waiting for 0 looks again) rather than taken off a count that
    // did not hold it yet.
    bool writer = traceWriterRunning();
    auto live = static_cast<int>(platform::liveThreadCount());
    if (writer) --live;
    return live < 0 ? 0 : live;
}

}  // extern "C"
