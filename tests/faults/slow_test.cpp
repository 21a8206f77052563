// A very slow terminal at the edge of every link time-out, in real time on a pseudo-terminal.
// Each wait is tried with the terminal answering at 60 % of its time-out (the exchange goes
// through) and at 160 % (the wait ends by its time-out with its step's tag).  The margins are
// hundreds of milliseconds, so the load of the machine cannot flip a result; the exact edges
// are tested in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>

#include "faults/FaultRig.h"
#include "korvelcom/KorvelComTools.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using test::Clock;
using test::MasterPeer;
using test::msSince;

constexpr int16_t kPort = 25;
constexpr int32_t kWaitChar = 800;
constexpr int32_t kBetweenChar = 400;
constexpr int32_t kRetryPause = 100;
const std::string kReply =
    "01"
    "0"
    "00000001"
    "1"
    "SLOW BUT ON TIME";

int32_t percentOf(int32_t ms, int percent) {
    return ms * percent / 100;
}

class SlowTerminalBase : public ::testing::Test {
  protected:
    void SetUp() override {
        c.setEventSink(&events);
        c.setCommPort(kPort);
        c.setCommSettings("9600,n,8,1");
        c.setTOwaitChar(kWaitChar);
        c.setTOBetweenChar(kBetweenChar);
        c.setTOwaitRetry(kRetryPause);
        // One attempt only: a late answer must show as the failure of that very wait.
        c.setRetrySession(1);
        c.setRetryData(1);
    }
    void TearDown() override { PortMap::set(kPort, ""); }

    /// A payment; returns how long it took.
    double pay() {
        const auto t0 = Clock::now();
        reply = c.POSMessage();
        return msSince(t0);
    }

    test::FaultPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    std::string reply;
};

// ---- acknowledgements: a scripted terminal that takes its time to answer ------------------

enum class Late { SessionAck, FrameAck };

struct AckEdge {
    const char* name;
    Late which;
    int percent;          ///< when the ACK comes, in percent of TOwaitChar
    const char* failTag;  ///< nullptr: the payment goes through
};

void PrintTo(const AckEdge& e, std::ostream* os) {
    *os << e.name;
}

class SlowAck : public SlowTerminalBase, public ::testing::WithParamInterface<AckEdge> {
  protected:
    void SetUp() override {
        SlowTerminalBase::SetUp();
        PortMap::set(kPort, pty.slavePath());
        c.setPOSTimeout(3000);
    }
    void TearDown() override {
        peer.join(true);
        SlowTerminalBase::TearDown();
    }
    Pty pty;
    MasterPeer peer{pty};
};

TEST_P(SlowAck, AnswerInsideTheWaitGoesThroughOutsideFailsItsStep) {
    const AckEdge e = GetParam();
    const int32_t delay = percentOf(kWaitChar, e.percent);
    bool eotAfterMiss = false;  // the session was closed with EOT
    peer.start([&](MasterPeer& t) {
        if (!t.awaitByte(link::ENQ, 5000)) return;
        if (e.which == Late::SessionAck) t.pause(delay);
        t.sendByte(link::ACK);
        // The control closes the session with EOT either way: when its ACK wait ran out, or
        // after the frame was acknowledged.
        if (e.which == Late::SessionAck && e.failTag != nullptr) {
            eotAfterMiss = t.awaitByte(link::EOT, 3000);
            return;
        }
        if (t.awaitFrame(5000).empty()) return;
        if (e.which == Late::FrameAck) t.pause(delay);
        t.sendByte(link::ACK);
        eotAfterMiss = t.awaitByte(link::EOT, 3000);
        if (e.failTag == nullptr && eotAfterMiss) {
            t.pause(100);
            test::sendReply(t, kReply);
        }
    });
    const double ms = pay();
    peer.join();
    std::printf(
        "[ figures  ] %s: ACK after %d ms (TOwaitChar %d): payment %s in %.0f ms, "
        "tag \"%s\"\n",
        e.name, delay, kWaitChar, reply.empty() ? "failed" : "succeeded", ms,
        c.ReceiveError().c_str());

    EXPECT_TRUE(eotAfterMiss);
    if (e.failTag == nullptr) {
        EXPECT_EQ(reply, kReply);
        EXPECT_EQ(c.ReceiveError(), "");
        EXPECT_TRUE(events.errors.empty());
    } else {
        EXPECT_EQ(reply, "");
        EXPECT_EQ(c.ReceiveError(), e.failTag);
        EXPECT_EQ(events.errors.back(), e.failTag);
        // The session attempt that ended there was the only one.
        EXPECT_EQ(std::count(peer.received().begin(), peer.received().end(), link::ENQ), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SlowAck,
    ::testing::Values(AckEdge{"session ACK at 60%", Late::SessionAck, 60, nullptr},
                      AckEdge{"session ACK at 160%", Late::SessionAck, 160,
                              "errorHandlerOpenSession"},
                      AckEdge{"frame ACK at 60%", Late::FrameAck, 60, nullptr},
                      AckEdge{"frame ACK at 160%", Late::FrameAck, 160, "errorHandlerSendMessage"}),
    [](const ::testing::TestParamInfo<AckEdge>& info) {
        return std::string(info.param.which == Late::SessionAck ? "Session" : "Frame") + "AckAt" +
               std::to_string(info.param.percent) + "Percent";
    });

// ---- the reply: the simulated terminal with its slow behaviours -------------------------

enum class Slow { CharacterGaps, ReplyDelay };

struct ReplyEdge {
    Slow what;
    int percent;  ///< the gap or delay, in percent of TOBetweenChar or POSTimeout
    bool received;
};

void PrintTo(const ReplyEdge& e, std::ostream* os) {
    *os << (e.what == Slow::CharacterGaps ? "reply characters spaced at " : "reply delayed to ")
        << e.percent << "%";
}

constexpr int32_t kReplyTimeout = 1000;

class SlowReply : public SlowTerminalBase, public ::testing::WithParamInterface<ReplyEdge> {
  protected:
    void SetUp() override {
        SlowTerminalBase::SetUp();
        PortMap::set(kPort, line.slavePath());
        c.setPOSTimeout(kReplyTimeout);
    }
    /// The terminal with the options of `e`.
    std::unique_ptr<sim::Terminal> terminal(const ReplyEdge& e) {
        sim::TerminalOptions o;
        if (e.what == Slow::CharacterGaps) {
            o.behaviours.split = true;
            o.splitPieces = 3;
            o.splitGapMs = percentOf(kBetweenChar, e.percent);
        } else {
            // Its ENQ comes `processingDelayMs + slowDelayMs` after the control's EOT; the
            // control starts the reply wait one reply pause (20 ms) after that EOT.
            o.behaviours.slow = true;
            o.slowDelayMs = percentOf(kReplyTimeout, e.percent) - o.processingDelayMs + 20;
        }
        auto t = std::make_unique<sim::Terminal>(c.platform().loop(), line, o);
        t->setResponder(sim::paymentReply);
        return t;
    }
    sim::PtyPort line{p.loop()};
};

TEST_P(SlowReply, InsideTheTimeOutIsReceivedOutsideEndsTheWait) {
    const ReplyEdge e = GetParam();
    auto t = terminal(e);
    c.setPOSAmount("00004200");
    const int32_t tick0 = c.platform().loop().tick();
    const double ms = pay();
    const int32_t ticks = tickAdd(c.platform().loop().tick(), -tick0);
    std::printf("[ figures  ] %s at %d%%: payment %s in %.0f ms, tag \"%s\"\n",
                e.what == Slow::CharacterGaps ? "reply characters spaced" : "reply delayed",
                e.percent, reply.empty() ? "failed" : "succeeded", ms, c.ReceiveError().c_str());

    if (e.received) {
        ASSERT_EQ(reply.size(), 80u) << c.ReceiveError();
        EXPECT_EQ(c.EFTposAmount(), "00004200");
        EXPECT_EQ(c.EFTposStat(), std::string(1, sim::kPaymentAccepted));
        EXPECT_EQ(c.ReceiveError(), "");
        return;
    }
    EXPECT_EQ(reply, "");
    EXPECT_EQ(c.EFTposStat(), " ");
    if (e.what == Slow::CharacterGaps) {
        // A gap longer than TOBetweenChar ends the reception after the first piece: the frame
        // is incomplete and its failure ends the reply wait before the time-out.
        EXPECT_EQ(c.ReceiveError(), "errorHandlerReceivePacket");
        EXPECT_LT(ticks, kReplyTimeout);
        EXPECT_EQ(t->stats().messagesSent, 0) << "the cut frame was acknowledged";
        return;
    }
    // A reply after the time-out: the wait ran out, quietly.
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_GE(ticks, kReplyTimeout);
    // The late reply still arrives when the host yields again; the payment had deferred its
    // event, so it is only stored.
    const auto t0 = Clock::now();
    while (c.ReceiveMessage().empty() && msSince(t0) < 5000)
        c.platform().loop().yield();
    EXPECT_EQ(c.ReceiveMessage().size(), 80u);
    EXPECT_EQ(events.received, 0);
}

INSTANTIATE_TEST_SUITE_P(Edges, SlowReply,
                         ::testing::Values(ReplyEdge{Slow::CharacterGaps, 60, true},
                                           ReplyEdge{Slow::CharacterGaps, 160, false},
                                           ReplyEdge{Slow::ReplyDelay, 60, true},
                                           ReplyEdge{Slow::ReplyDelay, 160, false}),
                         [](const ::testing::TestParamInfo<ReplyEdge>& info) {
                             return std::string(info.param.what == Slow::CharacterGaps
                                                    ? "CharacterGapAt"
                                                    : "ReplyAt") +
                                    std::to_string(info.param.percent) + "Percent";
                         });

}  // namespace
}  // namespace korvel
