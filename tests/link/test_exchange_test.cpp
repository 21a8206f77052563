// The CRC16 test exchange: frame bytes, the four statuses, the written-back deadline, and a
// reply that the receive handler took early.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

std::string testFrame(const std::string& text) {
    return "\x02" + *link::appendTestCrc(text + "\x03");
}

class TestExchange : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    void SetUp() override {
        c.setEventSink(&events);
        peer.ackFrames = false;  // this terminal model answers with a frame, not an ACK
    }
    SimLoop& loop() { return p.simLoop(); }
};

TEST_F(TestExchange, CatalogueCrcAndFrameBytes) {
    EXPECT_EQ(link::testCrc("123456789"), 0xBB3D);
    std::string send = "OK";
    ASSERT_TRUE(c.SendMessageTestK7200(send));
    // "OK" ETX, CRC-16/ARC of those three bytes, low byte first.
    const uint16_t crc = link::testCrc("OK\x03");
    const std::string expected =
        std::string("OK\x03") + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
    EXPECT_EQ(send, expected) << "the argument is written back without STX";
    EXPECT_EQ(p.comm()->written(), "\x02" + expected);
}

TEST_F(TestExchange, OkReply) {
    peer.sendAfter(300'000, testFrame("OK"));
    std::string send = "PING", rec;
    int16_t status = -1;
    int32_t timeout = 2000;
    const int32_t startTick = loop().tick();
    c.MessageTestK7200(send, rec, status, timeout);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rec, "OK\x03");
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_TRUE(events.errors.empty());
    // The variable holds the last silence deadline, a tick, not the duration it held.
    EXPECT_EQ(timeout, loop().tick() - 1);
    EXPECT_GT(timeout, startTick + 300);
    EXPECT_EQ(c.comm().rThreshold(), 0) << "notifications stay off";
}

TEST_F(TestExchange, CorruptCrcReportsOnlyThroughTheStatus) {
    std::string bad = testFrame("OK");
    bad.back() ^= 0x01;
    peer.sendAfter(100'000, bad);
    std::string send = "PING", rec;
    int16_t status = -1;
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 69);
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(TestExchange, ReplyNotBeginningWithOk) {
    peer.sendAfter(100'000, testFrame("NO"));
    std::string send = "PING", rec;
    int16_t status = -1;
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rec, "NO\x03");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerRecMessageTestK7200");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerRecMessageTestK7200"});
}

TEST_F(TestExchange, ShortReply) {
    peer.sendAfter(100'000, "\x02OK");
    std::string send = "PING", rec;
    int16_t status = -1;
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 69);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerRecMessageTestK7200");
}

TEST_F(TestExchange, NoReplyWithinTheTimeout) {
    std::string send = "PING", rec = "stale";
    int16_t status = -1;
    int32_t timeout = 700;
    const int64_t t0 = loop().nowUs();
    const int32_t tick0 = loop().tick();
    c.MessageTestK7200(send, rec, status, timeout);
    EXPECT_EQ(status, 72);
    EXPECT_EQ(rec, "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerRecMessageTestK7200");
    EXPECT_EQ(timeout, tick0 + 1 + 700) << "the deadline after the one yield of the exchange";
    EXPECT_EQ(loop().nowUs() - t0, 702'000);
}

TEST_F(TestExchange, ReplyTakenEarlyByTheHandlerIsUsed) {
    ASSERT_TRUE(c.CommOpen());
    peer.send("zz" + testFrame("OK!"));
    loop().runFor(20'000);
    ASSERT_FALSE(c.linkState().CaptureBuffer.empty());
    std::string rec;
    int16_t status = -1;
    int32_t timeout = 5000;
    const int64_t t0 = loop().nowUs();
    c.RecMessageTestK7200(rec, status, timeout);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rec, "OK!\x03");
    EXPECT_EQ(loop().nowUs() - t0, 51'000) << "no first-character wait, only the silence";
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
}

TEST_F(TestExchange, ClosedPortAndFailedSend) {
    std::string rec;
    int16_t status = -1;
    c.RecMessageTestK7200(rec, status);
    EXPECT_EQ(status, 72);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerRecMessageTestK7200");

    events.errors.clear();
    p.missingPorts.insert(1);
    std::string send = "PING";
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 72);
    EXPECT_EQ(send, "PING") << "nothing appended when the port did not open";
    EXPECT_EQ(events.errors,
              (std::vector<std::string>{"errorHandlerCommOpen", "errorHandlerSendMessageTestK7200",
                                        "errorHandlerMessageTestK7200"}));
    c.setErrorEnabled(false);
    events.errors.clear();
    c.MessageTestK7200(send, rec, status);
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerMessageTestK7200");
}

}  // namespace
}  // namespace korvel
