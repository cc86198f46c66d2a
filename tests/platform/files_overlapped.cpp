// Overlapped reads on the printer class driver: what the library's reader thread relies on.
#include <cstring>

#include "kernel/misuse.h"
#include "sim_test_support.h"

namespace {

using sim_test::CallResult;
using sim_test::SimTest;

constexpr ULONG_PTR statusCancelled = 0xC0000120;

class OverlappedRead : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        id_ = attach(sim::Transport::PrinterClass);
        file_ = openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED);
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        CloseHandle(event_);
        SimTest::TearDown();
    }

    bool eventSet() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

    // Starts a read that must stay pending.
    void startPendingRead() {
        ASSERT_FALSE(ReadFile(file_, buffer_, 64, nullptr, &overlapped_));
        ASSERT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    }

    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED overlapped_{};
    char buffer_[64] = {};
};

TEST_F(OverlappedRead, completesAtOnceWhenBytesAreQueued) {
    ASSERT_TRUE(send(id_, "hello"));
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(file_, buffer_, 64, &count, &overlapped_));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(0, std::memcmp(buffer_, "hello", 5));
    EXPECT_TRUE(eventSet()) << "immediate completion also sets the event";
    EXPECT_EQ(0u, overlapped_.Internal);
    EXPECT_EQ(5u, overlapped_.InternalHigh);
}

TEST_F(OverlappedRead, staysPendingUntilThePrinterSendsAndFillsTheBufferOnlyThen) {
    SetEvent(event_);
    startPendingRead();
    EXPECT_FALSE(eventSet()) << "the system resets the event when the read starts";
    DWORD count = 99;
    EXPECT_FALSE(GetOverlappedResult(file_, &overlapped_, &count, FALSE));
    EXPECT_EQ(DWORD(ERROR_IO_INCOMPLETE), GetLastError());

    std::string sent(100, 'x');
    sent.replace(0, 3, "abc");
    ASSERT_TRUE(send(id_, sent));
    EXPECT_TRUE(eventSet());
    ASSERT_TRUE(GetOverlappedResult(file_, &overlapped_, &count, FALSE));
    EXPECT_EQ(64u, count) << "a pending read takes what fits";
    EXPECT_EQ(0, std::memcmp(buffer_, "abc", 3));
    EXPECT_TRUE(eventSet()) << "GetOverlappedResult does not reset the event";

    ASSERT_TRUE(ReadFile(file_, buffer_, 64, &count, &overlapped_));
    EXPECT_EQ(36u, count) << "the rest stayed queued";
}

TEST_F(OverlappedRead, arrivingBytesCompleteTheOldestPendingReadFirst) {
    char second[64];
    OVERLAPPED other{};
    other.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    startPendingRead();
    ASSERT_FALSE(ReadFile(file_, second, sizeof second, nullptr, &other));
    ASSERT_TRUE(send(id_, "one"));
    DWORD count = 0;
    ASSERT_TRUE(GetOverlappedResult(file_, &overlapped_, &count, FALSE));
    EXPECT_EQ(3u, count);
    EXPECT_FALSE(GetOverlappedResult(file_, &other, &count, FALSE));
    EXPECT_EQ(DWORD(ERROR_IO_INCOMPLETE), GetLastError());
    ASSERT_TRUE(send(id_, "two!"));
    ASSERT_TRUE(GetOverlappedResult(file_, &other, &count, FALSE));
    EXPECT_EQ(4u, count);
    CloseHandle(other.hEvent);
}

TEST_F(OverlappedRead, getOverlappedResultWaitsOnTheEventOrOnTheFile) {
    startPendingRead();
    std::thread sender([this] {
        EXPECT_TRUE(sim_test::eventually([this] { return sim::pendingReads(id_) == 1; }))
            << "the read never went pending";
        send(id_, "late");
    });
    DWORD count = 0;
    EXPECT_TRUE(GetOverlappedResult(file_, &overlapped_, &count, TRUE));
    EXPECT_EQ(4u, count);
    sender.join();

    OVERLAPPED noEvent{};
    ASSERT_FALSE(ReadFile(file_, buffer_, 64, nullptr, &noEvent));
    std::thread laterSender([this] { send(id_, "again"); });
    EXPECT_TRUE(GetOverlappedResult(file_, &noEvent, &count, TRUE));
    EXPECT_EQ(5u, count);
    laterSender.join();
}

TEST_F(OverlappedRead, cancelIoExFromAnotherThreadEndsTheReadWithOperationAborted) {
    startPendingRead();
    auto cancelled = std::async(std::launch::async, [this] { return CancelIoEx(file_, nullptr); });
    ASSERT_TRUE(sim_test::finishes(cancelled));
    EXPECT_TRUE(cancelled.get());
    EXPECT_TRUE(eventSet());
    DWORD count = 99;
    EXPECT_FALSE(GetOverlappedResult(file_, &overlapped_, &count, FALSE));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), GetLastError());
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, sim::pendingReads(id_));

    EXPECT_FALSE(CancelIoEx(file_, nullptr)) << "nothing left to cancel";
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), GetLastError());
}

TEST_F(OverlappedRead, cancelIoCancelsOnlyTheCallingThreadsRequests) {
    startPendingRead();
    auto otherThread = std::async(std::launch::async, [this] { return CancelIo(file_); });
    ASSERT_TRUE(sim_test::finishes(otherThread));
    EXPECT_TRUE(otherThread.get()) << "CancelIo succeeds with nothing of its own to cancel";
    EXPECT_FALSE(eventSet());
    EXPECT_EQ(1u, sim::pendingReads(id_));

    EXPECT_TRUE(CancelIo(file_));
    EXPECT_TRUE(eventSet());
    EXPECT_FALSE(GetOverlappedResult(file_, &overlapped_, nullptr, FALSE));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), GetLastError());
}

TEST_F(OverlappedRead, closingTheHandleEndsItsPendingReadAsCancelled) {
    startPendingRead();
    ASSERT_TRUE(CloseHandle(file_));
    file_ = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(eventSet());
    EXPECT_EQ(statusCancelled, overlapped_.Internal);
    EXPECT_EQ(0, sim::openFiles(id_));
}

TEST_F(OverlappedRead, unplugEndsThePendingReadAndKillsTheHandleEvenAfterReplug) {
    startPendingRead();
    ASSERT_EQ(0, simbus_detach(id_));
    EXPECT_TRUE(eventSet());
    EXPECT_FALSE(GetOverlappedResult(file_, &overlapped_, nullptr, FALSE));
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), GetLastError());

    EXPECT_FALSE(ReadFile(file_, buffer_, 64, nullptr, &overlapped_));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError()) << "the code after which the library reconnects";
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());

    ASSERT_EQ(0, simbus_replug(id_));
    ASSERT_TRUE(send(id_, "back"));
    EXPECT_FALSE(ReadFile(file_, buffer_, 64, nullptr, &overlapped_));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError()) << "a handle from before the unplug stays dead";
    HANDLE fresh = openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, fresh);
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(fresh, buffer_, 64, &count, &overlapped_));
    EXPECT_EQ(4u, count);
    CloseHandle(fresh);
}

TEST_F(OverlappedRead, unplugCodesAreConfigurable) {
    sim::ErrorCodes codes;
    codes.inFlightAtUnplug = ERROR_GEN_FAILURE;
    codes.handleAfterUnplug = ERROR_INVALID_HANDLE;
    ASSERT_TRUE(sim::setErrorCodes(id_, codes));
    startPendingRead();
    sim::unplug(id_);
    EXPECT_FALSE(GetOverlappedResult(file_, &overlapped_, nullptr, FALSE));
    EXPECT_EQ(DWORD(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_FALSE(ReadFile(file_, buffer_, 64, nullptr, &overlapped_));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(OverlappedRead, refusesWhatIsNotAnOverlappedReadOnAFile) {
    EXPECT_FALSE(ReadFile(file_, buffer_, 64, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError()) << "an overlapped handle needs an OVERLAPPED";
    EXPECT_FALSE(WriteFile(file_, buffer_, 64, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(ReadFile(event_, buffer_, 64, nullptr, &overlapped_));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError()) << "an event is no file";
    EXPECT_FALSE(DeviceIoControl(file_, 0x1B0020, nullptr, 0, buffer_, 20, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError()) << "the class driver has no serial requests";
    EXPECT_FALSE(PurgeComm(file_, PURGE_RXCLEAR));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError());

    auto reports = platform::takeMisuseReports();
    ASSERT_EQ(3u, reports.size()) << "each call without an OVERLAPPED on an overlapped handle is reported";
    const char *operations[] = {"ReadFile", "WriteFile", "DeviceIoControl"};
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(0u, reports[i].find(std::string(operations[i]) + " on handle " + platform::handleText(file_)))
            << reports[i];
    }
}

// Windows lets both happen and the data or the record is silently corrupted; the layer reports them.
TEST_F(OverlappedRead, aRecordOrABufferThatAPendingReadStillUsesIsReported) {
    startPendingRead();
    HANDLE another = openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED);
    HANDLE writePipe = openPipe(id_, "PIPE01");
    OVERLAPPED other{};
    other.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char elsewhere[16] = "elsewhere";

    EXPECT_FALSE(DeviceIoControl(another, 0x1B0020, nullptr, 0, elsewhere, 16, nullptr, &overlapped_));
    EXPECT_FALSE(ReadFile(another, buffer_ + 32, 16, nullptr, &other));
    EXPECT_TRUE(WriteFile(writePipe, buffer_ + 60, 4, nullptr, nullptr));
    EXPECT_TRUE(WriteFile(writePipe, elsewhere, 4, nullptr, nullptr)) << "a buffer of its own is fine";
    auto reports = platform::takeMisuseReports();
    ASSERT_EQ(3u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].find("DeviceIoControl on handle " + platform::handleText(another)));
    EXPECT_NE(std::string::npos, reports[0].find("OVERLAPPED"));
    EXPECT_NE(std::string::npos, reports[1].find("ReadFile on handle " + platform::handleText(another)));
    EXPECT_NE(std::string::npos, reports[1].find("pending on handle " + platform::handleText(file_)));
    EXPECT_NE(std::string::npos, reports[2].find("WriteFile on handle " + platform::handleText(writePipe)));

    EXPECT_TRUE(CancelIoEx(file_, nullptr));
    EXPECT_TRUE(CancelIoEx(another, nullptr));
    // Once the reads have ended, their record and buffer are free again.
    startPendingRead();
    EXPECT_TRUE(platform::takeMisuseReports().empty());
    for (HANDLE handle : {another, writePipe, other.hEvent}) CloseHandle(handle);
}

}  // namespace
