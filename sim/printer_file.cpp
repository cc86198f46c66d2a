#include "sim/printer_file.h"

#include "sim/bus_state.h"

namespace sim {

PrinterFile::PrinterFile(BusState &bus, std::shared_ptr<Printer> printer, platform::Pipe pipe)
    : bus_(bus), printer_(std::move(printer)), pipe_(pipe), generation_(printer_->generation) {}

void PrinterFile::startIo(const std::shared_ptr<platform::IoRequest> &request) {
    Effects effects;
    {
        std::lock_guard<std::mutex> guard(bus_.mutex());
        DWORD error = refusal(request->kind());
        if (error != ERROR_SUCCESS) {
            effects.complete(request, error, 0);
        } else if (request->kind() == platform::IoKind::Read) {
            printer_->startRead(request, this, effects);
        } else {
            printer_->startWrite(request, this, effects);
        }
        bus_.deadlinesChanged();
    }
    effects.run();
}

void PrinterFile::cancel(platform::IoRequest &request) {
    Effects effects;
    {
        std::lock_guard<std::mutex> guard(bus_.mutex());
        printer_->cancel(request, effects);
        bus_.deadlinesChanged();
    }
    effects.run();
}

DWORD PrinterFile::control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD &bytesReturned) {
    std::lock_guard<std::mutex> guard(bus_.mutex());
    DWORD error = refusal();
    if (error != ERROR_SUCCESS) return error;
    return printer_->driver.control(*printer_, code, in, inSize, out, outSize, bytesReturned);
}

DWORD PrinterFile::purge(DWORD flags) {
    Effects effects;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> guard(bus_.mutex());
        error = refusal();
        if (error == ERROR_SUCCESS) error = printer_->driver.purge(*printer_, flags, effects);
    }
    effects.run();
    return error;
}

void PrinterFile::close() {
    Effects effects;
    {
        std::lock_guard<std::mutex> guard(bus_.mutex());
        if (closed_) return;
        closed_ = true;
        bus_.fileClosed(*printer_);
        // The cleanup: a driver that ignored the cancels before it must still end the file's requests now.
        printer_->endRequestsOf(this, ERROR_OPERATION_ABORTED, effects);
        bus_.deadlinesChanged();
    }
    effects.run();
}

DWORD PrinterFile::refusal() const {
    if (!printer_->present || printer_->generation != generation_) return printer_->codes.handleAfterUnplug;
    return ERROR_SUCCESS;
}

DWORD PrinterFile::refusal(platform::IoKind kind) const {
    DWORD error = refusal();
    if (error != ERROR_SUCCESS) return error;
    return platform::pipeRefusal(pipe_, kind);
}

}  // namespace sim
