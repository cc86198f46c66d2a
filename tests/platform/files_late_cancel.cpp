// A driver that ends a cancelled request only later, or never: CancelIoEx returns at once, and the caller learns
// of the end only when the driver gets to it, as on Windows. Where such a driver meets a close or a thread's end,
// the kernel's rules decide who waits (files/file_object.cpp, files/thread_io.h).
#include <windows.h>

#include <future>

#include <gtest/gtest.h>

#include "files/file_object.h"
#include "kernel/kernel_object.h"
#include "kernel/time_scale.h"
#include "late_driver.h"
#include "sim_test_support.h"

namespace {

// A thread of the layer that issues one read on an overlapped file and returns, with the read still pending. The
// object keeps the file, the record and the thread's handle, and closes them when the test is done with them.
struct ReadAndReturn {
    HANDLE file = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    char buffer[16] = {};
    std::atomic<bool> returned{false};
    HANDLE thread = nullptr;

    bool start(HANDLE overlappedFile) {
        file = overlappedFile;
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
        return file != INVALID_HANDLE_VALUE && thread != nullptr;
    }
    ~ReadAndReturn() {
        if (thread != nullptr) CloseHandle(thread);
        CloseHandle(overlapped.hEvent);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }

    static DWORD WINAPI run(LPVOID parameter) {
        auto *self = static_cast<ReadAndReturn *>(parameter);
        ReadFile(self->file, self->buffer, sizeof self->buffer, nullptr, &self->overlapped);
        self->returned = true;
        return 0;
    }
};

// A thread of the layer blocked in a synchronous read.
struct BlockedRead {
    HANDLE file;
    char buffer[16] = {};
    std::atomic<DWORD> error{ERROR_IO_PENDING};

    static DWORD WINAPI run(LPVOID parameter) {
        auto *self = static_cast<BlockedRead *>(parameter);
        DWORD count = 0;
        self->error =
            ReadFile(self->file, self->buffer, sizeof self->buffer, &count, nullptr) ? ERROR_SUCCESS : GetLastError();
        return 0;
    }
};

class LateCancel : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::deviceNamespace();
        platform::installDeviceNamespace(std::make_shared<late_driver::LateDevice>(driver_));
    }
    void TearDown() override {
        driver_->finishPending(ERROR_OPERATION_ABORTED);
        platform::installDeviceNamespace(previous_);
    }

    static HANDLE open(DWORD flags) {
        return CreateFileA("\\\\?\\late", GENERIC_READ, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    }

    std::shared_ptr<late_driver::LateDriver> driver_ = std::make_shared<late_driver::LateDriver>();
    // A read on an overlapped file that the driver holds: true when it pends, with its own completion event.
    bool startPendingRead(HANDLE file, OVERLAPPED &overlapped) {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return !ReadFile(file, buffer_, sizeof buffer_, nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING;
    }

    std::shared_ptr<platform::DeviceNamespace> previous_;
    char buffer_[16] = {};
};

TEST_F(LateCancel, cancelIoExReturnsAtOnceAndGetOverlappedResultWaitsForTheDriversEnd) {
    HANDLE file = open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    OVERLAPPED overlapped{};
    ASSERT_TRUE(startPendingRead(file, overlapped));

    EXPECT_TRUE(CancelIoEx(file, &overlapped)) << "the cancel is asked for; the driver has not ended the read";
    EXPECT_EQ(1, driver_->cancels());
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, nullptr, FALSE));
    EXPECT_EQ(DWORD(ERROR_IO_INCOMPLETE), GetLastError());

    auto result = std::async(std::launch::async, [&] {
        BOOL ok = GetOverlappedResult(file, &overlapped, nullptr, TRUE);
        return ok ? DWORD(ERROR_SUCCESS) : GetLastError();
    });
    ASSERT_TRUE(sim_test::eventually([&] { return platform::waitingThreadCount(overlapped.hEvent) == 1; }));
    EXPECT_NE(std::future_status::ready, result.wait_for(std::chrono::seconds(0)));
    driver_->finishPending(ERROR_OPERATION_ABORTED);
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), result.get());

    CloseHandle(overlapped.hEvent);
    CloseHandle(file);
}

TEST_F(LateCancel, aSynchronousReadStaysBlockedAfterCancelIoExUntilTheDriverEndsIt) {
    HANDLE file = open(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    auto result = std::async(std::launch::async, [&] {
        DWORD count = 0;
        BOOL ok = ReadFile(file, buffer_, sizeof buffer_, &count, nullptr);
        return ok ? DWORD(ERROR_SUCCESS) : GetLastError();
    });
    ASSERT_TRUE(sim_test::eventually([&] { return driver_->hasPending(); }));

    EXPECT_TRUE(CancelIoEx(file, nullptr));
    EXPECT_EQ(1, driver_->cancels());
    EXPECT_NE(std::future_status::ready, result.wait_for(std::chrono::seconds(0)));
    driver_->finishPending(ERROR_OPERATION_ABORTED);
    ASSERT_TRUE(sim_test::finishes(result));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), result.get());
    CloseHandle(file);
}

}  // namespace

namespace {

TEST_F(LateCancel, theLastCloseOfASynchronousFileWaitsForTheCallThatOwnsIt) {
    driver_->endPendingAtCleanup();
    HANDLE file = open(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    auto read = std::async(std::launch::async, [&] {
        DWORD count = 0;
        return ReadFile(file, buffer_, sizeof buffer_, &count, nullptr) ? DWORD(ERROR_SUCCESS) : GetLastError();
    });
    ASSERT_TRUE(sim_test::eventually([&] { return driver_->hasPending(); }));

    auto close = std::async(std::launch::async, [&] { return CloseHandle(file); });
    ASSERT_TRUE(sim_test::eventually([] { return platform::closesWaitingForTheirFile() == 1; }));
    EXPECT_TRUE(driver_->hasPending()) << "the cleanup came before the call that owns the file returned";
    EXPECT_NE(std::future_status::ready, close.wait_for(std::chrono::seconds(0)));

    // Only the driver's own end of the read lets the close go on.
    driver_->finishPending(ERROR_SUCCESS);
    ASSERT_TRUE(sim_test::finishes(read));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), read.get());
    ASSERT_TRUE(sim_test::finishes(close));
    EXPECT_TRUE(close.get());
    EXPECT_EQ(0u, platform::closesWaitingForTheirFile());
}

TEST_F(LateCancel, theLastCloseOfAnOverlappedFileProceedsAndItsCleanupEndsThePendingRead) {
    driver_->endPendingAtCleanup();
    HANDLE file = open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    OVERLAPPED overlapped{};
    ASSERT_TRUE(startPendingRead(file, overlapped));

    EXPECT_TRUE(CloseHandle(file)) << "returns here, on the test's thread, or the test hangs";
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(overlapped.hEvent, 0));
    EXPECT_FALSE(driver_->hasPending());
    CloseHandle(overlapped.hEvent);
}

TEST_F(LateCancel, aThreadIsNotOverUntilTheReadItLeftPendingHasEnded) {
    ReadAndReturn reader;
    ASSERT_TRUE(reader.start(open(FILE_FLAG_OVERLAPPED)));
    HANDLE thread = reader.thread;

    // The thread's end cancels the read it left; this driver ignores the cancel.
    ASSERT_TRUE(sim_test::eventually([&] { return reader.returned && driver_->cancels() == 1; }));
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(thread, 0)) << "the thread ended with its read pending";
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(DWORD(STILL_ACTIVE), exitCode);

    driver_->finishPending(ERROR_OPERATION_ABORTED);
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(thread, 60000));
}

TEST_F(LateCancel, aThreadLeavesAReadItsDriverNeverEndsToItsFileAfterFiveMinutes) {
    platform::setTimeScale(0.0001);  // five minutes in 30 ms
    ReadAndReturn reader;
    ASSERT_TRUE(reader.start(open(FILE_FLAG_OVERLAPPED)));
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(reader.thread, INFINITE));
    platform::setTimeScale(1);
    EXPECT_EQ(1, driver_->cancels());
    EXPECT_TRUE(driver_->hasPending()) << "the read stays with its file after the thread gave up on it";
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(reader.overlapped.hEvent, 0));
    driver_->finishPending(ERROR_OPERATION_ABORTED);
}

TEST_F(LateCancel, cancelSynchronousIoNamesAThreadAndAsksForTheEndOfItsBlockedCall) {
    HANDLE file = open(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    BlockedRead reader;
    reader.file = file;
    HANDLE thread = CreateThread(nullptr, 0, BlockedRead::run, &reader, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_TRUE(sim_test::eventually([&] { return driver_->hasPending(); }));

    EXPECT_TRUE(CancelSynchronousIo(thread));
    EXPECT_EQ(1, driver_->cancels());
    driver_->finishPending(ERROR_OPERATION_ABORTED);
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(thread, 60000));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), reader.error.load());

    // Nothing in flight on that thread any more.
    EXPECT_FALSE(CancelSynchronousIo(thread));
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), GetLastError());
    CloseHandle(thread);
    CloseHandle(file);
}

TEST_F(LateCancel, cancelSynchronousIoLeavesOverlappedRequestsAlone) {
    ReadAndReturn reader;
    ASSERT_TRUE(reader.start(open(FILE_FLAG_OVERLAPPED)));
    ASSERT_TRUE(sim_test::eventually([&] { return driver_->hasPending(); }));
    EXPECT_FALSE(CancelSynchronousIo(reader.thread));
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), GetLastError());
    driver_->finishPending(ERROR_OPERATION_ABORTED);
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(reader.thread, 60000));
}

}  // namespace
