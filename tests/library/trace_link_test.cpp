// The trace of a printer-class link's life, written by the library as Java drives it: one receipt, an unplug and
// replug, and a suspend and resume, found in the trace file in their order with their codes and threads.
#include <algorithm>

#include "kernel/thread_registry.h"
#include "printer_class_fixture.h"
#include "sim/simbus.h"
#include "support/java_usb_port.h"
#include "trace_fixture.h"

namespace printer_class_test {
namespace {

using trace_test::inOrder;
using trace_test::linesWith;

class TraceOfALink : public ::testing::Test {
protected:
    void SetUp() override {
        startFromAnEmptyBus();
        handlesBefore_ = platform::openHandleCount();
        path_ = trace_test::tracePath("link");
        trace_test::switchTraceTo(path_, true);
        ASSERT_TRUE(TraceOn());
        printer_ = attachPrinterClassPrinter();
        ASSERT_GT(printer_, 0);
    }

    void TearDown() override {
        platform::setTimeScale(1);
        ShutdownPowerHandler();
        trace_test::switchTraceOff();
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        sim::removeAll();
    }

    jint write(const std::string &bytes) {
        return port_.writeOutputPipe(port_.hWritePort(), std::vector<jbyte>(bytes.begin(), bytes.end()));
    }

    std::vector<std::string> finishedTrace() {
        StopTraceWriter();
        return trace_test::readLines(path_);
    }

    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
    std::string path_;
    int printer_ = 0;
    size_t handlesBefore_ = 0;
};

TEST_F(TraceOfALink, showsAReceiptAnUnplugAndASuspendInOrder) {
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port_.initPipe(static_cast<jint>(GENERIC_WRITE)));
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port_.initPipe(static_cast<jint>(GENERIC_READ)));
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    ASSERT_EQ(0, write("Thank you\n"));
    ASSERT_TRUE(sim::send(printer_, "\x12", 1));
    std::vector<jbyte> status(1);
    ASSERT_EQ(1, port_.readInputPipe(port_.hReadPort(), status));

    ASSERT_TRUE(sim::unplug(printer_));
    // The reader's reopen failed while the printer was away: it left the read handle field invalid.
    ASSERT_TRUE(waitUntil([] { return g_UsbComm.m_hReadPort.load() == INVALID_HANDLE_VALUE; }));
    ASSERT_TRUE(sim::replug(printer_));
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));

    platform::setTimeScale(0.01);
    EXPECT_EQ(1, simbus_power(PBT_APMSUSPEND));
    EXPECT_EQ(static_cast<jint>(ERROR_POWER_SUSPENDED_CODE), write("refused"));
    EXPECT_EQ(1, simbus_power(PBT_APMRESUMESUSPEND));
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    EXPECT_EQ(0, port_.closePipe(port_.hReadPort()));

    std::vector<std::string> lines = finishedTrace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("# VIRIVOREzu trace")) << lines[0];
    EXPECT_TRUE(inOrder(lines, {"usbInitPipe.enter access=0x40000000",
                                "detect.interface class=printer-class",
                                "detect.chosen type=1",
                                "open h=",
                                "usbInitPipe.result result=1",
                                "usbInitPipe.enter access=0x80000000",
                                "link.machinery",
                                "usbInitPipe.result result=1",
                                "usbWriteOutputPipe.bytes",
                                "usbWriteOutputPipe.result result=0",
                                "usbReadInputPipe.bytes",
                                "usbReadInputPipe.result result=1",
                                "reader.read_error",
                                "reader.reconnect outcome=failed",
                                "reader.reconnect outcome=connected",
                                "power.broadcast event=4",
                                "suspend.begin connected=1",
                                "power.command suspend",
                                "close.wait_done_signal",
                                "suspend.end",
                                "usbWriteOutputPipe.result result=269354647",
                                "power.broadcast event=7",
                                "resume.begin suspended=1",
                                "power.command resume",
                                "resume.end reopened=1",
                                "usbClosePipe.enter",
                                "close.link",
                                "usbClosePipe.result result=0"}));

    EXPECT_EQ(2u, linesWith(lines, "reader reader.start").size()) << "the link's reader, and the resume's";
    // Bytes in hex on request, and the counts.
    EXPECT_EQ(1u, linesWith(lines, "usbWriteOutputPipe.bytes", "count=10 bytes=5468616E6B20796F750A").size());
    EXPECT_EQ(1u, linesWith(lines, "usbReadInputPipe.bytes", "count=1 bytes=12").size());
    EXPECT_EQ(1u, linesWith(lines, "power.command suspend", "written=2").size());
    // The unplug's code with its system text, seen by the reader on its own thread: 1167 ends the read pending at the
    // unplug, 5 answers a read issued after it.
    std::vector<std::string> readErrors = linesWith(lines, "reader.read_error");
    ASSERT_FALSE(readErrors.empty());
    EXPECT_NE(std::string::npos, readErrors[0].find(" reader ")) << readErrors[0];
    EXPECT_TRUE(readErrors[0].find("err=1167 \"The device is not connected.\"") != std::string::npos ||
                readErrors[0].find("err=5 \"Access is denied.\"") != std::string::npos)
        << readErrors[0];
    // Power events on the power thread, exports on the caller's.
    for (const std::string &line : linesWith(lines, "suspend.")) EXPECT_NE(std::string::npos, line.find(" power "));
    for (const std::string &line : linesWith(lines, "usbInitPipe.")) EXPECT_NE(std::string::npos, line.find(" java "));
    std::vector<std::string> refused = linesWith(lines, "usbWriteOutputPipe.result result=269354647");
    ASSERT_EQ(1u, refused.size());
    EXPECT_NE(std::string::npos, refused[0].find("err=269354647")) << refused[0];
}

// Ends once the queue is written: lines from every thread, and nothing dropped under an ordinary load.
TEST_F(TraceOfALink, dropsNothingUnderAnOrdinaryLoad) {
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port_.initPipe(static_cast<jint>(GENERIC_WRITE)));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(0, write("line\n"));
    EXPECT_EQ(0, port_.closePipe(port_.hWritePort()));
    std::vector<std::string> lines = finishedTrace();
    EXPECT_EQ(200u, linesWith(lines, "usbWriteOutputPipe.result result=0").size());
    EXPECT_TRUE(linesWith(lines, "events dropped").empty());
}

}  // namespace
}  // namespace printer_class_test
