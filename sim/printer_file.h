// One open file on a simulated printer: the driver side of a handle from CreateFileA.
#pragma once

#include <windows.h>

#include <memory>

#include "files/device_file.h"
#include "files/interface_path.h"
#include "sim/printer.h"

namespace sim {

class BusState;

class PrinterFile : public platform::DeviceFile {
public:
    // With the bus's lock held.
    PrinterFile(BusState &bus, std::shared_ptr<Printer> printer, platform::Pipe pipe);

    void startIo(const std::shared_ptr<platform::IoRequest> &request) override;
    void cancel(platform::IoRequest &request) override;
    DWORD control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) override;
    DWORD purge(DWORD flags) override;
    void close() override;

private:
    // With the bus's lock held: why a request on this file must fail, or ERROR_SUCCESS.
    DWORD refusal() const;
    DWORD refusal(platform::IoKind kind) const;

    BusState &bus_;
    const std::shared_ptr<Printer> printer_;
    const platform::Pipe pipe_;
    const unsigned generation_;
    bool closed_ = false;
};

}  // namespace sim
