// Opening and closing the port, and the CRC16 test exchange, on the simulated port.
#include "link/Rig.h"

namespace korvel::test {
namespace {

TEST_F(Link, CommOpenFlushesAndLetsTheHandlerCollect) {
    ASSERT_TRUE(w->CommInit(0, ""));
    w.peer.arrive("stale");
    ASSERT_TRUE(w->CommOpen());
    EXPECT_EQ(w.comm->inBufferCount(), 0);
    w.peer.arrive("xy");
    EXPECT_EQ(w.st().CaptureBuffer, "xy") << "taken by the handler";
    EXPECT_TRUE(w->CommClose());
    EXPECT_FALSE(w.comm->portOpen());
    restart();
    w.peer.arrive("lost");
    EXPECT_EQ(w.trace(), "") << "a closed port neither keeps nor logs what arrives";
    EXPECT_FALSE(w->CommClose()) << "a closed port refuses the read of Input";
    EXPECT_EQ(w.events.errors, Tags{"errorHandlerCommClose"});
}

std::string testFrame(const std::string& text) {
    return "\x02" + *link::appendTestCrc(text + "\x03");
}

TEST_F(Link, TestExchange) {
    std::string corrupt = testFrame("OK");
    corrupt.back() ^= 1;
    const std::tuple<std::string, int16_t, std::string, bool> rows[] = {
        // reply, status, rec, tag?
        {testFrame("OK"), 0, "OK\x03", false}, {corrupt, 69, "OK\x03", false},
        {testFrame("NO"), 1, "NO\x03", true},  {"\x02OK", 69, "OK", true},
        {"OK\x03\x10\x20", 69, "", true},      {"", 72, "", true},
    };
    w.peer.ackFrames = false;  // this terminal model answers with a frame, not an ACK
    for (const auto& [reply, status0, rec0, tagged] : rows) {
        SCOPED_TRACE(WireLog::describe(reply));
        restart();
        if (!reply.empty()) w.peer.sendAfter(300'000, reply);
        std::string send = "PING", rec = "stale";
        int16_t status = -1;
        int32_t timeout = 700;
        const int32_t tick0 = loop().tick();
        w->MessageTestK7200(send, rec, status, timeout);
        EXPECT_EQ(w.p.wire().bytes(WireLog::Dir::Out), "\x02" + send);
        EXPECT_EQ(send, *link::appendTestCrc("PING\x03"));
        EXPECT_EQ(std::tie(status, rec), std::tie(status0, rec0));
        EXPECT_EQ(w.events.errors, tagged ? Tags{"errorHandlerRecMessageTestK7200"} : Tags{});
        // The variable holds a deadline tick: the last silence's, or the first character's.
        EXPECT_EQ(timeout, reply.empty() ? tick0 + 701 : loop().tick() - 1);
        EXPECT_EQ(w.comm->rThreshold(), 0) << "notifications stay off";
        loop().runFor(100'000);
    }
}

TEST_F(Link, TestExchangeWithAReplyTakenEarlyAndWithoutAPort) {
    ASSERT_TRUE(w->CommOpen());
    w.peer.arrive("zz" + testFrame("OK!"));
    std::string rec, send = "PING";
    int16_t status = -1;
    int32_t timeout = 5000;
    const int64_t t0 = w.nowUs();
    w->RecMessageTestK7200(rec, status, timeout);
    EXPECT_EQ(std::tie(rec, status), std::tuple("OK!\x03", 0));
    EXPECT_EQ(w.nowUs() - t0, 51'000) << "no first-character wait, only the silence";
    EXPECT_TRUE(w->CommClose());
    w->RecMessageTestK7200(rec, status, timeout);
    EXPECT_EQ(status, 72);
    w.p.missingPorts.insert(1);
    w->MessageTestK7200(send, rec, status, timeout);
    EXPECT_EQ(w.events.errors,
              (Tags{"errorHandlerRecMessageTestK7200", "errorHandlerCommOpen",
                    "errorHandlerSendMessageTestK7200", "errorHandlerMessageTestK7200"}));
}

}  // namespace
}  // namespace korvel::test
