// A private system bus with python-dbusmock's logind on it, for the power listener's tests: the test plays logind
// (PrepareForSleep) and watches its inhibitor locks.
#pragma once

#include <systemd/sd-bus.h>
#include <sys/types.h>

#include <string>

#include "support/wait.h"

namespace logind_test {

using test_support::waitUntil;

class LogindBus {
public:
    // Starts a bus daemon and, unless `withLogind` is false, the mock logind; points DBUS_SYSTEM_BUS_ADDRESS at
    // the bus. `ready()` tells whether all of it came up.
    explicit LogindBus(bool withLogind = true);
    ~LogindBus();
    LogindBus(const LogindBus &) = delete;
    LogindBus &operator=(const LogindBus &) = delete;

    bool ready() const { return ready_; }
    // logind's PrepareForSleep(start), as logind sends it before a sleep (true) and after the wake-up (false).
    bool emitPrepareForSleep(bool start);
    // The delay locks on sleep that logind lists now; -1 when it could not be asked. Safe from any thread.
    int delayLocks();
    // Waits, within a generous bound, until logind lists `count` delay locks.
    bool waitForDelayLocks(int count);
    // The bus daemon and logind end and start again, as at a package upgrade.
    bool restart();

private:
    bool startDaemon();
    bool startLogind();
    bool waitForLogind();

    std::string dir_;
    pid_t daemon_ = -1;
    pid_t logind_ = -1;
    sd_bus *control_ = nullptr;
    bool ready_ = false;
};

}  // namespace logind_test
