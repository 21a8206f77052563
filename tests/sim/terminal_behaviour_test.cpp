// Each selectable behaviour of the terminal, seen on the wire in virtual time.
#include <gtest/gtest.h>

#include <algorithm>

#include "TerminalFixture.h"

namespace korvel::sim::test {
namespace {

class Behaviour : public TerminalTest {
  protected:
    void startWith(std::initializer_list<const char*> names, TerminalOptions o = {}) {
        for (const char* n : names)
            EXPECT_TRUE(applyBehaviour(o.behaviours, n)) << n;
        start(o);
    }
    /// The control sends `text` in a clean session starting at `t0` (the terminal answering
    /// normally), and the EOT after the frame's ACK.
    void controlSends(int64_t t0, const std::string& text) {
        ctlAt(t0, one(ENQ));
        ctlAt(t0 + 42'084, lrcFrame(text));
        ctlAt(t0 + 42'084 + static_cast<int64_t>(text.size() + 3) * kChar + 42'084, one(EOT));
    }
};

TEST_F(Behaviour, NamesParseAndCombine) {
    Behaviours b;
    for (const auto& n : behaviourNames())
        EXPECT_TRUE(applyBehaviour(b, n)) << n;
    EXPECT_EQ(describeBehaviours(b),
              "silent,no-frame-ack,bad-check,noise,slow,split,unsolicited,echo");
    b = {};
    EXPECT_TRUE(applyBehaviour(b, "split"));
    EXPECT_TRUE(applyBehaviour(b, "bad-check"));
    EXPECT_EQ(describeBehaviours(b), "bad-check,split");
    EXPECT_FALSE(applyBehaviour(b, "grumpy"));
    EXPECT_TRUE(applyBehaviour(b, "normal"));
    EXPECT_EQ(describeBehaviours(b), "normal");
}

TEST_F(Behaviour, SilentAnswersNothing) {
    startWith({"silent"});
    controlSends(0, "AB");
    ctlAt(1'000'000, testFrame("PING"));
    runMs(2000);
    EXPECT_TRUE(atA.empty());
    EXPECT_EQ(term->stats().enqIgnored, 1);
    EXPECT_TRUE(term->received().empty());
}

TEST_F(Behaviour, NoFrameAckAcknowledgesEnqButNeverAFrame) {
    startWith({"no-frame-ack"});
    controlSends(0, "AB");
    ctlAt(1'862'084, lrcFrame("AB"));  // the control's re-send without ENQ
    runMs(3000);
    EXPECT_EQ(timesOf(ACK), std::vector<int64_t>{22'084});
    EXPECT_EQ(atA.size(), 1u);
    EXPECT_EQ(term->stats().framesDropped, 2);
    EXPECT_TRUE(term->received().empty());
}

TEST_F(Behaviour, BadCheckCorruptsTheLrcOfReplies) {
    startWith({"bad-check"});
    controlAccepts();
    term->send("HI");
    runMs(200);
    std::string want = lrcFrame("HI");
    want.back() ^= 0x5A;
    const std::string got = bytesAtA();
    ASSERT_GE(got.size(), 1 + want.size());
    EXPECT_EQ(got.substr(1, want.size()), want);
    EXPECT_TRUE(frames.empty()) << "the control cannot accept it";
    EXPECT_TRUE(term->sent().empty());
}

TEST_F(Behaviour, BadCheckCorruptsTheCrcOfTestReplies) {
    startWith({"bad-check"});
    ctl(testFrame("PING"));
    runMs(100);
    std::string want = testFrame("OKPING");
    want[want.size() - 2] ^= 0x5A;
    EXPECT_EQ(bytesAtA(), want);
}

TEST_F(Behaviour, NoisePrecedesTheStxOfReplies) {
    TerminalOptions o;
    o.noiseBytes = "\xFE\x11";
    startWith({"noise"}, o);
    controlAccepts();
    term->send("HI");
    ctlAt(500'000, testFrame("T"));
    runMs(1000);
    const std::string got = bytesAtA();
    EXPECT_EQ(got.substr(0, 4), one(ENQ) + "\xFE\x11" + STX);
    EXPECT_NE(got.find("\xFE\x11" + testFrame("OKT")), std::string::npos);
    EXPECT_EQ(term->sent(), std::vector<std::string>{"HI"}) << "the control skips the noise";
}

TEST_F(Behaviour, SlowDelaysRepliesByItsDelay) {
    TerminalOptions o;
    o.slowDelayMs = 2500;
    startWith({"slow"}, o);
    controlSends(0, "AB");
    runMs(3000);
    const int64_t eotArrival = 42'084 + 5 * kChar + 42'084 + kChar;
    EXPECT_EQ(timesOf(ENQ), std::vector<int64_t>{eotArrival + 100'000 + 2'500'000 + kChar});
}

TEST_F(Behaviour, SplitWritesTheFrameInPiecesUnderTheSilenceTime) {
    TerminalOptions o;
    o.splitPieces = 3;
    o.splitGapMs = 30;
    startWith({"split"}, o);
    controlAccepts();
    term->send("ABCDEFGHI");  // a 12-byte frame in pieces of 4
    runMs(400);
    EXPECT_EQ(frames, std::vector<std::string>{"ABCDEFGHI"});
    EXPECT_EQ(term->sent(), std::vector<std::string>{"ABCDEFGHI"});
    const auto stx = timesOf(STX);
    ASSERT_EQ(stx.size(), 1u);
    std::vector<int64_t> gaps;
    for (std::size_t i = 1; i < atA.size(); ++i)
        if (atA[i].us > stx[0] && atA[i - 1].us >= stx[0] && atA[i].byte != EOT)
            gaps.push_back(atA[i].us - atA[i - 1].us);
    ASSERT_EQ(gaps.size(), 11u);
    EXPECT_EQ(std::count(gaps.begin(), gaps.end(), kChar), 9);
    EXPECT_EQ(gaps[3], 30'000 - 3 * kChar) << "a pause between pieces";
    EXPECT_LT(*std::max_element(gaps.begin(), gaps.end()), 50'000);
}

TEST_F(Behaviour, UnsolicitedEveryPeriodOnlyWhileIdle) {
    TerminalOptions o;
    o.unsolicitedEveryMs = 500;
    o.unsolicitedText = "EVT";
    startWith({"unsolicited"}, o);
    // Nobody answers: the first message's session lasts from 500 ms until it is given up at
    // 5900 ms, and the ticks in between find the terminal busy.
    int64_t queuedBefore = -1;
    loop.at(5'999'000, [&] { queuedBefore = term->stats().unsolicitedQueued; });
    runMs(6100);
    EXPECT_EQ(queuedBefore, 1);
    EXPECT_EQ(term->stats().unsolicitedQueued, 2);
    EXPECT_EQ(timesOf(ENQ).front(), 500'000 + kChar);
    EXPECT_EQ(term->failed(), std::vector<std::string>{"EVT"});
}

TEST_F(Behaviour, EchoOverridesTheResponder) {
    startWith({"echo"});
    term->setResponder([](const std::string&) -> std::optional<std::string> { return "OTHER"; });
    controlAccepts();
    controlSends(0, "PAY 12");
    runMs(600);
    EXPECT_EQ(frames, std::vector<std::string>{"PAY 12"});
}

TEST_F(Behaviour, ResponderWithoutReplyOpensNoSession) {
    start();
    term->setResponder([](const std::string&) { return std::optional<std::string>(); });
    controlSends(0, "AB");
    runMs(2000);
    EXPECT_EQ(term->received(), std::vector<std::string>{"AB"});
    EXPECT_TRUE(timesOf(ENQ).empty());
    EXPECT_TRUE(term->idle());
}

}  // namespace
}  // namespace korvel::sim::test
