// A suspend that comes right after the open, before the reader thread has had its first run: on a loaded till that
// moment is long, and the link Java has just been handed must still be told of the suspend and closed.
#include <future>
#include <string>
#include <vector>

#include "kernel/thread.h"
#include "kernel/thread_registry.h"
#include "power/PowerWindowClass.h"
#include "printer_class_java_fixture.h"
#include "sim/simbus.h"

namespace printer_class_test {
namespace {

const std::string SUSPEND_COMMAND("\x1d\xff");
const std::string RESUME_COMMAND("\x1d\x04\x02\x1b\x40");

class SuspendAfterOpen : public PrinterClassJava {
protected:
    void TearDown() override {
        platform::releaseHeldThreads();
        platform::setTimeScale(1);
        g_UsbComm.EndSuspensionForUnload();
        PrinterClassJava::TearDown();
    }

    // Everything the printer received since the last call.
    std::string received() {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(sim::takeAll(printer_, bytes));
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(SuspendAfterOpen, aSuspendBeforeTheReadersFirstRunTellsThePrinterAndClosesTheLink) {
    size_t threadsBefore = platform::liveThreadCount();
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    // The next thread the library starts is the reader of the read-side open.
    platform::holdNextThreads(1);
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_READ));
    ASSERT_TRUE(waitUntil([] { return platform::heldThreadCount() == 1; }));
    ASSERT_EQ(0, g_UsbComm.ReaderBusyFlag()) << "the reader has run";

    std::future<int> suspend = std::async(std::launch::async, [] { return simbus_power(PBT_APMSUSPEND); });
    std::string commands;
    // The command goes out while the reader is still held; the close then waits for the reader to end.
    EXPECT_TRUE(waitUntil([&] {
        commands += received();
        return commands == SUSPEND_COMMAND || suspend.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    EXPECT_EQ(SUSPEND_COMMAND, commands) << "the printer was not told";
    platform::releaseHeldThreads();
    ASSERT_EQ(std::future_status::ready, suspend.wait_for(GENEROUS));
    EXPECT_GE(suspend.get(), 1);
    EXPECT_FALSE(holdsAnything()) << "the link stayed open across the suspend";
    EXPECT_EQ(0, sim::openFiles(printer_));

    // The resume reopens what the suspend closed and tells the printer once.
    platform::setTimeScale(0.01);
    ASSERT_GE(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; })) << "the link came back";
    EXPECT_NE(nullptr, g_UsbComm.WritePort());
    EXPECT_EQ(RESUME_COMMAND, received());
    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    EXPECT_EQ(0, closePipe(port_.hWritePort()));
    EXPECT_TRUE(waitUntil([] { return FindWindowA(POWER_WINDOW_CLASS, nullptr) == nullptr; }))
        << "the power window outlived the link";
    EXPECT_TRUE(waitUntil([&] { return platform::liveThreadCount() == threadsBefore; }))
        << "a thread outlived the link";
}

TEST_F(SuspendAfterOpen, withoutAPrinterClassReadPipeNoWindowHearsTheSuspendAndNothingChanges) {
    // The write pipe alone: the power window comes with the read pipe's receive machinery.
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, simbus_power(PBT_APMSUSPEND));
    EXPECT_EQ(0, g_UsbComm.SuspendedFlag());
    EXPECT_EQ(0, writePipe("ok"));
    EXPECT_EQ("ok", received());
    EXPECT_EQ(0, closePipe(port_.hWritePort()));

    // The native transport has no power handling at all.
    sim::removeAll();
    sim::PrinterSetup setup;
    setup.transport = sim::Transport::Native;
    setup.vid = VID;
    setup.pid = PID;
    printer_ = sim::attach(setup);
    ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_WRITE));
    ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_READ));
    EXPECT_EQ(0, simbus_power(PBT_APMSUSPEND));
    EXPECT_EQ(0, writePipe("ok"));
    EXPECT_EQ("ok", received());
    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    EXPECT_EQ(0, closePipe(port_.hWritePort()));
}

}  // namespace
}  // namespace printer_class_test
