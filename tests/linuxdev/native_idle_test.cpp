// An open native link with nothing to do costs nothing: the events thread, libusb's own hot-plug thread and the
// library's threads sleep, a read waiting without time-out included. Counted by the kernel's context switches
// over three seconds.
#include <future>
#include <set>

#include <ntddser.h>

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "support/java_usb_port.h"
#include "native_fixture.h"
#include "thread_wakeups.h"

namespace linuxdev_test {
namespace {

using NativeIdle = NativeTest;

TEST_F(NativeIdle, theLinksThreadsWakeNoTimesWhileAReadWaits) {
    fakejni::FakeJvm jvm;
    JavaUsbPort port(jvm);
    std::set<std::string> before = taskIds();
    ASSERT_EQ(USB_TYPE_NATIVE, port.initPipe(GENERIC_WRITE));
    ASSERT_EQ(USB_TYPE_NATIVE, port.initPipe(GENERIC_READ));
    HANDLE reader = openNative(path_ + "\\PIPE00", GENERIC_READ);
    SERIAL_TIMEOUTS none{};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(reader, IOCTL_SERIAL_SET_TIMEOUTS, &none, sizeof none, nullptr, 0, &returned, nullptr));
    auto read = std::async(std::launch::async, [reader] {
        char byte = 0;
        DWORD got = 0;
        return ReadFile(reader, &byte, 1, &got, nullptr) ? got : 0u;
    });
    ASSERT_TRUE(waitUntil([] { return nativeBackend().pendingReads() == 1; }));

    std::set<std::string> watched;
    for (const std::string &id : taskIds()) {
        if (before.count(id) == 0 || taskName(id).rfind("libusb", 0) == 0) watched.insert(id);
    }
    EXPECT_GE(watched.size(), 2u) << "the events thread and libusb's at least";

    long wakeUps = wakeUpsOverThreeSeconds(watched);
    EXPECT_NE(-1, wakeUps) << "the link's threads never went quiet: they wake periodically";
    EXPECT_LE(wakeUps, STRAY_WAKE_UPS) << "a thread of the link keeps waking while it is idle";

    printer_.send("z");
    EXPECT_EQ(1u, read.get());
    CloseHandle(reader);
    port.closePipe(port.hWritePort());
    port.closePipe(port.hReadPort());
    ShutdownPowerHandler();
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
}

}  // namespace
}  // namespace linuxdev_test
