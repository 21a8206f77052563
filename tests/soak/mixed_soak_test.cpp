// The mixed fault soak at test size: basic payments and the fifteen extended operations over a
// line that damages bytes both ways, each outcome checked against what the simulated terminal
// really sent (tests/support/MixedSoak.h).  bench/soak_mixed runs the same soak at 100,000
// exchanges and more.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/MixedSoak.h"

namespace korvel::soak {
namespace {

// Every invariant of the soak, with the first violations in the failure message.
void expectInvariants(const MixedSoakResult& r) {
    std::string problems;
    for (const std::string& p : r.problems)
        problems += "\n  " + p;
    EXPECT_EQ(r.basic.unexplained + r.extended.unexplained, 0) << "wrong replies" << problems;
    EXPECT_EQ(r.basic.silent + r.extended.silent, 0) << "failures without a tag" << problems;
    EXPECT_EQ(r.sequenceDrifts, 0) << problems;
    EXPECT_EQ(r.terminalSequenceOff, 0) << problems;
    EXPECT_EQ(r.overBound, 0) << "exchanges over their worst case" << problems;
    EXPECT_EQ(r.watchdogFired, 0) << "a wait had to be ended by Escape" << problems;
    EXPECT_EQ(r.problemCount, 0) << problems;
    EXPECT_EQ(r.violations(), 0);
}

// The sanitizers make every yield of the virtual clock some ten times dearer: their runs are
// a quarter of the size, enough to walk every path of the soak under their checks.
#ifdef KORVEL_SOAK_ASAN
constexpr int kSizeDivisor = 4;
#else
constexpr int kSizeDivisor = 1;
#endif

MixedSoakConfig config(uint64_t seed, int exchanges, bool scaled = true) {
    MixedSoakConfig cfg;
    cfg.seed = seed;
    cfg.exchanges = scaled ? exchanges / kSizeDivisor : exchanges;
    cfg.warmup = cfg.exchanges / 5;
    return cfg;
}

void scaleFaults(MixedSoakConfig& cfg, double scale) {
    for (FaultProfile* f : {&cfg.toTerminal, &cfg.toControl}) {
        f->drop *= scale;
        f->corrupt *= scale;
        f->duplicate *= scale;
        f->delay *= scale;
        f->noise *= scale;
    }
    cfg.burstsPerMinute *= scale;
}

TEST(MixedFaultSoak, BasicAndExtendedExchangesOverAFaultyLineBothWays) {
    const MixedSoakConfig cfg = config(20261205, 8000);
    const MixedSoakResult r = runMixedSoak(cfg);
    std::fputs(report(r).c_str(), stdout);
    expectInvariants(r);

    // Every operation ran, and every kind of fault was injected in both directions.
    EXPECT_EQ(r.byOperation.size(), 16u);
    EXPECT_EQ(r.basic.exchanges + r.extended.exchanges, cfg.exchanges);
    for (const SimLine::Counters* n : {&r.toTerminal, &r.toControl}) {
        EXPECT_GT(n->dropped, 0);
        EXPECT_GT(n->corrupted, 0);
        EXPECT_GT(n->duplicated, 0);
        EXPECT_GT(n->delayed, 0);
        EXPECT_GT(n->noise, 0);
    }
    EXPECT_GT(r.bursts[SimLine::A], 0);
    EXPECT_GT(r.bursts[SimLine::B], 0);
    // Reply waits also ran to their end.
    EXPECT_GT(r.basic.timedOut, 0);
    // One damaged byte in a reply frame fails its exchange (no retry reaches a control that
    // has stopped waiting); at one fault in a thousand bytes most exchanges still succeed.
    EXPECT_GT(r.basic.correct, r.basic.exchanges * 85 / 100);
    EXPECT_GT(r.extended.correct, r.extended.exchanges * 80 / 100);
    // Every reply delivered to the host was announced once, and nothing else was.
    EXPECT_EQ(r.receivedEvents, r.basic.exchanges + r.extended.exchanges - r.basic.failed -
                                    r.extended.failed - r.basic.timedOut);

    // Flat memory: after the warm-up the heap stays within a band smaller than what one lost
    // allocation per exchange would add (16 bytes x 1600 exchanges = 25 kB under the
    // sanitizers, four times that otherwise).
    EXPECT_LT(r.memory.heapAtEnd - r.memory.heapAtWarmup, 20 * 1024);
    EXPECT_LT(r.memory.heapMax - r.memory.heapMin, 32 * 1024);
    // The receive buffers hold one frame and its noise, never a backlog.
    EXPECT_LT(r.memory.captureBuffer, 64u);
    EXPECT_LT(r.memory.receiveMessage, 600u);
    EXPECT_LT(r.memory.waitingInput, 64u);
    EXPECT_LT(r.memory.pendingReplies, 8u);
}

// Other seeds: other fault patterns, same invariants.
class MixedFaultSoakSeeds : public ::testing::TestWithParam<uint64_t> {};

TEST_P(MixedFaultSoakSeeds, HoldsTheInvariants) {
    const MixedSoakConfig cfg = config(GetParam(), 1500);
    const MixedSoakResult r = runMixedSoak(cfg);
    expectInvariants(r);
    EXPECT_GT(r.basic.correct + r.extended.correct, cfg.exchanges * 80 / 100);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MixedFaultSoakSeeds, ::testing::Values(1u, 77u, 4242u));

TEST(MixedFaultSoak, TenTimesTheFaultsStillAcceptsNoWrongReply) {
    MixedSoakConfig cfg = config(99, 1500);
    scaleFaults(cfg, 10);
    const MixedSoakResult r = runMixedSoak(cfg);
    expectInvariants(r);
    EXPECT_GT(r.basic.failed + r.extended.failed, cfg.exchanges / 10)
        << "a line this bad fails many exchanges";
}

// A host that sends its next request at once, whatever happened: a reply left behind by a
// failed exchange answers the next request, and the extended exchanges reject it by its
// sequence number.  Replies cross, but the checks hold.
TEST(MixedFaultSoak, BackToBackRequestsCrossRepliesButKeepTheInvariants) {
    MixedSoakConfig cfg = config(31, 2000);
    cfg.settleAfterTroubleMs = 0;
    const MixedSoakResult r = runMixedSoak(cfg);
    expectInvariants(r);
    EXPECT_GT(r.basic.earlier, 0) << "no reply crossed: the test does not test crossing";
    EXPECT_GT(r.extended.tags.count("errorHandlerPOSAutoSequence"), 0u);
}

TEST(MixedFaultSoak, CleanLineAnswersEveryExchangeCorrectly) {
    // Cheap enough at full size everywhere (no faults, no settling but for the unanswered).
    MixedSoakConfig cfg = config(5, 800, false);
    cfg.toTerminal = cfg.toControl = FaultProfile{};
    cfg.burstsPerMinute = 0;
    cfg.unansweredShare = 0.1;
    const MixedSoakResult r = runMixedSoak(cfg);
    expectInvariants(r);
    ASSERT_GT(r.unansweredBasic, 0);
    ASSERT_GT(r.unansweredAuth, 0);
    // Everything answered comes back; a payment left unanswered is a plain time-out of the
    // whole reply wait, an authorisation without its final reply fails with its tag and
    // leaves the sequence number where it was.
    EXPECT_EQ(r.basic.correct, r.basic.exchanges - r.unansweredBasic);
    EXPECT_EQ(r.basic.timedOut, r.unansweredBasic);
    EXPECT_EQ(r.extended.correct, r.extended.exchanges - r.unansweredAuth) << report(r);
    EXPECT_EQ(r.extended.failed, r.unansweredAuth);
    EXPECT_EQ(r.extended.tags.at("errorHandlerPOSAutoMessage"), r.unansweredAuth);
    EXPECT_EQ(r.sequenceAdvances, r.extended.exchanges - r.unansweredAuth);
    EXPECT_EQ(r.receivedEvents, r.basic.correct + r.extended.correct);
    EXPECT_EQ(r.settles, r.unansweredBasic + r.unansweredAuth);
}

}  // namespace
}  // namespace korvel::soak
