// The logind listener behind the platform layer's power broadcasts: suspend and resume reach the top-level windows
// as Windows delivers them, the delay lock is held around them, and the listener lives exactly as long as a
// top-level window does.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "kernel/misuse.h"
#include "kernel/thread_registry.h"
#include "linuxdev/power/logind_power_source.h"
#include "logind/logind_bus.h"
#include "platform/user32_test_support.h"
#include "user32/power_events.h"

using namespace logind_test;
using user32_test::Gate;
using user32_test::WindowThread;

namespace {

const char className[] = "Logind Power Test";

// What the windows' procedure saw, in order; a suspend may be held at a gate, or may destroy its window.
struct Recorder {
    std::mutex lock;
    std::vector<WPARAM> events;
    Gate *suspendGate = nullptr;
    bool destroyOnSuspend = false;
};
Recorder recorder;

LRESULT CALLBACK recordingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_POWERBROADCAST) return DefWindowProcA(hwnd, message, wParam, lParam);
    Gate *gate = nullptr;
    bool destroy = false;
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        recorder.events.push_back(wParam);
        if (wParam == PBT_APMSUSPEND) {
            gate = recorder.suspendGate;
            destroy = recorder.destroyOnSuspend;
        }
    }
    if (gate != nullptr) gate->wait();
    if (destroy) DestroyWindow(hwnd);
    return TRUE;
}

std::vector<WPARAM> recorded() {
    std::lock_guard<std::mutex> guard(recorder.lock);
    return recorder.events;
}

bool waitForEvents(size_t count) {
    return waitUntil([count] { return recorded().size() >= count; });
}

void resetRecorder() {
    std::lock_guard<std::mutex> guard(recorder.lock);
    recorder.events.clear();
    recorder.suspendGate = nullptr;
    recorder.destroyOnSuspend = false;
}

bool contains(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

// The listener installed, windows of the recording class, and a baseline of the layer's live threads.
class PowerEvents : public ::testing::Test {
protected:
    void SetUp() override {
        resetRecorder();
        ASSERT_NE(user32_test::registerClass(className, recordingProcedure), 0);
        baseline_ = platform::liveThreadCount();
        linuxdev::installLogindPowerEvents();
    }
    void TearDown() override {
        linuxdev::uninstallLogindPowerEvents();
        EXPECT_TRUE(UnregisterClassA(className, nullptr));
    }
    bool onlyTheListenerAdded() { return platform::liveThreadCount() == baseline_ + 1; }
    bool noThreadAdded() { return platform::liveThreadCount() == baseline_; }

    size_t baseline_ = 0;
};

class PowerEventsFromLogind : public PowerEvents {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.ready()) << "no private bus with dbusmock's logind (dbus-daemon, python3-dbusmock)";
        PowerEvents::SetUp();
    }
    LogindBus bus_;
};

}  // namespace

TEST_F(PowerEventsFromLogind, suspendReachesTheWindowAndTheLockGoesOnlyOnceItsProcedureReturned) {
    Gate suspendHeld;
    recorder.suspendGate = &suspendHeld;
    WindowThread window(className);
    ASSERT_TRUE(bus_.waitForDelayLocks(1)) << "no delay lock while a top-level window exists";

    ASSERT_TRUE(bus_.emitPrepareForSleep(true));
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(recorded(), std::vector<WPARAM>{PBT_APMSUSPEND});
    EXPECT_EQ(bus_.delayLocks(), 1) << "the lock went while the suspend handler was still running";

    suspendHeld.open();
    EXPECT_TRUE(bus_.waitForDelayLocks(0)) << "the lock stayed after the suspend handler returned";
    window.quit(0);
    // Held at the gate on purpose: a budget overrun on a slow machine is not this test's concern.
    platform::takeMisuseReports();
}

TEST_F(PowerEventsFromLogind, resumeBringsAutomaticThenSuspendResumeAndTakesTheLockAgain) {
    WindowThread window(className);
    ASSERT_TRUE(bus_.waitForDelayLocks(1));
    ASSERT_TRUE(bus_.emitPrepareForSleep(true));
    ASSERT_TRUE(bus_.waitForDelayLocks(0));

    ASSERT_TRUE(bus_.emitPrepareForSleep(false));
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(recorded(), (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}));
    EXPECT_TRUE(bus_.waitForDelayLocks(1)) << "no delay lock for the next suspend";
    window.quit(0);
}

// Message-only windows get no broadcast, so they keep no listener; the next top-level window starts a new one.
TEST_F(PowerEventsFromLogind, theLastTopLevelWindowEndsTheListenerAndReleasesTheLock) {
    WindowThread first(className);
    ASSERT_TRUE(bus_.waitForDelayLocks(1));
    EXPECT_TRUE(onlyTheListenerAdded());
    WindowThread messageOnly(className, HWND_MESSAGE);
    WindowThread second(className);
    first.quit(0);
    EXPECT_TRUE(onlyTheListenerAdded()) << "a top-level window is left";

    second.quit(0);
    EXPECT_TRUE(noThreadAdded()) << "the listener outlived the last top-level window";
    EXPECT_TRUE(bus_.waitForDelayLocks(0));

    WindowThread again(className);
    EXPECT_TRUE(bus_.waitForDelayLocks(1));
    EXPECT_TRUE(onlyTheListenerAdded());
    again.quit(0);
    messageOnly.quit(0);
    EXPECT_TRUE(noThreadAdded());
}

// The stop then runs inside the procedure that the listener's broadcast waits for: it must not wait in turn.
TEST_F(PowerEventsFromLogind, aWindowDestroyedByItsOwnSuspendHandlerEndsTheListenerAfterTheBroadcast) {
    recorder.destroyOnSuspend = true;
    WindowThread window(className);
    ASSERT_TRUE(bus_.waitForDelayLocks(1));
    ASSERT_TRUE(bus_.emitPrepareForSleep(true));

    EXPECT_TRUE(waitUntil([this] { return noThreadAdded(); })) << "the listener and the procedure wait for each other";
    EXPECT_TRUE(bus_.waitForDelayLocks(0));
    EXPECT_FALSE(IsWindow(window.window()));
    window.quit(0);
}

TEST_F(PowerEventsFromLogind, aRestartedBusIsConnectedAgainAndTheNextSuspendStillReachesTheWindow) {
    WindowThread window(className);
    ASSERT_TRUE(bus_.waitForDelayLocks(1));
    ASSERT_TRUE(bus_.restart());
    EXPECT_TRUE(bus_.waitForDelayLocks(1)) << platform::describePowerEvents();
    EXPECT_TRUE(onlyTheListenerAdded());
    ASSERT_TRUE(bus_.emitPrepareForSleep(true));
    ASSERT_TRUE(waitForEvents(1)) << "the suspend went unheard: " << platform::describePowerEvents();
    EXPECT_EQ(recorded(), std::vector<WPARAM>{PBT_APMSUSPEND});
    window.quit(0);
}

TEST_F(PowerEvents, withoutLogindTheListenerEndsAndWindowsStillWork) {
    LogindBus busWithoutLogind(false);
    ASSERT_TRUE(busWithoutLogind.ready());
    WindowThread window(className);
    ASSERT_NE(window.window(), nullptr);

    EXPECT_TRUE(waitUntil([this] { return noThreadAdded(); })) << "the listener stayed without logind";
    EXPECT_TRUE(contains(platform::describePowerEvents(), "off: no logind")) << platform::describePowerEvents();
    EXPECT_TRUE(IsWindow(window.window()));
    window.quit(0);
}

TEST_F(PowerEvents, withoutASystemBusNoThreadStartsAndWindowsStillWork) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/viri-no-bus", 1);
    WindowThread window(className);
    ASSERT_NE(window.window(), nullptr);

    EXPECT_TRUE(noThreadAdded());
    EXPECT_TRUE(contains(platform::describePowerEvents(), "off: no system bus")) << platform::describePowerEvents();
    window.quit(0);
}

TEST(PowerEventsSource, theSimulatorsBuildSaysThatItHasNone) {
    EXPECT_TRUE(contains(platform::describePowerEvents(), "off: no power event source"));
}
