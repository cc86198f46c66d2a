// One printer the native transport has open in this process: the one libusb handle every file of the process on it
// shares, its claimed interface, and the transfers in flight. Everything but construction runs with the native
// backend's lock held.
#pragma once

#include <windows.h>

#include <libusb.h>

#include <memory>
#include <string>
#include <vector>

#include "files/io_request.h"
#include "linuxdev/completions.h"
#include "linuxdev/native_candidate.h"
#include "linuxdev/native_transfer.h"
#include "linuxdev/shared_device_file.h"

namespace linuxdev {

class NativeDevice : public SharedDevice {
public:
    // Takes the open handle, whose interface is claimed.
    NativeDevice(NativeCandidate candidate, libusb_device_handle *handle);
    NativeDevice(const NativeDevice &) = delete;
    NativeDevice &operator=(const NativeDevice &) = delete;

    const NativeCandidate &candidate() const { return candidate_; }
    libusb_device_handle *handle() const { return handle_; }
    bool isGone() const override { return gone_; }
    int openFiles() const { return openFiles_; }
    void fileOpened() { ++openFiles_; }
    void fileClosed() { --openFiles_; }
    bool hasTransfers() const { return !transfers_.empty(); }
    size_t pendingReads() const;

    // Submits the transfer of a read (under `timeouts`) or a write; it pends, or ends at once if it cannot start.
    void start(const std::shared_ptr<platform::IoRequest> &request, const void *file, const COMMTIMEOUTS &timeouts,
               Completions &done);
    // Ends the request with ERROR_OPERATION_ABORTED if it is still in flight here.
    void cancel(const platform::IoRequest &request, Completions &done) override;
    void endRequestsOf(const void *file, DWORD error, Completions &done) override;
    // PurgeComm's aborts: every read, or every write, of the device ends with ERROR_OPERATION_ABORTED.
    void abortAll(platform::IoKind kind, Completions &done);
    // PurgeComm's RXCLEAR: drops what a packet brought beyond the read it came for.
    void clearReceived() { held_.clear(); }
    // The printer went: requests in flight end with ERROR_DEVICE_NOT_CONNECTED.
    void unplug(Completions &done);
    // The endpoints whose transfers came back stalled since the last call, for a clear-halt request each.
    std::vector<unsigned char> takeHaltedEndpoints();
    // libusb handed the transfer back: continue a read, or end the request; frees the transfer once it is done.
    void transferBack(NativeTransfer *transfer, Completions &done);

private:
    // libusb's result: 0 or its error.
    int submit(NativeTransfer &transfer, unsigned timeoutMs);
    // Ends the request now, once.
    void end(NativeTransfer &transfer, DWORD error, DWORD bytes, Completions &done);
    // Ends it before libusb handed the transfer back, and asks for it back.
    void abort(NativeTransfer &transfer, DWORD error, Completions &done);
    void forget(NativeTransfer *transfer);
    void continueRead(NativeTransfer &transfer, Completions &done);
    // A stalled endpoint stays halted, failing every later transfer, until the host clears it.
    void noteHalted(unsigned char endpoint);
    // A read that ends without its bytes leaves them, oldest first, for the next read.
    void keepForNextRead(NativeTransfer &transfer);
    // Ends a read successfully: its bytes to the caller, a packet's surplus kept for the next read.
    void deliver(NativeTransfer &transfer, Completions &done);

    const NativeCandidate candidate_;
    libusb_device_handle *const handle_;
    bool gone_ = false;
    int openFiles_ = 0;
    std::vector<std::unique_ptr<NativeTransfer>> transfers_;
    std::vector<unsigned char> halted_;
    // Bytes the printer sent beyond what the read they came for wanted, oldest first.
    std::string held_;
};

}  // namespace linuxdev
