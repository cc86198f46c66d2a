// One connection to the system bus and the thread that listens on it for logind's PrepareForSleep, turning it into
// WM_POWERBROADCAST for the process's top-level windows, as Windows delivers a suspend and a resume.
//
// While it listens it holds a delay inhibitor lock: logind then waits for the lock before the system sleeps, so the
// suspend handlers' work (the printer's suspend command) is on the wire first. The lock is released once the
// suspend broadcast has returned, and taken again after the resume.
//
// The thread waits only in poll, on the bus and on a wake-up descriptor for its stop: no timers, no wake-ups while
// the system stays up.
#pragma once

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <windows.h>

namespace linuxdev {

class LogindListener {
public:
    // Connects to the system bus; null, with the reason, when there is none.
    static std::shared_ptr<LogindListener> open(std::string &reason);
    ~LogindListener();
    LogindListener(const LogindListener &) = delete;
    LogindListener &operator=(const LogindListener &) = delete;

    // The thread's body. Returns once stopped or when logind is absent. When the bus connection is lost (logind or
    // the bus daemon restarted), it connects again, waiting 1 s, then twice as long after each failure up to a
    // minute; the probe's line says so meanwhile.
    void run();
    // The thread's last act, after run and after the layer stopped counting it as live: ends waitUntilEnded.
    void markEnded();
    // Asks the thread to end. Returns false while a broadcast is running: the caller may be the window procedure
    // that the broadcast waits for, so it must not wait for the thread; the thread ends after that broadcast.
    bool requestStop();
    // Waits until the thread has marked its end.
    void waitUntilEnded();
    // For the probe: listening (with or without the delay lock), or why not.
    std::string state();

private:
    LogindListener(sd_bus *bus, int wakeFd);

    static int onPrepareForSleep(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onInhibitReply(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onMatchInstalled(sd_bus_message *message, void *self, sd_bus_error *error);

    bool subscribe();
    bool requestInhibitor();
    void takeInhibitor(sd_bus_message *reply);
    void releaseInhibitor();
    void prepareForSleep(bool start);
    bool broadcast(WPARAM event);
    bool waitForTraffic();
    void loop();
    bool stopping();
    void end(const std::string &reason);
    void loseConnection(int result);
    // Waits, then opens a new connection until one opens; false when a stop came first.
    bool reconnect(unsigned waitMs);
    bool waitForStop(unsigned waitMs);
    void setState(const std::string &state);

    sd_bus *bus_;
    int wakeFd_;
    sd_bus_slot *matchSlot_ = nullptr;
    sd_bus_slot *inhibitCall_ = nullptr;
    // Touched only by the thread.
    int inhibitorFd_ = -1;
    bool sleeping_ = false;
    // Set when logind or the bus leaves nothing to listen to.
    bool done_ = false;
    // Set when the connection was lost, rather than logind found absent or a stop asked for.
    bool lost_ = false;
    // On a connection made after one was lost.
    bool reconnected_ = false;

    std::mutex lock_;
    std::condition_variable changed_;
    bool stopRequested_ = false;
    bool broadcasting_ = false;
    bool ended_ = false;
    std::string state_ = "on: connecting to logind";
};

}  // namespace linuxdev
