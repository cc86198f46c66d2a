// Mutex ownership, recursion, release by a non-owner, and abandonment.
#include "kernel_test_support.h"

#include <thread>

using namespace kernel_test;

namespace {

class KernelMutex : public KernelTest {};

DWORD WINAPI takeAndEnd(LPVOID mutex) { return WaitForSingleObject(static_cast<HANDLE>(mutex), 0); }

TEST_F(KernelMutex, ownerWaitsRecursivelyAndMustReleaseAsOften) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);

    DWORD otherResult = 0;
    auto tryFromOtherThread = [&] {
        std::thread other([&] { otherResult = WaitForSingleObject(mutex, 0); });
        other.join();
        return otherResult;
    };
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(tryFromOtherThread(), WAIT_TIMEOUT);  // still held once
    EXPECT_TRUE(ReleaseMutex(mutex));

    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(mutex);
}

TEST_F(KernelMutex, aNonOwnerCannotRelease) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    BOOL released = TRUE;
    DWORD error = 0;
    std::thread other([&] {
        released = ReleaseMutex(mutex);
        error = GetLastError();
    });
    other.join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(KernelMutex, anOwnerThatEndsAbandonsTheMutexToTheNextWaitOnly) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, takeAndEnd, mutex, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, generousMilliseconds), WAIT_OBJECT_0);
    DWORD threadResult = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &threadResult));
    ASSERT_EQ(threadResult, WAIT_OBJECT_0);

    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(thread);
    CloseHandle(mutex);
}

TEST_F(KernelMutex, abandonmentByAForeignThreadShowsAtItsIndexInAMultipleWait) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    std::thread foreign([&] { WaitForSingleObject(mutex, 0); });
    foreign.join();

    HANDLE event = newEvent(true, false);
    HANDLE both[2] = {event, mutex};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_ABANDONED_0 + 1);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(event);
    CloseHandle(mutex);
}

TEST_F(KernelMutex, anOwnedMutexBlocksOtherThreadsUntilReleased) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    HANDLE waiting = newEvent(true, false);
    DWORD otherResult = 0;
    std::thread other([&] {
        SetEvent(waiting);
        otherResult = WaitForSingleObject(mutex, generousMilliseconds);
        ReleaseMutex(mutex);
    });
    ASSERT_EQ(WaitForSingleObject(waiting, generousMilliseconds), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    other.join();
    EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    CloseHandle(waiting);
    CloseHandle(mutex);
}

}  // namespace
