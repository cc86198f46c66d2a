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

// Takes the request out of the queue into `held`; false when the queue does not hold it.
bool removeRequest(std::deque<PendingIo> &queue, const platform::IoRequest &request, PendingIo &held) {
    auto found = std::find_if(queue.begin(), queue.end(),
                              [&request](const PendingIo &io) { return io.request.get() == &request; });
    if (found == queue.end()) return false;
    held = std::move(*found);
    queue.erase(found);
    return true;
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

void Printer::startRead(const std::shared_ptr<platform::IoRequest> &request, const void *file, Effects &effects) {
    if (request->length() == 0) {
        effects.complete(request, ERROR_SUCCESS, 0);
        return;
    }
    // Pending before any byte is looked at: the read cannot end inside ReadFile.
    if (!completeAtOnce && !request->markPending()) {
        effects.complete(request, ERROR_OPERATION_ABORTED, 0);
        return;
    }
    if (zeroLengthDue()) {
        effects.complete(request, ERROR_SUCCESS, 0);
        return;
    }
    PendingIo read;
    read.request = request;
    read.file = file;
    driver.prepareRead(*this, read);
    reads.push_back(read);
    driver.serveReads(*this, Clock::now(), effects);
    if (reads.empty() || reads.back().request != request) return;  // ended at once
    if (!request->markPending()) {
        reads.pop_back();
        effects.complete(request, ERROR_OPERATION_ABORTED, 0);
    }
}

void Printer::startWrite(const std::shared_ptr<platform::IoRequest> &request, const void *file, Effects &effects) {
    if (request->length() == 0) {
        effects.complete(request, ERROR_SUCCESS, 0);
        return;
    }
    if (writes.empty() && takesWrite(*request)) {
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
    write.file = file;
    write.deadline = driver.writeDeadline(*this, request->length());
    writes.push_back(write);
}

void Printer::serve(Clock::time_point now, Effects &effects) {
    driver.serveReads(*this, now, effects);
    serveWrites(now, effects);
    serveCancelling(now, effects);
}

void Printer::offerToHost(size_t count) {
    if (toHost.size() >= count) return;
    streamWaiting_ += stream.produce(toHost, count - toHost.size());
}

void Printer::fillRead(const PendingIo &read, DWORD count, Effects &effects) {
    auto *buffer = static_cast<uint8_t *>(read.request->buffer());
    std::copy_n(toHost.begin(), count, buffer);
    size_t sentBefore = toHost.size() - streamWaiting_;
    if (count > sentBefore) streamWaiting_ -= count - sentBefore;
    toHost.erase(toHost.begin(), toHost.begin() + count);
    effects.complete(read.request, ERROR_SUCCESS, count);
}

void Printer::clearToHost() {
    toHost.clear();
    streamWaiting_ = 0;
}

size_t Printer::heldRequests(platform::IoKind kind) const {
    size_t held = kind == platform::IoKind::Read ? reads.size() : writes.size();
    for (const PendingIo &io : cancelling) {
        if (io.request->kind() == kind) ++held;
    }
    return held;
}

void Printer::endReads(DWORD error, Effects &effects) {
    for (PendingIo &read : reads) effects.complete(read.request, error, 0);
    reads.clear();
}

void Printer::endWrites(DWORD error, Effects &effects) {
    for (PendingIo &write : writes) effects.complete(write.request, error, 0);
    writes.clear();
}

void Printer::endRequestsOf(const void *file, DWORD error, Effects &effects) {
    for (std::deque<PendingIo> *queue : {&reads, &writes, &cancelling}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (it->file != file) {
                ++it;
                continue;
            }
            effects.complete(it->request, error, 0);
            it = queue->erase(it);
        }
    }
    // A read behind the ended ones may now be first in line for the bytes there.
    serve(Clock::now(), effects);
}

bool Printer::cancel(platform::IoRequest &request, Effects &effects) {
    if (ignoreCancel) return false;
    PendingIo held;
    if (!removeRequest(reads, request, held) && !removeRequest(writes, request, held)) return false;
    if (cancelDelay == 0) {
        effects.complete(held.request, ERROR_OPERATION_ABORTED, 0);
    } else {
        held.deadline = platform::deadlineAfter(cancelDelay);
        held.gapDeadline = PendingIo::never;
        cancelling.push_back(std::move(held));
    }
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
    for (PendingIo &io : cancelling) effects.complete(io.request, ERROR_OPERATION_ABORTED, 0);
    cancelling.clear();
    clearToHost();
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
    for (const PendingIo &io : cancelling) next = std::min(next, io.deadline);
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
    while (!writes.empty() && takesWrite(*writes.front().request)) {
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

namespace sim {

void Printer::serveCancelling(Clock::time_point now, Effects &effects) {
    for (auto it = cancelling.begin(); it != cancelling.end();) {
        if (now < it->deadline) {
            ++it;
            continue;
        }
        effects.complete(it->request, ERROR_OPERATION_ABORTED, 0);
        it = cancelling.erase(it);
    }
}

bool Printer::takesWrite(const platform::IoRequest &write) const {
    if (stalled) return false;
    if (!writeGate) return true;
    return writeGate(static_cast<const uint8_t *>(write.buffer()), write.length());
}

bool Printer::zeroLengthDue() {
    ++readsStarted;
    return zeroLengthEvery != 0 && readsStarted % zeroLengthEvery == 0;
}

}  // namespace sim
