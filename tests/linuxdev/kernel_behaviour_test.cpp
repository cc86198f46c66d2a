// The backend against what usblp really does, where a kinder node would hide it: a non-blocking write that returns
// before its transfer ended, a close that kills that transfer, a read transfer that fails with the printer present,
// and a close that poll delays (emulated_usblp_node.h).
#include <signal.h>

#include <future>
#include <string>
#include <thread>

#include "files/nt_status.h"
#include "linuxdev/write_interrupt.h"
#include "thread_wakeups.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

class KernelBehaviour : public UsblpTest {
protected:
    // Holds the printer and starts a write of `bytes`: usblp has them in a transfer the printer has not taken.
    ::testing::AssertionResult startWriteHeldInFlight(HANDLE file, const std::string &bytes, Transfer &write) {
        printer_.node().holdTransfers(true);
        if (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &write.overlapped)) {
            return ::testing::AssertionFailure() << "the write ended before the printer took its transfer";
        }
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return ::testing::AssertionFailure() << "the write failed with " << error;
        if (!waitUntil([this] { return printer_.node().hasTransferInFlight(); })) {
            return ::testing::AssertionFailure() << "no transfer went in flight";
        }
        return ::testing::AssertionSuccess();
    }

    // Opens the writing pipe from a new thread with that signal mask: the printer's writer thread starts at the open,
    // and a new thread inherits its creator's mask.
    HANDLE openWithSignalMask(const sigset_t &mask) {
        HANDLE file = INVALID_HANDLE_VALUE;
        std::thread opener([&] {
            pthread_sigmask(SIG_SETMASK, &mask, nullptr);
            file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
        });
        opener.join();
        return file;
    }
};

TEST_F(KernelBehaviour, aWriteEndsOnlyWithItsLastTransferSoThatAReceiptClosedAtOnceArrivesWhole) {
    HANDLE file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    // The tail of a receipt: the end of a logo and the cut, one transfer.
    std::string tail = std::string(6000, 'L') + "\x1d\x56\x00";
    Transfer write;
    ASSERT_TRUE(startWriteHeldInFlight(file, tail, write)) << "usblp has the bytes, but the printer has not taken them";

    printer_.node().holdTransfers(false);
    DWORD put = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(file, write, put));
    EXPECT_EQ(tail.size(), put);
    CloseHandle(file);
    std::string printed;
    EXPECT_TRUE(printer_.receive(printed, tail.size()));
    EXPECT_EQ(tail, printed);
}

TEST_F(KernelBehaviour, aCloseWhileTheWriteIsInFlightEndsItWithOperationAborted) {
    HANDLE file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    printer_.node().holdTransfers(true);
    Transfer write;
    EXPECT_FALSE(WriteFile(file, "\x1b@", 2, nullptr, &write.overlapped)) << "the transfer has not ended";
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    CloseHandle(file);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(write.overlapped.hEvent, GENEROUS_MS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), platform::errorFromStatus(write.overlapped.Internal));
    printer_.node().holdTransfers(false);
    EXPECT_EQ("", printer_.takeWritten(0)) << "the close killed the transfer";
}

TEST_F(KernelBehaviour, aWriteWhoseTransferFailsEndsWithThatFailureAndTheNextWriteGoesThrough) {
    HANDLE file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    printer_.node().failNextWrite();
    Transfer failing;
    EXPECT_FALSE(WriteFile(file, "\x1b@", 2, nullptr, &failing.overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    DWORD put = 99;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), endOf(file, failing, put)) << "not reported as written";
    EXPECT_EQ(0u, put);
    EXPECT_TRUE(backend().holds(printer_.devnode())) << "the printer is still there";

    Transfer next;
    EXPECT_FALSE(WriteFile(file, "ok", 2, nullptr, &next.overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(file, next, put));
    EXPECT_EQ(2u, put);
    std::string printed;
    EXPECT_TRUE(printer_.receive(printed, 2));
    EXPECT_EQ("ok", printed);
    CloseHandle(file);
}

TEST_F(KernelBehaviour, aCancelOrAnUnplugEndsAWriteBlockedInTheDriver) {
    HANDLE file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    Transfer cancelled;
    ASSERT_TRUE(startWriteHeldInFlight(file, "\x1b@", cancelled));
    EXPECT_TRUE(CancelIoEx(file, &cancelled.overlapped));
    DWORD put = 99;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), endOf(file, cancelled, put));
    EXPECT_EQ(0u, put);

    // usblp leaves the interrupted transfer in flight; the next write waits for it.
    Transfer unplugged;
    EXPECT_FALSE(WriteFile(file, "cut", 3, nullptr, &unplugged.overlapped));
    printer_.unplug();
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), endOf(file, unplugged, put));
    CloseHandle(file);
}

TEST_F(KernelBehaviour, aWriteCanBeCancelledWhenThePrinterWasOpenedByAThreadThatBlocksSignals) {
    sigset_t all;
    sigfillset(&all);
    HANDLE file = openWithSignalMask(all);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    Transfer write;
    ASSERT_TRUE(startWriteHeldInFlight(file, "\x1b@", write));
    EXPECT_TRUE(CancelIoEx(file, &write.overlapped));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(write.overlapped.hEvent, GENEROUS_MS)) << "the interrupt got through";
    DWORD put = 99;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), endOf(file, write, put));
    CloseHandle(file);
}

// Threads of this process that block the asynchronous signals but take the write interrupt and a fault's signal:
// the printers' writer threads (SigBlk: one bit per signal, signal 1 lowest).
int threadsTakingOnlyTheInterrupt() {
    int count = 0;
    for (const std::string &id : taskIds()) {
        std::string mask = taskStatusField(id, "SigBlk");
        if (mask.empty()) continue;
        unsigned long long blocked = std::stoull(mask, nullptr, 16);
        auto blocks = [blocked](int signal) { return ((blocked >> (signal - 1)) & 1U) != 0; };
        if (blocks(SIGTERM) && blocks(SIGINT) && blocks(SIGPROF) && !blocks(SIGSEGV) &&
            !blocks(linuxdev::WriteInterrupt::signalNumber())) {
            ++count;
        }
    }
    return count;
}

TEST_F(KernelBehaviour, theWriterTakesNoSignalButItsInterruptThoughTheThreadThatOpenedThePrinterTookThemAll) {
    // As a JVM's thread, which takes SIGTERM and SIGINT for the shutdown hooks: any signal would end a blocked write
    // as the interrupt does, with its transfer left in flight.
    sigset_t none;
    sigemptyset(&none);
    HANDLE file = openWithSignalMask(none);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(waitUntil([] { return threadsTakingOnlyTheInterrupt() == 1; }));
    CloseHandle(file);
}

TEST_F(KernelBehaviour, aWriteTheProcessStopInterruptedIsAFailureAndItsTransferPrintsOnce) {
    HANDLE file = openPipe(path_ + "\\PIPE01", GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    Transfer write;
    ASSERT_TRUE(startWriteHeldInFlight(file, "\x1b@", write));
    // A debugger's attach, job control, a container's freeze: usblp answers the writer with EINTR.
    printer_.node().stopAndContinue();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(write.overlapped.hEvent, GENEROUS_MS))
        << "it ends with the printer still holding the transfer";
    printer_.node().holdTransfers(false);
    DWORD put = 99;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), endOf(file, write, put)) << "its transfer's end is unknown";
    EXPECT_EQ(0u, put);
    ASSERT_TRUE(waitUntil([this] { return !printer_.node().hasTransferInFlight(); }));
    EXPECT_EQ("\x1b@", printer_.takeWritten(0)) << "the transfer left in flight went out, and was not sent again";

    Transfer next;
    EXPECT_FALSE(WriteFile(file, "ok", 2, nullptr, &next.overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(file, next, put));
    EXPECT_EQ(2u, put);
    CloseHandle(file);
}

TEST_F(KernelBehaviour, aFailedReadTransferIsAnErrorOfThatReadNotAnUnplugAndAZeroLengthPacketEndsNoRead) {
    HANDLE file = openPipe(path_, GENERIC_READ | GENERIC_WRITE);
    Transfer failing;
    ASSERT_FALSE(ReadFile(file, failing.buffer, sizeof failing.buffer, nullptr, &failing.overlapped));
    printer_.node().failNextRead();
    DWORD bytes = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), endOf(file, failing, bytes));
    EXPECT_TRUE(backend().holds(printer_.devnode())) << "the printer is still there";

    Transfer next;
    ASSERT_FALSE(ReadFile(file, next.buffer, sizeof next.buffer, nullptr, &next.overlapped));
    printer_.node().sendZeroLengthPacket();
    ASSERT_TRUE(printer_.send("\x12"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), endOf(file, next, bytes));
    EXPECT_EQ(1u, bytes);
    EXPECT_EQ('\x12', next.buffer[0]);
    CloseHandle(file);
}

TEST_F(KernelBehaviour, aPrinterClosedWhileAnotherKeepsTheIoThreadPollingOpensAgainAtOnce) {
    PrinterIdentity otherIdentity;
    otherIdentity.serial = "MOCK0002";
    otherIdentity.port = "1-2";
    EmulatedPrinter other(otherIdentity);
    other.plug();
    HANDLE keepsThreadBusy = openPipe(pathOf(otherIdentity), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, keepsThreadBusy);
    int denied = 0;
    for (int i = 0; i < 100; ++i) {
        HANDLE file = openPipe(path_, GENERIC_READ | GENERIC_WRITE);
        if (file == INVALID_HANDLE_VALUE) {
            denied += GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
            continue;
        }
        // A waiting read puts the descriptor in the I/O thread's poll.
        Transfer read;
        ReadFile(file, read.buffer, 1, nullptr, &read.overlapped);
        EXPECT_TRUE(waitUntil([this] { return printer_.node().isPolled(); }));
        CloseHandle(file);
    }
    EXPECT_EQ(0, denied) << "opened while poll still held the last descriptor";
    CloseHandle(keepsThreadBusy);
}

}  // namespace
}  // namespace linuxdev_test
