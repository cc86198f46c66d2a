// The reader thread: what it stores and signals, how it answers read errors, how it reconnects, and how it ends.
#include <atomic>
#include <thread>

#include "printer_class_fixture.h"

namespace printer_class_test {
namespace {

using ReaderThread = PrinterClassTest;

TEST_F(ReaderThread, storesWhatArrivesInOrderAndSignalsTheDataEvent) {
    openLink();
    HANDLE data = comm_.DataEvent();
    EXPECT_FALSE(isSignalled(data)) << "nothing has arrived yet";
    EXPECT_TRUE(comm_.IsConnected());
    EXPECT_EQ(1, comm_.ReaderBusyFlag());
    EXPECT_EQ(1, comm_.RunningFlag());

    ASSERT_TRUE(send("hello"));
    ASSERT_TRUE(becomesSignalled(data));
    EXPECT_EQ("hello", takeBuffered());

    // More than one receive block: the pending read takes 64 bytes, the reads after it complete at once.
    std::string many = pattern(200);
    ASSERT_TRUE(send(many));
    EXPECT_EQ(many, collect(many.size()));
}

TEST_F(ReaderThread, withTheRingBufferFullTheReaderHoldsThePrinterBackAndLosesNothing) {
    openLink();
    std::string sent = pattern(3 * 4096 + 100);
    ASSERT_TRUE(send(sent));
    // Nobody takes: the reader fills the buffer and then waits for room instead of reading on.
    ASSERT_TRUE(waitUntil([&] {
        CCircularBuffer *buffer = comm_.RingBuffer();
        return buffer->FreeSpace() < 64;
    }));
    EXPECT_EQ(0u, sim::pendingReads(printer_)) << "no read is issued while a block would not fit";

    EXPECT_EQ(sent, collect(sent.size())) << "every byte arrives, in order, once Java takes";
    ASSERT_TRUE(waitUntil([&] { return readerIsWaiting(); })) << "reading goes on once there is room";
}

TEST_F(ReaderThread, aStopEndsAReaderWhosePrinterKeepsEveryReadSatisfied) {
    for (bool completeAtOnce : {true, false}) {
        SCOPED_TRACE(completeAtOnce ? "reads complete at once" : "reads pend first");
        ASSERT_TRUE(sim::setCompleteAtOnce(printer_, completeAtOnce));
        HANDLE read = openLink();
        ASSERT_TRUE(sim::startStream(printer_, sim::StreamSetup{}));
        HANDLE thread = comm_.ReaderThread();
        // Java keeps taking, so the buffer never fills and the reader always has a read to issue.
        std::atomic<bool> draining{true};
        std::thread drain([&] {
            while (draining) takeBuffered();
        });
        ASSERT_TRUE(waitUntil([&] { return sim::streamTaken(printer_) > 64 * 1024; }));

        ASSERT_TRUE(SetEvent(comm_.StopEvent()));
        bool ended = becomesSignalled(thread);
        draining = false;
        drain.join();
        EXPECT_TRUE(ended) << "the reader never looked at the stop event";
        ASSERT_TRUE(sim::stopStream(printer_));
        EXPECT_EQ(0, close(read));
    }
}

TEST_F(ReaderThread, aStopEndsAReaderThatWaitsForRoomInAFullBuffer) {
    HANDLE read = openLink();
    ASSERT_TRUE(send(pattern(2 * 4096)));
    ASSERT_TRUE(waitUntil([&] { return comm_.RingBuffer()->FreeSpace() < 64; }));
    HANDLE thread = comm_.ReaderThread();
    ASSERT_TRUE(SetEvent(comm_.StopEvent()));
    EXPECT_TRUE(becomesSignalled(thread));
    EXPECT_EQ(0, close(read));
}

TEST_F(ReaderThread, aStopDuringAPendingReadEndsTheThreadWithTwoSignalsAndNoReadLeftBehind) {
    openLink();
    HANDLE thread = comm_.ReaderThread();
    HANDLE done = comm_.ThreadDoneEvent();
    ASSERT_TRUE(SetEvent(comm_.StopEvent()));

    ASSERT_TRUE(becomesSignalled(done)) << "the loop's signal";
    // The loop cancels its read and waits for its end before it signals, so the receive block it lent the
    // driver is no longer written to.
    EXPECT_EQ(0u, sim::pendingReads(printer_));
    ASSERT_TRUE(becomesSignalled(done)) << "the thread's own signal as it ends";
    EXPECT_EQ(0, comm_.ReaderBusyFlag());

    ASSERT_TRUE(becomesSignalled(thread));
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(0, comm_.RunningFlag());
    // Both signals are taken: the close's wait for one runs into its time-out.
    platform::setTimeScale(0.01);
    EXPECT_EQ(0, close(comm_.ReadPort()));
}

TEST_F(ReaderThread, aReadThatCompletesAfterRunningWasClearedIsDroppedAndTheLoopEnds) {
    openLink();
    HANDLE thread = comm_.ReaderThread();
    UsbCommTestAccess::setRunning(comm_, 0);
    ASSERT_TRUE(send("late"));

    ASSERT_TRUE(becomesSignalled(thread));
    EXPECT_FALSE(isSignalled(comm_.DataEvent()));
    EXPECT_EQ("", takeBuffered());
    EXPECT_TRUE(isSignalled(comm_.ThreadDoneEvent()));
    // The look at the done event took its signal: the close's wait for one runs into its time-out.
    platform::setTimeScale(0.01);
}

TEST_F(ReaderThread, readErrorsThatNeedNoReconnectAreRetriedOnTheSameHandle) {
    const DWORD retried[] = {ERROR_FILE_NOT_FOUND, ERROR_HANDLE_EOF, ERROR_GEN_FAILURE};
    for (DWORD error : retried) {
        SCOPED_TRACE(error);
        ASSERT_TRUE(platform::armFault("ReadFile", 3, error));
        HANDLE read = openLink();
        EXPECT_EQ(read, comm_.ReadPort()) << "no reconnect replaced the handle";
        EXPECT_EQ(0, comm_.OpenedFlag()) << "no reconnect ran";
        ASSERT_TRUE(send("after"));
        EXPECT_EQ("after", collect(5));
        EXPECT_EQ(0, close(read));
    }
}

TEST_F(ReaderThread, aStopEndsAReaderWhoseReadsKeepFailing) {
    const DWORD retried[] = {ERROR_FILE_NOT_FOUND, ERROR_HANDLE_EOF, ERROR_GEN_FAILURE};
    for (DWORD error : retried) {
        SCOPED_TRACE(error);
        ASSERT_TRUE(platform::armFault("ReadFile", 1 << 30, error));
        HANDLE read = openReadPipe();
        ASSERT_TRUE(isUsableHandle(read));
        HANDLE thread = comm_.ReaderThread();
        ASSERT_TRUE(waitUntil([&] { return comm_.RunningFlag() == 1; }));

        ASSERT_TRUE(SetEvent(comm_.StopEvent()));
        bool ended = becomesSignalled(thread);
        EXPECT_TRUE(ended) << "the reader kept retrying without a look at the stop event";
        EXPECT_TRUE(isSignalled(comm_.ThreadDoneEvent()));
        platform::clearFaults();
        if (!ended) UsbCommTestAccess::setRunning(comm_, 0);  // lets the close below end it
        platform::setTimeScale(0.01);
        EXPECT_EQ(0, close(read));
        platform::setTimeScale(1);
    }
}

TEST_F(ReaderThread, withoutTheDeviceItRetriesAndResumesReadingAfterReplugOnNewHandles) {
    platform::setTimeScale(0.01);
    HANDLE read = openLink();
    ASSERT_TRUE(sim::unplug(printer_));

    // The failed reconnect leaves no usable handle; the reader then retries every half second.
    ASSERT_TRUE(waitUntil([&] { return comm_.ReadPort() == INVALID_HANDLE_VALUE; }));
    EXPECT_FALSE(comm_.IsConnected());
    EXPECT_EQ(0, comm_.OpenedFlag());
    EXPECT_FALSE(isUsableHandle(comm_.WritePort()));

    ASSERT_TRUE(sim::replug(printer_));
    ASSERT_TRUE(waitUntil([&] { return readerIsWaiting(); })) << "reading did not resume by itself";
    HANDLE newRead = comm_.ReadPort();
    EXPECT_TRUE(isUsableHandle(newRead));
    EXPECT_TRUE(isUsableHandle(comm_.WritePort())) << "the reconnect reopens the write handle too";
    EXPECT_TRUE(comm_.IsConnected());
    EXPECT_EQ(1, comm_.OpenedFlag());

    ASSERT_TRUE(send("back"));
    EXPECT_EQ("back", collect(4));

    // Java still holds the value from before the reconnect (the new handle may have been given the same value).
    EXPECT_EQ(0, close(read));
    EXPECT_FALSE(holdsAnything());
}

TEST_F(ReaderThread, accessDeniedClearsConnectedWhileItReconnects) {
    openLink();
    {
        // The reconnect replaces handles under the replacement lock: holding it keeps the reader inside.
        CLockHolder replacing(UsbCommTestAccess::replaceLock(comm_));
        // A handle from before an unplug is refused with ERROR_ACCESS_DENIED, also after the replug.
        ASSERT_TRUE(sim::unplug(printer_));
        ASSERT_TRUE(sim::replug(printer_));
        EXPECT_TRUE(waitUntil([&] { return !comm_.IsConnected(); }));
    }
    ASSERT_TRUE(waitUntil([&] { return comm_.IsConnected() && readerIsWaiting(); }));
    EXPECT_TRUE(isUsableHandle(comm_.ReadPort()));
    EXPECT_EQ(1, comm_.OpenedFlag());
    ASSERT_TRUE(send("again"));
    EXPECT_EQ("again", collect(5));
}

}  // namespace
}  // namespace printer_class_test
