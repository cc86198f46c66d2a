// A printer that streams without pause: every byte arrives, in order, only as fast as the host reads.
#include <vector>

#include "sim_test_support.h"

namespace {

using sim_test::SimTest;

class StreamTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        id_ = attach(sim::Transport::PrinterClass);
        file_ = openPipe(id_, "PIPE00", FILE_FLAG_OVERLAPPED);
        ASSERT_NE(INVALID_HANDLE_VALUE, file_);
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped_.hEvent = event_;
    }
    void TearDown() override {
        CloseHandle(file_);
        CloseHandle(event_);
        SimTest::TearDown();
    }

    // One 64-byte read, as the library's reader issues them; false when it did not end inside ReadFile. The block is
    // the fixture's: a read that pends goes on writing into it after this returns.
    bool readAtOnce(std::vector<uint8_t> &into) {
        DWORD count = 0;
        if (!ReadFile(file_, chunk_, sizeof chunk_, &count, &overlapped_)) return false;
        into.insert(into.end(), chunk_, chunk_ + count);
        return true;
    }

    int id_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED overlapped_{};
    uint8_t chunk_[64] = {};
};

TEST_F(StreamTest, aCounterStreamArrivesWholeAndInOrderWithoutAReadEverPending) {
    constexpr uint64_t total = 1 << 20;
    ASSERT_EQ(0, simbus_stream(id_, nullptr, 0, total));
    std::vector<uint8_t> received;
    received.reserve(total);
    while (received.size() < total) ASSERT_TRUE(readAtOnce(received)) << "at byte " << received.size();
    for (size_t i = 0; i < received.size(); ++i) ASSERT_EQ(i % 251, received[i]) << "at byte " << i;
    EXPECT_EQ(static_cast<long long>(total), simbus_stream_taken(id_));

    EXPECT_FALSE(readAtOnce(received)) << "the stream has ended";
    EXPECT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    ASSERT_TRUE(CancelIoEx(file_, nullptr));
    EXPECT_EQ(total, received.size());
}

TEST_F(StreamTest, nothingIsProducedOrLostWhileNobodyReadsAndSentBytesGoFirst) {
    ASSERT_EQ(0, simbus_stream(id_, "AB", 2, 0));
    EXPECT_EQ(0, simbus_stream_taken(id_)) << "a printer with nobody reading waits";
    ASSERT_TRUE(send(id_, "xyz"));
    std::vector<uint8_t> received;
    ASSERT_TRUE(readAtOnce(received));
    ASSERT_EQ(64u, received.size());
    EXPECT_EQ("xyzABABA", std::string(received.begin(), received.begin() + 8));
    EXPECT_EQ(61, simbus_stream_taken(id_));

    ASSERT_EQ(0, simbus_stop_stream(id_));
    received.clear();
    EXPECT_FALSE(readAtOnce(received));
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    ASSERT_EQ(0, simbus_stream(id_, nullptr, 0, 3)) << "a stream started while a read waits serves it";
    DWORD count = 0;
    ASSERT_TRUE(GetOverlappedResult(file_, &overlapped_, &count, TRUE));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(64, simbus_stream_taken(id_));
    EXPECT_EQ(-1, simbus_stream(id_, nullptr, -1, 0));
    EXPECT_EQ(-1, simbus_stream_taken(9999));
}

TEST_F(SimTest, aNativeReadIsFilledFromTheStreamInFull) {
    int id = attach(sim::Transport::Native);
    ASSERT_EQ(0, simbus_raw_open(id));
    ASSERT_EQ(0, simbus_stream(id, nullptr, 0, 0));
    std::vector<uint8_t> received(4096);
    ASSERT_EQ(4096, simbus_raw_read(id, received.data(), 4096));
    for (size_t i = 0; i < received.size(); ++i) ASSERT_EQ(i % 251, received[i]) << "at byte " << i;
    ASSERT_EQ(4096, simbus_raw_read(id, received.data(), 4096));
    EXPECT_EQ(4096 % 251, received[0]);
    EXPECT_EQ(8192, simbus_stream_taken(id));
    ASSERT_EQ(0, simbus_raw_close(id));
}

}  // namespace
