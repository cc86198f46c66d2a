// The backend through the Win32 calls the library makes: overlapped and synchronous transfers on the pipes, the
// one descriptor all handles share, cancellation, and what an unplug does to the handles.
#include <cstring>
#include <future>

#include "files/file_object.h"
#include "files/nt_status.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

// Starts an overlapped read that must pend.
void startPendingRead(HANDLE file, Transfer &read) {
    ASSERT_FALSE(ReadFile(file, read.buffer, sizeof read.buffer, nullptr, &read.overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
}

using FileIo = UsblpTest;

TEST_F(FileIo, bothPipesShareOneDescriptorThatTheLastCloseReleases) {
    HANDLE read = openPipe(path_ + "\\PIPE00", GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, read);
    HANDLE write = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, write);
    HANDLE bare = openPipe(path_, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, bare);
    EXPECT_EQ(1, printer_.descriptorsOnNode()) << "usblp allows one open: every handle shares it";

    CloseHandle(read);
    CloseHandle(bare);
    EXPECT_EQ(1, printer_.descriptorsOnNode());
    CloseHandle(write);
    EXPECT_EQ(0, printer_.descriptorsOnNode());
    EXPECT_EQ(0u, backend().openDevices());
    EXPECT_FALSE(backend().ioThreadRunning());
}

TEST_F(FileIo, opensAndClosesRacingOnTwoThreadsShareTheOneDescriptorAndAreNeverDenied) {
    auto openAndClose = [this] {
        int denied = 0;
        for (int i = 0; i < 500; ++i) {
            HANDLE file = openPipe(path_, GENERIC_READ | GENERIC_WRITE);
            if (file == INVALID_HANDLE_VALUE) {
                denied += GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
                continue;
            }
            CloseHandle(file);
        }
        return denied;
    };
    auto other = std::async(std::launch::async, openAndClose);
    EXPECT_EQ(0, openAndClose()) << "a second open of the node, as the first's thread stopped";
    EXPECT_EQ(0, other.get());
    EXPECT_EQ(0, printer_.descriptorsOnNode());
}

TEST_F(FileIo, everyByteValueGoesBothWaysAndAReadEndsWithWhatArrived) {
    HANDLE read = openPipe(path_ + "\\PIPE00", GENERIC_READ);
    HANDLE write = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    std::string all;
    for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
    std::string job = all + all + all;

    Transfer out;
    BOOL done = WriteFile(write, job.data(), static_cast<DWORD>(job.size()), nullptr, &out.overlapped);
    ASSERT_TRUE(done || GetLastError() == ERROR_IO_PENDING);
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, job.size()));
    EXPECT_EQ(job, printed);
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(write, out, bytes));
    EXPECT_EQ(job.size(), bytes);

    Transfer in;
    startPendingRead(read, in);
    ASSERT_TRUE(printer_.send(all.substr(0, 40)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(read, in, bytes));
    EXPECT_EQ(40u, bytes) << "a printer-class read ends as soon as anything arrived";
    EXPECT_EQ(0, std::memcmp(all.data(), in.buffer, 40));

    EXPECT_FALSE(ReadFile(write, in.buffer, 1, nullptr, &in.overlapped)) << "PIPE01 only writes";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    CloseHandle(read);
    CloseHandle(write);
}

TEST_F(FileIo, aSynchronousReadBlocksUntilThePrinterSends) {
    HANDLE file = openPipe(path_, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::future<std::string> reader = std::async(std::launch::async, [file] {
        char buffer[16] = {};
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return std::string("failed");
        return std::string(buffer, got);
    });
    EXPECT_TRUE(test_support::waitUntil([file] { return platform::requestsInFlight(file) == 1; }))
        << "the read never started";
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(std::chrono::milliseconds(0)));
    ASSERT_TRUE(printer_.send("\x12"));
    EXPECT_EQ("\x12", reader.get());
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(file, "\x10\x04\x01", 3, &put, nullptr));
    EXPECT_EQ(3u, put);
    std::string printed;
    EXPECT_TRUE(printer_.receive(printed, 3));
    CloseHandle(file);
}

TEST_F(FileIo, cancelAndCloseEndAPendingReadAtOnceWithOperationAborted) {
    HANDLE read = openPipe(path_ + "\\PIPE00", GENERIC_READ);
    Transfer first;
    startPendingRead(read, first);
    ASSERT_TRUE(CancelIoEx(read, &first.overlapped));
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), endOf(read, first, bytes));

    Transfer second;
    startPendingRead(read, second);
    CloseHandle(read);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.overlapped.hEvent, GENEROUS_MS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), platform::errorFromStatus(second.overlapped.Internal));
}

TEST_F(FileIo, anUnplugEndsAWaitingReadWithDeviceNotConnectedAndEveryLaterCallWithAccessDenied) {
    HANDLE read = openPipe(path_ + "\\PIPE00", GENERIC_READ);
    HANDLE write = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    Transfer waiting;
    startPendingRead(read, waiting);

    printer_.unplug();
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), endOf(read, waiting, bytes));
    EXPECT_EQ(0u, backend().openDevices()) << "the descriptor is closed at the unplug";

    Transfer later;
    EXPECT_FALSE(ReadFile(read, later.buffer, 1, nullptr, &later.overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(WriteFile(write, "x", 1, nullptr, &later.overlapped)) << "the idle write handle too";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(path_, GENERIC_READ));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    CloseHandle(read);
    CloseHandle(write);
}

TEST_F(FileIo, aWriteThePrinterDoesNotTakeIsCancelledWithWhatWentOutAndTheNextWriteStartsClean) {
    HANDLE write = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    // Far more than the node buffers while the printer takes nothing.
    std::string job(1 << 20, 'j');
    Transfer stuck;
    ASSERT_FALSE(WriteFile(write, job.data(), static_cast<DWORD>(job.size()), nullptr, &stuck.overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    ASSERT_TRUE(CancelIoEx(write, &stuck.overlapped));
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), endOf(write, stuck, bytes));
    EXPECT_LT(bytes, job.size());
    // usblp leaves the interrupted transfer in flight: it goes out once the printer has room, before the next write.
    std::string reached = printer_.drain();
    ASSERT_TRUE(waitUntil([this] { return !printer_.node().hasTransferInFlight(); }));
    reached += printer_.drain();
    EXPECT_GE(reached.size(), bytes) << "the count is of transfers that ended";
    EXPECT_LE(reached.size(), bytes + 8192) << "and at most the one transfer left in flight went out besides";

    Transfer next;
    BOOL done = WriteFile(write, "\x1b@", 2, nullptr, &next.overlapped);
    ASSERT_TRUE(done || GetLastError() == ERROR_IO_PENDING);
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, 2));
    EXPECT_EQ("\x1b@", printed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(write, next, bytes));
    CloseHandle(write);
}

TEST_F(FileIo, aPrinterGoneBeforeUdevSaysAnythingIsAnUnplugByTheEnodevOfTheWaitingRead) {
    HANDLE read = openPipe(path_ + "\\PIPE00", GENERIC_READ);
    HANDLE write = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    Transfer waiting;
    startPendingRead(read, waiting);

    printer_.unplugBeforeUdevKnows();
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), endOf(read, waiting, bytes));
    Transfer later;
    EXPECT_FALSE(WriteFile(write, "x", 1, nullptr, &later.overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(read);
    CloseHandle(write);
}

TEST_F(FileIo, aReplugUnderANewNodeNumberOpensUnderTheSamePath) {
    HANDLE before = openPipe(path_, GENERIC_READ | GENERIC_WRITE);
    printer_.unplug();
    EXPECT_TRUE(waitUntil([] { return backend().openDevices() == 0; })) << "udev's remove event, with no I/O";
    int oldNumber = printer_.number();
    printer_.plug();
    ASSERT_NE(oldNumber, printer_.number());

    HANDLE after = openPipe(path_, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, after);
    EXPECT_TRUE(backend().holds(printer_.devnode()));
    Transfer in;
    startPendingRead(after, in);
    ASSERT_TRUE(printer_.send("\x12"));
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(after, in, bytes));
    Transfer old;
    EXPECT_FALSE(ReadFile(before, old.buffer, 1, nullptr, &old.overlapped)) << "the old handle stays dead";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(before);
    CloseHandle(after);
}

}  // namespace
}  // namespace linuxdev_test
