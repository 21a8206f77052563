// The mixed fault soak at test size (tests/support/MixedSoak.h); bench/soak_mixed runs it big.
#include <gtest/gtest.h>

#include "support/MixedSoak.h"

namespace korvel::soak {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSize = 1;  // the sanitizers make each step of virtual time ten times dearer
#else
constexpr int kSize = 4;
#endif

MixedSoakResult soak(uint64_t seed, int exchanges, double faults, int settleMs = 30000) {
    MixedSoakConfig cfg;
    cfg.seed = seed;
    cfg.exchanges = exchanges * kSize;
    cfg.scaleFaults(faults);
    cfg.settleAfterTroubleMs = settleMs;
    cfg.unansweredShare = faults ? 0.01 : 0.1;
    MixedSoakResult r = runMixedSoak(cfg);
    EXPECT_EQ(r.violations(), 0) << report(r);
    return r;
}

TEST(MixedSoak, FaultyLinesKeepTheLedger) {
    const MixedSoakResult r = soak(20261205, 500, 1);
    // One damaged byte in a reply frame fails its exchange, a lost card reading the payments
    // after it (another operation number); most still succeed, every reply announced once.
    EXPECT_GT(r.basic.correct, r.basic.exchanges * 85 / 100);
    EXPECT_GT(r.extended.correct, r.extended.exchanges * 70 / 100);
    EXPECT_EQ(r.receivedEvents, r.basic.exchanges + r.extended.exchanges - r.basic.failed -
                                    r.extended.failed - r.basic.timedOut);
    const MixedSoakResult worse = soak(99, 300, 10);
    EXPECT_GT(worse.basic.failed + worse.extended.failed, 300 * kSize / 10);
    // A host that does not wait: left-behind replies answer later requests, or are rejected.
    const MixedSoakResult hurried = soak(31, 500, 1, 0);
    EXPECT_GT(hurried.basic.earlier, 0);
    EXPECT_GT(hurried.tags.count("errorHandlerPOSAutoSequence"), 0u);
}

// On a clean line only what is left unanswered on purpose fails: a payment as a plain time-out,
// an authorisation with its tag.
TEST(MixedSoak, CleanLineAccountsForEveryExchange) {
    const MixedSoakResult r = soak(5, 200, 0);
    ASSERT_TRUE(r.unansweredBasic && r.unansweredAuth);
    EXPECT_EQ(r.basic.correct, r.basic.exchanges - r.unansweredBasic);
    EXPECT_EQ(r.basic.timedOut, r.unansweredBasic);
    EXPECT_EQ(r.extended.correct, r.extended.exchanges - r.unansweredAuth);
    EXPECT_EQ(r.tags,
              (std::map<std::string, int64_t>{{"errorHandlerPOSAutoMessage", r.unansweredAuth}}));
    EXPECT_EQ(r.receivedEvents, r.basic.correct + r.extended.correct);
}

}  // namespace
}  // namespace korvel::soak
