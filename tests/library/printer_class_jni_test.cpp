// The printer-class transport through the exported functions, as Java calls them: the closes of either handle, a
// close during a blocked read and during a write the printer does not take.
#include <future>
#include <string>
#include <vector>

#include "printer_class_java_fixture.h"
#include "sim/simbus.h"

namespace printer_class_test {
namespace {

// A code no Win32 call reports by itself (bit 29: a customer code), so that only an armed fault produces it.
const DWORD UNTOUCHED_FAULT = 0x20000ABC;

// An armed fault is used up by the first call of its operation; finding it still armed proves nobody made one.
bool deviceIoControlStillArmed() {
    DWORD returned = 0;
    SetLastError(0);
    return !DeviceIoControl(nullptr, 0, nullptr, 0, nullptr, 0, &returned, nullptr) &&
           GetLastError() == UNTOUCHED_FAULT;
}

bool purgeCommStillArmed() {
    SetLastError(0);
    return !PurgeComm(nullptr, PURGE_RXCLEAR) && GetLastError() == UNTOUCHED_FAULT;
}

bool createFileStillArmed() {
    SetLastError(0);
    HANDLE file = CreateFileA("\\\\.\\no-such-device", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return file == INVALID_HANDLE_VALUE && GetLastError() == UNTOUCHED_FAULT;
}

TEST_F(PrinterClassJava, aReceiptGoesOutTheAnswerComesBackAndTheFirstCloseOfEitherHandleEndsTheLink) {
    for (bool writeHandleFirst : {true, false}) {
        SCOPED_TRACE(writeHandleFirst ? "write handle first" : "read handle first");
        openBothPipes();
        EXPECT_NE(port_.hReadPort(), port_.hWritePort());

        const std::string receipt("\x1b@receipt\n");
        EXPECT_EQ(0, writePipe(receipt));
        std::vector<uint8_t> printed;
        ASSERT_TRUE(sim::takeAll(printer_, printed));
        EXPECT_EQ(receipt, std::string(printed.begin(), printed.end()));

        ASSERT_TRUE(sim::send(printer_, "\x14\x00\x2a", 3));
        std::vector<jbyte> small(2);
        EXPECT_EQ(2, readPipe(small));
        EXPECT_EQ(std::string("\x14\x00", 2), text(small));
        std::vector<jbyte> large(64);
        EXPECT_EQ(1, readPipe(large));
        EXPECT_EQ('\x2a', large[0]);

        jint first = writeHandleFirst ? port_.hWritePort() : port_.hReadPort();
        jint second = writeHandleFirst ? port_.hReadPort() : port_.hWritePort();
        EXPECT_EQ(0, closePipe(first));
        EXPECT_FALSE(holdsAnything());
        EXPECT_EQ(0, sim::openFiles(printer_));
        EXPECT_EQ(0, closePipe(second)) << "the second close finds nothing and still succeeds";
        EXPECT_FALSE(holdsAnything());
    }
}

TEST_F(PrinterClassJava, aCloseEndsABlockedReadAndAReadAfterItFailsAtOnce) {
    openBothPipes();
    std::vector<jbyte> array(64);
    std::future<jint> blocked = std::async(std::launch::async, [&] { return readPipe(array); });

    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    ASSERT_EQ(std::future_status::ready, blocked.wait_for(GENEROUS)) << "the read outlived the close";
    EXPECT_EQ(-1, blocked.get());
    EXPECT_FALSE(holdsAnything());

    // With the link closed there is nothing to wait for: a 180-second wait here would fail the bound below.
    std::vector<jbyte> laterArray(64);
    std::future<jint> late = std::async(std::launch::async, [&] { return readPipe(laterArray); });
    ASSERT_EQ(std::future_status::ready, late.wait_for(GENEROUS));
    EXPECT_EQ(-1, late.get());
}

TEST_F(PrinterClassJava, aCloseCancelsAWriteThePrinterDoesNotTake) {
    openBothPipes();
    ASSERT_TRUE(sim::stallWrites(printer_, true));
    std::future<jint> stalled = std::async(std::launch::async, [&] { return writePipe("stalled"); });
    ASSERT_TRUE(waitUntil([&] { return sim::pendingWrites(printer_) == 1; }));

    EXPECT_EQ(0, closePipe(port_.hReadPort()));
    ASSERT_EQ(std::future_status::ready, stalled.wait_for(GENEROUS)) << "the close hangs on the stalled write";
    EXPECT_EQ(static_cast<jint>(ERROR_OPERATION_ABORTED), stalled.get());
    EXPECT_EQ(0u, sim::pendingWrites(printer_));
    ASSERT_TRUE(sim::stallWrites(printer_, false));
    std::vector<uint8_t> printed;
    ASSERT_TRUE(sim::takeAll(printer_, printed));
    EXPECT_TRUE(printed.empty());
}

TEST_F(PrinterClassJava, aFailedOpenOfTheWritePipeIsTriedAgainByTheNextOpen) {
    // Detection and lookup open the device three times before the write pipe's own open.
    platform::armFault("CreateFileA", 1, ERROR_ACCESS_DENIED, 3);
    EXPECT_EQ(-1, initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, port_.hWritePort()) << "the field is written only on success";
    EXPECT_EQ(nullptr, g_UsbComm.WritePort()) << "no failed open is kept for the next open to take";

    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, writePipe("\x1b@"));
    closePipe(port_.hWritePort());
}

TEST_F(PrinterClassJava, timeoutAndPurgeRequestsAreAnsweredWithoutReachingTheDriver) {
    openBothPipes();
    ASSERT_TRUE(sim::send(printer_, "\x14", 1));
    for (jint handle : {port_.hReadPort(), port_.hWritePort()}) {
        platform::armFault("DeviceIoControl", 1, UNTOUCHED_FAULT);
        platform::armFault("PurgeComm", 1, UNTOUCHED_FAULT);
        EXPECT_EQ(1, port_.getCommTimeout(handle));
        EXPECT_EQ(1, port_.setCommTimeout(handle, 1, 2, 3, 4, 5));
        EXPECT_EQ(1, port_.purgeRequest(handle));
        EXPECT_TRUE(deviceIoControlStillArmed()) << "a time-out request was sent to the printer-class driver";
        EXPECT_TRUE(purgeCommStillArmed()) << "a purge was sent to the printer-class driver";
    }
    std::vector<jbyte> array(4);
    EXPECT_EQ(1, readPipe(array)) << "what arrived before the requests is still there";
    EXPECT_EQ(0x14, array[0]);
}

TEST_F(PrinterClassJava, anOpenWhileSuspendedOpensNothing) {
    openBothPipes();
    ASSERT_EQ(1, simbus_power(PBT_APMSUSPEND));
    ASSERT_EQ(1, g_UsbComm.SuspendedFlag());
    jint readBefore = port_.hReadPort();
    jint writeBefore = port_.hWritePort();
    int filesBefore = sim::openFiles(printer_);
    size_t handlesBefore = platform::openHandleCount();

    platform::armFault("CreateFileA", 1, UNTOUCHED_FAULT);
    EXPECT_EQ(-1, initPipe(GENERIC_READ));
    EXPECT_EQ(-1, initPipe(GENERIC_WRITE));
    EXPECT_TRUE(createFileStillArmed()) << "an open while suspended tried the device";
    EXPECT_EQ(filesBefore, sim::openFiles(printer_));
    EXPECT_EQ(handlesBefore, platform::openHandleCount());
    EXPECT_EQ(readBefore, port_.hReadPort());
    EXPECT_EQ(writeBefore, port_.hWritePort());

    // Back from the suspend, so that the next test finds the port state as it should be.
    platform::setTimeScale(0.001);
    ASSERT_EQ(1, simbus_power(PBT_APMRESUMESUSPEND));
    ASSERT_EQ(0, g_UsbComm.SuspendedFlag());
    platform::setTimeScale(1);
}

TEST_F(PrinterClassJava, aSecondWriteOpenHandsOutTheHeldHandleAndOpensNothingNew) {
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    jint first = port_.hWritePort();
    int filesBefore = sim::openFiles(printer_);
    size_t handlesBefore = platform::openHandleCount();

    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    EXPECT_EQ(first, port_.hWritePort());
    JavaUsbPort another(jvm_);
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, another.initPipe(static_cast<jint>(GENERIC_WRITE)));
    EXPECT_EQ(first, another.hWritePort());
    EXPECT_EQ(filesBefore, sim::openFiles(printer_));
    EXPECT_EQ(handlesBefore, platform::openHandleCount());
    closePipe(first);
}

}  // namespace
}  // namespace printer_class_test
