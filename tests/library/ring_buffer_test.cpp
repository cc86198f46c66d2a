#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "kernel/faults.h"
#include "kernel/kernel_object.h"
#include "printerclass/CircularBuffer.h"

namespace {

// Fills a fresh buffer until it refuses more: its capacity.
DWORD measuredCapacity(CCircularBuffer &buffer) {
    std::vector<BYTE> bytes(70000, 0x5A);
    DWORD stored = buffer.PutBytes(bytes.data(), (DWORD)bytes.size());
    EXPECT_EQ(buffer.PutBytes(bytes.data(), 1), 0u) << "a full buffer must refuse further bytes";
    return stored;
}

std::vector<BYTE> sequence(BYTE first, size_t n) {
    std::vector<BYTE> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = (BYTE)(first + i);
    return bytes;
}

std::vector<BYTE> takeAll(CCircularBuffer &buffer, DWORD wanted) {
    std::vector<BYTE> bytes(wanted);
    DWORD taken = 0;
    DWORD n = buffer.BytesAvailable(bytes.data(), wanted, &taken);
    bytes.resize(n);
    return bytes;
}

TEST(RingBuffer, CapacityIsTwoToTheClampedUnsignedExponent) {
    struct Case {
        DWORD exponent;
        DWORD capacity;
    };
    const Case cases[] = {
        {0, 64},
        {5, 64},
        {6, 64},
        {7, 128},
        {12, 4096},
        {16, 65536},
        {17, 65536},
        {31, 65536},
        {32, 65536},
        {0x80000000u, 65536},
        {(DWORD)-1, 65536},
        {(DWORD)-12, 65536},
    };
    for (const Case &c : cases) {
        CCircularBuffer buffer(c.exponent);
        EXPECT_EQ(measuredCapacity(buffer), c.capacity) << "exponent " << c.exponent;
    }
}

TEST(RingBuffer, PartialPutStoresWhatFitsAndKeepsStoredBytes) {
    CCircularBuffer buffer(6);
    std::vector<BYTE> first = sequence(0, 40);
    std::vector<BYTE> second = sequence(100, 40);
    EXPECT_EQ(buffer.PutBytes(first.data(), 40), 40u);
    EXPECT_EQ(buffer.PutBytes(second.data(), 40), 24u);
    EXPECT_EQ(buffer.PutBytes(second.data(), 40), 0u);

    std::vector<BYTE> expected(first);
    expected.insert(expected.end(), second.begin(), second.begin() + 24);
    EXPECT_EQ(takeAll(buffer, 100), expected);
}

TEST(RingBuffer, OutCountIsWrittenOnlyWhenTheBufferHeldBytes) {
    CCircularBuffer buffer(6);
    BYTE dest[16] = {};
    DWORD taken = 777;
    EXPECT_EQ(buffer.BytesAvailable(dest, 16, &taken), 0u);
    EXPECT_EQ(taken, 777u) << "an empty buffer leaves the out-count alone";

    std::vector<BYTE> bytes = sequence(1, 10);
    buffer.PutBytes(bytes.data(), 10);
    EXPECT_EQ(buffer.BytesAvailable(dest, 0, &taken), 0u);
    EXPECT_EQ(taken, 0u) << "a buffer with bytes writes the count even when none is wanted";

    taken = 777;
    EXPECT_EQ(buffer.BytesAvailable(dest, 4, &taken), 4u);
    EXPECT_EQ(taken, 4u);
    EXPECT_EQ(std::vector<BYTE>(dest, dest + 4), sequence(1, 4));
    EXPECT_EQ(takeAll(buffer, 16), sequence(5, 6)) << "the rest stays, in order";
}

TEST(RingBuffer, SingleByteOperationsAtTheLimits) {
    CCircularBuffer buffer(6);
    EXPECT_EQ(buffer.GetByte(), 0);
    // A take from an empty buffer must not disturb the count: exactly 64 still fit.
    EXPECT_EQ(measuredCapacity(buffer), 64u);

    long code = 0;
    try {
        buffer.PutByte(0xEE);
    } catch (long thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 1L);
    std::vector<BYTE> all = takeAll(buffer, 100);
    EXPECT_EQ(all, std::vector<BYTE>(64, 0x5A)) << "a refused byte changes nothing";

    buffer.PutByte(7);
    buffer.PutByte(8);
    EXPECT_EQ(buffer.GetByte(), 7);
    EXPECT_EQ(buffer.GetByte(), 8);
    EXPECT_EQ(buffer.GetByte(), 0);
}

// Random puts and takes against a plain queue, with small chunks around the capacity so that both copy spans and
// the wrap of both indexes are exercised many times over.
TEST(RingBuffer, MatchesAQueueAcrossWrapAround) {
    CCircularBuffer buffer(6);
    std::deque<BYTE> model;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> size(0, 90);
    BYTE next = 0;

    for (int step = 0; step < 20000; ++step) {
        int n = size(random);
        if (random() % 2 == 0) {
            std::vector<BYTE> bytes = sequence(next, n);
            DWORD expected = std::min<DWORD>(n, 64 - (DWORD)model.size());
            ASSERT_EQ(buffer.PutBytes(bytes.data(), n), expected) << "step " << step;
            model.insert(model.end(), bytes.begin(), bytes.begin() + expected);
            next = (BYTE)(next + expected);
        } else {
            std::vector<BYTE> dest(n + 1, 0xCC);
            DWORD taken = 999;
            DWORD expected = std::min<DWORD>(n, (DWORD)model.size());
            bool heldBytes = !model.empty();
            ASSERT_EQ(buffer.BytesAvailable(dest.data(), n, &taken), expected) << "step " << step;
            ASSERT_EQ(taken, heldBytes ? expected : 999u) << "step " << step;
            ASSERT_EQ(dest[expected], 0xCC) << "nothing written past the bytes taken";
            for (DWORD i = 0; i < expected; ++i) {
                ASSERT_EQ(dest[i], model.front()) << "step " << step << " byte " << i;
                model.pop_front();
            }
        }
    }
}

TEST(RingBuffer, MutexFailureThrowsFourAndLeaksNothing) {
    size_t handlesBefore = platform::openHandleCount();
    ASSERT_TRUE(platform::armFault("CreateMutexA", 1, ERROR_NOT_ENOUGH_MEMORY));
    long code = 0;
    try {
        CCircularBuffer buffer(12);
    } catch (long thrown) {
        code = thrown;
    }
    platform::clearFaults();
    EXPECT_EQ(code, 4L);
    EXPECT_EQ(platform::openHandleCount(), handlesBefore);
}

TEST(RingBuffer, DestructorClosesTheMutexAndTheRoomEvent) {
    size_t handlesBefore = platform::openHandleCount();
    auto buffer = std::make_unique<CCircularBuffer>(12);
    EXPECT_EQ(platform::openHandleCount(), handlesBefore + 2);
    buffer.reset();
    EXPECT_EQ(platform::openHandleCount(), handlesBefore);
}

TEST(RingBuffer, ATakeThatMakesRoomSetsTheRoomEventAndFreeSpaceCountsIt) {
    CCircularBuffer buffer(6);
    std::vector<BYTE> block(64, 0x42);
    EXPECT_EQ(64u, buffer.FreeSpace());
    EXPECT_EQ(64u, buffer.PutBytes(block.data(), 64));
    EXPECT_EQ(0u, buffer.FreeSpace());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(buffer.RoomEvent(), 0)) << "a put makes no room";

    BYTE taken[10];
    DWORD count = 0;
    EXPECT_EQ(10u, buffer.BytesAvailable(taken, sizeof taken, &count));
    EXPECT_EQ(10u, buffer.FreeSpace());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(buffer.RoomEvent(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(buffer.RoomEvent(), 0)) << "auto-reset";
}

// The reader thread puts while a Java thread takes: every byte arrives once, in order, through a small buffer
// that is full and empty many times over.
TEST(RingBuffer, ConcurrentPutAndTakeKeepOrder) {
    CCircularBuffer buffer(6);
    const size_t total = 200000;

    std::atomic<bool> producerDone(false);
    std::thread producer([&] {
        std::mt19937 random(7);
        size_t sent = 0;
        while (sent < total) {
            size_t n = std::min<size_t>(1 + random() % 80, total - sent);
            std::vector<BYTE> bytes = sequence((BYTE)sent, n);
            sent += buffer.PutBytes(bytes.data(), (DWORD)n);
            if (sent < total) std::this_thread::yield();
        }
        producerDone = true;
    });

    std::mt19937 random(11);
    size_t received = 0;
    size_t outOfOrder = 0;
    for (;;) {
        // Read the flag before taking, so that an empty take after it means everything sent has been taken.
        bool done = producerDone;
        BYTE dest[100];
        DWORD taken = 0;
        DWORD n = buffer.BytesAvailable(dest, 1 + random() % 100, &taken);
        for (DWORD i = 0; i < n; ++i) outOfOrder += dest[i] != (BYTE)(received + i);
        received += n;
        if (n == 0 && done) break;
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(received, total);
}

}  // namespace
