// The emulated usblp node itself, straight through open, write, poll, read and close: the rules it takes from
// usblp.c and fs/select.c (emulated_usblp_node.h), which the backend's tests rely on.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <future>
#include <thread>

#include "linuxdev/write_interrupt.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

class EmulatedUsblpNodeTest : public UsblpTest {
protected:
    int openNode(int mode = O_NONBLOCK) {
        return ::open(printer_.devnode().c_str(), O_RDWR | mode | O_NOCTTY | O_CLOEXEC);
    }
    EmulatedUsblpNode &node() { return printer_.node(); }
};

short readyNow(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) > 0 ? p.revents : 0;
}

TEST_F(EmulatedUsblpNodeTest, aNonBlockingWriteReturnsAtOnceWithOneTransferInFlightThatTheLastCloseKills) {
    int fd = openNode();
    ASSERT_GE(fd, 0);
    node().holdTransfers(true);
    std::string job(20000, 'r');
    EXPECT_EQ(8192, ::write(fd, job.data(), job.size())) << "one transfer of USBLP_BUF_SIZE, presumed to go well";
    EXPECT_TRUE(node().hasTransferInFlight());
    EXPECT_EQ(0, readyNow(fd, POLLOUT)) << "POLLOUT only once the transfer ended";
    errno = 0;
    EXPECT_EQ(-1, ::write(fd, job.data(), job.size()));
    EXPECT_EQ(EAGAIN, errno) << "one transfer at a time";

    node().holdTransfers(false);
    EXPECT_EQ(POLLOUT, readyNow(fd, POLLOUT));
    std::string printed;
    EXPECT_TRUE(printer_.receive(printed, 8192));

    node().holdTransfers(true);
    EXPECT_EQ(4, ::write(fd, "tail", 4));
    ::close(fd);
    node().holdTransfers(false);
    EXPECT_EQ("", printer_.takeWritten(0)) << "the release killed the transfer";
}

TEST_F(EmulatedUsblpNodeTest, onlyABlockingWriteLearnsThatATransferFailedAndFromTheSecondOnItIsAShortCount) {
    int nonblocking = openNode();
    ASSERT_GE(nonblocking, 0);
    node().failNextWrite();
    EXPECT_EQ(3, ::write(nonblocking, "abc", 3)) << "presumed to complete well";
    EXPECT_TRUE(waitUntil([&] { return readyNow(nonblocking, POLLOUT) == POLLOUT; })) << "and the failure ends it";
    EXPECT_EQ("", printer_.takeWritten(0));
    ::close(nonblocking);

    int blocking = openNode(0);
    ASSERT_GE(blocking, 0);
    node().failNextWrite();
    errno = 0;
    EXPECT_EQ(-1, ::write(blocking, "abc", 3));
    EXPECT_EQ(EIO, errno);
    // The first transfer goes through; the second, submitted once the printer took the first, fails.
    std::string job(10000, 'j');
    node().holdTransfers(true);
    auto writer = std::async(std::launch::async, [&] { return ::write(blocking, job.data(), job.size()); });
    ASSERT_TRUE(waitUntil([this] { return node().hasTransferInFlight(); }));
    node().failNextWrite();
    node().holdTransfers(false);
    EXPECT_EQ(8192, writer.get()) << "the transfers before the failed one";
    std::string printed;
    EXPECT_TRUE(printer_.receive(printed, 8192));
    EXPECT_EQ(0, ::write(blocking, job.data(), 0)) << "a write of nothing only waits for the write path";
    ::close(blocking);
}

TEST_F(EmulatedUsblpNodeTest, aSignalOrAStopOfTheProcessEndsABlockingWriteWithEintrAndLeavesItsTransferInFlight) {
    ASSERT_TRUE(linuxdev::WriteInterrupt::install());
    int fd = openNode(0);
    ASSERT_GE(fd, 0);
    // A write held by the printer, ended by `interrupt` (given the writing thread and whether the write returned).
    auto endHeldWrite = [&](const std::function<void(pthread_t, const std::atomic<bool> &)> &interrupt) {
        node().holdTransfers(true);
        std::atomic<bool> returned{false};
        std::promise<pthread_t> thread;
        auto writer = std::async(std::launch::async, [&] {
            thread.set_value(pthread_self());
            ssize_t put = ::write(fd, "held", 4);
            int error = errno;
            returned = true;
            return put < 0 ? -error : put;
        });
        pthread_t writing = thread.get_future().get();
        EXPECT_TRUE(waitUntil([this] { return node().hasTransferInFlight(); }));
        interrupt(writing, returned);
        EXPECT_EQ(-EINTR, writer.get());
        EXPECT_TRUE(node().hasTransferInFlight()) << "usblp leaves the transfer dangling";
        node().holdTransfers(false);
        std::string printed;
        EXPECT_TRUE(printer_.receive(printed, 4)) << "and it still goes out unless the file is closed";
    };
    endHeldWrite([](pthread_t writing, const std::atomic<bool> &returned) {
        // A signal that comes before the thread sleeps in the driver ends nothing: sent until the write returns.
        EXPECT_TRUE(waitUntil([&] {
            linuxdev::WriteInterrupt::send(writing);
            return returned.load();
        }));
    });
    endHeldWrite([this](pthread_t, const std::atomic<bool> &) { node().stopAndContinue(); });
    ::close(fd);
}

TEST_F(EmulatedUsblpNodeTest, aCloseWhilePollWaitsOnTheDescriptorLeavesTheNodeInUseUntilPollReturns) {
    int fd = openNode();
    ASSERT_GE(fd, 0);
    errno = 0;
    EXPECT_EQ(-1, openNode());
    EXPECT_EQ(EBUSY, errno) << "one open at a time";

    auto poller = std::async(std::launch::async, [fd] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, -1);
    });
    ASSERT_TRUE(waitUntil([this] { return node().isPolled(); }));
    ::close(fd);
    EXPECT_TRUE(node().isInUse()) << "poll holds a reference to the file until it returns";
    errno = 0;
    EXPECT_EQ(-1, openNode());
    EXPECT_EQ(EBUSY, errno);
    // A read transfer that ends (here, failing) is what wakes the poller.
    node().failNextRead();
    EXPECT_EQ(1, poller.get());
    EXPECT_FALSE(node().isInUse()) << "released as poll returned";
    int again = openNode();
    EXPECT_GE(again, 0);
    ::close(again);
}

TEST_F(EmulatedUsblpNodeTest, aPollWithNoWaitNeverTakesTheWakeUpOfAPollThatSleepsOnTheSameFile) {
    // As the backend's check before a read beside its I/O thread's poll. Each poller has its own entry on the
    // driver's wait queue (poll_wait, fs/select.c); with one wake-up shared, the check could take the sleeper's.
    int fd = openNode();
    ASSERT_GE(fd, 0);
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> returned{false};
        auto sleeper = std::async(std::launch::async, [&] {
            pollfd p{fd, POLLIN, 0};
            int got = ::poll(&p, 1, GENEROUS_MS);
            returned = true;
            return got;
        });
        ASSERT_TRUE(waitUntil([this] { return node().isPolled(); }));
        node().failNextRead();
        // At once and until the sleeper returned: the moment at which a shared wake-up would be taken.
        while (!returned) readyNow(fd, POLLIN);
        ASSERT_EQ(1, sleeper.get()) << "round " << round << ": the sleeping poll missed the read transfer's end";
        char byte = 0;
        ASSERT_EQ(-1, ::read(fd, &byte, 1)) << "the failed transfer, read once";
    }
    ::close(fd);
}

TEST_F(EmulatedUsblpNodeTest, aFailedReadTransferReadsAsEioOnceAndAZeroLengthPacketAsNothing) {
    int fd = openNode();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, readyNow(fd, POLLIN));
    node().failNextRead();
    EXPECT_EQ(POLLIN, readyNow(fd, POLLIN));
    char byte = 0;
    errno = 0;
    EXPECT_EQ(-1, ::read(fd, &byte, 1));
    EXPECT_EQ(EIO, errno) << "the printer is still there";
    node().sendZeroLengthPacket();
    EXPECT_EQ(POLLIN, readyNow(fd, POLLIN));
    EXPECT_EQ(0, ::read(fd, &byte, 1));
    ASSERT_TRUE(printer_.send("y"));
    EXPECT_TRUE(waitUntil([fd] { return readyNow(fd, POLLIN) == POLLIN; }));
    EXPECT_EQ(1, ::read(fd, &byte, 1));
    EXPECT_EQ('y', byte);
    ::close(fd);
}

TEST_F(EmulatedUsblpNodeTest, anUnplugShowsAsEndedTransfersAndEnodevNeverAsAHangUp) {
    int fd = openNode();
    ASSERT_GE(fd, 0);
    printer_.unplugBeforeUdevKnows();
    EXPECT_EQ(POLLIN | POLLOUT, readyNow(fd, POLLIN | POLLOUT | POLLRDHUP));
    char byte = 0;
    errno = 0;
    EXPECT_EQ(-1, ::read(fd, &byte, 1));
    EXPECT_EQ(ENODEV, errno);
    errno = 0;
    EXPECT_EQ(-1, ::write(fd, "x", 1));
    EXPECT_EQ(ENODEV, errno);
    ::close(fd);
}

}  // namespace
}  // namespace linuxdev_test
