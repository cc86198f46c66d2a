// The character device usblp gives a printer, as drivers/usb/class/usblp.c behaves, for the tests' emulated printers.
// umockdev's node is a terminal: any number may open it, a write is done once the terminal buffered it, and poll
// reports what a terminal does. The tests' link sends this program's own open, close, read, write and poll through
// here (ld's --wrap), where a registered node follows usblp's rules instead. Each rule names the kernel function it
// comes from (usblp.c, fs/select.c), so that the next reader can check it:
//
// - One open at a time (usblp_open: `if (usblp->used) goto out` with -EBUSY). The node is used until the last
//   reference to the file is gone: a close() while another thread's poll() waits on the descriptor does not release
//   it, as __pollwait takes a reference with get_file() and poll_freewait() drops it only as poll returns;
//   usblp_release runs after that.
// - At most one write transfer of up to 8192 bytes (USBLP_BUF_SIZE) in flight. In O_NONBLOCK, write() submits one and
//   returns its length at once ("Presume that it's going to complete well" in usblp_write), so a transfer that then
//   fails is never reported; while one is in flight it fails with EAGAIN (usblp_wwait -> usblp_wtest). Without
//   O_NONBLOCK, write() waits for each transfer to end and checks its status (usblp_write's step 2: wstatus < 0 gives
//   EIO); after an error it returns the count of the transfers before it, or the error if there were none
//   (collect_error). A signal ends the wait with EINTR the same way (usblp_wtest: signal_pending), leaving the
//   transfer in flight; so does a stop of the process, which the emulation takes from stopAndContinue().
// - POLLOUT only while no transfer is in flight (usblp_poll: wcomplete), POLLIN when a read transfer ended (rcomplete):
//   bytes from the printer, a failed transfer or a zero-length packet. usblp_poll reports nothing else: never a
//   hang-up or an error, also after an unplug.
// - The last close kills the transfer in flight (usblp_release -> usblp_unlink_urbs): bytes it had not delivered are
//   lost.
// - A read transfer that failed with the printer present reads as EIO, once (usblp_read: rstatus < 0, resubmitted); a
//   zero-length packet reads as 0 bytes.
// - After an unplug every call fails with ENODEV (usblp_wtest, usblp_rtest: !present), and the transfers ended when
//   usblp_disconnect killed them, so poll reports POLLIN and POLLOUT.
//
// The printer's side of the write path: a transfer ends when the printer takes it, which it does at once while its
// input buffer has room and it is not held (a printer busy or offline); the test reads the buffer through receive().
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace linuxdev_test {

class EmulatedUsblpNode : public std::enable_shared_from_this<EmulatedUsblpNode> {
public:
    // Registers a printer's node under `devnode`.
    static std::shared_ptr<EmulatedUsblpNode> plug(const std::string &devnode);
    // The printer went: every call on the node fails with ENODEV from now on.
    void unplug();

    // Whether usblp would refuse an open now: a file on the node still has a reference.
    bool isInUse() const;
    // Whether a poll() waits on a file of the node.
    bool isPolled() const;
    // The printer's side. Takes what the host's transfers delivered, until `count` bytes are there; false when they
    // did not arrive within the bound.
    bool receive(std::string &bytes, size_t count, int boundMs);
    // Whatever was delivered, if anything arrives within `waitMs`.
    std::string takeWritten(int waitMs);
    // A held printer takes no transfer: the one in flight stays in flight.
    void holdTransfers(bool held);
    bool hasTransferInFlight() const;
    // The next read transfer fails (a CRC error, babble, a stall) with the printer present.
    void failNextRead();
    // The next write transfer submitted fails (a stall, a protocol error) as the printer would take it, the printer
    // present.
    void failNextWrite();
    // The process is stopped and continued while a writer waits in the driver: the wait ends with EINTR as for any
    // signal (usblp_wtest: signal_pending holds while the stop is taken, and -EINTR is not restarted; signal(7),
    // "Interruption of system calls and library functions by stop signals"). The next wait, if none waits now.
    void stopAndContinue();
    // The printer sends a zero-length packet.
    void sendZeroLengthPacket();

    // What one host file on the node does; used by the wrapped calls, with the emulation's lock held.
    struct Access;

    explicit EmulatedUsblpNode(std::string devnode);
    ~EmulatedUsblpNode();
    EmulatedUsblpNode(const EmulatedUsblpNode &) = delete;
    EmulatedUsblpNode &operator=(const EmulatedUsblpNode &) = delete;

private:
    friend struct Access;
    void takeTransfer();
    void changed();
    void release();
    short readiness(short events) const;

    const std::string devnode_;
    bool gone_ = false;
    bool used_ = false;
    bool held_ = false;
    bool readFails_ = false;
    bool writeFails_ = false;
    bool transferDoomed_ = false;
    // How the last write transfer ended: usblp's wstatus < 0.
    bool transferFailed_ = false;
    bool zeroLengthPacket_ = false;
    bool stopPending_ = false;
    bool inFlight_ = false;
    int pollers_ = 0;
    std::string transfer_;
    // What the printer took and the test has not received.
    std::string delivered_;
};

// How many of this process's descriptors are open on that file.
int descriptorsOn(const std::string &target);

}  // namespace linuxdev_test
