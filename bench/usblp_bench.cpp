// The status round trip and the 4 KiB write against a usblp printer that umockdev emulates in this process (run
// under umockdev-wrapper): through the library's exports over the real build's backend, and raw, straight through
// the platform layer with synchronous I/O on the printer's node, as the simulator's raw rows do. The printer's side
// is a thread of this process on the far end of the node's terminal: it answers each DLE EOT 1 with one byte, and
// counts and drops what is written. So the figures bound the library's own cost and the backend's, not a USB link.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "linuxdev/interface_path.h"
#include "linuxdev/emulated_printer.h"
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

std::string printerPath() {
    linuxdev_test::PrinterIdentity identity;
    return linuxdev::usbPrintInterfacePath(identity.vid, identity.pid, identity.serial);
}

// Each run: a printer plugged in for it and gone after.
struct PluggedPrinter {
    linuxdev_test::EmulatedPrinter printer;
    // The printer's end of this run: counts what arrives and, when `answers`, answers each status request.
    PrinterEnd end(bool answers) {
        return PrinterEnd([this] { return printer.takeWritten(20); }, [this] { printer.send("\x12"); }, answers);
    }
    PluggedPrinter() { printer.plug(); }
};

// The library's link as the driver opens it, and its close (with the power handler's, as at unload).
struct LibraryLink {
    fakejni::FakeJvm jvm;
    JavaUsbPort port{jvm};
    bool open() {
        return port.initPipe(GENERIC_WRITE) == USB_TYPE_PRINTER_CLASS &&
               port.initPipe(GENERIC_READ) == USB_TYPE_PRINTER_CLASS;
    }
    ~LibraryLink() {
        port.closePipe(0);
        ShutdownPowerHandler();
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

void roundTripRaw(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(true);
    HANDLE file = CreateFileA(printerPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return state.SkipWithError("the node did not open");
    char answer = 0;
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        DWORD put = 0, got = 0;
        if (!WriteFile(file, REQUEST.data(), 3, &put, nullptr) || !ReadFile(file, &answer, 1, &got, nullptr) ||
            got != 1) {
            CloseHandle(file);
            return state.SkipWithError("an exchange failed");
        }
        micros.push_back(microsSince(start));
    }
    CloseHandle(file);
    reportPercentiles(state, micros);
}

// The emulation alone, for what bounds the rows above: the same exchange with blocking read and write on the node,
// without the platform layer and the backend.
void roundTripNode(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(true);
    int fd = ::open(plugged.printer.devnode().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("the node did not open");
    char answer = 0;
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = Clock::now();
        if (::write(fd, REQUEST.data(), 3) != 3 || ::read(fd, &answer, 1) != 1) {
            ::close(fd);
            return state.SkipWithError("an exchange failed");
        }
        micros.push_back(microsSince(start));
    }
    ::close(fd);
    reportPercentiles(state, micros);
}

void writeLibrary(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    LibraryLink link;
    if (!link.open()) return state.SkipWithError("the link did not open");
    std::vector<jbyte> block(BLOCK, 'w');
    for (auto _ : state) {
        if (link.port.writeOutputPipe(link.port.hWritePort(), block) != 0) return state.SkipWithError("a write failed");
    }
    countWrites(state, printer);
}

void writeRaw(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    HANDLE file = CreateFileA((printerPath() + "\\PIPE01").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return state.SkipWithError("the node did not open");
    std::vector<char> block(BLOCK, 'w');
    for (auto _ : state) {
        DWORD put = 0;
        if (!WriteFile(file, block.data(), BLOCK, &put, nullptr) || put != BLOCK) {
            CloseHandle(file);
            return state.SkipWithError("a write failed");
        }
    }
    CloseHandle(file);
    countWrites(state, printer);
}

void writeNode(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer = plugged.end(false);
    int fd = ::open(plugged.printer.devnode().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("the node did not open");
    std::vector<char> block(BLOCK, 'w');
    for (auto _ : state) {
        // A terminal may take part of a block; the rest goes at once after.
        for (size_t done = 0; done < BLOCK;) {
            ssize_t put = ::write(fd, block.data() + done, BLOCK - done);
            if (put <= 0) {
                ::close(fd);
                return state.SkipWithError("a write failed");
            }
            done += static_cast<size_t>(put);
        }
    }
    ::close(fd);
    countWrites(state, printer);
}

// Fixed counts, as the simulator's rows have, and real time: the work is done by other threads.
BENCHMARK(roundTripLibrary)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(roundTripRaw)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(roundTripNode)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeLibrary)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeRaw)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(writeNode)->Iterations(20000)->Repetitions(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
