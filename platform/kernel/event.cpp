// Event objects: manual-reset events stay signalled until reset; a satisfied wait resets an auto-reset event, so
// that one SetEvent releases exactly one waiter.
#include "kernel/event.h"

#include "kernel/faults.h"

namespace platform {

Event::Event(bool manualReset, bool initiallySignalled) : manualReset_(manualReset), signalled_(initiallySignalled) {}

void Event::set() {
    std::lock_guard<std::mutex> guard(waitLock());
    if (signalled_) return;
    signalled_ = true;
    wakeWaiters();
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(waitLock());
    signalled_ = false;
}

bool Event::isSignalled(DWORD) const { return signalled_; }

bool Event::consume(DWORD) {
    if (!manualReset_) signalled_ = false;
    return false;
}

}  // namespace platform

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                      LPCSTR lpName) {
    if (platform::injectedFault("CreateEventA")) return nullptr;
    // Named events would be shared between callers; the layer has no namespace for them.
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return platform::insertHandle(std::make_shared<platform::Event>(bManualReset != FALSE, bInitialState != FALSE));
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) {
    if (platform::injectedFault("SetEvent")) return FALSE;
    auto event = platform::lookupHandleAs<platform::Event>(hEvent);
    if (!event) return FALSE;
    event->set();
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent) {
    if (platform::injectedFault("ResetEvent")) return FALSE;
    auto event = platform::lookupHandleAs<platform::Event>(hEvent);
    if (!event) return FALSE;
    event->reset();
    return TRUE;
}
