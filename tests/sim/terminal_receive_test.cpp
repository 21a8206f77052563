// The terminal as a receiver, in virtual time: the control's sessions, lost acknowledgements,
// re-sent frames, bad frames, and test frames, with the exact bytes and times it answers.
#include <gtest/gtest.h>

#include "TerminalFixture.h"

namespace korvel::sim::test {
namespace {

using Receive = TerminalTest;

// One clean exchange as the control drives it: the ENQ and the frame are acknowledged after
// the 20 ms reply pause, the EOT commits the message, and the reply session opens 100 ms
// after the EOT.
TEST_F(Receive, CleanExchangeTimings) {
    int calls = 0;
    start();
    term->setResponder([&](const std::string& rq) -> std::optional<std::string> {
        ++calls;
        return "RE:" + rq;
    });
    ctlAt(0, one(ENQ));             // arrives at 1.042 ms; ACK written at 21.042 ms
    ctlAt(42'084, lrcFrame("AB"));  // its LRC arrives at 47.294 ms
    ctlAt(88'336, one(EOT));        // arrives at 89.378 ms
    runMs(191);
    const std::vector<Arrival> want = {
        {22'084, ACK}, {47'294 + 20'000 + kChar, ACK}, {89'378 + 100'000 + kChar, ENQ}};
    EXPECT_EQ(atA, want);
    EXPECT_EQ(term->received(), std::vector<std::string>{"AB"});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(term->stats().framesAcked, 1);
    EXPECT_EQ(term->stats().repliesQueued, 1);
}

TEST_F(Receive, NoiseBeforeStxIsIgnoredAndTextMayHoldEtx) {
    start();
    const std::string text = std::string("A") + ETX + "Z";  // ETX then a byte that is no LRC
    ctlAt(0, one(ENQ));
    ctlAt(42'084, "\xFF\x7F?" + lrcFrame(text));
    runMs(200);
    ASSERT_EQ(timesOf(ACK).size(), 2u);
    const int64_t lrcArrival = arrivalOfLast(42'084, 3 + text.size() + 3);
    EXPECT_EQ(timesOf(ACK)[1], lrcArrival + 20'000 + kChar);
    ctl(one(EOT));
    runMs(10);
    EXPECT_EQ(term->received(), std::vector<std::string>{text});
}

// A wrong LRC gets neither ACK nor NAK.  The control then sends EOT after its 600 ms wait and,
// 1200 ms later, the frame again without ENQ: that frame is taken, acknowledged 20 ms after
// its end, and processed.
TEST_F(Receive, BadLrcIsIgnoredAndTheBareResendIsTaken) {
    start();
    std::string bad = lrcFrame("AB");
    bad.back() ^= 0x01;
    ctlAt(0, one(ENQ));
    ctlAt(42'084, bad);
    ctlAt(642'084, one(EOT));
    runMs(1800);
    EXPECT_EQ(timesOf(ACK).size(), 1u) << "only the ENQ was acknowledged";
    EXPECT_EQ(term->stats().badFrames, 1);
    EXPECT_TRUE(term->received().empty());

    const int64_t resend = 642'084 + 1'220'000;
    ctlAt(resend, lrcFrame("AB"));
    runMs(100);
    ASSERT_EQ(timesOf(ACK).size(), 2u);
    EXPECT_EQ(timesOf(ACK)[1], arrivalOfLast(resend, 5) + 20'000 + kChar);
    ctl(one(EOT));
    runMs(10);
    EXPECT_EQ(term->received(), std::vector<std::string>{"AB"});
    EXPECT_EQ(term->stats().duplicates, 0);
}

// The control missed the terminal's ACK: EOT after 600 ms, the same frame 1220 ms later.  The
// re-send is acknowledged again but the responder runs once, and the reply still gets out.
TEST_F(Receive, ResentFrameIsAcknowledgedAgainButProcessedOnce) {
    int calls = 0;
    start();
    term->setResponder([&](const std::string& rq) -> std::optional<std::string> {
        ++calls;
        return rq;
    });
    ctlAt(0, one(ENQ));
    ctlAt(42'084, lrcFrame("AB"));
    ctlAt(642'084, one(EOT));  // commits "AB"; the reply ENQ follows 100 ms after it arrived
    const int64_t resend = 642'084 + 1'220'000;
    ctlAt(resend, lrcFrame("AB"));
    const int64_t ack2 = arrivalOfLast(resend, 5) + 20'000 + kChar;
    ctlAt(ack2 + 20'000, one(EOT));
    runMs(2600);
    EXPECT_EQ(timesOf(ACK), (std::vector<int64_t>{22'084, 68'336, ack2}));
    EXPECT_EQ(term->received(), std::vector<std::string>{"AB"});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(term->stats().duplicates, 1);
    // The reply's first ENQ fell into the control's retry pause; the second comes after the
    // terminal's own EOT and retry pause.
    const int64_t enq1 = 643'126 + 100'000;
    EXPECT_EQ(timesOf(ENQ), (std::vector<int64_t>{enq1 + kChar, enq1 + 1'800'000 + kChar}));
}

TEST_F(Receive, SameTextAfterANewEnqIsANewMessage) {
    start();
    for (int64_t t0 : {int64_t{0}, int64_t{1'000'000}}) {
        ctlAt(t0, one(ENQ));
        ctlAt(t0 + 42'084, lrcFrame("AB"));
        ctlAt(t0 + 88'336, one(EOT));
    }
    runMs(1200);
    EXPECT_EQ(term->received(), (std::vector<std::string>{"AB", "AB"}));
    EXPECT_EQ(term->stats().duplicates, 0);
}

TEST_F(Receive, MissingEotCommitsAfterTheAckWait) {
    start();
    ctlAt(0, one(ENQ));
    ctlAt(42'084, lrcFrame("AB"));
    const int64_t commitAt = 47'294 + 20'000 + 600'000;  // the ACK's write plus the ACK wait
    std::size_t before = 99, after = 99;
    loop.at(commitAt - 1, [&] { before = term->received().size(); });
    loop.at(commitAt + 1, [&] { after = term->received().size(); });
    runMs(700);
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(after, 1u);
    EXPECT_EQ(term->received(), std::vector<std::string>{"AB"});
    EXPECT_EQ(term->stats().eotMissing, 1);
}

TEST_F(Receive, RepeatedEnqIsAcknowledgedAgainAndEotEndsTheSession) {
    start();
    ctlAt(0, one(ENQ));
    ctlAt(600'000, one(EOT));  // the control missed the ACK
    ctlAt(1'800'000, one(ENQ));
    runMs(1900);
    EXPECT_EQ(timesOf(ACK), (std::vector<int64_t>{22'084, 1'822'084}));
    EXPECT_EQ(term->stats().enqReceived, 2);
    EXPECT_EQ(term->stats().sessionTimeouts, 0);
}

TEST_F(Receive, SessionWithoutFrameTimesOut) {
    start();
    ctlAt(0, one(ENQ));
    const int64_t endAt = kChar + 20'000 + 600'000;  // reply pause plus the wait for a frame
    int64_t before = -1;
    loop.at(endAt - 1, [&] { before = term->stats().sessionTimeouts; });
    runMs(700);
    EXPECT_EQ(before, 0);
    EXPECT_EQ(term->stats().sessionTimeouts, 1);
    EXPECT_TRUE(term->idle());
}

TEST_F(Receive, SilenceEndsAFrameThatNeverChecks) {
    start();
    ctlAt(0, one(ENQ));
    ctlAt(42'084, one(STX) + "ABC");  // no ETX: the frame ends 50 ms after the C
    const int64_t endAt = arrivalOfLast(42'084, 4) + 50'000;
    int64_t before = -1;
    loop.at(endAt - 1, [&] { before = term->stats().badFrames; });
    runMs(200);
    EXPECT_EQ(before, 0);
    EXPECT_EQ(term->stats().badFrames, 1);
    EXPECT_EQ(timesOf(ACK).size(), 1u);
}

// ---- Test framing ---------------------------------------------------------------------------

TEST_F(Receive, TestFrameIsAnsweredAfterTheReplyPauseWithoutSession) {
    start();
    ctl(testFrame("PING"));  // 8 bytes: the last arrives at 8.336 ms
    runMs(100);
    EXPECT_EQ(bytesAtA(), testFrame("OKPING"));
    ASSERT_FALSE(atA.empty());
    EXPECT_EQ(atA.front().us, 8 * kChar + 20'000 + kChar);
    EXPECT_EQ(term->testRequests(), std::vector<std::string>{"PING"});
    EXPECT_EQ(term->stats().testRepliesSent, 1);
    EXPECT_TRUE(term->received().empty());
}

TEST_F(Receive, TestFrameWhoseFirstCrcByteIsAlsoAnLrcIsStillATestFrame) {
    // Find a text whose CRC low byte equals its LRC: the first check byte alone looks like a
    // complete LRC frame.
    std::string text;
    for (int i = 0; i < 100'000 && text.empty(); ++i) {
        const std::string t = "T" + std::to_string(i);
        if ((crcOf(t + ETX) & 0xFF) == lrcOf(t + ETX)) text = t;
    }
    ASSERT_FALSE(text.empty());
    start();
    ctl(testFrame(text));
    runMs(100);
    EXPECT_EQ(bytesAtA(), testFrame("OK" + text));
    EXPECT_EQ(term->stats().framesReceived, 0);
    EXPECT_EQ(term->testRequests(), std::vector<std::string>{text});
}

TEST_F(Receive, TestFrameWithWrongCrcIsDroppedAndTheResponderChoosesTheReply) {
    start();
    std::string bad = testFrame("PING");
    bad.back() ^= 0x10;
    ctl(bad);
    runMs(200);
    EXPECT_EQ(term->stats().badFrames, 1);
    EXPECT_TRUE(term->testRequests().empty());
    term->setTestResponder([](const std::string& rq) -> std::optional<std::string> {
        if (rq == "QUIET") return std::nullopt;
        return "NO";
    });
    ctl(testFrame("QUIET"));
    runMs(100);
    EXPECT_TRUE(atA.empty());
    ctl(testFrame("X"));
    runMs(100);
    EXPECT_EQ(bytesAtA(), testFrame("NO"));
}

}  // namespace
}  // namespace korvel::sim::test
