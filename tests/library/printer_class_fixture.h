// Shared pieces of the printer-class transport's tests: a port state of the test's own, opened on a simulated
// printer-class printer, and waits on conditions instead of sleeps.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "discovery/PipePath.h"
#include "jni/JavaBoundary.h"
#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "kernel/time_scale.h"
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "printerclass/CircularBuffer.h"
#include "sim/bus.h"
#include "support/usb_comm_test_access.h"
#include "support/wait.h"

namespace printer_class_test {

using test_support::GENEROUS;
using test_support::GENEROUS_MS;
using test_support::waitUntil;

const int VID = 0x0dd4;
const int PID = 0x015d;

inline bool isSignalled(HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }
inline bool becomesSignalled(HANDLE handle) { return WaitForSingleObject(handle, GENEROUS_MS) == WAIT_OBJECT_0; }
inline bool isUsableHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Bytes that show their order: no two neighbours alike, and no run repeats within 251 bytes.
inline std::string pattern(size_t count) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

inline int attachPrinterClassPrinter() {
    sim::PrinterSetup setup;
    setup.transport = sim::Transport::PrinterClass;
    setup.vid = VID;
    setup.pid = PID;
    return sim::attach(setup);
}

// An empty bus, no armed fault, real time, and no power thread left by another test (it keeps its handle until it
// is shut down).
inline void startFromAnEmptyBus() {
    ShutdownPowerHandler();
    sim::removeAll();
    platform::clearFaults();
    platform::setTimeScale(1);
}

// Starts every test with an empty bus, no armed fault and real time, and checks that it leaves no handle and no
// device file open.
class PrinterClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        startFromAnEmptyBus();
        handlesBefore_ = platform::openHandleCount();
        printer_ = attachPrinterClassPrinter();
        ASSERT_GT(printer_, 0);
        comm_.RecordUsbType(USB_TYPE_PRINTER_CLASS);
    }

    void TearDown() override {
        platform::clearFaults();
        if (holdsAnything()) comm_.ClosePrinterClassPipe(0);
        EXPECT_FALSE(holdsAnything()) << "the port state still holds part of the link";
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_EQ(0, sim::openFiles()) << "a device file was left open";
        sim::removeAll();
        platform::setTimeScale(1);
    }

    std::string readPipePath() const { return sim::interfacePath(printer_) + "\\" + PIPE_NAME_READ; }

    // The read-side open as usbInitPipe runs it, without the power handler.
    HANDLE openReadPipe() { return comm_.OpenPipeForJava(USB_TYPE_PRINTER_CLASS, true, readPipePath().c_str()); }

    // A working link: the read pipe open and the reader's first read pending.
    HANDLE openLink() {
        HANDLE read = openReadPipe();
        EXPECT_TRUE(isUsableHandle(read));
        EXPECT_TRUE(waitUntil([&] { return readerIsWaiting(); })) << "the reader never issued its read";
        return read;
    }

    int close(HANDLE handle) { return comm_.ClosePrinterClassPipe(HandleToJava(handle)); }

    bool readerIsWaiting() const { return sim::pendingReads(printer_) == 1; }

    bool send(const std::string &bytes) { return sim::send(printer_, bytes.data(), bytes.size()); }

    // Takes everything the ring buffer holds now.
    std::string takeBuffered() {
        std::string taken;
        CCircularBuffer *buffer = comm_.RingBuffer();
        if (buffer == nullptr) return taken;
        BYTE chunk[512];
        DWORD count = 0;
        while (buffer->BytesAvailable(chunk, sizeof chunk, &count) > 0) {
            taken.append(reinterpret_cast<const char *>(chunk), count);
        }
        return taken;
    }

    // Takes from the ring buffer until `count` bytes have come.
    std::string collect(size_t count) {
        std::string taken;
        waitUntil([&] {
            taken += takeBuffered();
            return taken.size() >= count;
        });
        return taken;
    }

    bool holdsAnything() const {
        return comm_.ReaderThread() != nullptr || comm_.RingBuffer() != nullptr || comm_.ThreadDoneEvent() != nullptr ||
               comm_.StopEvent() != nullptr || comm_.DataEvent() != nullptr || comm_.ReadPort() != nullptr ||
               comm_.WritePort() != nullptr;
    }

    CUsbComm comm_;
    int printer_ = 0;

private:
    size_t handlesBefore_ = 0;
};

}  // namespace printer_class_test
