// The library's own power handling, driven by logind instead of the simulator's broadcast: the printer on the
// simulated bus, suspend and resume from dbusmock's logind through the listener, Java's calls through the exports.
#include <atomic>
#include <cstring>

#include "library/printer_class_java_fixture.h"
#include "kernel/thread_registry.h"
#include "linuxdev/power/logind_power_source.h"
#include "logind/logind_bus.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved);

namespace printer_class_test {
namespace {

const uint8_t suspendCommand[] = {0x1D, 0xFF};
const uint8_t resumeCommand[] = {0x1D, 0x04, 0x02, 0x1B, 0x40};

bool startsWith(const uint8_t *bytes, size_t count, const uint8_t *command, size_t length) {
    return count >= length && std::memcmp(bytes, command, length) == 0;
}

size_t occurrences(const std::vector<uint8_t> &bytes, const uint8_t *command, size_t length) {
    size_t count = 0;
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), command, command + length)) != bytes.end();
         at += length)
        ++count;
    return count;
}

class LibraryPowerFromLogind : public PrinterClassJava {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ready()) << "no private bus with dbusmock's logind (dbus-daemon, python3-dbusmock)";
        PrinterClassJava::SetUp();
        linuxdev::installLogindPowerEvents();
    }
    void TearDown() override {
        PrinterClassJava::TearDown();
        linuxdev::uninstallLogindPowerEvents();
        platform::setTimeScale(1);
    }

    // The delay locks logind listed at the moment the printer took the suspend command; -2 until it did.
    void watchForTheSuspendCommand() {
        sim::setWriteGate(printer_, [this](const uint8_t *bytes, size_t count) {
            if (startsWith(bytes, count, suspendCommand, sizeof suspendCommand))
                locksAtSuspendCommand_ = bus_.delayLocks();
            return true;
        });
    }

    logind_test::LogindBus bus_;
    std::atomic<int> locksAtSuspendCommand_{-2};
};

}  // namespace

TEST_F(LibraryPowerFromLogind, suspendCommandGoesOutUnderTheLockWritesWaitAndResumeBringsTheLinkBack) {
    openBothPipes();
    ASSERT_TRUE(bus_.waitForDelayLocks(1)) << "the power window's listener holds no delay lock";
    watchForTheSuspendCommand();

    // Real time through the suspend: the suspend command's bound and the handler's budget are as in the field.
    ASSERT_TRUE(bus_.emitPrepareForSleep(true));
    ASSERT_TRUE(waitUntil([this] { return locksAtSuspendCommand_ != -2; })) << "no suspend command";
    EXPECT_EQ(1, locksAtSuspendCommand_.load()) << "the lock went before the suspend command was on the wire";
    EXPECT_TRUE(bus_.waitForDelayLocks(0));
    ASSERT_TRUE(waitUntil([] { return g_UsbComm.SuspendedFlag() != 0; }));
    EXPECT_EQ(static_cast<jint>(ERROR_POWER_SUSPENDED_CODE), writePipe("while away"));

    // The listener reports the wake as Windows does one with a person present: the automatic resume, then the
    // resume from suspend. The link comes back once, and the printer is initialised once.
    platform::setTimeScale(0.001);
    ASSERT_TRUE(bus_.emitPrepareForSleep(false));
    ASSERT_TRUE(waitUntil([] { return g_UsbComm.SuspendedFlag() == 0; })) << "the resume never ended";
    // The listener takes its next delay lock after both resume broadcasts have returned.
    EXPECT_TRUE(bus_.waitForDelayLocks(1)) << "no delay lock for the next suspend";
    std::vector<uint8_t> written;
    ASSERT_TRUE(sim::takeAll(printer_, written));
    EXPECT_EQ(1u, occurrences(written, suspendCommand, sizeof suspendCommand));
    EXPECT_EQ(1u, occurrences(written, resumeCommand, sizeof resumeCommand));

    // The driver takes the reopened link's handles, as after any resume.
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, initPipe(GENERIC_WRITE));
    EXPECT_EQ(0, writePipe("after"));
    written.clear();
    ASSERT_TRUE(sim::takeAll(printer_, written));
    EXPECT_EQ(std::string("after"), std::string(written.begin(), written.end()));
}

// The JVM frees the library after JNI_OnUnload: the listener must be gone by then, and its lock with it.
TEST_F(LibraryPowerFromLogind, unloadEndsTheListenerWithThePowerThread) {
    size_t before = platform::liveThreadCount();
    openBothPipes();
    ASSERT_TRUE(bus_.waitForDelayLocks(1));
    EXPECT_EQ(before + 3, platform::liveThreadCount()) << "the reader, the power thread and the listener";

    JNI_OnUnload(nullptr, nullptr);
    EXPECT_EQ(before, platform::liveThreadCount());
    EXPECT_TRUE(bus_.waitForDelayLocks(0));
    platform::joinFinishedThreads();
}

}  // namespace printer_class_test
