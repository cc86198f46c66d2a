// Writes: stalled writes in flight during a cancel, a close or an unplug, pipe directions, the printer model.
#include <mutex>

#include <ntddser.h>

#include "kernel/time_scale.h"
#include "files/file_object.h"
#include "sim_test_support.h"

namespace {

using sim_test::CallResult;
using sim_test::SimTest;

class Write : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        id_ = attach(sim::Transport::PrinterClass);
        file_ = openPipe(id_, "PIPE01");
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        SimTest::TearDown();
    }

    CallResult write(HANDLE file, const std::string &bytes) {
        DWORD count = 99;
        BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr);
        return CallResult{ok, count, ok ? 0 : GetLastError()};
    }

    // A write that the stalled printer holds.
    std::future<CallResult> stalledWrite(const std::string &bytes) {
        sim::stallWrites(id_, true);
        auto result = std::async(std::launch::async, [this, bytes] { return write(file_, bytes); });
        EXPECT_TRUE(sim_test::eventually([this] { return sim::pendingWrites(id_) == 1; }))
            << "the write never went pending";
        return result;
    }

    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(Write, reachesThePrinterInOrder) {
    EXPECT_TRUE(write(file_, "ab").ok);
    CallResult r = write(file_, "cde");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(3u, r.count);
    char first[2];
    EXPECT_EQ(2, simbus_take(id_, first, sizeof first));
    EXPECT_EQ("cde", taken(id_));
}

TEST_F(Write, aStalledWriteWaitsUntilUnstalled) {
    auto result = stalledWrite("late");
    EXPECT_EQ("", taken(id_));
    ASSERT_EQ(0, simbus_stall_writes(id_, 0));
    ASSERT_TRUE(sim_test::finishes(result));
    CallResult r = result.get();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(4u, r.count);
    EXPECT_EQ("late", taken(id_));
}

TEST_F(Write, aStalledWriteEndsAtCancelOrUnplugAndTheCloseWaitsForIt) {
    auto result = stalledWrite("x");
    EXPECT_TRUE(CancelIoEx(file_, nullptr));
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), result.get().error);

    // The close of the last handle waits for the write that owns the synchronous file object, until the printer
    // takes it.
    result = stalledWrite("y");
    auto close = std::async(std::launch::async, [this] { return CloseHandle(file_); });
    ASSERT_TRUE(sim_test::eventually([] { return platform::closesWaitingForTheirFile() == 1; }));
    EXPECT_NE(std::future_status::ready, result.wait_for(std::chrono::seconds(0)));
    ASSERT_TRUE(sim::stallWrites(id_, false));
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_TRUE(result.get().ok);
    ASSERT_TRUE(sim_test::finishes(close));
    EXPECT_TRUE(close.get());
    file_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ("y", taken(id_));
    ASSERT_TRUE(sim::stallWrites(id_, true));

    file_ = openPipe(id_, "PIPE01");
    result = stalledWrite("z");
    sim::unplug(id_);
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), result.get().error);
    EXPECT_EQ("", taken(id_)) << "no cancelled write reached the printer";
}

TEST_F(Write, theNativeWriteTimeoutEndsAStalledWriteWithNothingWritten) {
    int native = attach(sim::Transport::Native);
    HANDLE pipe = openPipe(native, "PIPE01");
    SERIAL_TIMEOUTS timeouts{0, 0, 0, 10, 1000};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(pipe, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0, &returned, nullptr));
    platform::setTimeScale(0.001);
    sim::stallWrites(native, true);
    CallResult r = write(pipe, "abc");
    EXPECT_TRUE(r.ok) << "a time-out is not an error";
    EXPECT_EQ(0u, r.count);
    CloseHandle(pipe);
}

TEST_F(Write, eachPipeMovesBytesOneWayAndTheBarePathBoth) {
    HANDLE readPipe = openPipe(id_, "PIPE00");
    CallResult r = write(readPipe, "x");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), r.error);
    char byte;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(file_, &byte, 1, &count, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError());

    HANDLE device = open(sim::interfacePath(id_));
    EXPECT_TRUE(write(device, "y").ok);
    ASSERT_TRUE(send(id_, "z"));
    EXPECT_TRUE(ReadFile(device, &byte, 1, &count, nullptr));
    EXPECT_EQ('z', byte);
    EXPECT_EQ("y", taken(id_));
    CloseHandle(readPipe);
    CloseHandle(device);
}

TEST_F(Write, theModelSeesWrittenBytesAndMayAnswer) {
    std::mutex seenLock;
    std::string seen;
    int id = id_;
    sim::setModel(id_, [&seenLock, &seen, id](const uint8_t *bytes, size_t count) {
        {
            std::lock_guard<std::mutex> guard(seenLock);
            seen.append(reinterpret_cast<const char *>(bytes), count);
        }
        sim::send(id, "ok", 2);
    });
    EXPECT_TRUE(write(file_, "\x1b@").ok);
    EXPECT_TRUE(write(file_, "hi").ok);
    {
        std::lock_guard<std::mutex> guard(seenLock);
        EXPECT_EQ("\x1b@hi", seen);
    }
    HANDLE readPipe = openPipe(id_, "PIPE00");
    char answer[8];
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(readPipe, answer, sizeof answer, &count, nullptr));
    EXPECT_EQ(4u, count);
    CloseHandle(readPipe);
    sim::setModel(id_, nullptr);
}

}  // namespace
