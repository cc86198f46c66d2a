// The native driver's synchronous reads under the serial time-outs, its time-out requests and purge.
#include <ntddser.h>

#include <cstring>

#include "files/file_object.h"
#include "kernel/time_scale.h"
#include "sim_test_support.h"

namespace {

using sim_test::CallResult;
using sim_test::SimTest;

class NativeRead : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        id_ = attach(sim::Transport::Native);
        file_ = openPipe(id_, "PIPE00");
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        SimTest::TearDown();
    }

    bool setTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        SERIAL_TIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
        DWORD returned = 0;
        return DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0, &returned,
                               nullptr);
    }

    CallResult read(DWORD length) {
        DWORD count = 99;
        BOOL ok = ReadFile(file_, buffer_, length, &count, nullptr);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    }

    std::future<CallResult> readInBackground(DWORD length) {
        auto result = std::async(std::launch::async, [this, length] { return read(length); });
        EXPECT_TRUE(sim_test::eventually([this] { return sim::pendingReads(id_) == 1; }))
            << "the read never went pending";
        return result;
    }

    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    char buffer_[64] = {};
};

TEST_F(NativeRead, timeoutRequestsCheckTheirBuffersAndTheTimeoutsBelongToTheDevice) {
    SERIAL_TIMEOUTS timeouts{};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(file_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts, &returned, nullptr));
    EXPECT_EQ(20u, returned);
    EXPECT_EQ(0u, timeouts.ReadIntervalTimeout);
    EXPECT_EQ(1000u, timeouts.ReadTotalTimeoutConstant) << "the default at attach";
    EXPECT_EQ(0u, timeouts.WriteTotalTimeoutConstant);

    EXPECT_FALSE(DeviceIoControl(file_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, 19, &returned, nullptr));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_FALSE(DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, 19, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(DeviceIoControl(file_, 0x1B0024, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError());

    ASSERT_TRUE(setTimeouts(7, 8, 9));
    HANDLE writePipe = openPipe(id_, "PIPE01");
    ASSERT_TRUE(DeviceIoControl(writePipe, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts, &returned,
                                nullptr));
    EXPECT_EQ(7u, timeouts.ReadIntervalTimeout);
    EXPECT_EQ(8u, timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(9u, timeouts.ReadTotalTimeoutConstant);
    CloseHandle(writePipe);
}

TEST_F(NativeRead, withoutTimeoutsAReadWaitsForEveryRequestedByte) {
    ASSERT_TRUE(setTimeouts(0, 0, 0));
    ASSERT_TRUE(send(id_, "abc"));
    auto result = readInBackground(6);
    ASSERT_EQ(1u, sim::pendingReads(id_)) << "three of six bytes do not end the read";
    ASSERT_TRUE(send(id_, "defgh"));
    ASSERT_TRUE(sim_test::finishes(result));
    CallResult r = result.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(6u, r.count);
    EXPECT_EQ(0, std::memcmp(buffer_, "abcdef", 6));
    EXPECT_TRUE(read(0).ok) << "a read of nothing returns at once";
}

TEST_F(NativeRead, aTotalTimeoutEndsTheReadSuccessfullyWithTheBytesSoFar) {
    ASSERT_TRUE(setTimeouts(0, 0, 600000));
    auto pending = readInBackground(10);
    ASSERT_TRUE(send(id_, "ab"));
    EXPECT_EQ(1u, sim::pendingReads(id_)) << "some bytes do not end a read before its time-out";
    ASSERT_TRUE(CancelIoEx(file_, nullptr));
    ASSERT_TRUE(sim_test::finishes(pending));
    pending.get();

    platform::setTimeScale(0.001);
    ASSERT_TRUE(setTimeouts(0, 10, 1000));
    CallResult r = read(10);
    EXPECT_TRUE(r.ok) << "a time-out is not an error";
    EXPECT_EQ(2u, r.count);
    r = read(10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(0u, r.count) << "nor is a time-out with nothing read";
}

TEST_F(NativeRead, anIntervalTimeoutStartsWithTheFirstByte) {
    platform::setTimeScale(0.001);
    ASSERT_TRUE(setTimeouts(1000, 0, 0));
    auto result = readInBackground(10);
    ASSERT_TRUE(send(id_, "xyz"));
    ASSERT_TRUE(sim_test::finishes(result));
    CallResult r = result.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(3u, r.count);
}

TEST_F(NativeRead, maxdwordIntervalModesReturnAtOnceOrAtTheFirstByte) {
    ASSERT_TRUE(setTimeouts(MAXDWORD, 0, 0));
    EXPECT_EQ(0u, read(10).count) << "nothing there: returns at once with nothing";
    ASSERT_TRUE(send(id_, "abc"));
    EXPECT_EQ(3u, read(10).count);

    ASSERT_TRUE(setTimeouts(MAXDWORD, MAXDWORD, 600000));
    auto result = readInBackground(10);
    ASSERT_TRUE(send(id_, "q"));
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(1u, result.get().count);
}

TEST_F(NativeRead, cancelIoExEndsASynchronousReadAndACloseWaitsForIt) {
    ASSERT_TRUE(setTimeouts(0, 0, 0));
    auto result = readInBackground(10);
    EXPECT_TRUE(CancelIoEx(file_, nullptr)) << "synchronous I/O included";
    ASSERT_TRUE(sim_test::finishes(result));
    CallResult r = result.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), r.error);

    // The close of the last handle does not end the read: it waits until the read, which owns the synchronous file
    // object, has ended, here with the bytes it waits for.
    result = readInBackground(10);
    auto close = std::async(std::launch::async, [this] { return CloseHandle(file_); });
    ASSERT_TRUE(sim_test::eventually([] { return platform::closesWaitingForTheirFile() == 1; }));
    EXPECT_NE(std::future_status::ready, result.wait_for(std::chrono::seconds(0)));
    ASSERT_TRUE(send(id_, "0123456789"));
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(10u, result.get().count);
    ASSERT_TRUE(sim_test::finishes(close));
    EXPECT_TRUE(close.get());
    file_ = INVALID_HANDLE_VALUE;
}

TEST_F(NativeRead, aPurgeThroughAnotherHandleEndsPendingReadsAndDiscardsReceivedBytes) {
    ASSERT_TRUE(setTimeouts(0, 0, 0));
    HANDLE other = openPipe(id_, "PIPE00");
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    auto result = readInBackground(10);
    ASSERT_TRUE(PurgeComm(other, PURGE_RXABORT | PURGE_RXCLEAR));
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), result.get().error);
    CloseHandle(other);

    ASSERT_TRUE(send(id_, "stale"));
    ASSERT_TRUE(PurgeComm(file_, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(setTimeouts(MAXDWORD, 0, 0));
    EXPECT_EQ(0u, read(10).count);

    EXPECT_FALSE(PurgeComm(file_, 0x10));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
}

// Windows serialises every request on a handle opened without FILE_FLAG_OVERLAPPED: a purge, a control request
// or another read on the handle of a blocked read waits until that read has ended.
TEST_F(NativeRead, requestsOnTheHandleOfABlockedReadWaitForItToEnd) {
    ASSERT_TRUE(setTimeouts(0, 0, 0));
    auto blocked = readInBackground(4);
    auto purge = std::async(std::launch::async, [this] { return PurgeComm(file_, PURGE_RXABORT | PURGE_RXCLEAR); });
    auto control = std::async(std::launch::async, [this] {
        SERIAL_TIMEOUTS timeouts{};
        DWORD returned = 0;
        return DeviceIoControl(file_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts, &returned,
                               nullptr);
    });
    ASSERT_TRUE(sim_test::eventually([this] { return platform::threadsWaitingForSynchronousIo(file_) == 2; }));
    EXPECT_EQ(1u, sim::pendingReads(id_)) << "the purge has not aborted the read";

    ASSERT_TRUE(send(id_, "data"));
    ASSERT_TRUE(sim_test::finishes(blocked));
    CallResult r = blocked.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(4u, r.count);
    ASSERT_TRUE(sim_test::finishes(purge));
    EXPECT_TRUE(purge.get());
    ASSERT_TRUE(sim_test::finishes(control));
    EXPECT_TRUE(control.get());
}

// CancelIoEx and CloseHandle do not queue behind the blocked read: they are what ends it.
TEST_F(NativeRead, aSecondReadOnTheHandleRunsOnlyOnceCancelIoExHasEndedTheFirst) {
    ASSERT_TRUE(setTimeouts(0, 0, 0));
    auto first = readInBackground(10);
    char secondBuffer[4] = {};
    auto second = std::async(std::launch::async, [this, &secondBuffer] {
        DWORD count = 0;
        BOOL ok = ReadFile(file_, secondBuffer, sizeof secondBuffer, &count, nullptr);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    });
    ASSERT_TRUE(sim_test::eventually([this] { return platform::threadsWaitingForSynchronousIo(file_) == 1; }));
    EXPECT_EQ(1u, sim::pendingReads(id_));

    EXPECT_TRUE(CancelIoEx(file_, nullptr));
    ASSERT_TRUE(sim_test::finishes(first));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), first.get().error);
    ASSERT_TRUE(sim_test::eventually([this] { return sim::pendingReads(id_) == 1; })) << "the second read starts";
    ASSERT_TRUE(send(id_, "next"));
    ASSERT_TRUE(sim_test::finishes(second));
    CallResult r = second.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(0, std::memcmp(secondBuffer, "next", 4));
}

}  // namespace
