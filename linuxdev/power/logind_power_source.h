// Suspend and resume from logind, as the platform layer's power event source: a listener runs while the process
// has top-level windows (the library's power window), on a thread of the layer.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "user32/power_events.h"

namespace linuxdev {

class LogindListener;

class LogindPowerSource : public platform::PowerEventSource {
public:
    void start() override;
    void stop() override;
    std::string describe() override;

private:
    std::mutex lock_;
    std::shared_ptr<LogindListener> listener_;
    std::string failure_;
};

// Makes logind the platform layer's source of power events; the real-device library does this as it loads.
void installLogindPowerEvents();
// Takes it out again (the tests', which install and remove it around each case).
void uninstallLogindPowerEvents();

}  // namespace linuxdev
