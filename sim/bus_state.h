// The simulated bus itself: the printers, the one lock that guards them, the timer that ends requests at their
// time-outs, and the device namespace through which CreateFileA and SetupAPI reach the printers.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/device_namespace.h"
#include "kernel/thread_registry.h"
#include "kernel/time_scale.h"
#include "sim/bus.h"
#include "sim/effects.h"
#include "sim/printer.h"

namespace sim {

class BusState : public platform::DeviceNamespace {
public:
    // Created, and installed as the platform layer's device namespace, at first use; never destroyed, as
    // threads may still complete requests while the process exits.
    static BusState &instance();

    std::mutex &mutex() { return mutex_; }

    // The rest with the lock held.
    int add(const PrinterSetup &setup);
    // A printer not removed, or null.
    std::shared_ptr<Printer> find(int id) const;
    void removeAll(Effects &effects);
    // After anything that may have moved a deadline earlier: lets the timer see it.
    void deadlinesChanged();
    void setNotFoundCode(DWORD code) { notFoundCode_ = code; }
    void fileOpened(Printer &printer);
    void fileClosed(Printer &printer);
    int openFiles() const { return openFiles_; }

    // Without the lock: ends the timer thread and joins it. It starts again when a request needs it.
    void stopTimer();

    std::shared_ptr<platform::DeviceFile> open(const std::string &path, DWORD flagsAndAttributes,
                                               DWORD &error) override;
    std::vector<platform::DeviceInterface> interfaces(const GUID *interfaceClass, bool presentOnly) override;

private:
    BusState() = default;
    platform::Clock::time_point earliestDeadline() const;
    void runTimer();

    std::mutex mutex_;
    // Attach order is id order.
    std::map<int, std::shared_ptr<Printer>> printers_;
    int nextId_ = 1;
    unsigned nextInstance_ = 1;
    DWORD notFoundCode_ = ERROR_FILE_NOT_FOUND;
    int openFiles_ = 0;

    // The timer thread runs only while some request has a deadline.
    bool timerRunning_ = false;
    bool timerStop_ = false;
    platform::LayerThreadId timerThread_ = 0;
    // What the timer thread sleeps until.
    platform::Clock::time_point timerTarget_ = PendingIo::never;
    std::condition_variable timerWake_;
    std::condition_variable timerEnded_;
};

}  // namespace sim
