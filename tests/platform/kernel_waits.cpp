// Events and the wait functions.
#include "kernel_test_support.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace kernel_test;

namespace {

class KernelWaits : public KernelTest {};

TEST_F(KernelWaits, AutoResetEventIsConsumedByOneWaitManualResetStaysSignalled)
{
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

TEST_F(KernelWaits, WaitAnyReportsTheLowestSignalledIndexAndConsumesOnlyThatObject)
{
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

TEST_F(KernelWaits, WaitAllConsumesEverythingAtOnceOrNothing)
{
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

TEST_F(KernelWaits, BadArgumentsFailTheWait)
{
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

    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, event);
    for (DWORD count : {0u, static_cast<DWORD>(tooMany.size())}) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(count, tooMany.data(), FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    CloseHandle(event);
}

TEST_F(KernelWaits, OneSetEventReleasesOneWaiterOfAnAutoResetEvent)
{
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

TEST_F(KernelWaits, ClosingAHandleWhileAnotherThreadWaitsOnItIsSafe)
{
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
    CloseHandle(stop);
}

}  // namespace
