// A seeded fault soak: thousands of framed exchanges with the simulated terminal over a line
// that corrupts, drops, duplicates and delays bytes.  What must hold: every reply the control
// returns is one the terminal actually sent, every failure leaves its tag or is a plain
// time-out, and no exchange hangs.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "sim/Terminal.h"
#include "sim/TerminalPort.h"

namespace korvel {
namespace {

struct SoakCounts {
    int exchanges = 0, ok = 0, mismatched = 0, failedWithTag = 0, timeouts = 0;
    std::map<std::string, int> tags;
};

SoakCounts soak(uint64_t seed, int exchanges, double faultRate) {
    SimPlatform p(1'000'000, seed);
    const FaultProfile faults{faultRate, faultRate, faultRate, faultRate, 0, 3000};
    p.line().setFaults(SimLine::A, faults);
    p.line().setFaults(SimLine::B, faults);
    KorvelComTools c(p);
    sim::SimLinePort port(p.simLoop(), p.terminal());
    sim::Terminal terminal(p.simLoop(), port);
    std::set<std::string> sentByTerminal;
    terminal.setResponder([&](const std::string& request) -> std::optional<std::string> {
        std::string reply = "R" + request;
        sentByTerminal.insert(reply);
        return reply;
    });

    SoakCounts n;
    for (int i = 0; i < exchanges; ++i) {
        char request[16];
        std::snprintf(request, sizeof request, "MSG%06d", i);
        const int64_t t0 = p.simLoop().nowUs();
        const std::string reply = c.Message(request, 3000);
        // The longest legitimate exchange: three sessions of three frame attempts, then the
        // reply wait.
        EXPECT_LT(p.simLoop().nowUs() - t0, 30'000'000) << "exchange " << i << " hung";
        ++n.exchanges;
        if (!reply.empty()) {
            // The link has no sequence numbers: a late reply to an earlier request can be
            // taken for this one; it is still a text the terminal sent, never a corrupted one.
            EXPECT_EQ(sentByTerminal.count(reply), 1u) << "a reply the terminal never sent";
            if (reply == "R" + std::string(request)) {
                ++n.ok;
            } else {
                ++n.mismatched;
            }
        } else if (!c.ReceiveError().empty()) {
            ++n.failedWithTag;
            ++n.tags[c.ReceiveError()];
        } else {
            ++n.timeouts;
        }
    }
    return n;
}

TEST(FaultSoak, TenThousandExchangesAtOneFaultPerThousandBytes) {
    const SoakCounts n = soak(20261205, 10'000, 0.001);
    std::printf(
        "soak: %d exchanges, %d replied correctly, %d with another request's reply, "
        "%d failed with a tag, %d timed out\n",
        n.exchanges, n.ok, n.mismatched, n.failedWithTag, n.timeouts);
    for (const auto& [tag, count] : n.tags)
        std::printf("  %s: %d\n", tag.c_str(), count);
    EXPECT_EQ(n.exchanges, 10'000);
    // A reception that fails its checks ends the reply wait at once (its tag), while the
    // terminal goes on retrying that reply; it then crosses the next request.  So a share of
    // exchanges fail, and some return the previous request's reply: the basic link has no
    // sequence numbers to tell them apart.  Retries must still carry the large majority.
    EXPECT_GT(n.ok, 8'000) << "retries recover most faults";
    EXPECT_EQ(n.ok + n.mismatched + n.failedWithTag + n.timeouts, n.exchanges);
}

TEST(FaultSoak, CleanLineNeverFails) {
    const SoakCounts n = soak(7, 500, 0.0);
    EXPECT_EQ(n.ok, 500);
}

}  // namespace
}  // namespace korvel
