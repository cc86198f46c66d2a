// How a real backend's thread, asleep in poll() with no time-out, is told that something changed: an eventfd among
// the descriptors it polls. Nothing else wakes it, so an idle link costs no wake-ups.
#pragma once

namespace linuxdev {

class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup &) = delete;
    Wakeup &operator=(const Wakeup &) = delete;

    // For poll(), with POLLIN.
    int fd() const { return fd_; }
    // Any thread, with or without the backend's lock.
    void wake();
    // On the polling thread, after poll reported the descriptor readable.
    void drain();

private:
    const int fd_;
};

}  // namespace linuxdev
