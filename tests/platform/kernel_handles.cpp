// Handle values, their reuse, the Java round trip, closing, and the per-thread last error.
#include "kernel_test_support.h"

#include "kernel/kernel_object.h"

#include <cstdint>
#include <thread>

using namespace kernel_test;

namespace {

class CloseCounter : public platform::KernelObject {
public:
    explicit CloseCounter(int &closes) : closes_(closes) {}
    void onLastHandleClosed() override { ++closes_; }

private:
    int &closes_;
};

TEST(KernelHandles, valuesAreMultiplesOfFourAndAClosedValueIsTheNextGivenOut) {
    HANDLE first = newEvent(true, false);
    HANDLE second = newEvent(true, false);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 4, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(second) % 4, 0u);

    ASSERT_TRUE(CloseHandle(first));
    HANDLE reused = newEvent(false, true);
    EXPECT_EQ(reused, first);
    // The stale value now reaches the new, signalled auto-reset event.
    EXPECT_TRUE(isSignalled(first));
    EXPECT_FALSE(isSignalled(reused));

    CloseHandle(reused);
    CloseHandle(second);
}

TEST(KernelHandles, theNewestFreedValueComesBackFirstAndEachReuseIsCounted) {
    HANDLE a = newEvent(true, false);
    HANDLE b = newEvent(true, false);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    size_t reusesBefore = platform::handleReuseCount();
    ASSERT_TRUE(CloseHandle(a));
    ASSERT_TRUE(CloseHandle(b));

    HANDLE first = newEvent(true, false);
    HANDLE second = newEvent(true, false);
    EXPECT_EQ(first, b);
    EXPECT_EQ(second, a);
    EXPECT_EQ(platform::handleReuseCount(), reusesBefore + 2);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(KernelHandles, aValueWidenedFromAJavaIntStillNamesItsObject) {
    HANDLE event = newEvent(true, true);
    ASSERT_NE(event, nullptr);
    auto javaInt = static_cast<int32_t>(reinterpret_cast<intptr_t>(event));
    auto widened = reinterpret_cast<HANDLE>(static_cast<intptr_t>(javaInt));
    EXPECT_TRUE(isSignalled(widened));

    // Upper bits that are not the sign extension of the low half make a different, invalid value.
    auto garbled = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) | (uintptr_t{1} << 40));
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(garbled, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(platform::takeMisuseReports().size(), 1u) << "a wait on a value that is not open is reported";
    CloseHandle(event);
}

TEST(KernelHandles, closingAValueThatIsNotOpenFailsWithInvalidHandle) {
    HANDLE event = newEvent(true, false);
    ASSERT_TRUE(CloseHandle(event));
    for (HANDLE value : {event, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(value));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(KernelHandles, lastHandleClosedRunsOnceAndOpenCountTracksHandles) {
    int closes = 0;
    size_t before = platform::openHandleCount();
    auto object = std::make_shared<CloseCounter>(closes);
    HANDLE a = platform::insertHandle(object);
    HANDLE b = platform::insertHandle(object);
    EXPECT_EQ(platform::openHandleCount(), before + 2);
    EXPECT_EQ(platform::lookupHandleAs<CloseCounter>(a), object);
    // Right object, wrong type: not an event.
    SetLastError(0);
    EXPECT_FALSE(SetEvent(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    ASSERT_TRUE(CloseHandle(a));
    EXPECT_EQ(closes, 0);
    ASSERT_TRUE(CloseHandle(b));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(platform::openHandleCount(), before);
}

TEST(KernelHandles, lastErrorIsPerThreadAndSuccessLeavesItAlone) {
    SetLastError(1234);
    HANDLE event = newEvent(true, false);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), 1234u);

    DWORD seenByOtherThread = 1;
    std::thread other([&] {
        seenByOtherThread = GetLastError();
        SetLastError(99);
    });
    other.join();
    EXPECT_EQ(seenByOtherThread, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
