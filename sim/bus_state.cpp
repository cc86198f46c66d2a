#include "sim/bus_state.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include "kernel/thread_registry.h"
#include "files/interface_path.h"
#include "sim/printer_file.h"

namespace sim {
namespace {

using platform::Clock;

}  // namespace

BusState &BusState::instance() {
    static BusState *bus = [] {
        auto *created = new BusState;
        platform::installDeviceNamespace(
            std::shared_ptr<platform::DeviceNamespace>(created, [](platform::DeviceNamespace *) {}));
        platform::addUnloadHook([] { BusState::instance().stopTimer(); });
        return created;
    }();
    return *bus;
}

int BusState::add(const PrinterSetup &setup) {
    int id = nextId_++;
    std::string instance = setup.instance;
    if (instance.empty()) instance = "6&1f2e3d4c&0&" + std::to_string(nextInstance_++);
    printers_[id] = std::make_shared<Printer>(mutex_, id, setup, instance);
    return id;
}

std::shared_ptr<Printer> BusState::find(int id) const {
    auto found = printers_.find(id);
    return found == printers_.end() ? nullptr : found->second;
}

void BusState::removeAll(Effects &effects) {
    for (auto &entry : printers_) {
        entry.second->unplug(effects);
        entry.second->removed = true;
    }
    printers_.clear();
}

void BusState::deadlinesChanged() {
    Clock::time_point next = earliestDeadline();
    if (next == PendingIo::never) {
        // The last deadline went with a request that ended otherwise: the timer ends now rather than sleep on to it.
        if (timerRunning_) timerWake_.notify_one();
        return;
    }
    if (!timerRunning_) {
        // A timer that was stopped, or could not start, leaves its deadlines to the next change.
        try {
            timerThread_ = platform::startLayerThread([this] { runTimer(); });
            timerRunning_ = true;
        } catch (const std::system_error &) {
            return;
        }
    }
    if (next < timerTarget_) timerWake_.notify_one();
}

void BusState::fileOpened(Printer &printer) {
    ++printer.openFiles;
    ++openFiles_;
}

void BusState::fileClosed(Printer &printer) {
    --printer.openFiles;
    --openFiles_;
}

std::shared_ptr<platform::DeviceFile> BusState::open(const std::string &path, DWORD, DWORD &error) {
    std::string name = platform::canonicalName(path);
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto &entry : printers_) {
        Printer &printer = *entry.second;
        platform::Pipe pipe = platform::Pipe::Device;
        if (!printer.present || !platform::pipeOf(name, printer.path, pipe)) continue;
        if (printer.refuseOpens) {
            error = printer.codes.openRefused;
            return nullptr;
        }
        fileOpened(printer);
        return std::make_shared<PrinterFile>(*this, entry.second, pipe);
    }
    error = notFoundCode_;
    return nullptr;
}

std::vector<platform::DeviceInterface> BusState::interfaces(const GUID *interfaceClass, bool presentOnly) {
    std::vector<platform::DeviceInterface> found;
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto &entry : printers_) {
        const Printer &printer = *entry.second;
        if (presentOnly && !printer.present) continue;
        if (interfaceClass != nullptr && std::memcmp(interfaceClass, &printer.interfaceClass, sizeof(GUID)) != 0) {
            continue;
        }
        found.push_back(platform::DeviceInterface{printer.interfaceClass, printer.path, printer.present});
    }
    return found;
}

Clock::time_point BusState::earliestDeadline() const {
    Clock::time_point next = PendingIo::never;
    for (const auto &entry : printers_) next = std::min(next, entry.second->nextDeadline());
    return next;
}

void BusState::stopTimer() {
    platform::LayerThreadId timer = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        timerStop_ = true;
        timerWake_.notify_one();
        timerEnded_.wait(lock, [this] { return !timerRunning_; });
        timerStop_ = false;
        timer = timerThread_;
        timerThread_ = 0;
    }
    if (timer != 0) platform::joinLayerThread(timer);
}

void BusState::runTimer() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        timerTarget_ = earliestDeadline();
        // Nothing left to time: the thread ends rather than outlive its use, and starts again when needed.
        if (timerStop_ || timerTarget_ == PendingIo::never) break;
        timerWake_.wait_until(lock, timerTarget_);
        if (timerStop_) break;
        Effects effects;
        Clock::time_point now = Clock::now();
        for (auto &entry : printers_) entry.second->serve(now, effects);
        lock.unlock();
        effects.run();
        lock.lock();
    }
    timerRunning_ = false;
    timerTarget_ = PendingIo::never;
    platform::markLayerThreadFinished();
    timerEnded_.notify_all();
}

}  // namespace sim
