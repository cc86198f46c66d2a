#include "linuxdev/power/logind_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "kernel/time_scale.h"
#include "linuxdev/power/logind_bus.h"
#include "user32/broadcast.h"

namespace linuxdev {
namespace {

const char inhibitorWho[] = "VIRIVOREzu";
const char inhibitorWhy[] = "The receipt printer is sent its suspend command first";

// After a lost connection: the first wait before connecting again, doubled at each failure up to the last.
const unsigned firstReconnectMs = 1000;
const unsigned lastReconnectMs = 60000;

std::string errorText(const sd_bus_error *error, int result) {
    if (error != nullptr && error->message != nullptr) return error->message;
    return std::strerror(result < 0 ? -result : result);
}

bool logindAbsent(const sd_bus_error *error) {
    return sd_bus_error_has_name(error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
           sd_bus_error_has_name(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

// sd-bus gives its deadlines (only while a method call waits for its reply) on the monotonic clock.
int pollTimeout(sd_bus *bus) {
    uint64_t deadline = 0;
    if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t current = static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
    if (deadline <= current) return 0;
    return static_cast<int>((deadline - current + 999) / 1000);
}

}  // namespace

std::shared_ptr<LogindListener> LogindListener::open(std::string &reason) {
    sd_bus *bus = openSystemBus(reason);
    if (bus == nullptr) return nullptr;
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        reason = std::string("no wake-up descriptor for the power thread (") + std::strerror(errno) + ")";
        sd_bus_flush_close_unref(bus);
        return nullptr;
    }
    return std::shared_ptr<LogindListener>(new LogindListener(bus, wakeFd));
}

LogindListener::LogindListener(sd_bus *bus, int wakeFd) : bus_(bus), wakeFd_(wakeFd) {}

LogindListener::~LogindListener() {
    sd_bus_slot_unref(inhibitCall_);
    sd_bus_slot_unref(matchSlot_);
    if (inhibitorFd_ >= 0) close(inhibitorFd_);
    sd_bus_flush_close_unref(bus_);
    close(wakeFd_);
}

void LogindListener::run() {
    unsigned waitMs = firstReconnectMs;
    for (;;) {
        // Subscribed before the lock is asked for, on the same connection: the bus installs the match first, so no
        // PrepareForSleep can pass between the two.
        if (subscribe() && requestInhibitor()) loop();
        // The lock must not outlive the listening: logind would wait for it at every suspend.
        releaseInhibitor();
        // Logind or the bus daemon restarted (a package upgrade): without a new connection the next suspend would
        // send the printer no suspend command.
        if (!lost_ || stopping() || !reconnect(waitMs)) return;
        waitMs = std::min(waitMs * 2, lastReconnectMs);
    }
}

bool LogindListener::reconnect(unsigned waitMs) {
    // "off: the system bus connection was lost (...)": off for now, and on again once connected.
    std::string lostBecause = state();
    for (;;) {
        setState(lostBecause + "; connecting again in " + std::to_string(waitMs / 1000) + " s");
        if (!waitForStop(waitMs)) return false;
        std::string reason;
        sd_bus *bus = openSystemBus(reason);
        if (bus != nullptr) {
            matchSlot_ = sd_bus_slot_unref(matchSlot_);
            inhibitCall_ = sd_bus_slot_unref(inhibitCall_);
            sd_bus_flush_close_unref(bus_);
            bus_ = bus;
            done_ = false;
            lost_ = false;
            reconnected_ = true;
            setState("on: connecting to logind again");
            return true;
        }
        waitMs = std::min(waitMs * 2, lastReconnectMs);
    }
}

// False when a stop came first. The wait is the layer's time scale's, like every specified delay.
bool LogindListener::waitForStop(unsigned waitMs) {
    platform::Clock::time_point end = platform::deadlineAfter(waitMs);
    for (;;) {
        if (stopping()) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - platform::Clock::now()).count();
        if (left <= 0) return true;
        pollfd wake{wakeFd_, POLLIN, 0};
        poll(&wake, 1, static_cast<int>(left));
    }
}

void LogindListener::markEnded() {
    std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
    changed_.notify_all();
}

bool LogindListener::requestStop() {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_ = true;
    uint64_t one = 1;
    // Fails only when the counter is full, which already wakes the thread.
    (void)!write(wakeFd_, &one, sizeof(one));
    return !broadcasting_;
}

void LogindListener::waitUntilEnded() {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return ended_; });
}

std::string LogindListener::state() {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

void LogindListener::setState(const std::string &state) {
    std::lock_guard<std::mutex> guard(lock_);
    state_ = state;
}

void LogindListener::end(const std::string &reason) {
    done_ = true;
    setState("off: " + reason);
}

void LogindListener::loseConnection(int result) {
    end(std::string("the system bus connection was lost (") + std::strerror(-result) + ")");
    lost_ = true;
}

bool LogindListener::stopping() {
    std::lock_guard<std::mutex> guard(lock_);
    return stopRequested_;
}

bool LogindListener::subscribe() {
    int result = sd_bus_match_signal_async(bus_, &matchSlot_, logindService, logindPath, logindManager,
                                           "PrepareForSleep", onPrepareForSleep, onMatchInstalled, this);
    if (result >= 0) return true;
    end(std::string("cannot listen for logind's PrepareForSleep (") + std::strerror(-result) + ")");
    return false;
}

bool LogindListener::requestInhibitor() {
    inhibitCall_ = sd_bus_slot_unref(inhibitCall_);
    int result = sd_bus_call_method_async(bus_, &inhibitCall_, logindService, logindPath, logindManager, "Inhibit",
                                          onInhibitReply, this, "ssss", "sleep", inhibitorWho, inhibitorWhy, "delay");
    if (result >= 0) return true;
    end(std::string("cannot ask logind for a delay lock (") + std::strerror(-result) + ")");
    return false;
}

void LogindListener::takeInhibitor(sd_bus_message *reply) {
    int fd = -1;
    int result = sd_bus_message_read(reply, "h", &fd);
    // The descriptor belongs to the reply, which goes when this returns.
    int kept = result >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
    if (kept < 0) {
        setState(
            "on, without a delay lock (logind's answer carried no descriptor): the suspend command may race "
            "the sleep");
        return;
    }
    // A suspend that began while the answer was on its way has had its broadcast already: the lock would only
    // hold the sleep up.
    if (sleeping_) {
        close(kept);
        return;
    }
    inhibitorFd_ = kept;
    setState("on: listening for logind's PrepareForSleep, delay lock held");
}

void LogindListener::releaseInhibitor() {
    if (inhibitorFd_ < 0) return;
    close(inhibitorFd_);
    inhibitorFd_ = -1;
}

int LogindListener::onMatchInstalled(sd_bus_message *message, void *self, sd_bus_error *) {
    const sd_bus_error *error = sd_bus_message_get_error(message);
    if (error == nullptr) return 0;
    static_cast<LogindListener *>(self)->end("the system bus refused the PrepareForSleep match (" +
                                             errorText(error, 0) + ")");
    return 0;
}

int LogindListener::onInhibitReply(sd_bus_message *message, void *self, sd_bus_error *) {
    auto *listener = static_cast<LogindListener *>(self);
    const sd_bus_error *error = sd_bus_message_get_error(message);
    if (error == nullptr) {
        listener->takeInhibitor(message);
        return 0;
    }
    if (logindAbsent(error)) {
        listener->end("no logind on the system bus, so the library is not told of suspend and resume");
        // Back on a restarted bus before logind is: it will come.
        if (listener->reconnected_) listener->lost_ = true;
        return 0;
    }
    // Refused (a policy), but the signal still comes: the events are delivered, only without the guarantee.
    listener->setState("on, without a delay lock (" + errorText(error, 0) +
                       "): the suspend command may race the sleep");
    return 0;
}

int LogindListener::onPrepareForSleep(sd_bus_message *message, void *self, sd_bus_error *) {
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) return 0;
    static_cast<LogindListener *>(self)->prepareForSleep(start != 0);
    return 0;
}

// As Windows: the suspend is sent to the windows and waited for; after a resume that a person started, the
// automatic resume comes first and then the resume from suspend.
void LogindListener::prepareForSleep(bool start) {
    sleeping_ = start;
    if (start) {
        broadcast(PBT_APMSUSPEND);
        releaseInhibitor();
        return;
    }
    if (!broadcast(PBT_APMRESUMEAUTOMATIC) || !broadcast(PBT_APMRESUMESUSPEND)) return;
    if (inhibitorFd_ < 0) requestInhibitor();
}

// False, without broadcasting, once a stop was asked for: the window that would receive it may be the one whose
// destruction asked.
bool LogindListener::broadcast(WPARAM event) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopRequested_) return false;
        broadcasting_ = true;
    }
    platform::broadcastMessage(WM_POWERBROADCAST, event, 0);
    std::lock_guard<std::mutex> guard(lock_);
    broadcasting_ = false;
    return true;
}

void LogindListener::loop() {
    for (;;) {
        int result = sd_bus_process(bus_, nullptr);
        if (result < 0) {
            loseConnection(result);
            return;
        }
        if (done_ || stopping()) return;
        if (result > 0) continue;
        if (!waitForTraffic()) return;
    }
}

bool LogindListener::waitForTraffic() {
    int events = sd_bus_get_events(bus_);
    if (events < 0) {
        loseConnection(events);
        return false;
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(events), 0}, {wakeFd_, POLLIN, 0}};
    int result = poll(fds, 2, pollTimeout(bus_));
    if (result >= 0 || errno == EINTR) return true;
    end(std::string("the power thread cannot wait for the system bus (") + std::strerror(errno) + ")");
    return false;
}

}  // namespace linuxdev
