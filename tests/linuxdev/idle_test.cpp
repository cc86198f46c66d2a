// An open link with nothing to do costs nothing: the library's threads (the reader, the power window's) and the
// backend's I/O thread sleep until something happens, with no time-outs that wake them. Counted by the kernel's
// context switches of the threads the link started, over a second.
#include <dirent.h>

#include <fstream>
#include <set>

#include "port/UsbComm.h"
#include "power/PowerHandler.h"
#include "kernel/thread_registry.h"
#include "support/java_usb_port.h"
#include "usblp_fixture.h"

namespace linuxdev_test {
namespace {

std::set<std::string> taskIds() {
    std::set<std::string> ids;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') ids.insert(entry->d_name);
    }
    closedir(tasks);
    return ids;
}

// Every time each thread gave up the processor, voluntarily or not; a thread asleep in a wait adds nothing.
long switchesOf(const std::set<std::string> &threads) {
    long total = 0;
    for (const std::string &id : threads) {
        std::ifstream status("/proc/self/task/" + id + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

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

    // The open's own work may still be settling: start counting once a quarter second passes without a switch.
    long settled = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            long now = switchesOf(started);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            bool quiet = now == switchesOf(started);
            settled = switchesOf(started);
            return quiet;
        },
        std::chrono::seconds(10)))
        << "the link's threads never went quiet: they wake periodically";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(0, switchesOf(started) - settled) << "a thread of the link woke while it was idle";

    port.closePipe(0);
    ShutdownPowerHandler();
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
}

}  // namespace
}  // namespace linuxdev_test
