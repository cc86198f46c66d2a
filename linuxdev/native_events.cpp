// The native backend's events thread: libusb's event handling, woken by descriptors only.
#include <poll.h>

#include "linuxdev/native_backend.h"

namespace linuxdev {
namespace {

// libusb's descriptors now: its own wake-up, its timer and each open device's usbfs node.
void addLibusbDescriptors(libusb_context *context, std::vector<pollfd> &fds) {
    const libusb_pollfd **list = libusb_get_pollfds(context);
    if (list == nullptr) return;
    for (const libusb_pollfd **entry = list; *entry != nullptr; ++entry) {
        fds.push_back(pollfd{(*entry)->fd, (*entry)->events, 0});
    }
    libusb_free_pollfds(list);
}

// -1 (none) unless libusb has a time-out that no descriptor of its own reports.
int pollTimeoutMs(libusb_context *context) {
    timeval next{};
    if (libusb_get_next_timeout(context, &next) != 1) return -1;
    return static_cast<int>(next.tv_sec * 1000 + (next.tv_usec + 999) / 1000);
}

}  // namespace

void NativeBackend::stopEventsThread(bool always) {
    platform::LayerThreadId thread = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!always && handlesOpen_ != 0) return;
        thread = eventsThread_.stop(lock, wakeup_);
    }
    if (thread != 0) platform::joinLayerThread(thread);
}

void NativeBackend::shutDownAtUnload() {
    stopEventsThread(true);
    std::lock_guard<std::mutex> guard(mutex_);
    // Handles Java left open keep the context: libusb_exit would free what they still use.
    if (handlesOpen_ != 0 || context_ == nullptr) return;
    libusb_exit(context_);
    context_ = nullptr;
    contextTried_ = false;
}

void NativeBackend::runEvents() {
    std::unique_lock<std::mutex> lock(mutex_);
    libusb_context *context = context_;
    // Ends with the last open handle, or when told to.
    while (!eventsThread_.isStopping() && handlesOpen_ != 0) {
        std::vector<pollfd> fds{{wakeup_.fd(), POLLIN, 0}};
        lock.unlock();
        addLibusbDescriptors(context, fds);
        int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs(context));
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) wakeup_.drain();
        // Without waiting: poll said what is ready. The callbacks take the lock themselves.
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(context, &zero, nullptr);
        lock.lock();
    }
    eventsThread_.loopEnded();
}

}  // namespace linuxdev
