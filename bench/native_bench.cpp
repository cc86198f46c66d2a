// The status round trip and the 4 KiB write against a vendor-class printer that umockdev emulates in this process
// for libusb (run under umockdev-wrapper): through the library's exports over the real build's native backend, and
// raw, with synchronous I/O on the printer's pipes through the platform layer and the backend, as the simulator's raw
// rows do; and libusb's own synchronous bulk calls on the emulated device, without the platform layer and the
// backend, the floor the emulation sets. The printer's side is the tests' device model: a thread of this process
// takes what reaches the OUT endpoint, counts it and, when asked, answers each DLE EOT 1 with one byte on the IN
// endpoint. So the figures bound the library's own cost and the backend's, not a USB link.
#include <benchmark/benchmark.h>

#include <libusb.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "discovery/SupportedDevices.h"
#include "linuxdev/emulated_native_printer.h"
#include "linuxdev/interface_path.h"
#include "linuxdev/native_backend.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "support/java_usb_port.h"
#include "emulated_printer_end.h"

namespace {

using bench::BLOCK;
using bench::Clock;
using bench::countWrites;
using bench::microsSince;
using bench::PrinterEnd;
using bench::reportPercentiles;
using bench::REQUEST;
const unsigned char IN_ENDPOINT = 0x81;
const unsigned char OUT_ENDPOINT = 0x02;

std::string printerPath() {
    linuxdev_test::NativeIdentity identity;
    return linuxdev::usbInterfacePath(GUID_NATIVE_USB_INTERFACE, identity.vid, identity.pid, identity.serial);
}

bool listed() {
    for (const auto &interface : linuxdev::NativeBackend::instance().interfaces(&GUID_NATIVE_USB_INTERFACE, true)) {
        if (interface.path == printerPath()) return true;
    }
    return false;
}

bool waitFor(bool wanted) {
    auto end = Clock::now() + std::chrono::seconds(60);
    while (listed() != wanted) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Each run: a printer plugged in for it and gone after. As in the native tests, libusb must have seen it come
// before it is used, and go before the next run's printer comes under the same path.
struct PluggedPrinter {
    linuxdev_test::EmulatedNativePrinter printer;
    // The printer's end of this run: counts what arrives and, when `answers`, answers each status request.
    PrinterEnd end(bool answers) {
        return PrinterEnd(
            [this] {
                std::string bytes;
                printer.receive(bytes, 1, 20);
                return bytes;
            },
            [this] { printer.send("\x12"); }, answers);
    }
    PluggedPrinter() {
        printer.plug();
        waitFor(true);
    }
    ~PluggedPrinter() {
        printer.unplug();
        waitFor(false);
    }
};

// The library's link as the driver opens it, and its close (with the power handler's, as at unload).
struct LibraryLink {
    fakejni::FakeJvm jvm;
    JavaUsbPort port{jvm};
    bool open() {
        return port.initPipe(GENERIC_WRITE) == USB_TYPE_NATIVE && port.initPipe(GENERIC_READ) == USB_TYPE_NATIVE;
    }
    // Each pipe by its handle: closePipe(0) ends the printer-class link only.
    ~LibraryLink() {
        port.closePipe(port.hWritePort());
        port.closePipe(port.hReadPort());
        ShutdownPowerHandler();
    }
};

// The emulated device straight through a libusb context of the benchmark's own, its interface claimed.
struct LibusbLink {
    libusb_context *context = nullptr;
    libusb_device_handle *handle = nullptr;
    bool open() {
        linuxdev_test::NativeIdentity identity;
        if (libusb_init(&context) != 0) return false;
        // The device was just plugged in: libusb's list may not have it at the first look.
        auto end = Clock::now() + std::chrono::seconds(10);
        while (handle == nullptr && Clock::now() < end) {
            handle = libusb_open_device_with_vid_pid(context, static_cast<uint16_t>(identity.vid),
                                                     static_cast<uint16_t>(identity.pid));
            if (handle == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return handle != nullptr && libusb_claim_interface(handle, 0) == 0;
    }
    ~LibusbLink() {
        if (handle != nullptr) {
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        if (context != nullptr) libusb_exit(context);
    }
    bool write(const void *bytes, int length) {
        int put = 0;
        unsigned char *data = static_cast<unsigned char *>(const_cast<void *>(bytes));
        return libusb_bulk_transfer(handle, OUT_ENDPOINT, data, length, &put, 0) == 0 && put == length;
    }
};

void roundTripLibrary(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(true);
    LibraryLink link;
    if (!link.open()) return state.SkipWithError("the link did not open");
    std::vector<jbyte> request(REQUEST.begin(), REQUEST.end());
    std::vector<jbyte> answer(1);
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        if (link.port.writeOutputPipe(link.port.hWritePort(), request) != 0 ||
            link.port.readInputPipe(link.port.hReadPort(), answer) != 1) {
            return state.SkipWithError("an exchange failed");
        }
        micros.push_back(microsSince(start));
    }
    reportPercentiles(state, micros);
}

HANDLE openPipe(const std::string &suffix, DWORD access) {
    return CreateFileA((printerPath() + suffix).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

void roundTripRaw(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(true);
    HANDLE out = openPipe("\\PIPE01", GENERIC_WRITE);
    HANDLE in = openPipe("\\PIPE00", GENERIC_READ);
    if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        return state.SkipWithError("the pipes did not open");
    }
    char answer = 0;
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        DWORD put = 0, got = 0;
        if (!WriteFile(out, REQUEST.data(), 3, &put, nullptr) || !ReadFile(in, &answer, 1, &got, nullptr) || got != 1) {
            state.SkipWithError("an exchange failed");
            break;
        }
        micros.push_back(microsSince(start));
    }
    CloseHandle(in);
    CloseHandle(out);
    reportPercentiles(state, micros);
}

// The emulation alone, for what bounds the rows above. The read asks for a whole packet, as the backend's does.
void roundTripLibusb(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(true);
    LibusbLink link;
    if (!link.open()) return state.SkipWithError("libusb did not open the device");
    unsigned char answer[512];
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        int got = 0;
        if (!link.write(REQUEST.data(), 3) ||
            libusb_bulk_transfer(link.handle, IN_ENDPOINT, answer, sizeof answer, &got, 0) != 0 || got != 1) {
            return state.SkipWithError("an exchange failed");
        }
        micros.push_back(microsSince(start));
    }
    reportPercentiles(state, micros);
}

void writeLibrary(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    LibraryLink link;
    if (!link.open()) return state.SkipWithError("the link did not open");
    std::vector<jbyte> block(BLOCK, 'w');
    for (auto _ : state) {
        if (link.port.writeOutputPipe(link.port.hWritePort(), block) != 0) {
            std::string why = "a write failed with " + std::to_string(link.port.lastError());
            return state.SkipWithError(why.c_str());
        }
    }
    countWrites(state, printer);
}

void writeRaw(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    HANDLE file = openPipe("\\PIPE01", GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return state.SkipWithError("the pipe did not open");
    std::vector<char> block(BLOCK, 'w');
    for (auto _ : state) {
        DWORD put = 0;
        if (!WriteFile(file, block.data(), BLOCK, &put, nullptr) || put != BLOCK) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    CloseHandle(file);
    countWrites(state, printer);
}

void writeLibusb(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    LibusbLink link;
    if (!link.open()) return state.SkipWithError("libusb did not open the device");
    std::vector<char> block(BLOCK, 'w');
    for (auto _ : state) {
        if (!link.write(block.data(), BLOCK)) return state.SkipWithError("a write failed");
    }
    countWrites(state, printer);
}

// Fixed counts, as the simulator's rows have, and real time: the work is done by other threads.
BENCHMARK(roundTripLibrary)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(roundTripRaw)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(roundTripLibusb)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeLibrary)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeRaw)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeLibusb)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
