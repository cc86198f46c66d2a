#include "linuxdev/native_backend.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "discovery/SupportedDevices.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/native_file.h"

namespace linuxdev {
namespace {

int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *device, libusb_hotplug_event event, void *) {
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) NativeBackend::instance().deviceLeft(device);
    return 0;
}

DWORD errorForLibusb(int error) {
    switch (error) {
    case LIBUSB_ERROR_ACCESS:
    case LIBUSB_ERROR_BUSY:
        return ERROR_ACCESS_DENIED;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace

void LIBUSB_CALL transferCameBack(libusb_transfer *transfer) {
    NativeBackend::instance().transferBack(static_cast<NativeTransfer *>(transfer->user_data));
}

NativeBackend &NativeBackend::instance() {
    static NativeBackend *backend = new NativeBackend;
    return *backend;
}

NativeBackend::NativeBackend() = default;

libusb_context *NativeBackend::context() {
    std::lock_guard<std::mutex> guard(mutex_);
    return contextLocked();
}

libusb_context *NativeBackend::contextLocked() {
    // Made at first use, not at load: a process without USB (a container) pays nothing, and libusb's hot-plug
    // monitor starts in whatever device world the process has by then.
    if (contextTried_) return context_;
    contextTried_ = true;
    if (libusb_init(&context_) != 0) {
        context_ = nullptr;
        return nullptr;
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        libusb_hotplug_register_callback(context_, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                                         LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                         onHotplug, nullptr, nullptr);
    }
    return context_;
}

std::vector<NativeCandidate> NativeBackend::listCandidates() {
    libusb_context *usb = context();
    std::lock_guard<std::mutex> guard(listMutex_);
    return listNativeCandidates(usb);
}

std::shared_ptr<platform::DeviceFile> NativeBackend::open(const std::string &path, DWORD, DWORD &error) {
    std::string name = platform::canonicalName(path);
    // Listed before the lock: a printer-class candidate is opened to ask for its kernel driver, and libusb_close
    // under the lock could deadlock with a completion callback waiting for it (see openCandidate).
    std::vector<NativeCandidate> candidates = listCandidates();
    std::unique_lock<std::mutex> lock(mutex_);
    // The interface a closing file still holds is let go at once; a claim before that would find it busy. And a
    // thread stopping after the last close must be gone before the next starts. An open of the same printer in
    // progress elsewhere is waited for too, and then shared: one claim per printer. Waited for before anything else:
    // from the lookup to the new device's listing, no second open may claim again.
    changed_.wait(lock,
                  [this, &name] { return !eventsThread_.isStopping() && !releasingPath(name) && !openingPath(name); });
    platform::Pipe pipe = platform::Pipe::Device;
    // One handle and one claim per printer, whatever the number of files: detection's probes do not claim again.
    for (const auto &device : devices_) {
        if (!platform::pipeOf(name, device->candidate().interfacePath, pipe)) continue;
        device->fileOpened();
        return std::make_shared<NativeFile>(*this, device, pipe);
    }
    for (NativeCandidate &candidate : candidates) {
        if (!platform::pipeOf(name, candidate.interfacePath, pipe)) continue;
        return openCandidate(lock, std::move(candidate), pipe, error);
    }
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::shared_ptr<platform::DeviceFile> NativeBackend::openCandidate(std::unique_lock<std::mutex> &lock,
                                                                   NativeCandidate candidate, platform::Pipe pipe,
                                                                   DWORD &error) {
    // libusb_open and libusb_close take libusb's list of open devices, which its event handling holds while our
    // completion callbacks wait for this lock: done under it, the two threads could deadlock. Meanwhile the
    // printer counts as opening, and the handle is counted so that no other last close stops the events thread.
    opening_.push_back(candidate.interfacePath);
    ++handlesOpen_;
    lock.unlock();
    libusb_device_handle *handle = nullptr;
    int result = libusb_open(candidate.device.get(), &handle);
    if (result == 0) {
        result = libusb_claim_interface(handle, candidate.interfaceNumber);
        if (result != 0) libusb_close(handle);
    }
    lock.lock();
    opening_.erase(std::find(opening_.begin(), opening_.end(), candidate.interfacePath));
    changed_.notify_all();
    if (result != 0) {
        error = errorForLibusb(result);
        bool last = --handlesOpen_ == 0;
        lock.unlock();
        if (last) stopEventsThread();
        return nullptr;
    }
    auto device = std::make_shared<NativeDevice>(std::move(candidate), handle);
    devices_.push_back(device);
    device->fileOpened();
    if (!eventsThread_.isRunning()) eventsThread_.start([this] { runEvents(); });
    wakeup_.wake();
    return std::make_shared<NativeFile>(*this, device, pipe);
}

std::vector<platform::DeviceInterface> NativeBackend::interfaces(const GUID *interfaceClass, bool) {
    std::vector<platform::DeviceInterface> found;
    if (interfaceClass != nullptr && std::memcmp(interfaceClass, &GUID_NATIVE_USB_INTERFACE, sizeof(GUID)) != 0) {
        return found;
    }
    // Listed fresh each time: libusb's own hot-plug monitor keeps its device list current. Outside the lock, as
    // in open.
    for (const NativeCandidate &candidate : listCandidates()) {
        found.push_back(platform::DeviceInterface{GUID_NATIVE_USB_INTERFACE, candidate.interfacePath, true});
    }
    return found;
}

void NativeBackend::forget(const std::shared_ptr<NativeDevice> &device) {
    auto found = std::find(devices_.begin(), devices_.end(), device);
    if (found != devices_.end()) devices_.erase(found);
}

void NativeBackend::beginRelease(const std::shared_ptr<NativeDevice> &device) {
    forget(device);
    releasing_.push_back(device);
}

void NativeBackend::release(const std::shared_ptr<NativeDevice> &device) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // The transfers asked back must be back before the handle goes: libusb writes into their buffers.
        changed_.wait(lock, [&device] { return !device->hasTransfers(); });
    }
    libusb_release_interface(device->handle(), device->candidate().interfaceNumber);
    libusb_close(device->handle());
    bool last = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        releasing_.erase(std::find(releasing_.begin(), releasing_.end(), device));
        last = --handlesOpen_ == 0;
        changed_.notify_all();
    }
    if (last) stopEventsThread();
}

bool NativeBackend::openingPath(const std::string &name) {
    platform::Pipe pipe = platform::Pipe::Device;
    for (const std::string &interfacePath : opening_) {
        if (platform::pipeOf(name, interfacePath, pipe)) return true;
    }
    return false;
}

bool NativeBackend::releasingPath(const std::string &name) {
    platform::Pipe pipe = platform::Pipe::Device;
    for (const auto &device : releasing_) {
        if (platform::pipeOf(name, device->candidate().interfacePath, pipe)) return true;
    }
    return false;
}

void NativeBackend::transferBack(NativeTransfer *transfer) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        std::shared_ptr<NativeDevice> gone;
        NativeDevice &device = transfer->device;
        bool wasGone = device.isGone();
        device.transferBack(transfer, done);
        if (!wasGone && device.isGone()) {
            for (const auto &open : devices_) {
                if (open.get() == &device) gone = open;
            }
            if (gone) forget(gone);
        }
        changed_.notify_all();
    }
    done.run();
}

void NativeBackend::deviceLeft(libusb_device *usbDevice) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto &device : std::vector<std::shared_ptr<NativeDevice>>(devices_)) {
            if (device->candidate().device.get() != usbDevice) continue;
            device->unplug(done);
            forget(device);
        }
    }
    done.run();
}

size_t NativeBackend::openDevices() {
    std::lock_guard<std::mutex> guard(mutex_);
    return handlesOpen_;
}

size_t NativeBackend::pendingReads() {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t count = 0;
    for (const auto &device : devices_) count += device->pendingReads();
    return count;
}

bool NativeBackend::eventsThreadRunning() {
    std::lock_guard<std::mutex> guard(mutex_);
    return eventsThread_.isRunning();
}

bool NativeBackend::holds(const std::string &interfacePath) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto &device : devices_) {
        if (platform::equalsIgnoringCase(device->candidate().interfacePath, interfacePath)) return true;
    }
    return false;
}

}  // namespace linuxdev
