// Habits of real drivers that a simulated printer can be given: reads that end inside ReadFile or always pend,
// zero-length completions, slow cancels, cancels ignored until cleanup, and the code of a handle after unplug.
#include <ntddser.h>

#include <cstring>

#include "kernel/time_scale.h"
#include "files/file_object.h"
#include "sim_test_support.h"

namespace {

using sim_test::CallResult;
using sim_test::SimTest;

constexpr ULONG_PTR statusCancelled = 0xC0000120;

// One overlapped read pipe on a printer of the test's transport.
class HabitTest : public SimTest, public ::testing::WithParamInterface<sim::Transport> {
protected:
    void SetUp() override {
        SimTest::SetUp();
        id_ = attach(GetParam());
        file_ = openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED);
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped_.hEvent = event_;
        if (GetParam() == sim::Transport::Native) holdReadsUntilEnded();
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        CloseHandle(event_);
        SimTest::TearDown();
    }

    // The native driver ends a read at its total time-out, a second by default; on the scale a test sets that
    // second may be gone before the test's cancel, close or unplug reaches the read, and CancelIoEx then finds
    // nothing. Without time-outs it holds a read, as the printer-class driver does, until something ends it.
    void holdReadsUntilEnded() {
        SERIAL_TIMEOUTS none{};
        OVERLAPPED control{};
        DWORD returned = 0;
        BOOL ok =
            DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, &none, sizeof none, nullptr, 0, &returned, &control);
        ASSERT_TRUE(ok ||
                    (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(file_, &control, &returned, TRUE)));
    }

    bool eventSet() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

    CallResult startRead(DWORD length = 64) {
        DWORD count = 99;
        BOOL ok = ReadFile(file_, buffer_, length, &count, &overlapped_);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    }

    void startPendingRead() {
        CallResult r = startRead();
        ASSERT_FALSE(r.ok);
        ASSERT_EQ(DWORD(ERROR_IO_PENDING), r.error);
    }

    CallResult outcome(BOOL wait) {
        DWORD count = 99;
        BOOL ok = GetOverlappedResult(file_, &overlapped_, &count, wait);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    }

    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED overlapped_{};
    char buffer_[64] = {};
};

TEST_P(HabitTest, aReadEndsInsideReadFileWhileBytesWaitOrAlwaysPendsWhenTurnedOff) {
    // Five bytes asked for: the native driver ends a read early only under its time-outs.
    ASSERT_TRUE(send(id_, "ready"));
    CallResult r = startRead(5);
    ASSERT_TRUE(r.ok) << "at once is the default";
    EXPECT_EQ(5u, r.count);
    EXPECT_TRUE(eventSet());

    ASSERT_EQ(0, simbus_complete_at_once(id_, 0));
    ASSERT_TRUE(send(id_, "later"));
    r = startRead(5);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), r.error);
    r = outcome(TRUE);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(5u, r.count);
    EXPECT_EQ(0, std::memcmp(buffer_, "later", 5));
    EXPECT_EQ(0u, sim::pendingReads(id_));
}

TEST_P(HabitTest, zeroLengthReadsEndAtOnceAndLeaveTheBytesForTheNextRead) {
    ASSERT_EQ(0, simbus_zero_length_reads(id_, 2));
    ASSERT_TRUE(send(id_, "abc"));
    CallResult first = startRead(3);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(3u, first.count);
    ASSERT_TRUE(send(id_, "def"));
    CallResult second = startRead(3);
    ASSERT_TRUE(second.ok) << "a zero-length completion is a success";
    EXPECT_EQ(0u, second.count);
    EXPECT_TRUE(eventSet());
    CallResult third = startRead(3);
    ASSERT_TRUE(third.ok);
    EXPECT_EQ(3u, third.count);
    EXPECT_EQ(0, std::memcmp(buffer_, "def", 3));

    ASSERT_EQ(0, simbus_zero_length_reads(id_, 1));
    ASSERT_EQ(0, simbus_complete_at_once(id_, 0));
    startPendingRead();
    CallResult empty = outcome(TRUE);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(0u, empty.count);
    EXPECT_EQ(-1, simbus_zero_length_reads(id_, -1));
}

TEST_P(HabitTest, aSlowCancelEndsTheReadAfterTheCancelReturnedOrAtCleanup) {
    ASSERT_EQ(0, simbus_cancel_delay(id_, 10000));
    platform::setTimeScale(0.001);
    startPendingRead();
    ASSERT_TRUE(CancelIoEx(file_, nullptr));
    ASSERT_TRUE(sim_test::eventually([this] { return eventSet(); }));
    CallResult r = outcome(FALSE);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), r.error);
    EXPECT_EQ(0u, sim::pendingReads(id_));

    // An hour: only the cleanup can end it.
    ASSERT_EQ(0, simbus_cancel_delay(id_, 3600000));
    startPendingRead();
    ASSERT_TRUE(CancelIoEx(file_, nullptr));
    EXPECT_FALSE(eventSet()) << "the cancel returned before the read ended";
    EXPECT_EQ(1u, sim::pendingReads(id_));
    ASSERT_TRUE(send(id_, "late")) << "a cancelled read takes no more bytes";
    EXPECT_FALSE(eventSet());
    ASSERT_TRUE(CloseHandle(file_));
    file_ = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(eventSet());
    EXPECT_EQ(statusCancelled, overlapped_.Internal);
}

TEST_P(HabitTest, anIgnoredCancelLeavesTheReadPendingUntilTheLastHandleCloses) {
    ASSERT_EQ(0, simbus_ignore_cancel(id_, 1));
    startPendingRead();
    EXPECT_TRUE(CancelIoEx(file_, nullptr)) << "the request was there to cancel";
    EXPECT_TRUE(CancelIo(file_));
    EXPECT_FALSE(eventSet());
    EXPECT_EQ(1u, sim::pendingReads(id_));

    ASSERT_TRUE(CloseHandle(file_));
    file_ = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(eventSet());
    EXPECT_EQ(statusCancelled, overlapped_.Internal);
    EXPECT_EQ(0u, sim::pendingReads(id_));
}

TEST_P(HabitTest, anIgnoredCancelStillEndsAtUnplugAndTheUnplugCodeIsSelectable) {
    ASSERT_EQ(0, simbus_ignore_cancel(id_, 1));
    ASSERT_EQ(0, simbus_set_unplug_code(id_, ERROR_INVALID_HANDLE));
    startPendingRead();
    ASSERT_TRUE(CancelIoEx(file_, nullptr));
    ASSERT_EQ(0, simbus_detach(id_));
    CallResult r = outcome(FALSE);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), r.error);

    for (DWORD code : {DWORD(ERROR_INVALID_HANDLE), DWORD(ERROR_DEVICE_NOT_CONNECTED), DWORD(ERROR_ACCESS_DENIED)}) {
        ASSERT_EQ(0, simbus_set_unplug_code(id_, code));
        r = startRead();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(code, r.error);
    }
    EXPECT_EQ(-1, simbus_set_unplug_code(id_, ERROR_SUCCESS)) << "a failure must not read as success";
    EXPECT_EQ(-1, simbus_set_unplug_code(9999, ERROR_INVALID_HANDLE));
}

INSTANTIATE_TEST_SUITE_P(BothTransports, HabitTest,
                         ::testing::Values(sim::Transport::PrinterClass, sim::Transport::Native),
                         [](const ::testing::TestParamInfo<sim::Transport> &info) {
                             return info.param == sim::Transport::Native ? std::string("Native")
                                                                         : std::string("PrinterClass");
                         });

// Writes ignore cancels as reads do. The close of the handle does not free a synchronous caller blocked in such a
// write: the close waits for the call that owns the file object, until the printer takes the bytes (or goes).
TEST_F(SimTest, anIgnoredCancelLeavesAStalledSynchronousWriteAndItsCloseWaitingUntilThePrinterTakesIt) {
    int id = attach(sim::Transport::Native);
    HANDLE pipe = openPipe(id, "PIPE01");
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    ASSERT_EQ(0, simbus_ignore_cancel(id, 1));
    ASSERT_TRUE(sim::stallWrites(id, true));
    auto write = std::async(std::launch::async, [pipe] {
        DWORD count = 99;
        BOOL ok = WriteFile(pipe, "x", 1, &count, nullptr);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    });
    ASSERT_TRUE(sim_test::eventually([id] { return sim::pendingWrites(id) == 1; }));
    EXPECT_TRUE(CancelIoEx(pipe, nullptr));
    EXPECT_EQ(1u, sim::pendingWrites(id));
    auto close = std::async(std::launch::async, [pipe] { return CloseHandle(pipe); });
    ASSERT_TRUE(sim_test::eventually([] { return platform::closesWaitingForTheirFile() == 1; }));
    EXPECT_EQ(1u, sim::pendingWrites(id)) << "the cleanup came before the write that owns the file returned";

    ASSERT_TRUE(sim::stallWrites(id, false));
    ASSERT_TRUE(sim_test::finishes(write));
    CallResult r = write.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(1u, r.count);
    ASSERT_TRUE(sim_test::finishes(close));
    EXPECT_TRUE(close.get());
    EXPECT_EQ("x", taken(id));
}

}  // namespace
