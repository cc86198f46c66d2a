// Events and the wait functions.
#include "kernel_test_support.h"

#include "kernel/kernel_object.h"
#include "kernel/waiter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

using namespace kernel_test;

namespace {

class KernelWaits : public KernelTest {};

// True once `count` waits are asleep on the object; false if that never happens.
bool waitersArrive(HANDLE object, size_t count) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(generousMilliseconds);
    while (platform::waitingThreadCount(object) != count) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

DWORD WINAPI returnAtOnce(LPVOID) { return 0; }

DWORD WINAPI waitForGo(LPVOID go) { return WaitForSingleObject(static_cast<HANDLE>(go), generousMilliseconds); }

struct OwnerThread {
    HANDLE mutex;
    HANDLE mayEnd;
};

DWORD WINAPI takeMutexThenEnd(LPVOID parameter) {
    auto *owner = static_cast<OwnerThread *>(parameter);
    WaitForSingleObject(owner->mutex, generousMilliseconds);
    WaitForSingleObject(owner->mayEnd, generousMilliseconds);
    return 0;
}

TEST_F(KernelWaits, autoResetEventIsConsumedByOneWaitManualResetStaysSignalled) {
    HANDLE automatic = newEvent(false, true);
    HANDLE manual = newEvent(true, true);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(automatic);
    CloseHandle(manual);
}

TEST_F(KernelWaits, waitAnyReportsTheLowestSignalledIndexAndConsumesOnlyThatObject) {
    HANDLE events[3] = {newEvent(false, false), newEvent(false, true), newEvent(false, true)};
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_FALSE(isSignalled(events[1]));
    EXPECT_TRUE(isSignalled(events[2]));  // consumed here, by this check
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(events[0]));
    ASSERT_TRUE(SetEvent(events[2]));
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    for (HANDLE event : events) CloseHandle(event);
}

TEST_F(KernelWaits, waitAllConsumesEverythingAtOnceOrNothing) {
    HANDLE events[2] = {newEvent(false, true), newEvent(false, false)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(events[1]));
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(isSignalled(events[0]));
    EXPECT_FALSE(isSignalled(events[1]));

    // The same object twice cannot be waited for all at once.
    HANDLE twice[2] = {events[0], events[0]};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (HANDLE event : events) CloseHandle(event);
}

TEST_F(KernelWaits, badArgumentsFailTheWait) {
    HANDLE event = newEvent(true, true);
    HANDLE closed = newEvent(true, true);
    ASSERT_TRUE(CloseHandle(closed));

    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // A signalled object does not rescue a call that names a closed one.
    HANDLE mixed[2] = {event, closed};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    auto reports = platform::takeMisuseReports();
    ASSERT_EQ(reports.size(), 2u) << "each wait on a closed value is reported";
    EXPECT_NE(reports[0].find("WaitForSingleObject on handle " + platform::handleText(closed)), std::string::npos);
    EXPECT_NE(reports[1].find("WaitForMultipleObjects on handle " + platform::handleText(closed)), std::string::npos);

    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, event);
    for (DWORD count : {0u, static_cast<DWORD>(tooMany.size())}) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(count, tooMany.data(), FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    CloseHandle(event);
}

TEST_F(KernelWaits, oneSetEventReleasesOneWaiterOfAnAutoResetEvent) {
    HANDLE event = newEvent(false, false);
    std::atomic<int> released{0};
    HANDLE progress = newEvent(false, false);
    auto waiter = [&] {
        if (WaitForSingleObject(event, generousMilliseconds) == WAIT_OBJECT_0) ++released;
        SetEvent(progress);
    };
    std::thread first(waiter);
    std::thread second(waiter);

    ASSERT_TRUE(SetEvent(event));
    ASSERT_EQ(WaitForSingleObject(progress, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    ASSERT_TRUE(SetEvent(event));
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
    CloseHandle(event);
    CloseHandle(progress);
}

TEST_F(KernelWaits, closingAHandleWhileAnotherThreadWaitsOnItIsSafe) {
    HANDLE watched = newEvent(true, false);
    HANDLE stop = newEvent(true, false);
    DWORD result = 0;
    std::thread waiter([&] {
        HANDLE both[2] = {watched, stop};
        result = WaitForMultipleObjects(2, both, FALSE, generousMilliseconds);
    });
    // Whether the waiter got in before the close or not, it must not crash; once in, it keeps the object alive.
    ASSERT_TRUE(CloseHandle(watched));
    ASSERT_TRUE(SetEvent(stop));
    waiter.join();
    EXPECT_TRUE(result == WAIT_OBJECT_0 + 1 || result == WAIT_FAILED);
    // A wait that came too late named a closed value, which is reported.
    EXPECT_EQ(platform::takeMisuseReports().size(), result == WAIT_FAILED ? 1u : 0u);
    CloseHandle(stop);
}

TEST_F(KernelWaits, aStateChangeWakesOnlyTheThreadsWaitingOnThatObject) {
    HANDLE watched = newEvent(false, false);
    HANDLE other = newEvent(true, false);
    HANDLE otherMutex = CreateMutexA(nullptr, FALSE, nullptr);
    DWORD result = 0;
    uint64_t wakeUps = 0;
    std::thread waiter([&] {
        uint64_t before = platform::wakeUpsOfCurrentThread();
        result = WaitForSingleObject(watched, generousMilliseconds);
        wakeUps = platform::wakeUpsOfCurrentThread() - before;
    });
    EXPECT_TRUE(waitersArrive(watched, 1));

    for (int i = 0; i < 10000; ++i) {
        SetEvent(other);
        ResetEvent(other);
        WaitForSingleObject(otherMutex, 0);
        ReleaseMutex(otherMutex);
    }
    HANDLE ended = CreateThread(nullptr, 0, returnAtOnce, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(ended, generousMilliseconds), WAIT_OBJECT_0);

    ASSERT_TRUE(SetEvent(watched));
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(wakeUps, 1u) << "the waiter was woken by changes of objects it does not wait on";
    for (HANDLE handle : {watched, other, otherMutex, ended}) CloseHandle(handle);
}

// What a wait on other threads returned, and how often a change woke it.
struct WokenWait {
    DWORD result = WAIT_FAILED;
    uint64_t wakeUps = 0;
};

// Starts a wait on another thread, makes the change once the wait is asleep on `watched`, and collects it.
template <class Change>
WokenWait waitWokenBy(DWORD count, const HANDLE *objects, bool waitAll, HANDLE watched, Change change) {
    WokenWait wait;
    std::thread waiter([&] {
        uint64_t before = platform::wakeUpsOfCurrentThread();
        wait.result = WaitForMultipleObjects(count, objects, waitAll ? TRUE : FALSE, generousMilliseconds);
        wait.wakeUps = platform::wakeUpsOfCurrentThread() - before;
    });
    EXPECT_TRUE(waitersArrive(watched, 1));
    change();
    waiter.join();
    return wait;
}

// Each kind of change must wake a thread asleep on the object, exactly once. A missed wake-up would only show as
// a late return at the deadline, so the wake-ups are counted.
TEST_F(KernelWaits, everyKindOfStateChangeWakesAThreadAsleepOnIt) {
    HANDLE event = newEvent(false, false);
    WokenWait wait = waitWokenBy(1, &event, false, event, [&] { SetEvent(event); });
    EXPECT_EQ(wait.result, WAIT_OBJECT_0);
    EXPECT_EQ(wait.wakeUps, 1u) << "SetEvent";

    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    wait = waitWokenBy(1, &mutex, false, mutex, [&] { ReleaseMutex(mutex); });
    EXPECT_EQ(wait.result, WAIT_OBJECT_0);
    EXPECT_EQ(wait.wakeUps, 1u) << "ReleaseMutex";

    // The waiter above ended owning the mutex, which abandoned it; take it back and hand it to a thread that ends.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED_0);
    ReleaseMutex(mutex);
    OwnerThread owner{mutex, newEvent(true, false)};
    HANDLE ownerThread = CreateThread(nullptr, 0, takeMutexThenEnd, &owner, 0, nullptr);
    ASSERT_TRUE(waitersArrive(owner.mayEnd, 1));
    wait = waitWokenBy(1, &mutex, false, mutex, [&] { SetEvent(owner.mayEnd); });
    EXPECT_EQ(wait.result, WAIT_ABANDONED_0);
    EXPECT_EQ(wait.wakeUps, 1u) << "abandonment";

    HANDLE go = newEvent(true, false);
    HANDLE relay = CreateThread(nullptr, 0, waitForGo, go, 0, nullptr);
    ASSERT_TRUE(waitersArrive(go, 1));
    wait = waitWokenBy(1, &relay, false, relay, [&] { SetEvent(go); });
    EXPECT_EQ(wait.result, WAIT_OBJECT_0);
    EXPECT_EQ(wait.wakeUps, 1u) << "thread end";

    // A wait for all is woken by the change that completes it, whichever object that is.
    HANDLE pair[2] = {newEvent(false, true), newEvent(false, false)};
    wait = waitWokenBy(2, pair, true, pair[1], [&] { SetEvent(pair[1]); });
    EXPECT_EQ(wait.result, WAIT_OBJECT_0);
    EXPECT_EQ(wait.wakeUps, 1u) << "wait for all";
    EXPECT_FALSE(isSignalled(pair[0]));

    for (HANDLE handle : {event, mutex, owner.mayEnd, ownerThread, go, relay, pair[0], pair[1]}) CloseHandle(handle);
}

TEST_F(KernelWaits, aWaitLeavesNoRegistrationBehindHoweverItEnds) {
    HANDLE quiet = newEvent(true, false);
    HANDLE woken = newEvent(true, false);
    DWORD result = 0;
    std::thread waiter([&] {
        HANDLE objects[3] = {quiet, woken, quiet};
        result = WaitForMultipleObjects(3, objects, FALSE, generousMilliseconds);
    });
    EXPECT_TRUE(waitersArrive(quiet, 2));
    ASSERT_TRUE(SetEvent(woken));
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
    EXPECT_EQ(platform::waitingThreadCount(quiet), 0u);
    EXPECT_EQ(platform::waitingThreadCount(woken), 0u);

    platform::setTimeScale(0.001);
    EXPECT_EQ(WaitForSingleObject(quiet, 5000), WAIT_TIMEOUT);
    EXPECT_EQ(platform::waitingThreadCount(quiet), 0u);
    // A change after the waiters have gone reaches nobody.
    EXPECT_TRUE(SetEvent(quiet));
    CloseHandle(quiet);
    CloseHandle(woken);
}

}  // namespace
