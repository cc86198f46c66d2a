// The printer-class read-side open, each of its failure exits, and the close that tears the whole link down.
#include <future>

#include "printer_class_fixture.h"

namespace printer_class_test {
namespace {

class PrinterClassPipes : public PrinterClassTest {
protected:
    // What the port state holds, as one comparable line. Under the replacement lock: a reconnect empties a
    // handle field for a moment.
    std::string held() {
        CLockHolder replacing(comm_.m_guard.m_replaceLock);
        std::string line;
        auto add = [&line](bool present, const char *name) {
            if (!present) return;
            if (!line.empty()) line += ' ';
            line += name;
        };
        add(comm_.m_hReadPort.load() != nullptr, "read");
        add(comm_.m_hStopEvent.load() != nullptr, "stop");
        add(comm_.m_hThreadDoneEvent.load() != nullptr, "done");
        add(comm_.m_hDataEvent.load() != nullptr, "data");
        add(comm_.m_pCCBuffer.load() != nullptr, "buffer");
        add(comm_.m_hReaderThread.load() != nullptr, "thread");
        return line;
    }

    // Runs the open with the fault armed; checks its outcome, what it left and m_bOpened, and that a close
    // releases all of it.
    void expectFailedOpen(const char *operation, int skip, const std::string &expectHeld, int expectOpened) {
        SCOPED_TRACE(std::string(operation) + " #" + std::to_string(skip + 1));
        comm_.m_bOpened = 1;
        ASSERT_TRUE(platform::armFault(operation, 1, ERROR_NOT_ENOUGH_MEMORY, skip));
        EXPECT_EQ(nullptr, openReadPipe());
        EXPECT_EQ(expectHeld, held());
        EXPECT_TRUE(isUsableHandle(comm_.m_hReadPort.load()));
        EXPECT_EQ(expectOpened, comm_.m_bOpened.load());

        // Java got -1 and holds no handle value of this link; with no reader thread the close's wait runs into
        // its time-out.
        platform::setTimeScale(0.01);
        EXPECT_EQ(0, comm_.ClosePrinterClassPipe(-1));
        EXPECT_FALSE(holdsAnything());
        platform::setTimeScale(1);
    }
};

TEST_F(PrinterClassPipes, eachFailedStepOfTheOpenLeavesWhatCameBeforeUntilAClose) {
    expectFailedOpen("CreateEventA", 0, "read", 1);
    expectFailedOpen("CreateEventA", 1, "read stop", 1);
    expectFailedOpen("CreateEventA", 2, "read stop done", 0);
    // The ring buffer's constructor fails when it gets no mutex.
    expectFailedOpen("CreateMutexA", 0, "read stop done data", 0);
    expectFailedOpen("CreateThread", 0, "read stop done data buffer", 0);
}

TEST_F(PrinterClassPipes, withoutItsDoneEventTheMatchingCloseIsAbandonedAndReleasesNothing) {
    ASSERT_TRUE(platform::armFault("CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY, 1));
    ASSERT_EQ(nullptr, openReadPipe());
    HANDLE read = comm_.m_hReadPort.load();
    EXPECT_EQ(1, close(read));
    EXPECT_EQ(read, comm_.m_hReadPort.load());
    EXPECT_NE(nullptr, comm_.m_hStopEvent.load());
    // Not knowing this handle, the other-handle close goes on: the reader is not busy.
    EXPECT_EQ(0, comm_.ClosePrinterClassPipe(-1));
    EXPECT_FALSE(holdsAnything());
}

TEST_F(PrinterClassPipes, aFailedOpenOfTheReadPipeStillStartsTheReaderWhichOpensTheDeviceItself) {
    ASSERT_TRUE(platform::armFault("CreateFileA", 1, ERROR_SHARING_VIOLATION));
    EXPECT_EQ(INVALID_HANDLE_VALUE, openReadPipe());
    ASSERT_TRUE(waitUntil([&] { return readerIsWaiting(); }));
    EXPECT_TRUE(isUsableHandle(comm_.m_hReadPort.load()));
    EXPECT_TRUE(isUsableHandle(comm_.m_hWritePort.load()));
    EXPECT_EQ(1, comm_.m_bOpened.load());
    EXPECT_EQ(0, comm_.ClosePrinterClassPipe(-1));
}

TEST_F(PrinterClassPipes, whileTheDeviceIsGoneTheHeldInvalidHandleIsHandedOutUntilTheReaderReconnects) {
    platform::setTimeScale(0.01);
    ASSERT_TRUE(sim::unplug(printer_));
    EXPECT_EQ(INVALID_HANDLE_VALUE, openReadPipe());
    EXPECT_EQ("read stop done data buffer thread", held());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openReadPipe()) << "a second open hands out what is held";

    ASSERT_TRUE(sim::replug(printer_));
    ASSERT_TRUE(waitUntil([&] { return readerIsWaiting(); })) << "the reader's reconnect did not find the device";
    HANDLE reconnected = comm_.m_hReadPort.load();
    EXPECT_TRUE(isUsableHandle(reconnected));
    EXPECT_EQ(reconnected, openReadPipe()) << "a later open hands out the reconnected handle";
    ASSERT_TRUE(send("up"));
    EXPECT_EQ("up", collect(2));
    EXPECT_EQ(0, close(reconnected));
}

TEST_F(PrinterClassPipes, aSecondOpenWithoutACloseCreatesNothingAndHandsOutTheSameHandle) {
    HANDLE read = openLink();
    HANDLE thread = comm_.m_hReaderThread.load();
    CCircularBuffer *buffer = comm_.m_pCCBuffer.load();
    size_t handles = platform::openHandleCount();
    EXPECT_EQ(read, openReadPipe());
    EXPECT_EQ(handles, platform::openHandleCount());
    EXPECT_EQ(thread, comm_.m_hReaderThread.load());
    EXPECT_EQ(buffer, comm_.m_pCCBuffer.load());
    EXPECT_EQ(0, close(read));
}

TEST_F(PrinterClassPipes, theCloseStopsTheReaderAndReleasesEverythingWhicheverHandleItIsGiven) {
    // The read handle; a write handle as usbInitPipe opens and keeps it; a value that matches neither.
    for (int closeWith = 0; closeWith < 3; ++closeWith) {
        SCOPED_TRACE(closeWith);
        HANDLE read = openLink();
        HANDLE write =
            CreateFileA((sim::interfacePath(printer_) + "\\" + PIPE_NAME_WRITE).c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(isUsableHandle(write));
        comm_.m_guard.Adopt(write);
        comm_.m_hWritePort = write;

        jint value = closeWith == 0 ? HandleToJava(read) : closeWith == 1 ? HandleToJava(write) : 0x7ffffff0;
        EXPECT_EQ(0, comm_.ClosePrinterClassPipe(value));
        EXPECT_FALSE(holdsAnything());
        EXPECT_EQ(0, comm_.m_bReaderBusy.load()) << "the reader thread outlived the close";
        EXPECT_EQ(0u, sim::pendingReads(printer_)) << "the reader's read was cancelled";
        EXPECT_EQ(0, sim::openFiles(printer_));
        // The close of the other pipe finds nothing left.
        EXPECT_EQ(0, comm_.ClosePrinterClassPipe(HandleToJava(write)));
        EXPECT_FALSE(holdsAnything());
    }
}

TEST_F(PrinterClassPipes, aCloseEndsAReadWaitingOnAnotherThreadBeforeTheBufferGoes) {
    HANDLE read = openLink();
    DWORD taken = 0xC0FFEE;
    std::future<int> waiting = std::async(std::launch::async, [&] {
        BYTE buffer[64];
        return comm_.TimedRead(buffer, sizeof buffer, &taken, 180000);
    });
    EXPECT_EQ(0, close(read));
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(GENEROUS));
    EXPECT_EQ(0, waiting.get());
    EXPECT_EQ(0xC0FFEEu, taken);
    EXPECT_FALSE(holdsAnything());
}

}  // namespace
}  // namespace printer_class_test
