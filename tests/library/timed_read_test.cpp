// The timed buffered read: what it returns from the ring buffer, and what ends its wait.
#include <future>

#include "printer_class_fixture.h"

namespace printer_class_test {
namespace {

const DWORD JAVA_READ_TIMEOUT = 180000;
const DWORD UNTOUCHED = 0xC0FFEE;

struct ReadResult {
    int result = -1;
    DWORD taken = UNTOUCHED;
    std::string bytes;
};

class TimedRead : public PrinterClassTest {
protected:
    ReadResult read(DWORD wanted, DWORD timeout) { return read(comm_, wanted, timeout); }

    static ReadResult read(CUsbComm &comm, DWORD wanted, DWORD timeout) {
        ReadResult outcome;
        BYTE buffer[256] = {};
        outcome.result = comm.TimedRead(buffer, wanted, &outcome.taken, timeout);
        if (outcome.result == 1 && outcome.taken != UNTOUCHED) {
            outcome.bytes.assign(reinterpret_cast<const char *>(buffer), outcome.taken);
        }
        return outcome;
    }

    std::future<ReadResult> readOnAnotherThread(DWORD wanted, DWORD timeout) {
        return std::async(std::launch::async, [this, wanted, timeout] { return read(wanted, timeout); });
    }

    static bool finishes(std::future<ReadResult> &pending) {
        return pending.wait_for(GENEROUS) == std::future_status::ready;
    }
};

TEST_F(TimedRead, bufferedBytesAreTakenAtOnceAtMostWhatWasWanted) {
    openLink();
    ASSERT_TRUE(send("0123456789"));
    ASSERT_TRUE(becomesSignalled(comm_.DataEvent()));

    // No time to wait: only bytes already stored can satisfy these.
    ReadResult first = read(4, 0);
    EXPECT_EQ(1, first.result);
    EXPECT_EQ(4u, first.taken);
    EXPECT_EQ("0123", first.bytes);
    ReadResult rest = read(100, 0);
    EXPECT_EQ(1, rest.result);
    EXPECT_EQ(6u, rest.taken);
    EXPECT_EQ("456789", rest.bytes);
}

TEST_F(TimedRead, bytesArrivingDuringTheWaitWakeItButASignalWithoutBytesDoesNot) {
    openLink();
    HANDLE data = comm_.DataEvent();
    std::future<ReadResult> pending = readOnAnotherThread(64, JAVA_READ_TIMEOUT);

    // A data signal that brings nothing: the read resets the event and waits again.
    ASSERT_TRUE(SetEvent(data));
    ASSERT_TRUE(waitUntil([&] { return !isSignalled(data); }));
    EXPECT_NE(std::future_status::ready, pending.wait_for(std::chrono::seconds(0)));

    ASSERT_TRUE(send("abc"));
    ASSERT_TRUE(finishes(pending));
    ReadResult woken = pending.get();
    EXPECT_EQ(1, woken.result);
    EXPECT_EQ(3u, woken.taken);
    EXPECT_EQ("abc", woken.bytes);
}

TEST_F(TimedRead, aTimeOutGivesZeroAndLeavesTheCountAlone) {
    openLink();
    platform::setTimeScale(0.001);
    ReadResult silent = read(64, JAVA_READ_TIMEOUT);
    EXPECT_EQ(0, silent.result);
    EXPECT_EQ(UNTOUCHED, silent.taken);

    // Nothing can be taken into no room: the read waits out its time and the bytes stay for the next one.
    ASSERT_TRUE(send("kept"));
    ASSERT_TRUE(becomesSignalled(comm_.DataEvent()));
    EXPECT_EQ(0, read(0, JAVA_READ_TIMEOUT).result);
    EXPECT_EQ("kept", read(64, 0).bytes);
}

TEST_F(TimedRead, theStopEventEndsTheWaitWithZeroSignalsTheCloserAndClearsRunning) {
    openLink();
    // The reader thread answers the stop event too; it is ended first, so that what follows is the read's doing.
    HANDLE stop = comm_.StopEvent();
    HANDLE done = comm_.ThreadDoneEvent();
    ASSERT_TRUE(SetEvent(stop));
    ASSERT_TRUE(becomesSignalled(comm_.ReaderThread()));
    ASSERT_TRUE(ResetEvent(stop));
    ASSERT_TRUE(ResetEvent(done));
    UsbCommTestAccess::setRunning(comm_, 1);

    std::future<ReadResult> pending = readOnAnotherThread(64, JAVA_READ_TIMEOUT);
    ASSERT_TRUE(SetEvent(stop));
    ASSERT_TRUE(finishes(pending));
    ReadResult stopped = pending.get();
    EXPECT_EQ(0, stopped.result);
    EXPECT_EQ(UNTOUCHED, stopped.taken);
    EXPECT_TRUE(isSignalled(done));
    EXPECT_EQ(0, comm_.RunningFlag());

    platform::setTimeScale(0.01);
    EXPECT_EQ(0, close(comm_.ReadPort()));
}

TEST_F(TimedRead, withoutTheMachineryItGivesZeroAtOnce) {
    // An INFINITE time-out: a read that waited for anything here would never come back.
    ReadResult neverOpened = read(64, INFINITE);
    EXPECT_EQ(0, neverOpened.result);
    EXPECT_EQ(UNTOUCHED, neverOpened.taken);

    HANDLE readPipe = openLink();
    ASSERT_TRUE(send("gone"));
    ASSERT_TRUE(becomesSignalled(comm_.DataEvent()));
    ASSERT_EQ(0, close(readPipe));
    ReadResult afterClose = read(64, INFINITE);
    EXPECT_EQ(0, afterClose.result);
    EXPECT_EQ(UNTOUCHED, afterClose.taken);
}

}  // namespace
}  // namespace printer_class_test
