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

namespace {

using Clock = std::chrono::steady_clock;
const std::string REQUEST = "\x10\x04\x01";
const size_t BLOCK = 4096;

// The printer's end of the node: takes what the host writes, counts it and, when asked, answers each request.
class PrinterEnd {
public:
    PrinterEnd(linuxdev_test::EmulatedPrinter &printer, bool answers)
        : printer_(printer), answers_(answers), thread_([this] { serve(); }) {}
    ~PrinterEnd() {
        stop_ = true;
        thread_.join();
    }
    // Waits until `count` bytes arrived in all, within a generous bound.
    bool awaitReceived(uint64_t count) {
        auto end = Clock::now() + std::chrono::seconds(60);
        while (received_ < count) {
            if (Clock::now() > end) return false;
            std::this_thread::yield();
        }
        return true;
    }
    uint64_t received() const { return received_; }

private:
    void serve() {
        size_t pending = 0;
        while (!stop_) {
            std::string bytes = printer_.takeWritten(20);
            received_ += bytes.size();
            if (!answers_) continue;
            pending += bytes.size();
            for (; pending >= REQUEST.size(); pending -= REQUEST.size()) printer_.send("\x12");
        }
    }

    linuxdev_test::EmulatedPrinter &printer_;
    const bool answers_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

std::string printerPath() {
    linuxdev_test::PrinterIdentity identity;
    return linuxdev::usbPrintInterfacePath(identity.vid, identity.pid, identity.serial);
}

// Each run: a printer plugged in for it and gone after.
struct PluggedPrinter {
    linuxdev_test::EmulatedPrinter printer;
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

void reportPercentiles(benchmark::State &state, std::vector<double> &micros) {
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    auto at = [&micros](double share) { return micros[static_cast<size_t>(share * (micros.size() - 1))]; };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["p99.9_us"] = at(0.999);
}

void roundTripLibrary(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer(plugged.printer, true);
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
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    reportPercentiles(state, micros);
}

void roundTripRaw(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer(plugged.printer, true);
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
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    CloseHandle(file);
    reportPercentiles(state, micros);
}

// The emulation alone, for what bounds the rows above: the same exchange with blocking read and write on the node,
// without the platform layer and the backend.
void roundTripNode(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer(plugged.printer, true);
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
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ::close(fd);
    reportPercentiles(state, micros);
}

void countWrites(benchmark::State &state, PrinterEnd &printer) {
    uint64_t sent = static_cast<uint64_t>(state.iterations()) * BLOCK;
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    // The bytes still in the terminal when the timing ended arrive after it: none may be lost.
    printer.awaitReceived(sent);
    state.counters["lost_bytes"] = static_cast<double>(sent - std::min(sent, printer.received()));
}

void writeLibrary(benchmark::State &state) {
    PluggedPrinter plugged;
    PrinterEnd printer(plugged.printer, false);
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
    PrinterEnd printer(plugged.printer, false);
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
    PrinterEnd printer(plugged.printer, false);
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
