#include "linuxdev/backend_thread.h"

#include <system_error>

namespace linuxdev {

void BackendThread::start(std::function<void()> loop) {
    try {
        thread_ = platform::startLayerThread(std::move(loop));
        running_ = true;
    } catch (const std::system_error &) {
    }
}

void BackendThread::loopEnded() {
    running_ = false;
    ++loopsEnded_;
    platform::markLayerThreadFinished();
    changed_.notify_all();
}

platform::LayerThreadId BackendThread::stop(std::unique_lock<std::mutex> &lock, Wakeup &wakeup) {
    platform::LayerThreadId thread = thread_;
    if (running_) {
        // Until the thread seen running has ended, which is the next loop to end: while any stop is under way no
        // open starts another. Two closes may stop the same thread; each counts itself, so that the first to see it
        // end does not let an open start the next while the second still waits.
        unsigned endedBefore = loopsEnded_;
        ++stops_;
        wakeup.wake();
        changed_.wait(lock, [this, endedBefore] { return loopsEnded_ != endedBefore; });
        --stops_;
        changed_.notify_all();
    }
    if (thread_ == thread) thread_ = 0;
    return thread;
}

}  // namespace linuxdev
