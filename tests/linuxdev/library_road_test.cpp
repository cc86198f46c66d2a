// The library's own exports, as Java calls them, over the usblp backend: detection, the printer-class link on both
// pipes, the reader thread, the timed read, the reconnect after an unplug, and what is left after the close.
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "kernel/thread_registry.h"
#include "support/java_usb_port.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

using namespace std::string_literals;

class LibraryRoad : public UsblpTest {
protected:
    void SetUp() override {
        UsblpTest::SetUp();
        threadsBefore_ = platform::liveThreadCount();
    }

    void TearDown() override {
        port_.closePipe(0);
        // The power handler keeps its thread until it is shut down, as at unload.
        ShutdownPowerHandler();
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        EXPECT_TRUE(waitUntil([this] { return platform::liveThreadCount() == threadsBefore_; }))
            << "a thread of the library or the backend was left";
        UsblpTest::TearDown();
    }

    void openLink() {
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port_.initPipe(GENERIC_WRITE));
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port_.initPipe(GENERIC_READ));
        ASSERT_TRUE(waitUntil([] { return backend().pendingReads() == 1; })) << "the reader thread's read";
    }

    jint write(const std::string &bytes) {
        return port_.writeOutputPipe(port_.hWritePort(), std::vector<jbyte>(bytes.begin(), bytes.end()));
    }

    // The next byte through the reader thread and the timed read.
    int readByte() {
        std::vector<jbyte> array(1);
        if (port_.readInputPipe(port_.hReadPort(), array) != 1) return -1;
        return static_cast<unsigned char>(array[0]);
    }

    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
    size_t threadsBefore_ = 0;
};

TEST_F(LibraryRoad, aReceiptArrivesByteForByteAndTheStatusComesBackThroughTheReader) {
    openLink();
    EXPECT_EQ(1, printer_.descriptorsOnNode()) << "detection's probes, the read and the write handle share it";

    // With the zero bytes a receipt's commands carry (a full cut), and a byte of every high bit.
    std::string receipt =
        "\x1b@Coffee          2.50\nCake           3.10\n\x1b"
        "d\x03\x1dV\x00\xff"s;
    EXPECT_EQ(0, write(receipt));
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, receipt.size()));
    EXPECT_EQ(receipt, printed);

    ASSERT_TRUE(printer_.send("\x12"));
    EXPECT_EQ(0x12, readByte());

    EXPECT_EQ(0, port_.closePipe(port_.hWritePort()));
    EXPECT_EQ(0, printer_.descriptorsOnNode()) << "the shared descriptor is closed with the link";
    EXPECT_EQ(0u, backend().openDevices());
    EXPECT_FALSE(backend().ioThreadRunning());
}

TEST_F(LibraryRoad, afterAnUnplugTheReaderReconnectsToTheReplugAndReadsWithoutAJavaCall) {
    openLink();
    printer_.unplug();
    int oldNumber = printer_.number();
    printer_.plug();
    ASSERT_NE(oldNumber, printer_.number());
    // The reader's read ended with 1167; its reconnect finds the printer under the same path on the new node.
    ASSERT_TRUE(waitUntil([this] { return backend().holds(printer_.devnode()) && backend().pendingReads() == 1; }))
        << "the reader did not reconnect";

    ASSERT_TRUE(printer_.send("\x12"));
    EXPECT_EQ(0x12, readByte());
    // The write handle, idle at the unplug, was reopened by the reconnect.
    EXPECT_EQ(0, write("\x10\x04\x01"));
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, 3));
    EXPECT_EQ("\x10\x04\x01", printed);
}

}  // namespace
}  // namespace linuxdev_test
