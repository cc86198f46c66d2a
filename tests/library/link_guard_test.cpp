// The lifetime rules of the port state: leases keep a handle open while it is used, and a retired value is never
// reached again, even when Windows gives the same value to a new object.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kernel/kernel_object.h"
#include "port/LinkGuard.h"

namespace {

HANDLE newEvent(BOOL manualReset = TRUE) { return CreateEventA(nullptr, manualReset, FALSE, nullptr); }

// Asked of the handle table, not by a wait: a wait on a closed value is itself a fault the layer reports.
bool isOpen(HANDLE handle) { return platform::lookupHandle(handle) != nullptr; }

TEST(LinkGuard, leasesOnlyWhatItAdoptedAndNeverAValueAfterItsRetirement) {
    CLinkGuard guard;
    HANDLE handle = newEvent();
    SetLastError(0);
    EXPECT_FALSE(guard.Lease(handle));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());

    guard.Adopt(handle);
    {
        CHandleLease lease = guard.Lease(handle);
        ASSERT_TRUE(lease);
        EXPECT_EQ(handle, lease.Get());
    }
    EXPECT_TRUE(guard.Retire(handle));
    EXPECT_FALSE(isOpen(handle)) << "retiring closes the handle";
    EXPECT_FALSE(guard.Retire(handle));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());

    // Windows hands the value to the next object; a lease by the stale value must not reach it.
    HANDLE reused = newEvent();
    EXPECT_EQ(handle, reused);
    EXPECT_FALSE(guard.Lease(handle));
    CloseHandle(reused);
}

TEST(LinkGuard, matchesHandlesByTheirLow32BitsAsJavaPassesThem) {
    CLinkGuard guard;
    HANDLE handle = newEvent();
    guard.Adopt(handle);
    auto widened = reinterpret_cast<HANDLE>(
        static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)))));
    EXPECT_TRUE(guard.Lease(widened));
    EXPECT_TRUE(guard.Retire(widened));
    EXPECT_FALSE(guard.Lease(nullptr));
    EXPECT_FALSE(guard.Lease(INVALID_HANDLE_VALUE));
}

TEST(LinkGuard, retirementWaitsForTheLeaseHolderBeforeClosing) {
    CLinkGuard guard;
    HANDLE handle = newEvent();
    guard.Adopt(handle);
    CHandleLease lease = guard.Lease(handle);
    ASSERT_TRUE(lease);

    std::atomic<bool> retired{false};
    std::thread closer([&] {
        EXPECT_TRUE(guard.Retire(handle));
        retired = true;
    });
    while (guard.IsAdopted(handle)) std::this_thread::yield();
    EXPECT_FALSE(guard.Lease(handle)) << "no new lease once retirement began";
    EXPECT_TRUE(isOpen(handle)) << "the handle stays open while a lease is held";
    EXPECT_FALSE(retired);
    lease = CHandleLease();
    closer.join();
    EXPECT_TRUE(retired);
    EXPECT_FALSE(isOpen(handle));
}

TEST(LinkGuard, withdrawingTheReceiveMachineryWakesAndWaitsForItsReaders) {
    CLinkGuard guard;
    HANDLE stop = newEvent();
    EXPECT_FALSE(CReceiveLease(guard)) << "nothing is offered before the machinery exists";
    guard.OfferReceive();

    // 1 once the reader holds its lease, -1 when it found nothing offered; either way the reader says so, so that
    // the main thread never waits for a lease that will not come.
    std::atomic<int> leased{0};
    std::atomic<bool> left{false};
    std::thread reader([&] {
        CReceiveLease lease(guard);
        leased = lease ? 1 : -1;
        if (!lease) return;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stop, INFINITE));
        left = true;
    });
    while (leased == 0) std::this_thread::yield();
    if (leased != 1) {
        reader.join();
        CloseHandle(stop);
        FAIL() << "the reader found no receive machinery offered";
    }
    guard.WithdrawReceive(stop);
    EXPECT_TRUE(left) << "the withdrawal returns only after the reader has left";
    reader.join();
    EXPECT_FALSE(CReceiveLease(guard)) << "a read that starts afterwards finds nothing";
    CloseHandle(stop);
}

}  // namespace
