// Framed send in virtual time: the frame bytes, sessions, retries and their exact timing.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using link::ACK;
using link::ENQ;
using link::EOT;

struct Sent {
    int64_t us;
    std::string bytes;
    bool operator==(const Sent&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Sent& s) {
    return os << s.us << "us " << WireLog::describe(s.bytes);
}

class FramedSend : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    void SetUp() override { c.setEventSink(&events); }

    // What the control wrote, grouped into bursts with the time of their first byte.
    std::vector<Sent> sent() {
        std::vector<Sent> out;
        int64_t last = -1'000'000;
        for (const auto& e : p.wire().entries()) {
            if (e.dir != WireLog::Dir::Out) continue;
            if (e.timeUs != last) out.push_back({e.timeUs, ""});
            out.back().bytes.push_back(static_cast<char>(e.byte));
            last = e.timeUs;
        }
        return out;
    }
    int64_t now() { return p.simLoop().nowUs(); }
    static std::string one(char c) { return std::string(1, c); }
};

TEST(Frame, BytesOfAFrame) {
    EXPECT_EQ(*link::buildFrame(""), std::string("\x02\x03\x03", 3));
    EXPECT_EQ(*link::buildFrame("AB"), std::string("\x02"
                                                   "AB\x03\x00",
                                                   5));
    EXPECT_FALSE(link::buildFrame(std::string(32767, 'x')));
    EXPECT_TRUE(link::buildFrame(std::string(32766, 'x')));
    // Parsing drops noise before STX and takes the last character as the check.
    EXPECT_EQ(*link::parseFrame(std::string("zz\x02OK\x03\x07", 7)), "OK");
    EXPECT_FALSE(link::parseFrame(std::string("\x02OK\x03\x07\x04", 7)));
    EXPECT_FALSE(link::parseFrame(std::string("\x02\x03\x03", 3))) << "an empty message";
    EXPECT_FALSE(link::parseFrame(std::string("\x02OK\x03\x08", 5)));
    EXPECT_FALSE(link::parseFrame(std::string("\x02OKX\x1B", 5))) << "no ETX, right LRC";
    EXPECT_FALSE(link::parseFrame("OK"));
}

TEST_F(FramedSend, CleanSendTimeline) {
    ASSERT_TRUE(c.SendMessage("AB"));
    // ENQ after the one yield of the gap wait; the ACK arrives after two wire times; 20 ms
    // pauses end at the first tick past their deadline.
    const std::vector<Sent> expected = {{1'000, one(ENQ)},
                                        {24'000, std::string("\x02"
                                                             "AB\x03\x00",
                                                             5)},
                                        {51'000, one(EOT)}};
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(now(), 72'000) << "armed one reply pause after the EOT";
    EXPECT_TRUE(c.linkState().ReceiveArmed);
    EXPECT_EQ(c.linkState().NextCommandTick, p.simLoop().tick() + 100);
    EXPECT_EQ(c.linkState().SessionTriesLeft, 3);
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(peer.received, std::string("\x05\x02"
                                         "AB\x03\x00\x04",
                                         7));
}

TEST_F(FramedSend, NextSendWaitsForTheGapAfterThePrevious) {
    ASSERT_TRUE(c.SendMessage("A"));
    const int64_t end = now();
    ASSERT_TRUE(c.SendMessage("B"));
    EXPECT_EQ(sent()[3].us - end, 101'000) << "the second ENQ waits TOWaitBetweenCommand";
}

TEST_F(FramedSend, TerminalThatNeverAnswersEnq) {
    peer.ackEnq = false;
    EXPECT_FALSE(c.SendMessage("AB"));
    // Each attempt: ENQ, 600 ms for the ACK, EOT, 1200 ms pause.
    const std::vector<Sent> expected = {{1'000, one(ENQ)},     {602'000, one(EOT)},
                                        {1'803'000, one(ENQ)}, {2'404'000, one(EOT)},
                                        {3'605'000, one(ENQ)}, {4'206'000, one(EOT)}};
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(now(), 5'407'000);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerOpenSession"});
    EXPECT_EQ(c.linkState().NextCommandTick, 0) << "unchanged when no session opened";
    EXPECT_FALSE(c.linkState().ReceiveArmed);
}

TEST_F(FramedSend, EnqAcknowledgedButFramesNever) {
    peer.ackFrames = false;
    EXPECT_FALSE(c.SendMessage("AB"));
    std::vector<Sent> expected;
    for (int64_t session : {1'000, 6'673'000, 13'345'000}) {
        expected.push_back({session, one(ENQ)});
        for (int64_t frame : {23'000, 1'846'000, 3'669'000}) {
            expected.push_back({session + frame, *link::buildFrame("AB")});
            expected.push_back({session + frame + 601'000, one(EOT)});
        }
    }
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(now(), 20'017'000) << "a further retry pause after the last session";
    EXPECT_EQ(c.ReceiveError(), "errorHandlerSendMessage");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerSendMessage"});
    EXPECT_EQ(c.linkState().NextCommandTick, p.simLoop().tick() + 100);
    EXPECT_FALSE(c.linkState().ReceiveArmed);
}

TEST_F(FramedSend, LateEnqAckLeavesFewerFrameAttempts) {
    // The terminal answers only the third ENQ: one frame attempt is left in that session.
    int enqs = 0;
    peer.ackEnq = false;
    peer.ackFrames = false;
    p.terminal().setReceiver([&](uint8_t b) {
        if (b == static_cast<uint8_t>(ENQ) && ++enqs == 3) peer.send(one(ACK));
    });
    c.setRetryData(1);
    EXPECT_FALSE(c.SendMessage("x"));
    int frames = 0;
    for (const auto& s : sent())
        frames += s.bytes.size() > 1;
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerSendMessage");
}

TEST_F(FramedSend, RetryCountsBelowOneActAsOne) {
    peer.ackEnq = false;
    c.setRetrySession(0);
    c.setRetryData(-3);
    EXPECT_FALSE(c.SendMessage("x"));
    EXPECT_EQ(sent().size(), 2u) << "one ENQ and its EOT";
}

TEST_F(FramedSend, AckAlreadyTakenByTheHandlerCounts) {
    ASSERT_TRUE(c.CommOpen());
    peer.send(one(ACK));
    p.simLoop().runFor(5'000);
    ASSERT_EQ(c.linkState().CaptureBuffer, one(ACK));
    const int64_t t0 = now();
    EXPECT_TRUE(c.WaitAck());
    EXPECT_EQ(now(), t0) << "no wait at all";
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
    EXPECT_EQ(c.comm().rThreshold(), 1);

    // Only the first captured character counts.
    peer.send("x\x06");
    p.simLoop().runFor(5'000);
    ASSERT_EQ(c.linkState().CaptureBuffer, "x\x06");
    EXPECT_FALSE(c.WaitAck());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerWaitAck");
    EXPECT_TRUE(events.errors.empty()) << "WaitAck stores its tag without an event";
}

TEST_F(FramedSend, WrongFirstAnswerWaitsOutTheWindow) {
    ASSERT_TRUE(c.CommOpen());
    peer.sendAfter(100'000, "N\x06");
    const int64_t t0 = now();
    EXPECT_FALSE(c.WaitAck());
    const auto s = sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0], (Sent{t0 + 601'000, one(EOT)})) << "EOT only when the 600 ms have passed";
    EXPECT_EQ(now() - t0, 1'802'000);
    EXPECT_EQ(c.CommInputLen(), 0) << "the rest of the answer is discarded";
}

TEST_F(FramedSend, SendEnqOnAPortThatWillNotOpen) {
    p.missingPorts.insert(1);
    EXPECT_FALSE(c.SendEnq());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerSendEnq");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerCommOpen"})
        << "the open reports, the ENQ step only stores its tag";
    EXPECT_FALSE(c.SendMessage("x"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_TRUE(p.wire().entries().empty());
}

TEST_F(FramedSend, OverlongMessageIsRefusedBeforeAnythingIsSent) {
    EXPECT_FALSE(c.SendMessage(std::string(40'000, 'x')));
    EXPECT_EQ(events.errors,
              (std::vector<std::string>{"errorHandleraddLRC8toString", "errorHandlerSendMessage"}));
    EXPECT_TRUE(p.wire().entries().empty());
}

TEST_F(FramedSend, EscapeEndsTheGapWaitOnly) {
    ASSERT_TRUE(c.SendMessage("A"));
    p.simLoop().setEscape(true);
    c.setTOwaitReply(0);
    // The gap wait ends at once; the send itself goes on (its waits end early too, but the
    // terminal's answers are already there when polled).
    const int64_t end = now();
    c.SendMessage("B");
    EXPECT_LT(sent()[3].us - end, 2'000);
}

}  // namespace
}  // namespace korvel
