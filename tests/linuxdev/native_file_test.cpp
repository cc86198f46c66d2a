// The native pipes as the library uses them, synchronous handles through Win32: the five time-outs per handle and
// what they do to a read, purge, cancel by close, the write time-out, unplug and replug, a claim held elsewhere.
#include <ntddser.h>

#include <future>

#include "linuxdev/native_access.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

struct ReadResult {
    BOOL ok = FALSE;
    DWORD error = 0;
    std::string bytes;
};

ReadResult readFrom(HANDLE file, DWORD length) {
    ReadResult result;
    std::string buffer(length, '\0');
    DWORD got = 0;
    result.ok = ReadFile(file, &buffer[0], length, &got, nullptr);
    result.error = result.ok ? ERROR_SUCCESS : GetLastError();
    result.bytes = buffer.substr(0, got);
    return result;
}

bool setTimeouts(HANDLE file, DWORD interval, DWORD multiplier, DWORD constant, DWORD writeMultiplier = 0,
                 DWORD writeConstant = 0) {
    SERIAL_TIMEOUTS timeouts{interval, multiplier, constant, writeMultiplier, writeConstant};
    DWORD returned = 0;
    return DeviceIoControl(file, IOCTL_SERIAL_SET_TIMEOUTS, &timeouts, sizeof timeouts, nullptr, 0, &returned,
                           nullptr) != FALSE;
}

SERIAL_TIMEOUTS timeoutsOf(HANDLE file) {
    SERIAL_TIMEOUTS timeouts{};
    DWORD returned = 0;
    DeviceIoControl(file, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &timeouts, sizeof timeouts, &returned, nullptr);
    return timeouts;
}

class NativeFile : public NativeTest {
protected:
    void SetUp() override {
        NativeTest::SetUp();
        readPipe_ = openNative(path_ + "\\PIPE00", GENERIC_READ);
        ASSERT_NE(INVALID_HANDLE_VALUE, readPipe_);
    }

    void TearDown() override {
        if (readPipe_ != INVALID_HANDLE_VALUE) CloseHandle(readPipe_);
        NativeTest::TearDown();
    }

    // A read on its own thread, started once the device has its transfer.
    std::future<ReadResult> readInBackground(DWORD length) {
        auto read = std::async(std::launch::async, [this, length] { return readFrom(readPipe_, length); });
        EXPECT_TRUE(waitUntil([] { return nativeBackend().pendingReads() == 1; }));
        return read;
    }

    std::string probeSays() {
        for (const auto &candidate : linuxdev::listNativeCandidates(nativeBackend().context())) {
            if (candidate.interfacePath == path_) return linuxdev::nativeAvailability(candidate);
        }
        return "not listed";
    }

    HANDLE readPipe_ = INVALID_HANDLE_VALUE;
};

TEST_F(NativeFile, eachHandleStartsWithTheDriversDefaultsAndKeepsItsOwnTimeouts) {
    SERIAL_TIMEOUTS defaults = timeoutsOf(readPipe_);
    EXPECT_EQ(0u, defaults.ReadIntervalTimeout);
    EXPECT_EQ(0u, defaults.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(1000u, defaults.ReadTotalTimeoutConstant);
    EXPECT_EQ(0u, defaults.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(0u, defaults.WriteTotalTimeoutConstant);

    ASSERT_TRUE(setTimeouts(readPipe_, 1, 2, 3, 4, 5));
    SERIAL_TIMEOUTS set = timeoutsOf(readPipe_);
    EXPECT_EQ(1u, set.ReadIntervalTimeout);
    EXPECT_EQ(2u, set.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(3u, set.ReadTotalTimeoutConstant);
    EXPECT_EQ(4u, set.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(5u, set.WriteTotalTimeoutConstant);

    HANDLE other = openNative(path_);
    EXPECT_EQ(1000u, timeoutsOf(other).ReadTotalTimeoutConstant);
    SERIAL_TIMEOUTS small{};
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(other, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &small, 19, &returned, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    CloseHandle(other);
}

// Reads that end by their time-out with bytes to bring take one that covers the packet's way through libusb, the
// emulation and the reap on a loaded machine under a sanitizer; reads that end by a full buffer take a generous
// one, which they never reach; reads that end by their time-out with nothing left to come take a short one.
const DWORD PACKET_ARRIVAL_MS = 5000;
const DWORD NOTHING_TO_COME_MS = 200;

TEST_F(NativeFile, aReadThatTimesOutReturnsTheBytesThatCame) {
    // A short packet does not end a serial read: the total time-out does.
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, PACKET_ARRIVAL_MS));
    printer_.send("ABC");
    ReadResult result = readFrom(readPipe_, 10);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("ABC", result.bytes);

    // Nothing at all within the time-out is a success with no bytes.
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, NOTHING_TO_COME_MS));
    result = readFrom(readPipe_, 10);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("", result.bytes);
}

TEST_F(NativeFile, aReadShorterThanThePrintersPacketKeepsTheRestForTheNextReadUntilAPurge) {
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, GENEROUS_MS));
    printer_.send("ABCDE");
    ReadResult first = readFrom(readPipe_, 2);
    EXPECT_TRUE(first.ok) << first.error;
    EXPECT_EQ("AB", first.bytes);
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, NOTHING_TO_COME_MS));
    EXPECT_EQ("CDE", readFrom(readPipe_, 10).bytes) << "none of the packet is lost";

    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, GENEROUS_MS));
    printer_.send("FGH");
    EXPECT_EQ("F", readFrom(readPipe_, 1).bytes);
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, NOTHING_TO_COME_MS));
    ASSERT_TRUE(PurgeComm(readPipe_, PURGE_RXCLEAR));
    ReadResult after = readFrom(readPipe_, 10);
    EXPECT_TRUE(after.ok);
    EXPECT_EQ("", after.bytes) << "the purge dropped what the driver held";
}

TEST_F(NativeFile, aReadWhoseLaterTransferFailsKeepsTheBytesItHadForTheNextRead) {
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, GENEROUS_MS));
    printer_.send("ABC");
    // The short packet came; the read goes on for the rest of its length, and that transfer fails.
    auto read = readInBackground(10);
    printer_.stallIn();
    ReadResult failed = read.get();
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), failed.error);
    ASSERT_TRUE(setTimeouts(readPipe_, MAXDWORD, 0, 0));
    EXPECT_EQ("ABC", readFrom(readPipe_, 10).bytes) << "the bytes of the short packet";
}

TEST_F(NativeFile, aStalledEndpointIsClearedBeforeItsNextTransfer) {
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, GENEROUS_MS));
    auto read = readInBackground(2);
    printer_.stallIn();
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), read.get().error);
    printer_.send("OK");
    ReadResult next = readFrom(readPipe_, 2);
    EXPECT_TRUE(next.ok) << "the halt outlived the stall: " << next.error;
    EXPECT_EQ("OK", next.bytes);
    EXPECT_EQ(1, printer_.inHaltsCleared());
}

TEST_F(NativeFile, theIntervalTimeoutEndsAReadAfterItsFirstBytes) {
    // No total time-out: the read waits for its first byte however long, then ends at the first gap.
    ASSERT_TRUE(setTimeouts(readPipe_, 50, 0, 0));
    auto read = readInBackground(10);
    printer_.send("xy");
    ReadResult result = read.get();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("xy", result.bytes);
}

TEST_F(NativeFile, theMaxdwordCasesReturnAtOnceOrOnTheFirstBytes) {
    ASSERT_TRUE(setTimeouts(readPipe_, MAXDWORD, 0, 0));
    ReadResult result = readFrom(readPipe_, 10);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("", result.bytes) << "nothing there: at once, with nothing";

    ASSERT_TRUE(setTimeouts(readPipe_, MAXDWORD, MAXDWORD, GENEROUS_MS));
    auto read = readInBackground(10);
    printer_.send("Q");
    result = read.get();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("Q", result.bytes) << "the first byte ends the read, long before the constant";
}

TEST_F(NativeFile, purgeAndCancelEndAWaitingReadWith995) {
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, 0));
    auto read = readInBackground(4);
    // The purge ends the device's reads, whichever handle it comes through: the reading handle itself is busy
    // with its synchronous read, as on Windows.
    HANDLE device = openNative(path_);
    ASSERT_TRUE(PurgeComm(device, PURGE_RXABORT | PURGE_RXCLEAR));
    ReadResult result = read.get();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), result.error);
    EXPECT_FALSE(PurgeComm(device, 0x10));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    CloseHandle(device);

    // A close would wait for the read, which owns the synchronous file object, as on Windows: a cancel ends it.
    read = readInBackground(4);
    ASSERT_TRUE(CancelIoEx(readPipe_, nullptr));
    result = read.get();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), result.error);
    ASSERT_TRUE(CloseHandle(readPipe_));
    readPipe_ = INVALID_HANDLE_VALUE;

    // Bytes that come after the cancel belong to the next read, not to the buffer of the one that ended.
    HANDLE again = openNative(path_ + "\\PIPE00", GENERIC_READ);
    printer_.send("ok");
    ASSERT_TRUE(setTimeouts(again, 0, 0, GENEROUS_MS));
    EXPECT_EQ("ok", readFrom(again, 2).bytes);
    CloseHandle(again);
}

TEST_F(NativeFile, aWriteThePrinterDoesNotTakeEndsAtItsTimeoutWithNothingWritten) {
    HANDLE writePipe = openNative(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_TRUE(setTimeouts(writePipe, 0, 0, 0, 1, 100));
    printer_.pauseOut(true);
    DWORD written = 99;
    EXPECT_TRUE(WriteFile(writePipe, "abc", 3, &written, nullptr));
    EXPECT_EQ(0u, written);
    printer_.pauseOut(false);
    EXPECT_TRUE(WriteFile(writePipe, "def", 3, &written, nullptr));
    EXPECT_EQ(3u, written);
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, 3));
    EXPECT_EQ("def", printed);
    CloseHandle(writePipe);
}

TEST_F(NativeFile, anUnplugEndsAPendingReadWith1167ThenCallsFailWith5AndTheReplugOpensAfresh) {
    ASSERT_TRUE(setTimeouts(readPipe_, 0, 0, 0));
    auto read = readInBackground(4);
    printer_.unplug();
    ReadResult result = read.get();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), result.error);

    result = readFrom(readPipe_, 4);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), result.error);
    EXPECT_FALSE(PurgeComm(readPipe_, PURGE_RXABORT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    ASSERT_TRUE(waitUntil([this] { return !nativeListed(path_); }));
    EXPECT_EQ(INVALID_HANDLE_VALUE, openNative(path_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    printer_.plug();
    ASSERT_TRUE(waitUntil([this] { return nativeListed(path_); }));
    HANDLE fresh = openNative(path_ + "\\PIPE00", GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, fresh);
    printer_.send("!");
    EXPECT_EQ("!", readFrom(fresh, 1).bytes);
    CloseHandle(fresh);
}

TEST_F(NativeFile, opensAndClosesRacingOnTwoThreadsShareOneClaimAndReleaseItOnce) {
    CloseHandle(readPipe_);
    readPipe_ = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; }));
    auto openAndClose = [this] {
        int failed = 0;
        for (int i = 0; i < 500; ++i) {
            HANDLE file = openNative(path_);
            if (file == INVALID_HANDLE_VALUE) {
                ++failed;
                continue;
            }
            CloseHandle(file);
        }
        return failed;
    };
    auto other = std::async(std::launch::async, openAndClose);
    EXPECT_EQ(0, openAndClose());
    EXPECT_EQ(0, other.get());
    ASSERT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; }));
    EXPECT_EQ(printer_.claims(), printer_.releases());
}

TEST_F(NativeFile, anInterfaceAnotherProgramOrAKernelDriverHoldsIsAccessDeniedAndTheProbeSaysWhich) {
    CloseHandle(readPipe_);
    readPipe_ = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; }));
    printer_.holdInterfaceElsewhere(true);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openNative(path_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_NE(std::string::npos, probeSays().find("claimed by another program")) << probeSays();
    printer_.holdInterfaceElsewhere(false);
    EXPECT_EQ(0u, probeSays().find("free")) << probeSays();

    printer_.bindKernelDriver("usblp");
    EXPECT_EQ(INVALID_HANDLE_VALUE, openNative(path_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_NE(std::string::npos, probeSays().find("held by a kernel driver")) << probeSays();
    printer_.bindKernelDriver("");
    HANDLE file = openNative(path_);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

}  // namespace
}  // namespace linuxdev_test
