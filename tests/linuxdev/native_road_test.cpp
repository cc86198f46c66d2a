// One receipt on the native transport through the library's exports, as Java makes it: detection picks the native
// driver's interface, the receipt reaches the OUT endpoint as written, the status byte comes back from the IN
// endpoint, and the handle's time-outs read back as they were set.
#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "support/java_usb_port.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

using namespace std::string_literals;

class NativeRoad : public NativeTest {
protected:
    void TearDown() override {
        port_.closePipe(0);
        ShutdownPowerHandler();
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        NativeTest::TearDown();
    }

    jint write(const std::string &bytes) {
        return port_.writeOutputPipe(port_.hWritePort(), std::vector<jbyte>(bytes.begin(), bytes.end()));
    }

    std::string read(size_t length) {
        std::vector<jbyte> array(length);
        jint got = port_.readInputPipe(port_.hReadPort(), array);
        if (got < 0) return "error " + std::to_string(port_.lastError());
        return std::string(array.begin(), array.begin() + got);
    }

    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
};

TEST_F(NativeRoad, aReceiptArrivesByteForByteAndTheStatusComesBack) {
    ASSERT_EQ(USB_TYPE_NATIVE, port_.initPipe(GENERIC_WRITE));
    int claims = printer_.claims();
    ASSERT_EQ(USB_TYPE_NATIVE, port_.initPipe(GENERIC_READ));
    EXPECT_EQ(claims, printer_.claims()) << "the read side's probes and pipe share the write pipe's claim";

    std::string receipt =
        "\x1b@Coffee          2.50\nCake           3.10\n\x1b"
        "d\x03\x1dV\x00\xff"s;
    EXPECT_EQ(0, write(receipt));
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, receipt.size()));
    EXPECT_EQ(receipt, printed);

    printer_.send("\x12");
    EXPECT_EQ("\x12", read(1));

    EXPECT_EQ(0, port_.setCommTimeout(port_.hReadPort(), 7, 3, 250, 11, 900));
    EXPECT_EQ(250, port_.getCommTimeout(port_.hReadPort()));

    EXPECT_EQ(0, port_.closePipe(port_.hWritePort()));
    EXPECT_EQ(0, port_.closePipe(port_.hReadPort()));
    EXPECT_EQ(printer_.claims(), printer_.releases()) << "the interface is released with the last handle";
}

TEST_F(NativeRoad, theNativeTransportIsPreferredWhenTheSamePrinterHasBoth) {
    // The printer-class interface of the same printer, through usblp.
    PrinterIdentity same;
    same.serial = identity_.serial;
    EmulatedPrinter usblp(same);
    usblp.plug();
    ASSERT_EQ(USB_TYPE_NATIVE, port_.initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, write("\x10\x04\x01"));
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, 3));
    EXPECT_EQ("\x10\x04\x01", printed);
    EXPECT_EQ(0, usblp.descriptorsOnNode());
    EXPECT_EQ(0, port_.closePipe(port_.hWritePort()));
}

}  // namespace
}  // namespace linuxdev_test
