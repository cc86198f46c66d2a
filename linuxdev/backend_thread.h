// The one thread a real backend runs while this process has one of its printers open (usblp's I/O thread, libusb's
// events thread): started with the first open printer, under the backend's lock; its loop ends by itself with the
// last, or when asked, at the last close and at the library's unload.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "kernel/thread_registry.h"
#include "linuxdev/wakeup.h"

namespace linuxdev {

class BackendThread {
public:
    // `changed` is the backend's condition, notified as the loop ends and once a stop is over.
    explicit BackendThread(std::condition_variable &changed) : changed_(changed) {}

    // All with the backend's lock held.
    // Without the thread, requests that must wait end only by cancel or close; those that end at once still do.
    void start(std::function<void()> loop);
    bool isRunning() const { return running_; }
    // Whether a stop is under way: the loop must end, and no new thread may start before it has.
    bool isStopping() const { return stops_ > 0; }
    // On the thread itself, as its loop ends.
    void loopEnded();
    // Asks the loop to end through `wakeup` and waits, letting the lock go, until it has. Returns the thread to
    // join, after the lock is released; 0 for none.
    platform::LayerThreadId stop(std::unique_lock<std::mutex> &lock, Wakeup &wakeup);

private:
    std::condition_variable &changed_;
    bool running_ = false;
    // Stops under way, and loops ended so far.
    int stops_ = 0;
    unsigned loopsEnded_ = 0;
    platform::LayerThreadId thread_ = 0;
};

}  // namespace linuxdev
