// The basic payment over the link: the exchange, the reply fields, the request as sent.
#include <gtest/gtest.h>

#include "pos/Payment.h"
#include "support/LinkWorld.h"

namespace korvel::test {
namespace {

const std::string kReply70 = "010000015001" + std::string(55, 'R') + "978";
const std::string kBlank = "  | |        | |" + std::string(55, ' ') + "|   ";

class Pos : public ::testing::Test {
  protected:
    LinkWorld w;
    pos::Payment pay{w.link};
    int32_t timeout = 10000;
    std::string reply;  // the terminal answers every request with it, unless empty
    void SetUp() override {
        pos::threadRecord().resetRequest();  // the thread's record outlives each test
        w.peer.onEot = [this] {
            if (!reply.empty()) w.peer.replyAfter(150'000, Peer::frame(reply));
        };
    }
    std::string replyFields() {
        std::string out = pay.reply(pos::ReplyField::Number);
        for (int f = 1; f < 6; ++f)
            out += "|" + pay.reply(static_cast<pos::ReplyField>(f));
        return out;
    }
};

TEST_F(Pos, ReplyFields) {
    std::string inHandler;
    w.events.onReceived = [&] { inHandler = replyFields(); };
    const std::pair<std::string, std::string> rows[] = {
        {kReply70 + "0123456789", "01|0|00001500|1|" + std::string(55, 'R') + "|978"},
        {"01000001500C", "01|0|00001500|C|" + kBlank.substr(16)},
        {"0", "0 " + kBlank.substr(2)},
    };
    for (const auto& [text, fields] : rows) {
        SCOPED_TRACE(text);
        reply = text;
        EXPECT_EQ(pay.POSMessage(timeout), text);
        EXPECT_EQ(inHandler, fields) << "raised by the exchange once the fields are filled";
    }
    EXPECT_EQ(w.events.received, 3) << "once an exchange";
    w.p.missingPorts.insert(1);
    w->CommClose();
    w.p.simLoop().runFor(200'000);
    const int64_t t0 = w.nowUs();
    EXPECT_EQ(pay.POSMessage(timeout), "");
    EXPECT_EQ(w.nowUs() - t0, 1'000) << "a failed send: one yield, no reply wait";
    EXPECT_EQ(replyFields(), kBlank) << "the previous reply was cleared before the send";
    EXPECT_EQ(w.st().ReceiveError, "errorHandlerOpenSession");
}

TEST_F(Pos, NoReply) {
    timeout = 2000;
    EXPECT_EQ(pay.POSMessage(timeout), "");
    EXPECT_EQ(w.nowUs(), 2'098'000) << "armed at 97, then the whole time-out";
    EXPECT_EQ(replyFields(), kBlank);
    EXPECT_EQ(w.events.received, 0);
}

TEST_F(Pos, ReceivedEventDeferral) {
    reply = kReply70;
    w.st().ReceiveEnabled = false;
    EXPECT_EQ(pay.POSMessage(timeout), reply);
    EXPECT_FALSE(w.st().ReceivedEventDeferred) << "deferred only when enabled";
    w.st().ReceiveEnabled = true;
    pay.POSMessage(timeout);
    EXPECT_EQ(w.events.received, 1);
    // The deferral outlasts the exchange: an unsolicited message is stored without the event.
    w.peer.replyAfter(300'000, Peer::frame("UNSOLICITED"));
    w.p.simLoop().runFor(2'000'000);
    EXPECT_EQ(w.st().ReceiveMessage, "UNSOLICITED");
    EXPECT_EQ(w.events.received, 1);
    std::string test = "T";
    w->SendMessageTestK7200(test);
    EXPECT_FALSE(w.st().ReceivedEventDeferred) << "a test send ends the deferral too";
    // A bare POSsend opens a session, which also ends it: its reply comes by the event.
    reply = "X";
    EXPECT_TRUE(pay.POSsend());
    w.p.simLoop().runFor(2'000'000);
    EXPECT_EQ(w.st().ReceiveMessage + pay.reply(pos::ReplyField::Dev), "X978")
        << "the reply fields stay";
    EXPECT_EQ(w.events.received, 2);
}

TEST_F(Pos, RequestChangedDuringTheWaitGoesIntoTheNextOne) {
    reply = "X";
    w.p.simLoop().after(100'000, [&] { pay.put(pos::RequestField::Amount, "00000999"); });
    pay.POSMessage(timeout);
    pay.POSMessage(timeout);
    EXPECT_EQ(w.trace(false, true),
              "E a F(0100000001"
              "10?250          ) a T e A f(X) A t "
              "E a F(0100000999"
              "10?250          ) a T e A f(X) A t");
}

}  // namespace
}  // namespace korvel::test
