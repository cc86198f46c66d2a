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
    platform::markLayerThreadFinished();
    changed_.notify_all();
}

platform::LayerThreadId BackendThread::stop(std::unique_lock<std::mutex> &lock, Wakeup &wakeup) {
    if (running_) {
        stopping_ = true;
        wakeup.wake();
        changed_.wait(lock, [this] { return !running_; });
        stopping_ = false;
        changed_.notify_all();
    }
    platform::LayerThreadId thread = thread_;
    thread_ = 0;
    return thread;
}

}  // namespace linuxdev
