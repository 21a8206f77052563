// The basic payment exchange in virtual time against a scripted terminal.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

std::string reply70() {
    return "01"
           "0"
           "00001500"
           "1" +
           std::string(55, 'R') + "978";
}

class PosExchange : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    std::string replyText;
    // Fields as the ReceivedEvent handler saw them.
    std::string statInHandler, devInHandler;
    void SetUp() override {
        c.setEventSink(&events);
        peer.onEot = [this] {
            if (!replyText.empty()) peer.replyAfter(150'000, test::Peer::frame(replyText));
        };
        events.onReceived = [this] {
            statInHandler = c.EFTposStat();
            devInHandler = c.EFTposDev();
        };
    }
    std::string requestSeen() {
        const auto stx = peer.received.find('\x02');
        return peer.received.substr(stx + 1, 26);
    }
};

TEST_F(PosExchange, RequestMessageOfTheDefaults) {
    replyText = reply70();
    c.POSMessage();
    EXPECT_EQ(requestSeen(),
              "01"
              "00000001"
              "1"
              "0"
              "?"
              "250"
              "          ");
}

TEST_F(PosExchange, FullReplyFillsEveryFieldBeforeTheEvent) {
    replyText = reply70() + "0123456789";  // 80 characters: the tail is not a field
    EXPECT_EQ(c.POSMessage(), replyText);
    EXPECT_EQ(c.EFTposNumber(), "01");
    EXPECT_EQ(c.EFTposStat(), "0");
    EXPECT_EQ(c.EFTposAmount(), "00001500");
    EXPECT_EQ(c.EFTposMode(), "1");
    EXPECT_EQ(c.EFTposRep(), std::string(55, 'R'));
    EXPECT_EQ(c.EFTposDev(), "978");
    EXPECT_EQ(events.received, 1) << "raised once, by the exchange, not by the receive path";
    EXPECT_EQ(statInHandler, "0");
    EXPECT_EQ(devInHandler, "978");
}

TEST_F(PosExchange, ShortReplyLeavesTheRestBlank) {
    replyText =
        "01"
        "0"
        "00001500"
        "C";
    EXPECT_EQ(c.POSMessage(), replyText);
    EXPECT_EQ(c.EFTposMode(), "C");
    EXPECT_EQ(c.EFTposRep(), std::string(55, ' '));
    EXPECT_EQ(c.EFTposDev(), "   ");
    replyText = "0";
    EXPECT_EQ(c.POSMessage(), "0");
    EXPECT_EQ(c.EFTposNumber(), "0 ");
    EXPECT_EQ(c.EFTposAmount(), std::string(8, ' '));
}

TEST_F(PosExchange, NoReplyWithinTheTimeout) {
    c.setPOSTimeout(2000);
    const int64_t t0 = p.simLoop().nowUs();
    EXPECT_EQ(c.POSMessage(), "");
    EXPECT_GE(p.simLoop().nowUs() - t0, 2'000'000);
    EXPECT_EQ(c.EFTposNumber(), "  ");
    EXPECT_EQ(c.EFTposRep(), std::string(55, ' '));
    EXPECT_EQ(events.received, 0);
    EXPECT_EQ(c.ReceiveError(), "") << "a time-out is not an error";
}

TEST_F(PosExchange, FailedSendReturnsAtOnceWithBlankFields) {
    replyText = reply70();
    c.POSMessage();
    ASSERT_EQ(c.EFTposDev(), "978");
    p.missingPorts.insert(1);
    c.CommClose();
    EXPECT_EQ(c.POSMessage(), "");
    EXPECT_EQ(c.EFTposDev(), "   ") << "the previous reply was cleared before the send";
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
}

TEST_F(PosExchange, NoEventWhenReceiveIsDisabled) {
    replyText = reply70();
    c.setReceiveEnabled(false);
    EXPECT_EQ(c.POSMessage(), replyText);
    EXPECT_EQ(c.EFTposAmount(), "00001500");
    EXPECT_EQ(events.received, 0);
    EXPECT_FALSE(c.linkState().ReceivedEventDeferred);
}

TEST_F(PosExchange, DeferralOutlastsTheExchangeUntilTheNextSession) {
    replyText = reply70();
    c.POSMessage();
    EXPECT_TRUE(c.linkState().ReceivedEventDeferred);
    // An unsolicited message before the next send is stored without the event.
    peer.replyAfter(300'000, test::Peer::frame("UNSOLICITED"));
    p.simLoop().runFor(2'000'000);
    EXPECT_EQ(c.ReceiveMessage(), "UNSOLICITED");
    EXPECT_EQ(events.received, 1);
    // The next session opening clears the deferral.
    replyText.clear();
    ASSERT_TRUE(c.SendMessage("X"));
    EXPECT_FALSE(c.linkState().ReceivedEventDeferred);
}

TEST_F(PosExchange, RequestChangedDuringTheWaitAffectsOnlyLaterRequests) {
    replyText = reply70();
    p.simLoop().after(100'000, [&] { c.setPOSAmount("00000999"); });
    c.POSMessage();
    EXPECT_EQ(requestSeen().substr(2, 8), "00000001");
    peer.received.clear();
    c.POSMessage();
    EXPECT_EQ(requestSeen().substr(2, 8), "00000999");
}

}  // namespace
}  // namespace korvel
