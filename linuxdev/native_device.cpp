#include "linuxdev/native_device.h"

#include <algorithm>
#include <cstring>

#include "linuxdev/native_backend.h"

namespace linuxdev {

NativeDevice::NativeDevice(NativeCandidate candidate, libusb_device_handle *handle)
    : candidate_(std::move(candidate)), handle_(handle) {}

size_t NativeDevice::pendingReads() const {
    return std::count_if(transfers_.begin(), transfers_.end(),
                         [](const std::unique_ptr<NativeTransfer> &t) { return t->isRead() && !t->ended; });
}

int NativeDevice::submit(NativeTransfer &transfer, unsigned timeoutMs) {
    if (!transfer.isRead()) {
        libusb_fill_bulk_transfer(transfer.usb, handle_, candidate_.outEndpoint, transfer.bytes.data(),
                                  static_cast<int>(transfer.bytes.size()), transferCameBack, &transfer, timeoutMs);
        return libusb_submit_transfer(transfer.usb);
    }
    // Whole packets for the rest: a packet that does not fit would overflow and be lost.
    size_t packet = static_cast<size_t>(candidate_.inPacketSize);
    size_t wanted = transfer.request->length() - transfer.got;
    size_t asked = (wanted + packet - 1) / packet * packet;
    transfer.bytes.resize(transfer.got + asked);
    libusb_fill_bulk_transfer(transfer.usb, handle_, candidate_.inEndpoint, transfer.bytes.data() + transfer.got,
                              static_cast<int>(asked), transferCameBack, &transfer, timeoutMs);
    return libusb_submit_transfer(transfer.usb);
}

void NativeDevice::deliver(NativeTransfer &transfer, Completions &done) {
    DWORD length = transfer.request->length();
    DWORD count = std::min(transfer.got, length);
    std::memcpy(transfer.request->buffer(), transfer.bytes.data(), count);
    if (transfer.got > length) held_.append(transfer.bytes.begin() + length, transfer.bytes.begin() + transfer.got);
    end(transfer, ERROR_SUCCESS, count, done);
}

void NativeDevice::start(const std::shared_ptr<platform::IoRequest> &request, const void *file,
                         const COMMTIMEOUTS &timeouts, Completions &done) {
    // Windows completes a request for no bytes at once; a zero-length packet is no part of it.
    if (request->length() == 0) {
        done.add(request, ERROR_SUCCESS, 0);
        return;
    }
    auto owned = std::make_unique<NativeTransfer>(*this, request, file);
    NativeTransfer &transfer = *owned;
    unsigned timeoutMs = 0;
    if (transfer.isRead()) {
        transfer.limits = readLimits(timeouts, request->length());
        // Bytes an earlier packet brought come first, and may be all this read needs.
        DWORD taken = static_cast<DWORD>(std::min<size_t>(held_.size(), request->length()));
        transfer.bytes.assign(held_.begin(), held_.begin() + taken);
        held_.erase(0, taken);
        transfer.got = taken;
        bool enough = taken == request->length() ||
                      (taken > 0 && (transfer.limits.endsAtOnce || transfer.limits.endsOnFirstBytes));
        if (enough) {
            std::memcpy(request->buffer(), transfer.bytes.data(), taken);
            done.add(request, ERROR_SUCCESS, taken);
            return;
        }
        bool expired = false;
        timeoutMs = nextReadTransferMs(transfer.limits, taken, 0, expired);
    } else {
        std::memcpy(transfer.bytes.data(), request->buffer(), request->length());
        timeoutMs = writeLimitMs(timeouts, request->length());
    }
    int refused = submit(transfer, timeoutMs);
    if (refused == LIBUSB_ERROR_NO_DEVICE) {
        // An unplug seen before libusb's own notice of it.
        unplug(done);
        done.add(request, ERROR_DEVICE_NOT_CONNECTED, 0);
        return;
    }
    if (refused != 0) {
        keepForNextRead(transfer);
        done.add(request, ERROR_GEN_FAILURE, 0);
        return;
    }
    transfers_.push_back(std::move(owned));
    // A cancel that came before the request could pend: it ends now, and the transfer is asked back.
    if (!request->markPending()) abort(transfer, ERROR_OPERATION_ABORTED, done);
}

void NativeDevice::end(NativeTransfer &transfer, DWORD error, DWORD bytes, Completions &done) {
    if (transfer.ended) return;
    transfer.ended = true;
    done.add(transfer.request, error, bytes);
}

void NativeDevice::abort(NativeTransfer &transfer, DWORD error, Completions &done) {
    if (transfer.ended) return;
    end(transfer, error, 0, done);
    // NOT_FOUND means libusb is handing it back already; either way transferBack frees it.
    libusb_cancel_transfer(transfer.usb);
}

void NativeDevice::cancel(const platform::IoRequest &request, Completions &done) {
    for (const auto &transfer : transfers_) {
        if (transfer->request.get() == &request) abort(*transfer, ERROR_OPERATION_ABORTED, done);
    }
}

void NativeDevice::endRequestsOf(const void *file, DWORD error, Completions &done) {
    for (const auto &transfer : transfers_) {
        if (transfer->file == file) abort(*transfer, error, done);
    }
}

void NativeDevice::abortAll(platform::IoKind kind, Completions &done) {
    for (const auto &transfer : transfers_) {
        if (transfer->request->kind() == kind) abort(*transfer, ERROR_OPERATION_ABORTED, done);
    }
}

void NativeDevice::unplug(Completions &done) {
    gone_ = true;
    for (const auto &transfer : transfers_) abort(*transfer, ERROR_DEVICE_NOT_CONNECTED, done);
}

void NativeDevice::forget(NativeTransfer *transfer) {
    auto found = std::find_if(transfers_.begin(), transfers_.end(),
                              [transfer](const std::unique_ptr<NativeTransfer> &t) { return t.get() == transfer; });
    if (found != transfers_.end()) transfers_.erase(found);
}

void NativeDevice::transferBack(NativeTransfer *transfer, Completions &done) {
    libusb_transfer_status status = transfer->usb->status;
    DWORD actual = static_cast<DWORD>(std::max(0, transfer->usb->actual_length));
    if (!transfer->ended && status == LIBUSB_TRANSFER_NO_DEVICE) unplug(done);
    if (transfer->ended) return forget(transfer);
    if (transfer->isRead()) transfer->got += actual;
    if (status == LIBUSB_TRANSFER_STALL) noteHalted(transfer->usb->endpoint);
    DWORD count = transfer->isRead() ? transfer->got : actual;
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        if (transfer->isRead()) return continueRead(*transfer, done);
        end(*transfer, ERROR_SUCCESS, count, done);
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        // A time-out is no error: the request succeeds with the bytes that came, or went, before it.
        if (transfer->isRead()) {
            deliver(*transfer, done);
        } else {
            end(*transfer, ERROR_SUCCESS, count, done);
        }
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        keepForNextRead(*transfer);
        end(*transfer, ERROR_OPERATION_ABORTED, 0, done);
        break;
    default:
        // A stall, a protocol error or an overflow fails the request, but not the bytes earlier packets brought.
        keepForNextRead(*transfer);
        end(*transfer, ERROR_GEN_FAILURE, 0, done);
        break;
    }
    forget(transfer);
}

void NativeDevice::noteHalted(unsigned char endpoint) {
    if (std::find(halted_.begin(), halted_.end(), endpoint) == halted_.end()) halted_.push_back(endpoint);
}

std::vector<unsigned char> NativeDevice::takeHaltedEndpoints() {
    std::vector<unsigned char> halted;
    halted.swap(halted_);
    return halted;
}

void NativeDevice::keepForNextRead(NativeTransfer &transfer) {
    if (!transfer.isRead()) return;
    held_.insert(held_.begin(), transfer.bytes.begin(), transfer.bytes.begin() + transfer.got);
}

// A short packet ends a bulk transfer but not a serial read: it goes on for the rest of its length until a
// time-out says otherwise.
void NativeDevice::continueRead(NativeTransfer &transfer, Completions &done) {
    DWORD length = transfer.request->length();
    bool ends =
        transfer.got >= length || transfer.limits.endsAtOnce || (transfer.limits.endsOnFirstBytes && transfer.got > 0);
    bool expired = false;
    unsigned timeoutMs = ends ? 0 : nextReadTransferMs(transfer.limits, transfer.got, transfer.elapsedMs(), expired);
    if (!ends && !expired && submit(transfer, timeoutMs) == 0) return;
    deliver(transfer, done);
    forget(&transfer);
}

}  // namespace linuxdev
