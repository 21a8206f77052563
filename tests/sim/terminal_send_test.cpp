// The terminal's own sessions in virtual time: exact bytes and times, the retries when the
// control does not acknowledge, wrong answers, queueing, and the control winning the line.
#include <gtest/gtest.h>

#include "TerminalFixture.h"

namespace korvel::sim::test {
namespace {

using Send = TerminalTest;

TEST_F(Send, SessionBytesAndTimes) {
    start();
    controlAccepts();
    term->send("HI");  // ENQ at once: nothing happened on the line before
    runMs(200);
    std::vector<Arrival> want = {{kChar, ENQ}};
    const std::string frame = lrcFrame("HI");
    const int64_t frameAt = kChar + 20'000 + kChar + 20'000;  // ACK over the line, reply pause
    for (std::size_t i = 0; i < frame.size(); ++i)
        want.push_back({frameAt + static_cast<int64_t>(i + 1) * kChar, frame[i]});
    const int64_t lrcAt = want.back().us;
    want.push_back({lrcAt + 70'000 + kChar + 20'000 + kChar, EOT});
    EXPECT_EQ(atA, want);
    EXPECT_EQ(term->sent(), std::vector<std::string>{"HI"});
    EXPECT_EQ(term->stats().messagesSent, 1);
    EXPECT_TRUE(term->idle());
}

// Without any ACK: three ENQs, each ended by EOT after 600 ms and followed by 1200 ms of pause,
// then the message is given up.
TEST_F(Send, UnansweredEnqIsTriedThreeTimes) {
    start();
    term->send("HI");
    std::size_t failedEarly = 99;
    loop.at(5'400'000 - 1, [&] { failedEarly = term->failed().size(); });
    runMs(8000);
    EXPECT_EQ(timesOf(ENQ), (std::vector<int64_t>{kChar, 1'800'000 + kChar, 3'600'000 + kChar}));
    EXPECT_EQ(timesOf(EOT),
              (std::vector<int64_t>{600'000 + kChar, 2'400'000 + kChar, 4'200'000 + kChar}));
    EXPECT_EQ(timesOf(STX).size(), 0u);
    EXPECT_EQ(failedEarly, 0u);
    EXPECT_EQ(term->failed(), std::vector<std::string>{"HI"});
    EXPECT_EQ(term->stats().sessionsFailed, 1);
    EXPECT_TRUE(term->idle());
}

// ENQ acknowledged, frame never: three frame tries in each session (the same frame again 1220
// ms after each EOT, without ENQ), a further 1200 ms, then a new session; three sessions.
TEST_F(Send, UnacknowledgedFrameIsResentThenNewSessions) {
    start();
    controlAccepts(true, false);
    term->send("HELLO");
    runMs(25'000);
    const int64_t frame1 = 2 * kChar + 40'000;  // written after the ENQ's ACK and reply pause
    const int64_t session = frame1 + 3 * 1'820'000 - 20'000 + 1'200'000;
    std::vector<int64_t> stx, enq;
    for (int s = 0; s < 3; ++s) {
        enq.push_back(s * session + kChar);
        for (int f = 0; f < 3; ++f)
            stx.push_back(s * session + frame1 + f * 1'820'000 + kChar);
    }
    EXPECT_EQ(timesOf(ENQ), enq);
    EXPECT_EQ(timesOf(STX), stx);
    EXPECT_EQ(timesOf(EOT).size(), 9u);
    EXPECT_EQ(frames, std::vector<std::string>(9, "HELLO"));
    EXPECT_EQ(term->failed(), std::vector<std::string>{"HELLO"});
    EXPECT_EQ(term->stats().framesSent, 9);
    EXPECT_EQ(term->stats().enqSent, 3);
}

TEST_F(Send, OnlyTheFirstByteOfAnAnswerCounts) {
    start();
    ctlAt(kChar + 20'000, "?" + one(ACK));  // a wrong answer, then the ACK too late
    term->send("HI");
    runMs(2000);
    EXPECT_EQ(timesOf(EOT), std::vector<int64_t>{600'000 + kChar})
        << "the wait runs to its end before EOT";
    EXPECT_EQ(timesOf(ENQ), (std::vector<int64_t>{kChar, 1'800'000 + kChar}));
    EXPECT_EQ(timesOf(STX).size(), 0u);
}

TEST_F(Send, QueuedMessagesGoOneSessionAtATimeWithAGap) {
    start();
    controlAccepts();
    term->send("ONE");
    term->send("TWO");
    runMs(1000);
    EXPECT_EQ(frames, (std::vector<std::string>{"ONE", "TWO"}));
    EXPECT_EQ(term->sent(), (std::vector<std::string>{"ONE", "TWO"}));
    const auto eot = timesOf(EOT);
    const auto enq = timesOf(ENQ);
    ASSERT_EQ(enq.size(), 2u);
    ASSERT_EQ(eot.size(), 2u);
    EXPECT_EQ(enq[1] - eot[0], 100'000) << "the processing delay separates two sessions";
}

// Both sides send ENQ at the same moment: the terminal withdraws, serves the control's
// message, and sends its own once the control's session is over.
TEST_F(Send, ControlEnqWinsTheLine) {
    start();
    controlAccepts();
    term->send("MINE");
    ctlAt(0, one(ENQ));
    ctlAt(42'084, lrcFrame("YOURS"));
    ctlAt(42'084 + 7 * kChar + 20'000 + kChar + 20'000, one(EOT));
    runMs(1000);
    EXPECT_EQ(term->received(), std::vector<std::string>{"YOURS"});
    EXPECT_EQ(term->sent(), (std::vector<std::string>{"MINE", "YOURS"}));
    EXPECT_EQ(term->stats().collisions, 1);
    EXPECT_EQ(term->stats().enqSent, 3) << "the withdrawn attempt, then one per message";
}

TEST_F(Send, ControlSessionDuringARetryPauseIsServed) {
    start();
    term->send("MINE");  // unanswered: EOT at 600 ms, pause until 1800 ms
    ctlAt(700'000, one(ENQ));
    ctlAt(742'084, lrcFrame("X"));
    ctlAt(790'000, one(EOT));
    runMs(1900);
    EXPECT_EQ(term->received(), std::vector<std::string>{"X"});
    EXPECT_EQ(timesOf(ENQ), (std::vector<int64_t>{kChar, 1'800'000 + kChar}))
        << "the retry keeps its time";
}

}  // namespace
}  // namespace korvel::sim::test
