// Link waits in virtual time: exact durations, the single yield of a passed deadline, Escape,
// handlers running inside yields, and the tick's wrap.
#include <gtest/gtest.h>

#include <climits>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

class Waits : public ::testing::Test {
  protected:
    explicit Waits(int32_t startTick = 1'000'000) : p(startTick), c(p) {}
    SimPlatform p;
    KorvelComTools c;
    SimLoop& loop() { return p.simLoop(); }
};

TEST_F(Waits, WaitTimeoutEndsAtTheFirstTickPastTheDeadline) {
    const int32_t start = loop().tick();
    c.WaitTimeout(start + 250);
    EXPECT_EQ(loop().tick(), start + 251);
    EXPECT_EQ(loop().nowUs(), 251'000);
}

TEST_F(Waits, PassedDeadlineOrDurationReturnsAfterOneYield) {
    loop().runFor(3'000);
    for (int32_t deadline : {loop().tick(), loop().tick() - 1, 500, 0, -5}) {
        const int64_t before = loop().yields();
        c.WaitTimeout(deadline);
        EXPECT_EQ(loop().yields() - before, 1) << "deadline " << deadline;
    }
}

TEST_F(Waits, RetryAndReplyPausesLastTheirParameter) {
    int64_t t0 = loop().nowUs();
    c.WaitTORetry();
    EXPECT_EQ(loop().nowUs() - t0, 1'201'000);

    c.setTOwaitRetry(0);
    const int64_t y0 = loop().yields();
    c.WaitTORetry();
    EXPECT_EQ(loop().yields() - y0, 1) << "a zero pause is a single pass";

    c.setTOwaitRetry(-50);
    const int64_t y1 = loop().yields();
    c.WaitTORetry();
    EXPECT_EQ(loop().yields() - y1, 1);
}

TEST_F(Waits, EscapeEndsAWaitOnlyWhenEnabled) {
    loop().after(300'000, [this] { loop().setEscape(true); });
    const int64_t t0 = loop().nowUs();
    c.WaitTORetry();
    EXPECT_EQ(loop().nowUs() - t0, 300'000);

    c.setEscapeKeyEnabled(false);
    const int64_t t1 = loop().nowUs();
    c.WaitTORetry();  // the key is still held
    EXPECT_EQ(loop().nowUs() - t1, 1'201'000);
}

TEST_F(Waits, HandlerChangingTheSwitchDuringAYieldTakesEffectAtOnce) {
    c.setEscapeKeyEnabled(false);
    loop().setEscape(true);
    loop().after(100'000, [this] { c.setEscapeKeyEnabled(true); });
    const int64_t t0 = loop().nowUs();
    c.WaitTimeout(loop().tick() + 1000);
    EXPECT_EQ(loop().nowUs() - t0, 100'000);
}

TEST_F(Waits, ARunningWaitKeepsItsDeadline) {
    loop().after(10'000, [this] { c.setTOwaitRetry(5); });
    const int64_t t0 = loop().nowUs();
    c.WaitTORetry();
    EXPECT_EQ(loop().nowUs() - t0, 1'201'000);
    const int64_t t1 = loop().nowUs();
    c.WaitTORetry();
    EXPECT_EQ(loop().nowUs() - t1, 6'000) << "the next wait uses the new value";
}

TEST_F(Waits, HostWorkRunsInsideWaits) {
    int ran = 0;
    loop().post([&] { ++ran; }, 40);
    c.WaitTimeout(loop().tick() + 100);
    EXPECT_EQ(ran, 1);
}

class WaitsAcrossTheWrap : public Waits {
  protected:
    WaitsAcrossTheWrap() : Waits(INT32_MAX - 100) {}
};

TEST_F(WaitsAcrossTheWrap, DeadlinesBeyondTheWrapAreWaitedInFull) {
    const int64_t t0 = loop().nowUs();
    c.WaitTimeout(tickAdd(loop().tick(), 300));
    EXPECT_EQ(loop().nowUs() - t0, 301'000);
    EXPECT_LT(loop().tick(), 0) << "the tick wrapped during the wait";

    const int64_t t1 = loop().nowUs();
    c.setTOwaitRetry(1200);
    c.WaitTORetry();
    EXPECT_EQ(loop().nowUs() - t1, 1'201'000);
}

TEST(TickArithmetic, ComparesWrapSafe) {
    EXPECT_TRUE(tickPassed(10, 9));
    EXPECT_FALSE(tickPassed(9, 9));
    EXPECT_FALSE(tickPassed(8, 9));
    EXPECT_TRUE(tickPassed(INT32_MIN, INT32_MAX));
    EXPECT_FALSE(tickPassed(INT32_MAX, INT32_MIN));
    EXPECT_EQ(tickAdd(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(tickAdd(5, -10), -5);
}

}  // namespace
}  // namespace korvel
