// The reply layout table and exact replies from a scripted terminal: field positions, short
// replies, the status-gated receipt, and an intermediate code answering another request.
#include <gtest/gtest.h>

#include "extended/Decoder.h"
#include "korvelcom/KorvelComTools.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using ext::ReplyField;

TEST(ReplyLayouts, PositionsFollowTheWidths) {
    // Last field of each layout ends where the reply format says.
    const std::vector<std::pair<const char*, std::size_t>> ends = {
        {"01", 58}, {"03", 512}, {"04", 506}, {"23", 506}, {"10", 10}, {"11", 246},
        {"12", 22}, {"14", 9},   {"15", 198}, {"16", 6},   {"21", 6}};
    for (const auto& [code, end] : ends) {
        const ext::ReplyLayout* l = ext::replyLayoutFor(code);
        ASSERT_NE(l, nullptr) << code;
        std::size_t n = 4;
        for (const ReplyField& f : l->fields)
            n += f.width;
        EXPECT_EQ(n, end) << code;
    }
    for (const char* none : {"22", "40", "50", "60", "41", "51", "61", "02", "1"})
        EXPECT_EQ(ext::replyLayoutFor(none), nullptr) << none;
    EXPECT_TRUE(ext::replyLayoutFor("11")->setsExpectedOperation);
    EXPECT_TRUE(ext::replyLayoutFor("23")->checksOperation);
    EXPECT_FALSE(ext::replyLayoutFor("11")->checksOperation);
}

TEST(ReplyLayouts, ShortReplyIsFilledWithSpaces) {
    const auto pieces = ext::extractReply(*ext::replyLayoutFor("01"),
                                          "0101"
                                          "00"
                                          "12",
                                          4, "5");
    ASSERT_EQ(pieces.size(), 7u) << "card information requested by control 5";
    EXPECT_EQ(pieces[0].text, "00");
    EXPECT_EQ(pieces[1].text, "12  ");
    EXPECT_EQ(pieces[2].text, "  ");
    EXPECT_EQ(pieces[6].text, std::string(27, ' '));
    EXPECT_EQ(ext::extractReply(*ext::replyLayoutFor("01"), "0101", 4, "0").size(), 6u);
}

TEST(ReplyLayouts, ReceiptOnlyWithStatusZero) {
    const auto ok = ext::extractReply(*ext::replyLayoutFor("04"),
                                      "0104"
                                      "00"
                                      "HELLO",
                                      4, "0");
    EXPECT_EQ(ok[1].text, "HELLO" + std::string(495, ' '));
    const auto refused = ext::extractReply(*ext::replyLayoutFor("04"),
                                           "0104"
                                           "05"
                                           "HELLO",
                                           4, "0");
    EXPECT_EQ(refused[1].text, std::string(500, ' '));
}

class ScriptedExtended : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    std::string replyText;
    void SetUp() override {
        c.setEventSink(&events);
        peer.onEot = [this] {
            if (!replyText.empty()) peer.replyAfter(150'000, test::Peer::frame(replyText));
        };
    }
};

TEST_F(ScriptedExtended, ShortSoftwareStatusReply) {
    replyText =
        "0115"
        "00"
        "ABCD12"
        "EFGH34"
        "IJ";  // 20 characters
    EXPECT_EQ(c.POSAutoSoftwareStatus(), replyText);
    EXPECT_EQ(c.POSAutoStatus(), "00");
    EXPECT_EQ(c.POSAutoCode(0), "ABCD");
    EXPECT_EQ(c.POSAutoVersion(0), "12");
    EXPECT_EQ(c.POSAutoCode(1), "EFGH");
    EXPECT_EQ(c.POSAutoVersion(1), "34");
    EXPECT_EQ(c.POSAutoCode(2), "IJ  ");
    EXPECT_EQ(c.POSAutoVersion(2), "  ");
    EXPECT_EQ(c.POSAutoCode(31), "    ");
}

TEST_F(ScriptedExtended, RefusedMerchantReceiptBlanksTheReceipt) {
    c.setPOSAutoOperation("9999");
    replyText =
        "0104"
        "05"
        "SHOULD NOT BE KEPT";
    EXPECT_EQ(c.POSAutoReceiptMerchant(), replyText);
    EXPECT_EQ(c.POSAutoStatus(), "05");
    EXPECT_EQ(c.POSAutoReceipt(), std::string(500, ' '));
}

TEST_F(ScriptedExtended, IntermediateCodeToAnotherRequestFailsTheFunctionCheck) {
    replyText = "0102";
    EXPECT_EQ(c.POSAutoStatusRequest(), "");
    EXPECT_EQ(events.abortEnabled, 0);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoFunction");
    EXPECT_EQ(c.POSAutoSequence(), "02");
}

TEST_F(ScriptedExtended, AuthorisationRequestOfTheDefaults) {
    replyText =
        "0101"
        "00"
        "9999"
        "00"
        "CB01"
        "000000000001"
        "250";
    EXPECT_EQ(c.POSAutoAuthorization(), replyText);
    const auto stx = peer.received.find('\x02');
    EXPECT_EQ(peer.received.substr(stx + 1, 26),
              "0101"
              "0000"
              "000000000001"
              "250"
              "0"
              "10");
    EXPECT_EQ(events.received, 1);
    EXPECT_EQ(events.abortEnabled, 0);
}

}  // namespace
}  // namespace korvel
