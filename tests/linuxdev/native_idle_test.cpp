// An open native link with nothing to do costs nothing: the events thread, libusb's own hot-plug thread and the
// library's threads sleep, a read waiting without time-out included. Counted by the kernel's context switches
// over a second.
#include <dirent.h>

#include <fstream>
#include <future>
#include <set>

#include <ntddser.h>

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "support/java_usb_port.h"
#include "native_fixture.h"

namespace linuxdev_test {
namespace {

std::string taskFile(const std::string &id, const char *name) {
    std::ifstream file("/proc/self/task/" + id + "/" + name);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return text;
}

std::set<std::string> taskIds() {
    std::set<std::string> ids;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    }
    closedir(tasks);
    return ids;
}

long switchesOf(const std::set<std::string> &threads) {
    long total = 0;
    for (const std::string &id : threads) {
        std::istringstream status(taskFile(id, "status"));
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

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
        if (before.count(id) == 0 || taskFile(id, "comm").rfind("libusb", 0) == 0) watched.insert(id);
    }
    EXPECT_GE(watched.size(), 2u) << "the events thread and libusb's at least";

    // The open's own work may still be settling: start counting once a quarter second passes without a switch.
    long settled = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            long now = switchesOf(watched);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            settled = switchesOf(watched);
            return now == settled;
        },
        std::chrono::seconds(10)))
        << "the link's threads never went quiet: they wake periodically";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(0, switchesOf(watched) - settled) << "a thread of the link woke while it was idle";

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
