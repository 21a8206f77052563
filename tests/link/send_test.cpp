// Frames, the framed send with its retries, the gap between exchanges, and the waits.
#include <climits>

#include "link/Rig.h"

namespace korvel::test {
namespace {

TEST(Frame, BuildAndParse) {
    EXPECT_EQ(*link::buildFrame(""), std::string("\x02\x03\x03", 3));
    EXPECT_EQ(*link::buildFrame("AB"), std::string("\x02\x41\x42\x03\x00", 5));
    EXPECT_FALSE(link::buildFrame(std::string(32767, 'x')));
    const std::string longest(32766, 'x');
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {std::string("zz\x02OK\x03\x07", 7), "OK"},  // noise before STX is dropped
        {"\x02" + longest + "\x03\x03", longest},
        {"\x02" + longest + "x\x03\x7B", std::nullopt},  // too long to check
        {std::string("\x02\x03\x03", 3), std::nullopt},  // empty message
        {std::string("\x02OK\x03\x08", 5), std::nullopt},
        {std::string("\x02OKX\x1B", 5), std::nullopt},  // no ETX, yet the LRC matches
        {std::string("\x02OK\x03\x07\x04", 6), std::nullopt}};
    for (const auto& [received, text] : rows)
        EXPECT_EQ(link::parseFrame(received), text) << WireLog::describe(received.substr(0, 9));
    EXPECT_EQ(*link::appendTestCrc("123456789"), "123456789\x3D\xBB");
    EXPECT_TRUE(link::appendTestCrc(std::string(32767, 'x')));
    EXPECT_FALSE(link::appendTestCrc(std::string(32768, 'x')));
}

TEST(Send, SessionsAndRetries) {
    struct Row {
        int16_t retrySession, retryData;
        int enqAnswered;  // the terminal acknowledges this ENQ (0: every one, -1: none)
        bool framesAnswered;
        std::string trace;  // each failed answer: EOT after 600 ms, then a 1200 ms pause
        int64_t endMs;
        const char* tag;
    };
    const Row rows[] = {
        {3, 3, 0, true, "1:E 3:a 24:F 30:a 51:T", 72, ""},
        {3, 3, -1, false, "1:E 602:T 1803:E 2404:T 3605:E 4206:T", 5407, "errorHandlerOpenSession"},
        {3, 3, 0, false,
         "1:E 3:a 24:F 625:T 1847:F 2448:T 3670:F 4271:T "
         "6673:E 6675:a 6696:F 7297:T 8519:F 9120:T 10342:F 10943:T "
         "13345:E 13347:a 13368:F 13969:T 15191:F 15792:T 17014:F 17615:T",
         20017, "errorHandlerSendMessage"},
        {3, 1, 3, false, "1:E 602:T 1803:E 2404:T 3605:E 3607:a 3628:F 4229:T", 6631,
         "errorHandlerSendMessage"},
        {0, -3, -1, false, "1:E 602:T", 1803, "errorHandlerOpenSession"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.trace);
        LinkWorld v;
        v.peer.ackEnq = r.enqAnswered == 0;
        v.peer.ackFrames = r.framesAnswered;
        int eots = 0;  // each failed ENQ attempt ends with EOT
        v.peer.onEot = [&] { v.peer.ackEnq |= ++eots == r.enqAnswered - 1; };
        v.st().RetrySession = r.retrySession;
        v.st().RetryData = r.retryData;
        EXPECT_EQ(v->SendMessage("AB"), !*r.tag);
        EXPECT_EQ(v.trace(true), r.trace);
        EXPECT_EQ(v.nowUs() / 1000, r.endMs);
        EXPECT_EQ(v.events.errors, *r.tag ? Tags{r.tag} : Tags{});
        EXPECT_EQ(v.st().NextCommandTick, r.enqAnswered < 0 ? 0 : v.p.simLoop().tick() + 100)
            << "the gap starts only after a session opened";
    }
}

TEST_F(Link, WaitAck) {
    ASSERT_TRUE(w->CommOpen());
    w.peer.arrive("\x06");  // taken by the receive handler before the wait starts
    const int64_t t0 = w.nowUs();
    EXPECT_TRUE(w->WaitAck());
    EXPECT_EQ(w.nowUs(), t0) << "no wait at all";
    w.peer.arrive("x\x06");  // only the first character counts
    EXPECT_FALSE(w->WaitAck());
    EXPECT_EQ(w.st().ReceiveError, "errorHandlerWaitAck");
    restart();
    w.peer.sendAfter(100'000, "N\x06");
    const int64_t t1 = w.nowUs();
    EXPECT_FALSE(w->WaitAck());
    EXPECT_EQ(w.trace(), "x4E a T");
    EXPECT_EQ(w.p.wire().entries().back().timeUs - t1, 601'000) << "EOT once the window passed";
    EXPECT_EQ(w.events.errors, Tags{}) << "the step stores its tag without an event";
}

TEST_F(Link, PortThatWillNotOpenOrMessageTooLong) {
    w.p.missingPorts.insert(1);
    EXPECT_FALSE(w->SendEnq());
    EXPECT_EQ(w.st().ReceiveError, "errorHandlerSendEnq") << "stored without an event";
    EXPECT_FALSE(w->SendMessage("x"));
    EXPECT_EQ(w.events.errors,
              (Tags{"errorHandlerCommOpen", "errorHandlerCommOpen", "errorHandlerCommOpen",
                    "errorHandlerCommOpen", "errorHandlerOpenSession"}));
    w.p.missingPorts.clear();
    restart();
    EXPECT_FALSE(w->SendMessage(std::string(40'000, 'x')));
    EXPECT_EQ(w.events.errors, (Tags{"errorHandleraddLRC8toString", "errorHandlerSendMessage"}));
}

// The gap after an exchange holds the next send, even when the host lowers the parameter
// meanwhile; the first send of a control, and a deadline from before the tick's wrap, do not.
TEST(Gap, KeptAfterAnExchange) {
    for (const int32_t start : {1'000'000, INT32_MAX - 100, -1})
        for (const int32_t gap : {5, 0, -1, 300}) {
            SCOPED_TRACE("start " + std::to_string(start) + ", gap " + std::to_string(gap));
            LinkWorld v(start);
            ASSERT_TRUE(v->SendMessage("A"));
            EXPECT_EQ(v.p.wire().entries().front().timeUs, 1'000) << "the first send: one yield";
            const int64_t endMs = v.nowUs() / 1000;
            v.st().TOWaitBetweenCommand = gap;
            v.p.wire().clear();
            ASSERT_TRUE(v->SendMessage("B"));
            EXPECT_NEAR(v.p.wire().entries().front().timeUs / 1000 - endMs, 100, 1);
        }
}

TEST_F(Link, Waits) {
    const auto lasts = [&](const std::function<void()>& wait) {
        const int64_t t0 = w.nowUs();
        wait();
        return w.nowUs() - t0;
    };
    EXPECT_EQ(lasts([&] { w->WaitTimeout(loop().tick() + 250); }), 251'000);
    EXPECT_EQ(lasts([&] { w->WaitTimeout(500); }), 1'000) << "a passed deadline: one yield";
    for (const auto& [retry, us] :
         {std::pair{5, 6'000}, {0, 1'000}, {-9, 1'000}, {1200, 1'201'000}}) {
        w.st().TOwaitRetry = retry;
        EXPECT_EQ(lasts([&] { w->WaitTORetry(); }), us) << "TOwaitRetry " << retry;
    }
    // Handlers run inside waits: the Escape key, the switch, a new pause.
    loop().after(300'000, [&] { loop().setEscape(true); });
    EXPECT_EQ(lasts([&] { w->WaitTORetry(); }), 300'000) << "Escape";
    w.st().EscapeKeyEnabled = false;
    loop().after(100'000, [&] { w.st().EscapeKeyEnabled = true; });
    EXPECT_EQ(lasts([&] { w->WaitTimeout(loop().tick() + 1000); }), 100'000);
    loop().setEscape(false);
    loop().after(10'000, [&] { w.st().TOwaitRetry = 5; });
    EXPECT_EQ(lasts([&] { w->WaitTORetry(); }), 1'201'000) << "a running wait keeps its deadline";
}

}  // namespace
}  // namespace korvel::test
