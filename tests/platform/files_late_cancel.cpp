// A driver that ends a cancelled request only later: CancelIoEx returns at once, and the caller learns of the
// end only when the driver gets to it, as on Windows.
#include <windows.h>

#include <future>
#include <mutex>

#include <gtest/gtest.h>

#include "files/device_namespace.h"
#include "kernel/kernel_object.h"
#include "sim_test_support.h"

namespace {

// Holds every request pending; a cancel is only noted, and the test ends the request when it chooses.
class LateDriver : public platform::DeviceFile {
public:
    void startIo(const std::shared_ptr<platform::IoRequest> &request) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (request->markPending()) pending_ = request;
    }
    void cancel(platform::IoRequest &) override {
        std::lock_guard<std::mutex> guard(lock_);
        ++cancels_;
    }
    DWORD control(DWORD, const void *, DWORD, void *, DWORD, DWORD &) override { return ERROR_INVALID_FUNCTION; }
    DWORD purge(DWORD) override { return ERROR_INVALID_FUNCTION; }
    void close() override {}

    bool hasPending() {
        std::lock_guard<std::mutex> guard(lock_);
        return pending_ != nullptr;
    }
    int cancels() {
        std::lock_guard<std::mutex> guard(lock_);
        return cancels_;
    }
    void finishPending(DWORD error) {
        std::shared_ptr<platform::IoRequest> request;
        {
            std::lock_guard<std::mutex> guard(lock_);
            request.swap(pending_);
        }
        if (request) request->complete(error, 0);
    }

private:
    std::mutex lock_;
    std::shared_ptr<platform::IoRequest> pending_;
    int cancels_ = 0;
};

class LateDevice : public platform::DeviceNamespace {
public:
    explicit LateDevice(std::shared_ptr<LateDriver> driver) : driver_(std::move(driver)) {}
    std::shared_ptr<platform::DeviceFile> open(const std::string &, DWORD, DWORD &) override { return driver_; }
    std::vector<platform::DeviceInterface> interfaces(const GUID *, bool) override { return {}; }

private:
    std::shared_ptr<LateDriver> driver_;
};

class LateCancel : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::deviceNamespace();
        platform::installDeviceNamespace(std::make_shared<LateDevice>(driver_));
    }
    void TearDown() override {
        driver_->finishPending(ERROR_OPERATION_ABORTED);
        platform::installDeviceNamespace(previous_);
    }

    static HANDLE open(DWORD flags) {
        return CreateFileA("\\\\?\\late", GENERIC_READ, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    }

    std::shared_ptr<LateDriver> driver_ = std::make_shared<LateDriver>();
    std::shared_ptr<platform::DeviceNamespace> previous_;
    char buffer_[16] = {};
};

TEST_F(LateCancel, cancelIoExReturnsAtOnceAndGetOverlappedResultWaitsForTheDriversEnd) {
    HANDLE file = open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(ReadFile(file, buffer_, sizeof buffer_, nullptr, &overlapped));
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());

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
