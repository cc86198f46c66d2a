// The printer-class transport through the exported functions, as Java calls them: the closes of either handle, a
// close during a blocked read and during a write the printer does not take.
#include <future>
#include <string>
#include <vector>

#include "printer_class_java_fixture.h"

namespace printer_class_test {
namespace {

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
    EXPECT_EQ(nullptr, g_UsbComm.m_hWritePort.load()) << "no failed open is kept for the next open to take";

    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, writePipe("\x1b@"));
    closePipe(port_.hWritePort());
}

}  // namespace
}  // namespace printer_class_test
