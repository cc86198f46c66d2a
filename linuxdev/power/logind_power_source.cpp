#include "linuxdev/power/logind_power_source.h"

#include <system_error>

#include "kernel/thread_registry.h"
#include "linuxdev/power/logind_bus.h"
#include "linuxdev/power/logind_listener.h"

namespace linuxdev {

// Connected here, on the thread that created the window, so that a missing bus starts no thread at all; the
// slower exchanges with logind happen on the listener's thread.
void LogindPowerSource::start() {
    std::lock_guard<std::mutex> guard(lock_);
    failure_.clear();
    std::shared_ptr<LogindListener> listener = LogindListener::open(failure_);
    if (!listener) return;
    try {
        platform::startLayerThread([listener] {
            listener->run();
            // Before the stop's wait ends: whoever stopped it then no longer counts it among the live threads.
            platform::markLayerThreadFinished();
            listener->markEnded();
        });
    } catch (const std::system_error &error) {
        failure_ = std::string("no thread for the power listener (") + error.what() + ")";
        return;
    }
    listener_ = std::move(listener);
}

void LogindPowerSource::stop() {
    std::shared_ptr<LogindListener> listener;
    {
        std::lock_guard<std::mutex> guard(lock_);
        listener = std::move(listener_);
    }
    if (!listener) return;
    // A listener still broadcasting ends by itself after that broadcast; the layer joins its thread later.
    if (listener->requestStop()) listener->waitUntilEnded();
}

std::string LogindPowerSource::describe() {
    std::lock_guard<std::mutex> guard(lock_);
    if (listener_) return listener_->state();
    if (!failure_.empty()) return "off: " + failure_;
    return checkLogind();
}

namespace {

LogindPowerSource &source() {
    // Never destroyed: windows still go, and stop it, while the process exits.
    static auto *instance = new LogindPowerSource;
    return *instance;
}

}  // namespace

void installLogindPowerEvents() { platform::installPowerEventSource(&source()); }

void uninstallLogindPowerEvents() { platform::installPowerEventSource(nullptr); }

}  // namespace linuxdev
