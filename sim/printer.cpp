#include "sim/printer.h"

#include <algorithm>

#include "discovery/SupportedDevices.h"
#include "sim/device_path.h"

namespace sim {
namespace {

using platform::Clock;

const Driver &driverFor(Transport transport) {
    return transport == Transport::Native ? nativeDriver() : printerClassDriver();
}

const GUID &interfaceClassFor(Transport transport) {
    return transport == Transport::Native ? GUID_NATIVE_USB_INTERFACE : GUID_USBPRINT_INTERFACE;
}

// The held request, taken out of the queue; null when the queue does not hold it.
std::shared_ptr<platform::IoRequest> removeRequest(std::deque<PendingIo> &queue, const platform::IoRequest &request) {
    auto found = std::find_if(queue.begin(), queue.end(),
                              [&request](const PendingIo &io) { return io.request.get() == &request; });
    if (found == queue.end()) return nullptr;
    std::shared_ptr<platform::IoRequest> held = std::move(found->request);
    queue.erase(found);
    return held;
}

}  // namespace

Printer::Printer(std::mutex &busLock, int id, const PrinterSetup &setup, const std::string &instance)
    : id(id),
      transport(setup.transport),
      path(devicePath(setup.vid, setup.pid, setup.letterCase, instance, interfaceClassFor(setup.transport))),
      interfaceClass(interfaceClassFor(setup.transport)),
      driver(driverFor(setup.transport)),
      timeouts(driver.defaultTimeouts()),
      busLock_(busLock) {}

void Printer::startRead(const std::shared_ptr<platform::IoRequest> &request, Effects &effects) {
    if (request->length() == 0) {
        effects.complete(request, ERROR_SUCCESS, 0);
        return;
    }
    PendingIo read;
    read.request = request;
    driver.prepareRead(*this, read);
    reads.push_back(read);
    driver.serveReads(*this, Clock::now(), effects);
    if (reads.empty() || reads.back().request != request) return;  // ended at once
    if (!request->markPending()) {
        reads.pop_back();
        effects.complete(request, ERROR_OPERATION_ABORTED, 0);
    }
}

void Printer::startWrite(const std::shared_ptr<platform::IoRequest> &request, Effects &effects) {
    if (request->length() == 0) {
        effects.complete(request, ERROR_SUCCESS, 0);
        return;
    }
    if (!stalled && writes.empty()) {
        accept(*request, effects);
        effects.complete(request, ERROR_SUCCESS, request->length());
        return;
    }
    if (!request->markPending()) {
        effects.complete(request, ERROR_OPERATION_ABORTED, 0);
        return;
    }
    PendingIo write;
    write.request = request;
    write.deadline = driver.writeDeadline(*this, request->length());
    writes.push_back(write);
}

void Printer::serve(Clock::time_point now, Effects &effects) {
    driver.serveReads(*this, now, effects);
    serveWrites(now, effects);
}

void Printer::fillRead(const PendingIo &read, DWORD count, Effects &effects) {
    auto *buffer = static_cast<uint8_t *>(read.request->buffer());
    std::copy_n(toHost.begin(), count, buffer);
    toHost.erase(toHost.begin(), toHost.begin() + count);
    effects.complete(read.request, ERROR_SUCCESS, count);
}

void Printer::endReads(DWORD error, Effects &effects) {
    for (PendingIo &read : reads) effects.complete(read.request, error, 0);
    reads.clear();
}

void Printer::endWrites(DWORD error, Effects &effects) {
    for (PendingIo &write : writes) effects.complete(write.request, error, 0);
    writes.clear();
}

bool Printer::cancel(platform::IoRequest &request, Effects &effects) {
    std::shared_ptr<platform::IoRequest> held = removeRequest(reads, request);
    if (!held) held = removeRequest(writes, request);
    if (!held) return false;
    effects.complete(held, ERROR_OPERATION_ABORTED, 0);
    // A read behind the cancelled one may now be first in line for the bytes there.
    serve(Clock::now(), effects);
    return true;
}

void Printer::unplug(Effects &effects) {
    if (!present) return;
    present = false;
    ++generation;
    endReads(codes.inFlightAtUnplug, effects);
    endWrites(codes.inFlightAtUnplug, effects);
    toHost.clear();
}

void Printer::replug() {
    if (present || removed) return;
    present = true;
    timeouts = driver.defaultTimeouts();
}

Clock::time_point Printer::nextDeadline() const {
    Clock::time_point next = PendingIo::never;
    for (const PendingIo &read : reads) next = std::min(next, read.nextDeadline());
    for (const PendingIo &write : writes) next = std::min(next, write.nextDeadline());
    return next;
}

void Printer::feedModel() {
    for (;;) {
        PrinterModel current;
        std::vector<uint8_t> bytes;
        {
            std::lock_guard<std::mutex> guard(busLock_);
            if (modelBusy_ || modelQueue_.empty()) return;
            current = model;
            bytes = std::move(modelQueue_.front());
            modelQueue_.pop_front();
            modelBusy_ = true;
        }
        if (current) current(bytes.data(), bytes.size());
        std::lock_guard<std::mutex> guard(busLock_);
        modelBusy_ = false;
    }
}

void Printer::accept(const platform::IoRequest &write, Effects &effects) {
    const auto *bytes = static_cast<const uint8_t *>(write.buffer());
    fromHost.insert(fromHost.end(), bytes, bytes + write.length());
    if (!model) return;
    modelQueue_.emplace_back(bytes, bytes + write.length());
    effects.feedModel(shared_from_this());
}

void Printer::serveWrites(Clock::time_point now, Effects &effects) {
    while (!writes.empty() && !stalled) {
        accept(*writes.front().request, effects);
        effects.complete(writes.front().request, ERROR_SUCCESS, writes.front().request->length());
        writes.pop_front();
    }
    // A write time-out is no error: the write ends successfully with the bytes taken so far, none here.
    for (auto it = writes.begin(); it != writes.end();) {
        if (now < it->deadline) {
            ++it;
            continue;
        }
        effects.complete(it->request, ERROR_SUCCESS, 0);
        it = writes.erase(it);
    }
}

}  // namespace sim
