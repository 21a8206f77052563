// The receive path: the terminal's sessions, every rejection, the events, the reply waits.
#include "link/Rig.h"

namespace korvel::test {
namespace {

const std::string kOk("\x02OK\x03\x07", 5);

TEST_F(Link, TerminalSessions) {
    std::string seen;
    w.events.onReceived = [&] { seen = w.st().ReceiveMessage; };
    w.peer.onEot = [&] { w.peer.replyAfter(200'000, kOk); };
    EXPECT_EQ(w->Message("REQ", 3000), "OK");
    EXPECT_EQ(w.trace(true, true), "1:E 3:a 24:F(REQ) 31:a 52:T 254:e 275:A 277:f(OK) 353:A 355:t");
    EXPECT_EQ(seen, "OK") << "not deferred: the receive path raises the event";
    EXPECT_EQ(w.nowUs(), 429'000) << "stored after the EOT's 50 ms silence and a reply pause";
    w.st().ReceiveEnabled = false;  // an unsolicited message is still stored
    w.peer.replyAfter(100'000, Peer::frame("AGAIN"));
    loop().runFor(1'000'000);
    EXPECT_EQ(std::tie(w.st().ReceiveMessage, w.events.received), std::tuple("AGAIN", 1));
    w.peer.ackEnq = false;
    EXPECT_EQ(w->Message("PING", 3000), "");
    EXPECT_EQ(w.st().ReceiveError, "errorHandlerOpenSession") << "the send's own tag stands";
}

TEST_F(Link, ReceptionsAcceptedAndRefused) {
    // Frame and tail sent, message (nullptr: refused, silently, with the tag), the wire.
    const std::tuple<std::string, std::string, const char*, std::string> rows[] = {
        {std::string("\xFF\x00zz", 4) + kOk, "\x04", "OK", "e A xFF x00 x7A x7A f A t"},
        {kOk, "xy\x04", "OK", "e A f A x78 x79 t"},
        {std::string("\x02OK\x03\x08", 5), "\x04", nullptr, "e A f"},
        {std::string("OK\x03\x07", 4), "\x04", nullptr, "e A x4F x4B x03 x07"},
        {kOk, "\x04x", nullptr, "e A f A t x78"},
        {kOk, "", nullptr, "e A f A"},
        {"", "", nullptr, "e A"},
    };
    arm();
    for (const auto& [frame, tail, message, trace] : rows) {
        SCOPED_TRACE(trace);
        restart();
        w.peer.replyAfter(100'000, frame, tail);
        EXPECT_EQ(w->RecMessage(5000), message ? message : "");
        EXPECT_EQ(w.trace(), trace) << "no NAK, no EOT";
        EXPECT_EQ(w.events.errors, message ? Tags{} : Tags{"errorHandlerReceivePacket"});
        loop().runFor(1'000'000);  // the line settles; the next row shows the link armed again
    }
    restart();
    w.peer.sendAfter(100'000, "\x04");  // a character other than ENQ while armed
    EXPECT_EQ(w->RecMessage(3000), "");
    EXPECT_EQ(w.trace(), "t") << "nothing answers";
    EXPECT_EQ(w.events.errors, Tags{"errorHandlerRecPacket"});
    restart();
    w.peer.replyAfter(100'000, kOk);
    loop().after(101'500, [&] { w.p.comm()->unplug(); });  // during the reception
    EXPECT_EQ(w->RecMessage(5000), "");
    EXPECT_EQ(w.st().ReceiveError, "errorHandlerReceivePacket");
}

TEST_F(Link, EscapeAsTheCheckByteArrivesStopsGatheringWithThatByteKept) {
    arm();
    w.peer.replyAfter(100'000, kOk);
    const auto sendFrame = w.peer.onAck;
    w.peer.onAck = [&, sendFrame, acks = 0]() mutable {
        sendFrame();
        if (++acks == 1)  // the key goes down as the frame's last byte arrives
            loop().after(5 * w.p.terminal().charTimeUs(), [&] { loop().setEscape(true); });
    };
    EXPECT_EQ(w->RecMessage(5000), "");
    EXPECT_EQ(w.trace(), "e A f A") << "the whole frame is acknowledged; Escape ends the rest";
    EXPECT_EQ(w.events.errors, Tags{"errorHandlerReceivePacket"});
    loop().setEscape(false);
}

TEST_F(Link, ReceivePacketCalledByTheHost) {
    ASSERT_TRUE(w->CommInit(0, ""));   // no notifications: the whole frame waits at once
    w.peer.replyAfter(0, "", "\x04");  // ENQ, and EOT after the second ACK
    w.peer.sendAfter(1, "zz" + kOk);   // the frame before the first ACK
    w->ReceivePacket();
    EXPECT_EQ(w.st().ReceiveMessage, "OK");
    EXPECT_EQ(w.trace(), "e x7A x7A f A A t");
}

TEST_F(Link, EndsOfTheReplyWait) {
    arm();
    w.peer.replyAfter(100'000, Peer::frame("OLD"));  // stored before the waits start
    loop().runFor(1'000'000);
    const std::pair<std::function<void()>, int64_t> rows[] = {
        {[&] { w.st().AbortReceive = true; }, 300'000},  // from a handler
        {[&] { loop().setEscape(true); }, 300'000},
        {[] {}, 5'001'000},  // a time-out; the older message is not returned
    };
    for (const auto& [during, us] : rows) {
        SCOPED_TRACE(us);
        loop().after(300'000, during);
        const int64_t t0 = w.nowUs();
        EXPECT_EQ(w->RecMessage(5000), "");
        EXPECT_EQ(w.nowUs() - t0, us);
        EXPECT_FALSE(w.st().AbortReceive);
        EXPECT_EQ(w.st().ReceiveError, "") << "no tag";
        loop().setEscape(false);
    }
    w.st().ReceiveError = "errorSomething";
    const int64_t t0 = w.nowUs();
    EXPECT_EQ(w->RecMessage(5000), "");
    EXPECT_EQ(w.nowUs() - t0, 1'000) << "a stored tag ends the wait after one yield";
    restart();
    w.events.onReceived = [&] { loop().setEscape(true); };
    w.peer.replyAfter(0, kOk);
    EXPECT_EQ(w->RecMessage(5000), "") << "Escape wins over a message stored at the same poll";
}

TEST_F(Link, EnqDuringTheLastPauseOfASendIsOnlyCollected) {
    w.peer.onEot = [&] { w.peer.send("\x05"); };
    ASSERT_TRUE(w->SendMessage("REQ"));
    loop().runFor(500'000);
    EXPECT_EQ(w.trace(), "E a F a T e") << "nothing answers the early ENQ";
    w.peer.replyAfter(0, Peer::frame("LATE"));  // the terminal's repeated ENQ
    EXPECT_EQ(w->RecMessage(3000), "LATE");
}

}  // namespace
}  // namespace korvel::test
