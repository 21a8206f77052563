// The extended request encoder: the exact bytes each function code puts on the line, the
// checks that stop a request (in their order, with their tags), and the recomputed seconds.
#include <gtest/gtest.h>

#include <map>

#include "extended/Encoder.h"
#include "korvelcom/KorvelComTools.h"
#include "link/Frame.h"
#include "support/Peer.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

std::string zeros(std::size_t n) {
    return std::string(n, '\0');
}

class Encoder : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Peer peer{p};
    test::Recorder events;
    void SetUp() override {
        c.InitNewInstance();  // a newly placed control
        c.setEventSink(&events);
    }
    // Sends `fct` and returns the request text the terminal received, checking that it came
    // as exactly one session: ENQ, the frame, EOT.
    std::string sent(const std::string& fct) {
        peer.received.clear();
        events.errors.clear();
        EXPECT_TRUE(c.POSAutoSend(fct)) << fct << ": " << c.ReceiveError();
        EXPECT_TRUE(events.errors.empty()) << fct;
        const auto stx = peer.received.find(link::STX);
        if (stx == std::string::npos || peer.received.size() < stx + 4) return "<nothing sent>";
        std::string text = peer.received.substr(stx + 1, peer.received.size() - stx - 4);
        EXPECT_EQ(peer.received,
                  std::string(1, link::ENQ) + test::Peer::frame(text) + std::string(1, link::EOT))
            << fct;
        return text;
    }
    // Sends `fct` and expects it refused with `tag`: false, nothing on the line, one event.
    void expectRefused(const std::string& fct, const std::string& tag) {
        peer.received.clear();
        events.errors.clear();
        EXPECT_FALSE(c.POSAutoSend(fct)) << fct;
        EXPECT_EQ(c.ReceiveError(), tag) << fct;
        EXPECT_EQ(events.errors, std::vector<std::string>{tag}) << fct;
        EXPECT_EQ(peer.received, "") << fct << ": nothing may be sent";
    }
    void raw(const std::string& name, const std::string& value) {
        ASSERT_TRUE(c.storeExtendedFieldUnchecked(name, value)) << name;
    }
};

TEST_F(Encoder, EveryCodeFromTheInitialValues) {
    const std::map<std::string, std::string> expected = {
        {"01",
         "0101"
         "0000"
         "000000000001"
         "250"
         "0"
         "10"},
        {"03",
         "0103"
         "0000"
         "000000000001"
         "250"},
        {"04",
         "0104"
         "0000"},
        {"10", "0110" + zeros(107 + 40 + 79)},
        {"40", "0140" + zeros(226)},
        {"50", "0150" + zeros(226)},
        {"60", "0160" + zeros(226)},
        {"12", "0112" + zeros(80) + "0" + "0" + "9" + "065" + "00"},
        {"14", "0114"},
        {"15", "0115"},
        {"16", "0116" + zeros(4)},
        {"17",
         "0117"
         "0000"
         "0"},
        {"18",
         "0118"
         "0211" +
             zeros(4)},
        {"19", "0119" + zeros(4 + 3 + 16)},
        {"20",
         "0120"
         "1"},
        {"21",
         "0121"
         "0"},
        {"23", "0123" + zeros(4 + 1)},
    };
    for (const auto& [code, request] : expected) {
        EXPECT_EQ(sent(code), request) << code;
        const auto* layout = ext::layoutFor(code);
        ASSERT_NE(layout, nullptr);
        EXPECT_EQ(ext::requestLength(*layout), request.size()) << code;
    }
    EXPECT_EQ(sent("01").size(), 26u);
    EXPECT_EQ(sent("12").size(), 92u);
    EXPECT_EQ(sent("10").size(), 230u);
    // Card reading needs the terminal's reader.
    c.setPOSAutoCardReader("1");
    for (const char* code : {"11", "41", "51", "61"})
        EXPECT_EQ(sent(code), std::string("01") + code + "0" + "065") << code;
}

TEST_F(Encoder, EveryCodeFromSetValues) {
    c.setPOSAutoSequence("42");
    c.setPOSAutoOperation("4321");
    c.setPOSAutoAmount("000000012345");
    c.setPOSAutoCurrency("978");
    c.setPOSAutoControl("q");
    c.setPOSAutoClass("22");
    c.setPOSAutoCardInfo("never sent");
    const std::string t1 = "%B4970" + std::string(100, ' ') + "?";  // trailing spaces kept
    const std::string t2 = ";4970=" + std::string(34, '0');
    const std::string t3 = std::string(78, '3') + " ";
    c.setPOSAutoTrackISO1(t1);
    c.setPOSAutoTrackISO2(t2);
    c.setPOSAutoTrackISO3(t3);
    c.setPOSAutoReadingType("2");
    c.setPOSAutoTOfctReadingCard(30000);
    const std::string text = "ENTER CODE" + std::string(70, ' ');
    c.setPOSAutoText(text);
    c.setPOSAutoInputType("9");
    c.setPOSAutoMinLength("4");
    c.setPOSAutoMaxLength("?");
    c.setPOSAutoTOfctDisplayingPinPadRequest(5000);
    c.setPOSAutoInputOffset("12");
    c.setPOSAutoTreatmentCard("1");
    c.setPOSAutoPrinter("1");
    c.setPOSAutoBuzzer("0");
    c.setPOSAutoRetroPinPad("7");  // stored as "1"
    c.setPOSAutoApplicationCode("AP01");
    c.setPOSAutoEFTNumber("123");
    c.setPOSAutoData("0123456789ABCDEF");
    c.setPOSAutoNumBeep("3");
    c.setPOSAutoTicketRequest("1");
    ASSERT_EQ(c.ReceiveError(), "");

    EXPECT_EQ(sent("01"),
              "4201"
              "4321"
              "000000012345"
              "978"
              "q"
              "22");
    EXPECT_EQ(sent("03"),
              "4203"
              "4321"
              "000000012345"
              "978");
    EXPECT_EQ(sent("04"),
              "4204"
              "4321");
    EXPECT_EQ(sent("10"), "4210" + t1 + t2 + t3);
    EXPECT_EQ(sent("60"), "4260" + t1 + t2 + t3);
    EXPECT_EQ(sent("12"), "4212" + text +
                              "9"
                              "4"
                              "?"
                              "005"
                              "12");
    EXPECT_EQ(c.POSAutoTimeOut(), "005");
    EXPECT_EQ(sent("14"), "4214");
    EXPECT_EQ(sent("15"), "4215");
    EXPECT_EQ(sent("16"),
              "4216"
              "AP01");
    EXPECT_EQ(sent("17"),
              "4217"
              "4321"
              "1");
    EXPECT_EQ(sent("18"),
              "4218"
              "0101" +
                  zeros(4));
    EXPECT_EQ(sent("19"),
              "4219"
              "AP01"
              "123"
              "0123456789ABCDEF");
    EXPECT_EQ(sent("20"),
              "4220"
              "3");
    EXPECT_EQ(sent("21"),
              "4221"
              "1");
    EXPECT_EQ(sent("23"),
              "4223"
              "AP01"
              "1");
    c.setPOSAutoCardReader("1");
    EXPECT_EQ(sent("41"),
              "4241"
              "2"
              "030");
    EXPECT_EQ(c.POSAutoTimeOut(), "030");
    EXPECT_EQ(c.POSAutoSequence(), "42") << "sending does not advance the sequence";
}

TEST_F(Encoder, SequenceAsStoredAndCodeAsPassed) {
    c.setPOSAutoSequence("07");
    EXPECT_EQ(sent("14"), "0714");
    raw("POSAutoSequence", "a");  // loaded unchecked: fitted to "a "
    EXPECT_EQ(sent("15"), "a 15");
}

TEST_F(Encoder, UnlistedCodesAreRefusedWithoutSending) {
    for (const char* code : {"22", "1", "ab", "", "02", "011", " 1", "13", "99"})
        expectRefused(code, "errorHandlerPOSAutosend");
    c.setErrorEnabled(false);
    events.errors.clear();
    peer.received.clear();
    EXPECT_FALSE(c.POSAutoSend("22"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutosend");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(Encoder, AuthorisationChecksControlThenClass) {
    raw("POSAutoControl", "P");
    raw("POSAutoClass", "11");
    expectRefused("01", "errorHandlerPOSAutoControl");
    raw("POSAutoControl", "s");
    expectRefused("01", "errorHandlerPOSAutoClass");
    raw("POSAutoClass", "21");
    EXPECT_EQ(sent("01").substr(23), "s21");
    raw("POSAutoClass", "1 ");
    expectRefused("01", "errorHandlerPOSAutoClass");
}

TEST_F(Encoder, ExternalReaderRequestsNeedTheCardReaderOff) {
    for (const char* reader : {"1", "2"}) {
        c.setPOSAutoCardReader(reader);
        for (const char* code : {"10", "40", "50", "60"})
            expectRefused(code, "errorHandlerPOSAutoCardReaderType");
    }
}

TEST_F(Encoder, CardReadingChecksInOrder) {
    // Reader off: refused before the seconds are recomputed.
    raw("POSAutoReadingType", "3");
    c.setPOSAutoTOfctReadingCard(999);
    const std::string before = c.POSAutoTimeOut();
    expectRefused("11", "errorHandlerPOSAutoCardReaderType");
    EXPECT_EQ(c.POSAutoTimeOut(), before);
    c.setPOSAutoCardReader("2");
    expectRefused("51", "errorHandlerPOSAutoCardReaderType");
    c.setPOSAutoCardReader("1");
    expectRefused("11", "errorHandlerPOSAutoReadingType");
    EXPECT_EQ(c.POSAutoTimeOut(), before) << "the reading type is checked before the seconds";
    raw("POSAutoReadingType", "1");
    expectRefused("61", "errorHandlerPOSAutoTimeout");
    EXPECT_EQ(c.POSAutoTimeOut(), "000") << "the recomputed seconds stay after the refusal";
}

TEST_F(Encoder, SecondsFieldFromTheReadingTimeOut) {
    c.setPOSAutoCardReader("1");
    const std::vector<std::pair<int32_t, std::string>> passes = {
        {1000, "001"}, {5000, "005"}, {65000, "065"}, {65999, "065"}, {-65000, "-65"}};
    for (const auto& [ms, field] : passes) {
        c.setPOSAutoTOfctReadingCard(ms);
        EXPECT_EQ(sent("11"),
                  "0111"
                  "0" +
                      field)
            << ms;
        EXPECT_EQ(c.POSAutoTimeOut(), field) << ms;
    }
    const std::vector<std::pair<int32_t, std::string>> fails = {
        {999, "000"}, {66000, "066"}, {0, "000"}, {-999, "000"}, {1234567, "123"}, {-5000, "0-5"}};
    for (const auto& [ms, field] : fails) {
        c.setPOSAutoTOfctReadingCard(ms);
        expectRefused("11", "errorHandlerPOSAutoTimeout");
        EXPECT_EQ(c.POSAutoTimeOut(), field) << ms;
    }
}

TEST(SecondsField, TruncatesPadsAndCuts) {
    EXPECT_EQ(ext::secondsField(999), "000");
    EXPECT_EQ(ext::secondsField(5000), "005");
    EXPECT_EQ(ext::secondsField(65000), "065");
    EXPECT_EQ(ext::secondsField(66000), "066");
    EXPECT_EQ(ext::secondsField(-1999), "0-1");
    EXPECT_EQ(ext::secondsField(-100000), "-10");
    EXPECT_EQ(ext::secondsField(2147483647), "214");
}

TEST_F(Encoder, PinPadChecksInOrder) {
    raw("POSAutoInputType", "2");
    raw("POSAutoMinLength", "@");
    raw("POSAutoMaxLength", "/");
    c.setPOSAutoTOfctDisplayingPinPadRequest(66000);
    c.setPOSAutoInputOffset("-1");
    expectRefused("12", "errorHandlerPOSAutoInputType");
    raw("POSAutoInputType", "1");
    expectRefused("12", "errorHandlerPOSAutoInputLength");  // minimum, code 64
    raw("POSAutoMinLength", "/");
    expectRefused("12", "errorHandlerPOSAutoInputLength");  // minimum, code 47
    raw("POSAutoMinLength", "?");
    expectRefused("12", "errorHandlerPOSAutoInputLength");  // maximum, code 47
    raw("POSAutoMaxLength", "@");
    expectRefused("12", "errorHandlerPOSAutoInputLength");  // maximum, code 64
    raw("POSAutoMaxLength", "0");
    EXPECT_EQ(c.POSAutoTimeOut(), "065") << "not recomputed before its turn";
    expectRefused("12", "errorHandlerPOSAutoTimeout");
    EXPECT_EQ(c.POSAutoTimeOut(), "066");
    c.setPOSAutoTOfctDisplayingPinPadRequest(1000);
    expectRefused("12", "errorHandlerPOSAutoInputOffset");  // -1: below the send-time bound
    raw("POSAutoInputOffset", "80");
    expectRefused("12", "errorHandlerPOSAutoInputOffset");
    raw("POSAutoInputOffset", "79");
    EXPECT_EQ(sent("12").substr(84), "1?000179");
    raw("POSAutoInputOffset", "00");
    EXPECT_EQ(sent("12").substr(84), "1?000100");
}

TEST_F(Encoder, ConfigurationChecksReaderThenPrinter) {
    raw("POSAutoCardReader", "3");
    raw("POSAutoPrinter", "x");
    expectRefused("18", "errorHandlerPOSAutoCardReader");
    raw("POSAutoCardReader", "2");
    expectRefused("18", "errorHandlerPOSAutoPrinter");
    raw("POSAutoPrinter", "0");
    raw("POSAutoBuzzer", " ");  // accepted by the write as it is, sent unchecked
    EXPECT_EQ(sent("18"),
              "0118"
              "20 1" +
                  zeros(4));
}

TEST_F(Encoder, StatusFieldsReadNinetyNineAfterEveryCall) {
    sent("14");
    EXPECT_EQ(c.POSAutoStatus(), "99");
    EXPECT_EQ(c.POSAutoStatusCard(), "99");
    expectRefused("22", "errorHandlerPOSAutosend");
    EXPECT_EQ(c.POSAutoStatus(), "99");
    EXPECT_EQ(c.POSAutoStatusCard(), "99");
}

TEST_F(Encoder, ASilentTerminalFailsTheSendWithTheLinkTag) {
    peer.ackEnq = false;
    c.setTOwaitChar(50);
    c.setTOwaitRetry(10);
    EXPECT_FALSE(c.POSAutoSend("14"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession") << "no tag of the encoder's own";
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerOpenSession"});
}

}  // namespace
}  // namespace korvel
