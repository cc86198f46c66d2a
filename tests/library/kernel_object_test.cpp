// The owner of the library's kernel objects: each object is released exactly once, empty values never are, and a
// release never changes the code a failed call left in the last error.
#include <gtest/gtest.h>

#include "kernel/kernel_object.h"
#include "port/KernelObject.h"

namespace {

HANDLE newEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(KernelObject, releasesOnceAtScopeEndKeepingTheLastError) {
    size_t before = platform::openHandleCount();
    {
        CKernelHandle event(newEvent());
        ASSERT_TRUE(event);
        EXPECT_EQ(before + 1, platform::openHandleCount());
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(before, platform::openHandleCount());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << "the release overwrote the caller's code";

    CKernelHandle event(newEvent());
    SetLastError(ERROR_ACCESS_DENIED);
    event.Reset();
    EXPECT_FALSE(event);
    EXPECT_EQ(before, platform::openHandleCount());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST(KernelObject, aMovedObjectIsReleasedByItsNewOwnerOnly) {
    size_t before = platform::openHandleCount();
    HANDLE hOther;
    {
        CKernelHandle first(newEvent());
        CKernelHandle second(std::move(first));
        EXPECT_FALSE(first);
        CKernelHandle third;
        third = std::move(second);
        EXPECT_FALSE(second);
        ASSERT_TRUE(third);
        HANDLE hMoved = third.Get();
        third.Reset();
        // Windows hands the freed value out again: a second release by an old owner would close this event.
        hOther = newEvent();
        EXPECT_EQ(hMoved, hOther) << "the platform layer reuses values; the test relies on it";
    }
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hOther, 0)) << "an old owner released the reused value";
    CloseHandle(hOther);
    EXPECT_EQ(before, platform::openHandleCount());
}

TEST(KernelObject, eachKindsEmptyValueIsNeverReleased) {
    size_t before = platform::openHandleCount();
    SetLastError(ERROR_SUCCESS);
    {
        CFileHandle file(INVALID_HANDLE_VALUE);
        CKernelHandle event(nullptr);
        CGlobalBlock block(nullptr);
        EXPECT_FALSE(file);
        EXPECT_FALSE(event);
        EXPECT_FALSE(block);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError()) << "something was released and failed";
    EXPECT_EQ(before, platform::openHandleCount());

    CGlobalBlock block(GlobalAlloc(GHND, 64));
    ASSERT_TRUE(block);
    block.Reset();
    EXPECT_FALSE(block);
}

}  // namespace
