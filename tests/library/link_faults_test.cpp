// Faults of the link that only a meaner world shows: a printer-class link beside a native printer, failures whose
// code must reach Java intact, unplug codes other drivers use, and suspends the printer or the driver make hard.
#include <future>
#include <string>
#include <vector>

#include "printer_class_java_fixture.h"
#include "power/PowerWindowClass.h"
#include "sim/simbus.h"

namespace printer_class_test {
namespace {

const DWORD SUSPENDED = ERROR_POWER_SUSPENDED_CODE;

int attachNativePrinter() {
    sim::PrinterSetup setup;
    setup.transport = sim::Transport::Native;
    setup.vid = VID;
    setup.pid = PID;
    return sim::attach(setup);
}

class LinkFaults : public PrinterClassJava {
protected:
    void TearDown() override {
        g_UsbComm.EndSuspensionForUnload();
        PrinterClassJava::TearDown();
    }

    // What the JVM may do to the thread's last error between the failing call and usbGetLastError.
    jint lastErrorAfterTheJvmRan() {
        SetLastError(ERROR_SUCCESS);
        return port_.lastError();
    }

    // A native printer plugged in beside the open printer-class link: the next detection records the native
    // transport while the link's reader still runs.
    void flipTypeWithANativePrinterBeside() {
        ASSERT_GT(attachNativePrinter(), 0);
        ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_WRITE));
        ASSERT_EQ(USB_TYPE_NATIVE, g_UsbComm.UsbType());
    }
};

TEST_F(LinkFaults, aFailedOpenSaysWhyEvenAfterTheJvmRan) {
    sim::removeAll();
    EXPECT_EQ(-1, initPipe(GENERIC_WRITE));
    EXPECT_EQ(static_cast<jint>(ERROR_DEVICE_NOT_CONNECTED), lastErrorAfterTheJvmRan()) << "no printer there";

    printer_ = attachPrinterClassPrinter();
    ASSERT_TRUE(sim::refuseOpens(printer_, true));
    EXPECT_EQ(-1, initPipe(GENERIC_READ));
    EXPECT_EQ(static_cast<jint>(ERROR_ACCESS_DENIED), lastErrorAfterTheJvmRan()) << "the printer is in use";
    ASSERT_TRUE(sim::refuseOpens(printer_, false));

    // The pipe's own open fails after detection and lookup opened the device three times.
    platform::armFault("CreateFileA", 1, ERROR_SHARING_VIOLATION, 3);
    EXPECT_EQ(-1, initPipe(GENERIC_WRITE));
    EXPECT_EQ(static_cast<jint>(ERROR_SHARING_VIOLATION), lastErrorAfterTheJvmRan());

    g_UsbComm.BeginSuspension();
    int filesBefore = sim::openFiles();
    EXPECT_EQ(-1, initPipe(GENERIC_WRITE));
    EXPECT_EQ(static_cast<jint>(SUSPENDED), lastErrorAfterTheJvmRan());
    EXPECT_EQ(filesBefore, sim::openFiles()) << "an open refused while suspended opens nothing";
}

TEST_F(LinkFaults, aPrinterClassReadThatRunsOutOfTimeSaysSo) {
    openBothPipes();
    platform::setTimeScale(0.0001);
    std::vector<jbyte> array(8);
    EXPECT_EQ(-1, readPipe(array));
    EXPECT_EQ(static_cast<jint>(ERROR_TIMEOUT), lastErrorAfterTheJvmRan());
    platform::setTimeScale(1);
    closePipe(port_.hReadPort());
}

TEST_F(LinkFaults, aNativeReadEndedByACloseReportsTheAbortOnTheReadingThread) {
    sim::removeAll();
    printer_ = attachNativePrinter();
    ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_READ));
    jint read = port_.hReadPort();
    // No time-outs: the read waits for data.
    ASSERT_EQ(0, port_.setCommTimeout(read, 0, 0, 0, 0, 0));

    std::future<std::pair<jint, jint>> blocked = std::async(std::launch::async, [&] {
        std::vector<jbyte> array(8);
        jint result = port_.readInputPipe(read, array);
        SetLastError(ERROR_SUCCESS);
        return std::make_pair(result, port_.lastError());
    });
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    EXPECT_EQ(0, closePipe(read));
    ASSERT_EQ(std::future_status::ready, blocked.wait_for(GENEROUS));
    auto [result, error] = blocked.get();
    EXPECT_EQ(-1, result);
    EXPECT_EQ(static_cast<jint>(ERROR_OPERATION_ABORTED), error);
}

TEST_F(LinkFaults, readsAndControlRequestsOnTheLinksHandlesTakeThePrinterClassRoadWhateverTheType) {
    openBothPipes();
    flipTypeWithANativePrinterBeside();

    ASSERT_TRUE(sim::send(printer_, "abc", 3));
    std::vector<jbyte> array(3);
    EXPECT_EQ(3, readPipe(array)) << "served from the ring buffer, not by a native read on the overlapped handle";
    EXPECT_EQ("abc", text(array));
    EXPECT_EQ(1, port_.getCommTimeout(port_.hReadPort()));
    EXPECT_EQ(1, port_.setCommTimeout(port_.hReadPort(), 1, 2, 3, 4, 5));
    EXPECT_EQ(1, port_.purgeRequest(port_.hReadPort()));

    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    EXPECT_FALSE(holdsAnything());
}

TEST_F(LinkFaults, aCloseOfAHandleTheReconnectReplacedEndsTheLinkWhateverTheType) {
    openBothPipes();
    jint oldRead = port_.hReadPort();
    flipTypeWithANativePrinterBeside();
    // The printer goes: the reader releases both handles and keeps reconnecting, without a usable handle.
    platform::setTimeScale(0.01);
    ASSERT_TRUE(sim::unplug(printer_));
    ASSERT_TRUE(waitUntil([&] { return g_UsbComm.ReadPort() == INVALID_HANDLE_VALUE; }));

    EXPECT_EQ(0, closePipe(oldRead));
    EXPECT_FALSE(holdsAnything()) << "Java closed its link, and the reader must not go on without it";
    platform::setTimeScale(1);
}

TEST_F(LinkFaults, theReaderReconnectsWhateverCodeTheDriverGivesLaterRequestsAfterAnUnplug) {
    for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_DEVICE_NOT_CONNECTED}) {
        SCOPED_TRACE(code);
        sim::ErrorCodes codes;
        codes.handleAfterUnplug = code;
        ASSERT_TRUE(sim::setErrorCodes(printer_, codes));
        openBothPipes();
        platform::setTimeScale(0.01);
        ASSERT_TRUE(sim::unplug(printer_));
        ASSERT_TRUE(sim::replug(printer_));
        ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1 && g_UsbComm.IsConnected(); }))
            << "the link never came back";
        ASSERT_TRUE(sim::send(printer_, "back", 4));
        std::vector<jbyte> array(4);
        EXPECT_EQ(4, readPipe(array));
        EXPECT_EQ("back", text(array));
        closePipe(port_.hReadPort());
        platform::setTimeScale(1);
    }
}

TEST_F(LinkFaults, aReaderThatHasEndedLeavesNoConnectionForASuspendToTake) {
    openBothPipes();
    EXPECT_TRUE(g_UsbComm.IsConnected());
    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    EXPECT_FALSE(g_UsbComm.IsConnected());
}

TEST_F(LinkFaults, aResumeDoesNotBringBackALinkJavaClosedWhileTheSystemWasAway) {
    openBothPipes();
    ASSERT_GE(simbus_power(PBT_APMSUSPEND), 1);
    std::vector<uint8_t> written;
    ASSERT_TRUE(sim::takeAll(printer_, written));
    EXPECT_EQ(std::string("\x1d\xff"), std::string(written.begin(), written.end()));
    closePipe(port_.hWritePort());
    closePipe(port_.hReadPort());

    platform::setTimeScale(0.01);
    ASSERT_GE(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_EQ(0, g_UsbComm.SuspendedFlag()) << "the resume still lifts the suspended state";
    EXPECT_FALSE(holdsAnything()) << "nothing reopened";
    EXPECT_EQ(0, sim::openFiles(printer_));
    ASSERT_TRUE(sim::takeAll(printer_, written));
    EXPECT_TRUE(written.empty()) << "the printer was not sent the resume command";
    EXPECT_TRUE(waitUntil([] { return FindWindowA(POWER_WINDOW_CLASS, nullptr) == nullptr; }))
        << "the power window outlived the link";
    platform::setTimeScale(1);
}

TEST_F(LinkFaults, aSuspendEndsWithinItsBudgetWhenThePrinterTakesNoData) {
    openBothPipes();
    ASSERT_TRUE(sim::stallWrites(printer_, true));
    platform::setTimeScale(0.01);
    std::future<int> suspend = std::async(std::launch::async, [] { return simbus_power(PBT_APMSUSPEND); });
    ASSERT_EQ(std::future_status::ready, suspend.wait_for(GENEROUS)) << "the suspend handler never returned";
    EXPECT_GE(suspend.get(), 1);
    EXPECT_FALSE(holdsAnything()) << "the suspend closed the link";
    ASSERT_TRUE(sim::stallWrites(printer_, false));

    ASSERT_GE(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; })) << "the link came back";
    closePipe(port_.hReadPort());
    platform::setTimeScale(1);
}

TEST_F(LinkFaults, aCloseEndsALinkWhosePrinterStreamsWithoutPause) {
    for (bool completeAtOnce : {true, false}) {
        SCOPED_TRACE(completeAtOnce ? "reads complete at once" : "reads pend first");
        ASSERT_TRUE(sim::setCompleteAtOnce(printer_, completeAtOnce));
        openBothPipes();
        ASSERT_TRUE(sim::startStream(printer_, sim::StreamSetup{}));
        // Java takes now and then, so the ring buffer drains and the reader keeps reading at full speed.
        std::vector<jbyte> array(4096);
        for (int i = 0; i < 8; ++i) ASSERT_GT(readPipe(array), 0);

        std::future<jint> close = std::async(std::launch::async, [&] { return closePipe(port_.hReadPort()); });
        ASSERT_EQ(std::future_status::ready, close.wait_for(GENEROUS)) << "the close never ended";
        EXPECT_EQ(0, close.get());
        EXPECT_FALSE(holdsAnything());
        ASSERT_TRUE(sim::stopStream(printer_));
    }
}

TEST_F(LinkFaults, aCloseReturnsWhileANativeReadStaysBlockedInADriverThatIgnoresCancellation) {
    sim::removeAll();
    printer_ = attachNativePrinter();
    ASSERT_TRUE(sim::ignoreCancels(printer_, true));
    ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_READ));
    jint read = port_.hReadPort();
    ASSERT_EQ(0, port_.setCommTimeout(read, 0, 0, 0, 0, 0));

    std::future<jint> blocked = std::async(std::launch::async, [&] {
        std::vector<jbyte> array(8);
        return port_.readInputPipe(read, array);
    });
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    std::future<jint> close = std::async(std::launch::async, [&] { return closePipe(read); });
    ASSERT_EQ(std::future_status::ready, close.wait_for(GENEROUS)) << "the close waits for a call the driver keeps";
    EXPECT_EQ(0, close.get());

    // The read stays in the driver, and nothing else waits for it: opens, writes, other handles, the handle's value.
    EXPECT_EQ(1u, sim::pendingReads(printer_));
    int filesBeforeTheWritePipe = sim::openFiles(printer_);
    ASSERT_EQ(USB_TYPE_NATIVE, initPipe(GENERIC_WRITE));
    int filesWithTheRead = sim::openFiles(printer_);
    EXPECT_EQ(filesBeforeTheWritePipe + 1, filesWithTheRead);
    EXPECT_EQ(0, writePipe("ok"));
    std::vector<jbyte> array(8);
    EXPECT_EQ(-1, port_.readInputPipe(read, array)) << "the library used a handle it had closed for Java";
    EXPECT_EQ(static_cast<jint>(ERROR_INVALID_HANDLE), lastErrorAfterTheJvmRan());
    EXPECT_EQ(filesWithTheRead, sim::openFiles(printer_)) << "the file was closed under its blocked call";
    EXPECT_NE(std::future_status::ready, blocked.wait_for(std::chrono::seconds(0)));

    // The driver ends the read the way it ends any: here with the bytes it waited for. Only then is the file closed.
    ASSERT_TRUE(sim::send(printer_, "12345678", 8));
    ASSERT_EQ(std::future_status::ready, blocked.wait_for(GENEROUS));
    EXPECT_EQ(8, blocked.get());
    EXPECT_TRUE(waitUntil([&] { return sim::openFiles(printer_) == filesWithTheRead - 1; }));
    EXPECT_EQ(0, closePipe(port_.hWritePort()));
}

TEST_F(LinkFaults, theReaderOutOfEventsWithItsCancelledReadStillPendingEndsCleanly) {
    ASSERT_TRUE(sim::ignoreCancels(printer_, true));
    ASSERT_TRUE(sim::setCompleteAtOnce(printer_, false));
    openBothPipes();
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    // The reader's fresh record for the read after the abandoned one gets no event.
    ASSERT_TRUE(platform::armFault("CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    platform::clearFaults();
    EXPECT_FALSE(holdsAnything());
    EXPECT_EQ(0u, sim::pendingReads(printer_)) << "the abandoned read outlived the read handle";
}

TEST_F(LinkFaults, aSuspendStaysWithinItsBudgetAtADriverThatIgnoresCancellation) {
    // The layer reports a suspend handler that overruns its budget, and a report fails the test.
    ASSERT_TRUE(sim::ignoreCancels(printer_, true));
    ASSERT_TRUE(sim::setCompleteAtOnce(printer_, false));
    openBothPipes();
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; }));
    ASSERT_GE(simbus_power(PBT_APMSUSPEND), 1);
    EXPECT_FALSE(holdsAnything()) << "the suspend closed the link";
    EXPECT_EQ(0u, sim::pendingReads(printer_));
    std::vector<uint8_t> written;
    ASSERT_TRUE(sim::takeAll(printer_, written));
    EXPECT_EQ(std::string("\x1d\xff"), std::string(written.begin(), written.end()));

    platform::setTimeScale(0.01);
    ASSERT_GE(simbus_power(PBT_APMRESUMESUSPEND), 1);
    EXPECT_TRUE(waitUntil([&] { return sim::pendingReads(printer_) == 1; })) << "the link came back";
    closePipe(port_.hReadPort());
    platform::setTimeScale(1);
}

TEST_F(LinkFaults, aCloseEndsAPrinterClassLinkAtADriverThatIgnoresCancellation) {
    ASSERT_TRUE(sim::ignoreCancels(printer_, true));
    openBothPipes();
    std::future<jint> close = std::async(std::launch::async, [&] { return closePipe(port_.hReadPort()); });
    ASSERT_EQ(std::future_status::ready, close.wait_for(std::chrono::seconds(20)))
        << "the close waits without bound for the reader's read to be cancelled";
    EXPECT_EQ(0, close.get());
    EXPECT_FALSE(holdsAnything());
    EXPECT_EQ(0u, sim::pendingReads(printer_));
}

}  // namespace
}  // namespace printer_class_test
