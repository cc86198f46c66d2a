#include "user32/power_events.h"

#include "kernel/thread_registry.h"
#include "user32/user_state.h"

#include <mutex>

namespace platform {
namespace {

struct PowerEvents {
    std::mutex lock;
    PowerEventSource *source = nullptr;
    bool started = false;
};

// Never destroyed: windows still go as threads end while the process exits.
PowerEvents &powerEvents() {
    static auto *instance = new PowerEvents;
    return *instance;
}

// Message-only windows do not receive broadcasts, so they do not keep a source running.
bool topLevelWindowsExist() {
    user32::UserState &state = user32::userState();
    std::lock_guard<std::mutex> guard(state.lock);
    for (const auto &entry : state.windows) {
        if (!entry.second.messageOnly) return true;
    }
    return false;
}

// Decided from the windows as they are now, under the one lock that orders every start and stop: a creation and
// a removal that race each call this after their own change, so the last call sees the last change.
void syncLocked(PowerEvents &events) {
    if (events.source == nullptr) return;
    bool wanted = topLevelWindowsExist();
    if (wanted == events.started) return;
    events.started = wanted;
    if (wanted) {
        events.source->start();
    } else {
        events.source->stop();
    }
}

// No thread of the source may run on once the library's code is gone, whatever windows are left.
void stopAtUnload() {
    PowerEvents &events = powerEvents();
    std::lock_guard<std::mutex> guard(events.lock);
    if (events.source != nullptr && events.started) events.source->stop();
    events.started = false;
}

}  // namespace

void installPowerEventSource(PowerEventSource *source) {
    static bool unloadHookAdded = (addUnloadHook(stopAtUnload), true);
    (void)unloadHookAdded;
    PowerEvents &events = powerEvents();
    std::lock_guard<std::mutex> guard(events.lock);
    if (events.source != nullptr && events.started) events.source->stop();
    events.started = false;
    events.source = source;
    syncLocked(events);
}

void syncPowerEventSource() {
    PowerEvents &events = powerEvents();
    std::lock_guard<std::mutex> guard(events.lock);
    syncLocked(events);
}

std::string describePowerEvents() {
    PowerEvents &events = powerEvents();
    std::lock_guard<std::mutex> guard(events.lock);
    if (events.source == nullptr)
        return "off: no power event source in this build (events come from the simulated bus)";
    return events.source->describe();
}

}  // namespace platform
