// An open link with nothing to do costs nothing: the library's threads (the reader, the power window's) and the
// backend's I/O thread sleep until something happens, with no time-outs that wake them. Counted by the kernel's
// context switches of the threads the link started, over three seconds.
#include <set>

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "kernel/thread_registry.h"
#include "support/java_usb_port.h"
#include "thread_wakeups.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

using IdleLink = UsblpTest;

TEST_F(IdleLink, theLinksThreadsWakeNoTimesWhileNothingHappens) {
    fakejni::FakeJvm jvm;
    JavaUsbPort port(jvm);
    std::set<std::string> before = taskIds();
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(GENERIC_WRITE));
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(GENERIC_READ));
    ASSERT_TRUE(waitUntil([] { return backend().pendingReads() == 1; }));
    std::set<std::string> started;
    for (const std::string &id : taskIds()) {
        if (before.count(id) == 0) started.insert(id);
    }
    EXPECT_GE(started.size(), 2u) << "the reader and the I/O thread at least";

    long wakeUps = wakeUpsOverThreeSeconds(started);
    EXPECT_NE(-1, wakeUps) << "the link's threads never went quiet: they wake periodically";
    EXPECT_LE(wakeUps, STRAY_WAKE_UPS) << "a thread of the link keeps waking while it is idle";

    port.closePipe(0);
    ShutdownPowerHandler();
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
}

}  // namespace
}  // namespace linuxdev_test
