// Windows' serial time-out rules as the native backend turns them into transfer time-outs: the cases a read's end
// depends on, without a device.
#include <gtest/gtest.h>

#include "linuxdev/serial_timeouts.h"

namespace linuxdev_test {
namespace {

using linuxdev::nextReadTransferMs;
using linuxdev::readLimits;

COMMTIMEOUTS timeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    return t;
}

TEST(SerialTimeouts, theTotalCountsFromTheStartAndTheIntervalOnlyAfterTheFirstByte) {
    auto limits = readLimits(timeouts(20, 10, 100), 5);
    EXPECT_EQ(150u, limits.totalMs);
    bool expired = false;
    EXPECT_EQ(150u, nextReadTransferMs(limits, 0, 0, expired)) << "no interval before the first byte";
    EXPECT_EQ(20u, nextReadTransferMs(limits, 1, 30, expired));
    EXPECT_EQ(10u, nextReadTransferMs(limits, 1, 140, expired)) << "the total's rest is shorter";
    nextReadTransferMs(limits, 1, 150, expired);
    EXPECT_TRUE(expired);
}

TEST(SerialTimeouts, noTimeoutsWaitForeverAndAnOverflowingTotalStaysLong) {
    bool expired = false;
    EXPECT_EQ(0u, nextReadTransferMs(readLimits(timeouts(0, 0, 0), 64), 3, 100000, expired));
    EXPECT_FALSE(expired);
    auto huge = readLimits(timeouts(0, MAXDWORD - 1, 5), 64);
    EXPECT_EQ(MAXDWORD - 1, huge.totalMs) << "clamped, not wrapped round to a short wait";
}

TEST(SerialTimeouts, theMaxdwordCombinations) {
    EXPECT_TRUE(readLimits(timeouts(MAXDWORD, 0, 0), 8).endsAtOnce);
    auto first = readLimits(timeouts(MAXDWORD, MAXDWORD, 300), 8);
    EXPECT_TRUE(first.endsOnFirstBytes);
    EXPECT_EQ(300u, first.totalMs);
    // A constant of MAXDWORD is none of the special cases.
    EXPECT_FALSE(readLimits(timeouts(MAXDWORD, MAXDWORD, MAXDWORD), 8).endsOnFirstBytes);
}

}  // namespace
}  // namespace linuxdev_test
