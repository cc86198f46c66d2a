#include "suites.h"

#include "discovery/SupportedDevices.h"
#include "simulated_printer.h"
#include "wine_probes.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace winetest {

namespace {

const DWORD kBound = 5000;
const DWORD kIoctlSerialGetTimeouts = 0x1B0020;

bool listed(const GUID &interfaceClass, const std::string &path) {
    std::vector<std::string> paths = listInterfacePaths(interfaceClass);
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

HANDLE openPipe(const std::string &path, DWORD flags) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// Starts an overlapped read of up to 64 bytes; true when it is pending.
bool startPendingRead(HANDLE pipe, OVERLAPPED &overlapped, unsigned char *buffer) {
    return !ReadFile(pipe, buffer, 64, nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING;
}

void printerClassRoundTrip(Checks &checks) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    std::string error;
    if (!checks.expect(printer.plug(error), "plug: " + error)) {
        return;
    }
    const std::string path = printer.devicePath();
    checks.expect(listed(GUID_USBPRINT_INTERFACE, path), "SetupAPI lists " + path);
    checks.expect(!listed(GUID_NATIVE_USB_INTERFACE, path), "the native class does not list it");

    HANDLE writePipe = openPipe(path + "\\PIPE01", 0);
    HANDLE readPipe = openPipe(path + "\\PIPE00", FILE_FLAG_OVERLAPPED);
    if (!checks.expect(writePipe != INVALID_HANDLE_VALUE && readPipe != INVALID_HANDLE_VALUE, "pipes open")) {
        return;
    }
    const Bytes sent = bytes({0x1B, 0x40, 'h', 'i'});
    DWORD count = 0;
    checks.expect(WriteFile(writePipe, sent.data(), static_cast<DWORD>(sent.size()), &count, nullptr),
                  "write to PIPE01");
    checks.expect(printer.writePipe().waitForReceived(sent.size(), kBound), "the write arrives");
    checks.expectEqual(printer.writePipe().received(), sent, "bytes at the printer");

    unsigned char buffer[64] = {};
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    checks.expect(startPendingRead(readPipe, overlapped, buffer), "a read on PIPE00 pends");
    checks.expect(printer.readPipe().sendToClient(bytes({7, 8, 9})), "the printer answers");
    checks.expectEqual(WaitForSingleObject(overlapped.hEvent, kBound), WAIT_OBJECT_0, "the pending read ends");
    checks.expect(GetOverlappedResult(readPipe, &overlapped, &count, FALSE), "the read succeeds");
    checks.expectEqual(Bytes(buffer, buffer + count), bytes({7, 8, 9}), "bytes at the host");

    // Unplugging ends a pending read with a broken pipe, not with the codes after which the library reconnects.
    checks.expect(startPendingRead(readPipe, overlapped, buffer), "a second read pends");
    printer.unplug();
    checks.expectEqual(WaitForSingleObject(overlapped.hEvent, kBound), WAIT_OBJECT_0, "unplug ends the read");
    checks.expect(!GetOverlappedResult(readPipe, &overlapped, &count, FALSE), "the read fails");
    checks.expectEqual(GetLastError(), ERROR_BROKEN_PIPE, "error of a read ended by unplug");
    checks.expect(!listed(GUID_USBPRINT_INTERFACE, path), "no longer listed");
    CloseHandle(overlapped.hEvent);
    CloseHandle(readPipe);
    CloseHandle(writePipe);
}

// The library bounds its suspend command by cancelling the write from a helper thread; the simulated printer must
// hold a write for that, and Wine must end a held synchronous write when another thread cancels it.
void printerThatStopsReadingHoldsWrites(Checks &checks) {
    SimulatedPrinter printer(Transport::PrinterClass, supportedLowerCaseId(0));
    std::string error;
    if (!checks.expect(printer.plug(error), "plug: " + error)) {
        return;
    }
    const std::string path = printer.devicePath() + "\\PIPE01";
    HANDLE overlappedPipe = openPipe(path, FILE_FLAG_OVERLAPPED);
    HANDLE blockingPipe = openPipe(path, 0);
    if (!checks.expect(overlappedPipe != INVALID_HANDLE_VALUE && blockingPipe != INVALID_HANDLE_VALUE,
                       "PIPE01 opens twice")) {
        return;
    }
    const Bytes sent = bytes({0x1D, 0xFF});
    checks.expect(printer.writePipe().stopReading(), "the printer stops reading");
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    checks.expect(!WriteFile(overlappedPipe, sent.data(), static_cast<DWORD>(sent.size()), nullptr, &overlapped) &&
                      GetLastError() == ERROR_IO_PENDING,
                  "a write waits while the printer does not read");
    checks.expect(printer.writePipe().startReading(), "the printer reads again");
    checks.expectEqual(WaitForSingleObject(overlapped.hEvent, kBound), WAIT_OBJECT_0, "the write then ends");
    checks.expect(printer.writePipe().waitForReceived(sent.size(), kBound), "the write arrives");
    checks.expectEqual(printer.writePipe().received(), sent, "bytes at the printer");

    checks.expect(printer.writePipe().stopReading(), "the printer stops reading again");
    std::atomic<bool> done{false};
    std::atomic<DWORD> writeError{0};
    std::thread writer([&] {
        DWORD count = 0;
        BOOL ok = WriteFile(blockingPipe, sent.data(), static_cast<DWORD>(sent.size()), &count, nullptr);
        writeError = ok ? ERROR_SUCCESS : GetLastError();
        done = true;
    });
    // Wine's CancelIoEx reports success even when nothing is pending, and a cancel that comes before the write is
    // under way is lost; so it is repeated until the write ends, as the library's own cancels are.
    checks.expect(waitUntil(
                      [&] {
                          CancelIoEx(blockingPipe, nullptr);
                          return done.load();
                      },
                      kBound),
                  "another thread's CancelIoEx ends the held write");
    // Reading again lets a write the cancel missed end, so that the join cannot hang.
    printer.writePipe().startReading();
    writer.join();
    checks.expectEqual(writeError.load(), ERROR_OPERATION_ABORTED, "error of the cancelled write");
    CloseHandle(overlapped.hEvent);
    CloseHandle(blockingPipe);
    CloseHandle(overlappedPipe);
}

void nativeInterfaceLimits(Checks &checks) {
    SimulatedPrinter printer(Transport::Native, supportedLowerCaseId(1));
    std::string error;
    if (!checks.expect(printer.plug(error), "plug: " + error)) {
        return;
    }
    const std::string path = printer.devicePath();
    checks.expect(listed(GUID_NATIVE_USB_INTERFACE, path), "SetupAPI lists " + path);
    HANDLE device = openPipe(path, 0);
    checks.expect(device != INVALID_HANDLE_VALUE, "the bare interface path opens");
    CloseHandle(device);

    HANDLE readPipe = openPipe(path + "\\PIPE00", 0);
    if (!checks.expect(readPipe != INVALID_HANDLE_VALUE, "PIPE00 opens")) {
        return;
    }
    // A pipe is no serial driver: the native transport's time-out and purge requests fail with this code.
    unsigned char timeouts[20] = {};
    DWORD returned = 0;
    checks.expect(!DeviceIoControl(readPipe, kIoctlSerialGetTimeouts, nullptr, 0, timeouts, sizeof(timeouts), &returned,
                                   nullptr),
                  "IOCTL_SERIAL_GET_TIMEOUTS fails on a pipe");
    checks.expectEqual(GetLastError(), ERROR_NOT_SUPPORTED, "its error");
    checks.expect(!PurgeComm(readPipe, PURGE_RXABORT | PURGE_RXCLEAR), "PurgeComm fails on a pipe");
    checks.expectEqual(GetLastError(), ERROR_NOT_SUPPORTED, "its error");
    CloseHandle(readPipe);
}

}  // namespace

void runHarnessSuite(TestRunner &runner) {
    runner.run("harness: a printer-class printer is listed, opened, served and unplugged", printerClassRoundTrip);
    runner.run("harness: a native printer is listed; serial requests on its pipes are not supported",
               nativeInterfaceLimits);
    runner.run("harness: a printer that stops reading holds the host's writes; a cancel from another thread ends one",
               printerThatStopsReadingHoldsWrites);
}

}  // namespace winetest
