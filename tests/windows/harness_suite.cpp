#include "suites.h"

#include "discovery/SupportedDevices.h"
#include "simulated_printer.h"
#include "wine_probes.h"

#include <algorithm>

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
    checks.expect(!DeviceIoControl(readPipe, kIoctlSerialGetTimeouts, nullptr, 0, timeouts, sizeof(timeouts),
                                   &returned, nullptr),
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
}

}  // namespace winetest
