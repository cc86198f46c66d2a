// A printer-class interface driven through libusb instead of usblp, when the user asks for it with
// VIRIVOREZU_NATIVE_PRINTER_CLASS: listed under the native driver's interface class only while no kernel driver holds
// it, and never without the variable.
#include <cstdlib>

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "support/java_usb_port.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

const char variable[] = "VIRIVOREZU_NATIVE_PRINTER_CLASS";

NativeIdentity printerClassIdentity() {
    NativeIdentity identity;
    identity.serial = "PCLASS01";
    identity.port = "1-5";
    identity.interfaceClass = 0x07;
    return identity;
}

class NativePrinterClass : public ::testing::Test {
protected:
    void SetUp() override {
        testbed();
        ASSERT_NE(nullptr, nativeBackend().context());
        handlesBefore_ = platform::openHandleCount();
        setenv(variable, "1", 1);
        printer_.plug();
    }

    void TearDown() override {
        port_.closePipe(0);
        ShutdownPowerHandler();
        for (const std::string &problem : jvm_.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        EXPECT_EQ(handlesBefore_, platform::openHandleCount()) << "a handle was left open";
        EXPECT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; })) << "a printer was left open";
        setenv(variable, "1", 1);
        printer_.bindKernelDriver("");
        if (printer_.isPlugged()) {
            printer_.unplug();
            EXPECT_TRUE(waitUntil([this] { return !nativeListed(path_); }));
        }
        unsetenv(variable);
    }

    jint write(const std::string &bytes) {
        return port_.writeOutputPipe(port_.hWritePort(), std::vector<jbyte>(bytes.begin(), bytes.end()));
    }

    NativeIdentity identity_ = printerClassIdentity();
    EmulatedNativePrinter printer_{identity_};
    std::string path_ = nativePathOf(identity_);
    size_t handlesBefore_ = 0;
    fakejni::FakeJvm jvm_;
    JavaUsbPort port_{jvm_};
};

TEST_F(NativePrinterClass, isListedAndCarriesAReceiptOnlyWhenAskedForAndNoKernelDriverHoldsIt) {
    ASSERT_TRUE(waitUntil([this] { return nativeListed(path_); })) << "the free printer-class interface never listed";

    ASSERT_EQ(USB_TYPE_NATIVE, port_.initPipe(GENERIC_WRITE));
    std::string receipt =
        "\x1b@Tea   1.80\n\x1b"
        "d\x02";
    EXPECT_EQ(0, write(receipt));
    std::string printed;
    ASSERT_TRUE(printer_.receive(printed, receipt.size()));
    EXPECT_EQ(receipt, printed);
    EXPECT_EQ(0, port_.closePipe(port_.hWritePort()));
    ASSERT_TRUE(waitUntil([] { return nativeBackend().openDevices() == 0; }));
    EXPECT_EQ(printer_.claims(), printer_.releases());

    printer_.bindKernelDriver("usblp");
    EXPECT_FALSE(nativeListed(path_)) << "an interface usblp serves belongs to the printer-class transport";
    printer_.bindKernelDriver("");
    EXPECT_TRUE(nativeListed(path_));

    unsetenv(variable);
    EXPECT_FALSE(nativeListed(path_)) << "off unless the user asks for it";
    setenv(variable, "0", 1);
    EXPECT_FALSE(nativeListed(path_)) << "0 says no";
}

}  // namespace
}  // namespace linuxdev_test
