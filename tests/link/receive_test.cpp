// The receive path in virtual time: terminal sessions, every rejection, unsolicited messages,
// and the waits for a message.
#include <gtest/gtest.h>
#include <malloc.h>

#include <functional>
#include <optional>

#include "korvelcom/KorvelComTools.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using link::ACK;
using link::ENQ;
using link::EOT;

class Receive : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    void SetUp() override {
        c.setEventSink(&events);
        ASSERT_TRUE(c.SendMessage("REQ"));  // arms the receive path
        p.wire().clear();
        peer.received.clear();
        armedAt = now();
    }
    int64_t armedAt = 0;
    SimLoop& loop() { return p.simLoop(); }
    int64_t now() { return loop().nowUs(); }
    // What the control sent since the set-up.
    std::string controlSent() { return p.wire().bytes(WireLog::Dir::Out); }
};

TEST_F(Receive, TerminalSessionStoresTheMessage) {
    peer.replyAfter(200'000, std::string("\x02OK\x03\x07", 5));
    std::string got = c.RecMessage(3000);
    EXPECT_EQ(got, "OK");
    EXPECT_EQ(c.ReceiveMessage(), "OK");
    EXPECT_TRUE(c.linkState().MessageReady);
    EXPECT_EQ(controlSent(), "\x06\x06") << "ACK to the ENQ, ACK to the frame, nothing else";
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_EQ(events.received, 1) << "not deferred: the receive path raises the event";
    EXPECT_TRUE(c.linkState().ReceiveArmed) << "armed again for the next message";
}

TEST_F(Receive, ExchangeTimelineStepByStep) {
    // ENQ 200 ms after the link was armed (arrives 1.042 ms later); ACK after the 20 ms pause;
    // frame (5 bytes) answered at once; ACK after the pause; EOT answered at once; gathering ends
    // 50 ms after the last character; the message is stored one pause later.
    peer.replyAfter(200'000, std::string("\x02OK\x03\x07", 5));
    std::vector<int64_t> ackTimes;
    c.RecMessage(3000);
    for (const auto& e : p.wire().entries())
        if (e.dir == WireLog::Dir::Out) ackTimes.push_back(e.timeUs);
    ASSERT_EQ(ackTimes.size(), 2u);
    EXPECT_EQ(ackTimes[0], armedAt + 222'000);
    // The frame's last byte arrives 6 wire times after the ACK left; the silence after it
    // lasts until the first tick past last + 50 ms.
    const int64_t frameEnd = ackTimes[0] + 6 * 1042;
    EXPECT_EQ(ackTimes[1], (frameEnd / 1000 + 51 + 21) * 1000);
}

TEST_F(Receive, NoiseBeforeStxIsDropped) {
    peer.replyAfter(100'000, std::string("\xFF\x00zz\x02OK\x03\x07", 9));
    EXPECT_EQ(c.RecMessage(3000), "OK");
}

// Heap in use (small blocks and mapped ones), or nothing when the allocator does not tell
// (a sanitizer's allocator).
std::optional<size_t> heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

TEST_F(Receive, AFloodThatNeverFallsSilentKeepsTheReceptionSmall) {
    // The terminal opens its session, then sends a frame start followed by 2 MB of noise, with
    // no silence long enough to end the gathering.  The reception must not hold the flood.
    const auto before = heapInUse();
    {
        const std::string probe(4 << 20, 'x');
        const auto during = heapInUse();
        if (!before || !during || *during < *before + (4 << 20))
            GTEST_SKIP() << "this allocator does not report its use";
    }
    // 1 KB every millisecond at 1 us a character: the line never pauses, and the simulated
    // wire holds only one chunk at a time, so the heap shows what the control keeps.
    p.terminal().setCharTimeUs(1);
    constexpr size_t kFlood = 1 << 20;
    constexpr size_t kChunk = 1 << 10;
    std::optional<size_t> peak;
    size_t sent = 0;
    std::function<void()> feed = [&] {
        p.wire().clear();  // the test's own record of the line is not the control's memory
        std::string chunk(kChunk, '\x55');
        if (sent == 0) chunk[0] = link::STX;
        peer.send(chunk);
        sent += kChunk;
        if (sent < kFlood)
            loop().after(static_cast<int64_t>(kChunk), feed);
        else  // measured while the last characters arrive, before the silence ends it
            loop().after(static_cast<int64_t>(kChunk) - 10, [&] { peak = heapInUse(); });
    };
    peer.onAck = [&] {
        peer.onAck = nullptr;
        feed();
    };
    peer.sendAfter(1000, std::string(1, ENQ));
    EXPECT_EQ(c.RecMessage(10'000), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerReceivePacket");
    ASSERT_TRUE(peak);
    EXPECT_LT(*peak, *before + kFlood / 2) << "the reception kept the flood";
}

TEST_F(Receive, TailOfSeveralCharactersCountsWhenItEndsInEot) {
    peer.replyAfter(100'000, std::string("\x02OK\x03\x07", 5), "xy\x04");
    EXPECT_EQ(c.RecMessage(3000), "OK");
}

TEST_F(Receive, EveryRejectionIsSilentAndTagged) {
    struct Case {
        const char* what;
        std::string frame;
        std::string tail;
        std::string expectedSent;
    };
    const std::vector<Case> cases = {
        {"wrong LRC", std::string("\x02OK\x03\x08", 5), "\x04", "\x06"},
        {"no STX", std::string("OK\x03\x07", 4), "\x04", "\x06"},
        {"empty message", std::string("\x02\x03\x03", 3), "\x04", "\x06"},
        {"no ETX", std::string("\x02OKX\x1B", 5), "\x04", "\x06"},
        {"characters after the LRC", std::string("\x02OK\x03\x07!", 6), "\x04", "\x06"},
        {"tail not EOT", std::string("\x02OK\x03\x07", 5), "\x04x", "\x06\x06"},
        {"no EOT", std::string("\x02OK\x03\x07", 5), "", "\x06\x06"},
        {"no frame", "", "", "\x06"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        p.wire().clear();
        events.errors.clear();
        c.setReceiveError("");
        peer.replyAfter(100'000, k.frame, k.tail);
        EXPECT_EQ(c.RecMessage(5000), "");
        EXPECT_EQ(c.ReceiveError(), "errorHandlerReceivePacket");
        EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerReceivePacket"});
        EXPECT_EQ(controlSent(), k.expectedSent) << "no NAK, no EOT";
        EXPECT_FALSE(c.linkState().MessageReady);
        EXPECT_TRUE(c.linkState().ReceiveArmed);
        loop().runFor(1'000'000);  // let the line settle before the next case
    }
}

TEST_F(Receive, LoneCharacterOtherThanEnqWhileArmed) {
    peer.sendAfter(100'000, std::string(1, EOT));
    EXPECT_EQ(c.RecMessage(3000), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerRecPacket");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerRecPacket"});
    EXPECT_EQ(controlSent(), "");
    EXPECT_LT(now(), armedAt + 110'000) << "the tag ends the wait at once";
}

TEST_F(Receive, UnsolicitedMessageIsAnnouncedWhileTheHostIdles) {
    peer.replyAfter(500'000, peer.frame("HELLO"));
    loop().runFor(1'000'000);
    EXPECT_EQ(c.ReceiveMessage(), "HELLO");
    EXPECT_EQ(events.received, 1);

    c.setReceiveEnabled(false);
    peer.replyAfter(100'000, peer.frame("AGAIN"));
    loop().runFor(1'000'000);
    EXPECT_EQ(c.ReceiveMessage(), "AGAIN") << "stored even without the event";
    EXPECT_EQ(events.received, 1);
}

TEST_F(Receive, ReceivedEventHandlerRunsInsideTheReception) {
    std::string seen;
    events.onReceived = [&] { seen = c.ReceiveMessage(); };
    peer.replyAfter(100'000, peer.frame("X1"));
    EXPECT_EQ(c.RecMessage(2000), "X1");
    EXPECT_EQ(seen, "X1");
}

TEST_F(Receive, AbortReceiveFromAHandlerEndsTheWait) {
    loop().after(300'000, [&] { c.setAbortReceive(true); });
    const int64_t t0 = now();
    EXPECT_EQ(c.RecMessage(5000), "");
    EXPECT_EQ(now() - t0, 300'000);
    EXPECT_FALSE(c.AbortReceive());
    EXPECT_EQ(c.linkState().NextCommandTick, loop().tick() + 100);
}

TEST_F(Receive, EscapeEndsTheWaitWhenEnabled) {
    loop().after(250'000, [&] { loop().setEscape(true); });
    const int64_t t0 = now();
    EXPECT_EQ(c.RecMessage(5000), "");
    EXPECT_EQ(now() - t0, 250'000);
}

TEST_F(Receive, OnlyAMessageCompletedDuringTheWaitIsReturned) {
    peer.replyAfter(100'000, peer.frame("OLD"));
    loop().runFor(1'000'000);
    ASSERT_EQ(c.ReceiveMessage(), "OLD");
    const int64_t t0 = now();
    EXPECT_EQ(c.RecMessage(400), "");
    EXPECT_EQ(now() - t0, 401'000) << "a plain time-out";
    EXPECT_EQ(c.ReceiveMessage(), "OLD");
    EXPECT_EQ(c.ReceiveError(), "") << "a time-out stores no tag";
}

TEST_F(Receive, AStoredTagEndsTheWaitAfterOneYield) {
    c.setReceiveError("errorSomething");
    const int64_t y0 = loop().yields();
    EXPECT_EQ(c.RecMessage(5000), "");
    EXPECT_EQ(loop().yields() - y0, 1);
}

TEST_F(Receive, EnqBeforeTheLinkIsArmedIsOnlyCollected) {
    // The terminal answers the frame's ACK... with its ENQ during the control's last pause.
    SimPlatform q;
    KorvelComTools d(q);
    test::Peer early(q);
    early.onEot = [&] { early.send(std::string(1, ENQ)); };
    ASSERT_TRUE(d.SendMessage("REQ"));
    EXPECT_EQ(d.linkState().CaptureBuffer, std::string(1, ENQ));
    q.wire().clear();
    q.simLoop().runFor(500'000);
    EXPECT_EQ(q.wire().bytes(WireLog::Dir::Out), "") << "nothing answers the early ENQ";
    // The terminal's repeated ENQ starts the check.
    early.replyAfter(0, early.frame("LATE"));
    EXPECT_EQ(d.RecMessage(3000), "LATE");
}

TEST(Message, SendThenReceive) {
    SimPlatform p;
    KorvelComTools c(p);
    test::Peer peer(p);
    peer.onEot = [&] { peer.replyAfter(100'000, peer.frame("PONG")); };
    EXPECT_EQ(c.Message("PING", 3000), "PONG");
    EXPECT_EQ(c.linkState().NextCommandTick, p.simLoop().tick() + 100);

    peer.ackEnq = false;
    test::Recorder events;
    c.setEventSink(&events);
    EXPECT_EQ(c.Message("PING", 3000), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession") << "the send's own tag stands";
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

TEST(SendMessage, ATerminalSessionAlreadyArrivedIsReceivedBeforeTheSend) {
    SimPlatform p;
    KorvelComTools c(p);
    test::Peer peer(p);
    test::Recorder events;
    c.setEventSink(&events);
    ASSERT_TRUE(c.SendMessage("REQ"));
    p.simLoop().runFor(500'000);  // well past the gap after the exchange
    // The terminal's ENQ arrives; in the same instant, before any yield, the host sends.
    peer.replyAfter(0, test::Peer::frame("UNSOLICITED"));
    bool sent = false;
    p.simLoop().at(p.simLoop().nowUs() + 1042, [&] { sent = c.SendMessage("NEXT"); });
    p.simLoop().runFor(2'000'000);
    EXPECT_EQ(c.ReceiveMessage(), "UNSOLICITED") << "the session in progress is not thrown away";
    EXPECT_EQ(events.received, 1);
    EXPECT_TRUE(sent);
}

}  // namespace
}  // namespace korvel
