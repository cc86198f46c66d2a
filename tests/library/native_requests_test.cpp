// The native transport's serial requests through the exported functions: the five time-outs as the driver receives
// them, the members the driver keeps, and the purge of the receive side.
#include <future>
#include <string>
#include <vector>

#include "printer_class_fixture.h"
#include "support/java_usb_port.h"

namespace printer_class_test {
namespace {

const ULONG KEEP = 0xFFFFFFFE;

class NativeRequests : public ::testing::Test {
protected:
    void SetUp() override {
        startFromAnEmptyBus();
        handlesBefore_ = platform::openHandleCount();
        ASSERT_GT(attachNativePrinter(), 0);
    }

    void TearDown() override {
        closeAll();
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_EQ(0, sim::openFiles()) << "a device file was left open";
        sim::removeAll();
    }

    int attachNativePrinter() {
        sim::PrinterSetup setup;
        setup.transport = sim::Transport::Native;
        setup.vid = VID;
        setup.pid = PID;
        printer_ = sim::attach(setup);
        return printer_;
    }

    // A read pipe of a UsbPort object of its own: on this transport every read open is a handle of its own.
    jint openReadPipe(JavaUsbPort &port) {
        EXPECT_EQ(USB_TYPE_NATIVE, port.initPipe(static_cast<jint>(GENERIC_READ)));
        opened_.push_back(port.hReadPort());
        return port.hReadPort();
    }

    void closeAll() {
        for (jint handle : opened_) port_.closePipe(handle);
        opened_.clear();
    }

    static std::vector<ULONG> members(const COMMTIMEOUTS &t) {
        return {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    }

    // setCommTimeout with its five arguments from a list, in the order of the export's parameters.
    jint setTimeouts(jint handle, const std::vector<jint> &values) {
        return port_.setCommTimeout(handle, values[0], values[1], values[2], values[3], values[4]);
    }

    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
    int printer_ = 0;
    std::vector<jint> opened_;

private:
    size_t handlesBefore_ = 0;
};

TEST_F(NativeRequests, eachTimeoutArgumentReachesItsOwnMemberOfTheDriversRecord) {
    jint handle = openReadPipe(port_);
    EXPECT_EQ(0, setTimeouts(handle, {11, 22, 33, 44, 55}));
    EXPECT_EQ((std::vector<ULONG>{11, 22, 33, 44, 55}), members(sim::timeouts(printer_)));
    EXPECT_EQ(33, port_.getCommTimeout(handle)) << "the read total constant comes back";

    // Java's ints arrive as the driver's unsigned members: -1 is MAXDWORD, the "return at once" interval.
    EXPECT_EQ(0, setTimeouts(handle, {-1, 0, 0, 0, 70000}));
    EXPECT_EQ((std::vector<ULONG>{MAXDWORD, 0, 0, 0, 70000}), members(sim::timeouts(printer_)));
}

TEST_F(NativeRequests, aMemberTheDriverMarksAsKeptKeepsTheMarkWhileTheOthersChange) {
    for (int kept = 0; kept < 5; ++kept) {
        SCOPED_TRACE("member " + std::to_string(kept));
        // A fresh printer starts from the driver's defaults, with no member marked.
        closeAll();
        sim::removeAll();
        ASSERT_GT(attachNativePrinter(), 0);
        jint handle = openReadPipe(port_);

        std::vector<jint> marking{1, 2, 3, 4, 5};
        marking[static_cast<size_t>(kept)] = static_cast<jint>(KEEP);
        ASSERT_EQ(0, setTimeouts(handle, marking));

        EXPECT_EQ(0, setTimeouts(handle, {101, 102, 103, 104, 105}));
        std::vector<ULONG> expected{101, 102, 103, 104, 105};
        expected[static_cast<size_t>(kept)] = KEEP;
        EXPECT_EQ(expected, members(sim::timeouts(printer_)));
    }
}

TEST_F(NativeRequests, aPurgeThroughAnotherHandleEndsAReadPendingOnTheDevice) {
    jint reading = openReadPipe(port_);
    JavaUsbPort other(jvm_);
    jint purging = openReadPipe(other);
    ASSERT_NE(reading, purging);
    // All time-outs zero: the read waits until its bytes arrive.
    ASSERT_EQ(0, setTimeouts(reading, {0, 0, 0, 0, 0}));

    std::future<std::pair<jint, jint>> read = std::async(std::launch::async, [&] {
        std::vector<jbyte> buffer(16);
        jint result = port_.readInputPipe(reading, buffer);
        return std::make_pair(result, port_.lastError());
    });
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; })) << "the read never got under way";

    EXPECT_EQ(0, other.purgeRequest(purging));
    ASSERT_EQ(std::future_status::ready, read.wait_for(GENEROUS)) << "the purge left the read pending";
    EXPECT_EQ(std::make_pair(-1, static_cast<jint>(ERROR_OPERATION_ABORTED)), read.get());

    // The handle that was reading is still good: the next read gets what the printer sends (all of its length, as
    // the time-outs are still zero).
    ASSERT_TRUE(sim::send(printer_, "\x12", 1));
    std::vector<jbyte> buffer(1);
    EXPECT_EQ(1, port_.readInputPipe(reading, buffer));
    EXPECT_EQ(0x12, buffer[0]);
}

TEST_F(NativeRequests, aPurgeWithNoReadInProgressDropsWhatWasReceived) {
    jint handle = openReadPipe(port_);
    // MAXDWORD interval and no totals: a read returns at once with what has arrived.
    ASSERT_EQ(0, setTimeouts(handle, {-1, 0, 0, 0, 0}));
    ASSERT_TRUE(sim::send(printer_, "\x01\x02\x03", 3));
    EXPECT_EQ(0, port_.purgeRequest(handle));

    std::vector<jbyte> buffer(8);
    EXPECT_EQ(0, port_.readInputPipe(handle, buffer)) << "bytes from before the purge were delivered";
    ASSERT_TRUE(sim::send(printer_, "\x04", 1));
    EXPECT_EQ(1, port_.readInputPipe(handle, buffer)) << "the purge stopped the receive side for good";
    EXPECT_EQ(0x04, buffer[0]);
}

}  // namespace
}  // namespace printer_class_test
