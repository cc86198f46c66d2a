// The printer-class transport's tests through the exported functions, as Java calls them: a fake JVM, the process's
// own port state, and the checks every such test ends with.
#pragma once

#include <string>
#include <vector>

#include "printer_class_fixture.h"
#include "support/java_usb_port.h"

namespace printer_class_test {

class PrinterClassJava : public ::testing::Test {
protected:
    void SetUp() override {
        startFromAnEmptyBus();
        handlesBefore_ = platform::openHandleCount();
        printer_ = attachPrinterClassPrinter();
        ASSERT_GT(printer_, 0);
    }

    void TearDown() override {
        platform::clearFaults();
        if (holdsAnything()) closePipe(0);
        EXPECT_FALSE(holdsAnything()) << "the port state still holds part of the link";
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        // The power handler keeps its thread's handle after a stop, until it is shut down.
        ShutdownPowerHandler();
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_EQ(0, sim::openFiles()) << "a device file was left open";
        sim::removeAll();
    }

    jint initPipe(DWORD access) { return port_.initPipe(static_cast<jint>(access)); }
    jint closePipe(jint handle) { return port_.closePipe(handle); }
    jint readPipe(std::vector<jbyte> &array) { return port_.readInputPipe(port_.hReadPort(), array); }
    jint writePipe(const std::string &bytes) {
        return port_.writeOutputPipe(port_.hWritePort(), std::vector<jbyte>(bytes.begin(), bytes.end()));
    }
    static std::string text(const std::vector<jbyte> &bytes) { return std::string(bytes.begin(), bytes.end()); }

    // Both pipes open, as the driver opens them: the write pipe first.
    void openBothPipes() {
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_READ));
        ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    }

    static bool holdsAnything() {
        const CUsbComm &comm = g_UsbComm;
        return comm.ReaderThread() != nullptr || comm.RingBuffer() != nullptr || comm.ThreadDoneEvent() != nullptr ||
               comm.StopEvent() != nullptr || comm.DataEvent() != nullptr || comm.ReadPort() != nullptr ||
               comm.WritePort() != nullptr;
    }

    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
    int printer_ = 0;

protected:
    size_t handlesBefore_ = 0;
};

}  // namespace printer_class_test
