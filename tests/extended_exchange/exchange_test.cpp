// Whole extended exchanges in virtual time against the simulated terminal and its extended
// responder: decoding of every function code, the authorisation's intermediate reply, each row
// of the failure table, the operations' arguments and the refusal of a nested operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "sim/ExtendedResponder.h"
#include "sim/Terminal.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class Extended : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    sim::SimLinePort port{p.simLoop(), p.terminal()};
    sim::Terminal terminal{p.simLoop(), port};
    sim::ExtendedResponder responder{p.simLoop(), terminal};
    test::Recorder events;
    void SetUp() override {
        terminal.setResponder(responder.responder());
        c.setEventSink(&events);
    }
    int64_t nowMs() { return p.simLoop().nowUs() / 1000; }
    // The request the terminal received last.
    std::string lastRequest() {
        return terminal.received().empty() ? "" : terminal.received().back();
    }
};

TEST_F(Extended, StatusRequestDecodesTheTerminalStatusOnly) {
    EXPECT_EQ(c.POSAutoStatusRequest(),
              "0114"
              "00100");
    EXPECT_EQ(c.POSAutoStatusEFT(), "00100");
    EXPECT_EQ(c.POSAutoStatus(), "99") << "a status reply carries no two-character status";
    EXPECT_EQ(c.POSAutoSequence(), "02");
    EXPECT_EQ(events.received, 1);
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST_F(Extended, CardReadingThenAuthorisationWithIntermediateReply) {
    c.setPOSAutoCardReader("1");
    const std::string reading = c.POSAutoReadingCard("2");
    ASSERT_EQ(reading.size(), 246u) << c.ReceiveError();
    EXPECT_EQ(lastRequest(),
              "0111"
              "2"
              "065");
    EXPECT_EQ(c.POSAutoStatus(), "00");
    EXPECT_EQ(c.POSAutoOperation(), "0001");
    EXPECT_EQ(c.POSAutoTrackISO1().substr(0, 18), "%B4970101234561234");
    EXPECT_EQ(c.POSAutoTrackISO1().size(), 107u);
    EXPECT_EQ(c.POSAutoTrackISO2().substr(0, 17), ";4970101234561234");
    EXPECT_EQ(c.POSAutoTrackISO3().substr(0, 3), ";01");
    EXPECT_EQ(c.POSAutoPrivate(), "PRIV0001  ");

    int abortSeenAtMs = -1;
    struct Sink : test::Recorder {
        std::function<void()> onAbortEnabled;
        void AbortEnabledEvent() override {
            Recorder::AbortEnabledEvent();
            onAbortEnabled();
        }
    } sink;
    sink.onAbortEnabled = [&] { abortSeenAtMs = static_cast<int>(nowMs()); };
    c.setEventSink(&sink);
    responder.options().finalDelayMs = 7000;
    const int64_t t0 = nowMs();
    const std::string reply = c.POSAutoAuthorization("000000004200", "978", "4", "");
    ASSERT_EQ(reply.size(), 58u) << c.ReceiveError();
    EXPECT_EQ(sink.abortEnabled, 1);
    EXPECT_GE(nowMs() - abortSeenAtMs, 7000) << "the final reply came in the second wait";
    EXPECT_LT(abortSeenAtMs - t0, 1000);
    EXPECT_EQ(reply.substr(0, 4), "0201");
    EXPECT_EQ(c.POSAutoStatus(), "00");
    EXPECT_EQ(c.POSAutoStatusCard(), "00");
    EXPECT_EQ(c.POSAutoOperation(), "0001");
    EXPECT_EQ(c.POSAutoApplication(), "CB01");
    EXPECT_EQ(c.POSAutoAmount(), "000000004200");
    EXPECT_EQ(c.POSAutoCurrency(), "978");
    EXPECT_EQ(c.POSAutoCardInfo(), "497010******1234 1228 CB   ");
    EXPECT_EQ(c.POSAutoSequence(), "03") << "one advance for the whole authorisation";
    EXPECT_EQ(sink.received, 1);
}

TEST_F(Extended, CardInformationOnlyForControlFourOrFive) {
    c.setPOSAutoCardReader("1");
    c.POSAutoReadingCard();
    c.setPOSAutoCardInfo("KEEP");
    responder.options().finalDelayMs = 10;
    ASSERT_NE(c.POSAutoAuthorization("", "", "0"), "") << c.ReceiveError();
    EXPECT_EQ(c.POSAutoCardInfo(), "KEEP" + std::string(23, ' '));
}

TEST_F(Extended, EveryOtherFunctionCodeIsDecoded) {
    // 10: the external reader; its operation number becomes the expected one.
    c.setPOSAutoCardReader("0");
    ASSERT_NE(c.POSAutoSettingExtReader(std::string(107, 'A'), std::string(40, 'B'),
                                        std::string(79, 'C')),
              "");
    EXPECT_EQ(lastRequest().size(), 230u);
    EXPECT_EQ(c.POSAutoOperation(), "0001");
    // 03 and 04 carry that operation number: accepted.
    ASSERT_EQ(c.POSAutoRecording("000000001000", "978").size(), 12u + 480u);
    EXPECT_EQ(c.POSAutoStatusCard(), "00");
    EXPECT_EQ(c.POSAutoReceipt().substr(0, 17), "        RECORDING");
    EXPECT_EQ(c.POSAutoReceipt().substr(480), std::string(20, ' '));
    ASSERT_NE(c.POSAutoReceiptMerchant(), "") << c.ReceiveError();
    EXPECT_EQ(c.POSAutoReceipt().substr(0, 21), "        MERCHANT COPY");
    // 12: the PIN pad.
    ASSERT_NE(c.POSAutoDisplayingPinPadRequest(std::string(80, 'T'), "1", "4", "6", "10"), "");
    EXPECT_EQ(lastRequest().substr(84),
              "1"
              "4"
              "6"
              "065"
              "10");
    EXPECT_EQ(c.POSAutoNbCharacter(), "4");
    EXPECT_EQ(c.POSAutoString(), "1234" + std::string(11, ' '));
    // 15: the software table, every entry.
    ASSERT_NE(c.POSAutoSoftwareStatus(), "");
    EXPECT_EQ(c.POSAutoCode(0), "AA00");
    EXPECT_EQ(c.POSAutoVersion(0), "10");
    EXPECT_EQ(c.POSAutoCode(31), "AF31");
    EXPECT_EQ(c.POSAutoVersion(31), "41");
    // Status-only replies: 16 to 21.
    c.setPOSAutoApplicationCode("CB01");
    c.setPOSAutoEFTNumber("001");
    const std::vector<std::pair<const char*, std::function<std::string()>>> statusOnly = {
        {"16", [&] { return c.POSAutoClearTransactionFile(); }},
        {"17", [&] { return c.POSAutoAbortOperation("1"); }},
        {"18", [&] { return c.POSAutoSettingEFTConfiguration("1", "0", "0", "1"); }},
        {"19", [&] { return c.POSAutoSettingEFTApplication(); }},
        {"20", [&] { return c.POSAutoBeep("3"); }},
        {"21", [&] { return c.POSAutoCardReaderOperation(); }},
    };
    for (const auto& [code, run] : statusOnly) {
        const std::string reply = run();
        EXPECT_EQ(reply.substr(2), std::string(code) + "00") << code << " " << c.ReceiveError();
        EXPECT_EQ(lastRequest().substr(2, 2), code);
        EXPECT_EQ(c.POSAutoStatus(), "00") << code;
    }
    EXPECT_EQ(lastRequest().substr(4), "1") << "21 sends the treatment that 17 set";
    EXPECT_EQ(events.errors, std::vector<std::string>{});
}

TEST_F(Extended, TicketRequestedAcceptedOnlyWithTheExpectedOperation) {
    // No card reading yet: the expected operation is "9999".
    c.setPOSAutoApplicationCode("CB01");
    c.setPOSAutoTicketRequest("1");
    EXPECT_EQ(c.POSAutoTicketRequested(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoOperation");
    EXPECT_EQ(c.POSAutoReceipt().substr(0, 14), "        TICKET") << "decoded all the same";
    c.setPOSAutoOperation("9999");
    EXPECT_NE(c.POSAutoTicketRequested(), "");
}

TEST_F(Extended, SoftwareIndexBoundaries) {
    ASSERT_NE(c.POSAutoSoftwareStatus(), "");
    c.setReceiveError("");
    EXPECT_EQ(c.POSAutoCode(31), "AF31");
    EXPECT_EQ(c.POSAutoCode(32), "");
    EXPECT_EQ(c.ReceiveError(), "errorPOSAutoCode");
    EXPECT_EQ(c.POSAutoVersion(32), "");
    EXPECT_EQ(c.ReceiveError(), "errorPOSAutoVersion");
    EXPECT_EQ(events.errors, (std::vector<std::string>{"errorPOSAutoCode", "errorPOSAutoVersion"}));
    c.setReceiveError("kept");
    EXPECT_THROW(c.POSAutoVersion(-1), std::out_of_range);
    EXPECT_THROW(c.POSAutoCode(-1), std::out_of_range);
    EXPECT_EQ(c.ReceiveError(), "kept");
    c.setErrorEnabled(false);
    EXPECT_EQ(c.POSAutoCode(100), "");
    EXPECT_EQ(events.errors.size(), 2u);
}

TEST_F(Extended, RequestNotBuiltOrNotSent) {
    EXPECT_EQ(c.POSAutoMessage("22"), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutosend");
    EXPECT_EQ(c.POSAutoSequence(), "01");
    EXPECT_TRUE(terminal.received().empty());
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerPOSAutosend"});
}

TEST(ExtendedNoTerminal, SendFailureKeepsItsOwnTag) {
    SimPlatform p;  // nothing answers on the line
    KorvelComTools c{p};
    test::Recorder events;
    c.setEventSink(&events);
    EXPECT_EQ(c.POSAutoStatusRequest(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_EQ(c.POSAutoSequence(), "01");
    EXPECT_EQ(std::count(events.errors.begin(), events.errors.end(), "errorHandlerPOSAutoMessage"),
              0);
}

TEST_F(Extended, NoReplyWithinTheWait) {
    terminal.setResponder(nullptr);
    const int64_t t0 = nowMs();
    EXPECT_EQ(c.POSAutoBeep("3", 3000), "");
    EXPECT_EQ(lastRequest(),
              "0120"
              "3");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoMessage");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerPOSAutoMessage"});
    EXPECT_EQ(c.POSAutoSequence(), "01") << "no reply: the sequence stays";
    EXPECT_GE(nowMs() - t0, 3000);
    EXPECT_LT(nowMs() - t0, 3500);
}

TEST_F(Extended, DefaultWaitIsTheFunctionTimeOut) {
    terminal.setResponder(nullptr);
    const int64_t t0 = nowMs();
    EXPECT_EQ(c.POSAutoBeep("3"), "");
    EXPECT_GE(nowMs() - t0, 10000);
    EXPECT_LT(nowMs() - t0, 10500);
}

TEST_F(Extended, WrongSequenceFunctionAndOperation) {
    responder.options().wrongSequence = true;
    EXPECT_EQ(c.POSAutoStatusRequest(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoSequence");
    EXPECT_EQ(c.POSAutoSequence(), "02") << "a compared reply advances the sequence";
    EXPECT_EQ(c.POSAutoStatusEFT(), std::string(5, '\0')) << "not decoded";
    responder.options().wrongSequence = false;

    responder.options().wrongFunction = true;
    EXPECT_EQ(c.POSAutoStatusRequest(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoFunction");
    EXPECT_EQ(c.POSAutoSequence(), "03");
    responder.options().wrongFunction = false;

    c.setPOSAutoCardReader("1");
    ASSERT_NE(c.POSAutoReadingCard(), "");
    responder.options().operationMismatch = true;
    responder.options().finalDelayMs = 10;
    EXPECT_EQ(c.POSAutoAuthorization(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoOperation");
    EXPECT_EQ(c.POSAutoOperation(), "5001") << "the decoded fields stay";
    EXPECT_EQ(c.POSAutoStatus(), "00");
    EXPECT_EQ(c.POSAutoSequence(), "05");
    EXPECT_EQ(events.received, 1) << "only the card reading completed";
    EXPECT_EQ(events.errors, (std::vector<std::string>{"errorHandlerPOSAutoSequence",
                                                       "errorHandlerPOSAutoFunction",
                                                       "errorHandlerPOSAutoOperation"}));
}

TEST_F(Extended, CodeWithoutReplyLayoutIsSentButNotDecoded) {
    c.setPOSAutoCardReader("1");
    EXPECT_EQ(c.POSAutoMessage("41", 5000), "");
    EXPECT_EQ(lastRequest().substr(0, 4), "0141");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoFunction");
    EXPECT_EQ(c.POSAutoSequence(), "02");
    EXPECT_EQ(c.POSAutoOperation(), "0000") << "not decoded";
    EXPECT_EQ(events.received, 0);
    // Without a wait of its own it does not wait at all.
    EXPECT_EQ(c.POSAutoMessage("41"), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoMessage");
}

TEST_F(Extended, AbortDuringTheSecondWait) {
    responder.options().finalDelayMs = 60000;
    struct Sink : test::Recorder {
        std::function<void()> onAbortEnabled;
        void AbortEnabledEvent() override {
            Recorder::AbortEnabledEvent();
            onAbortEnabled();
        }
    } sink;
    int64_t abortedAt = 0;
    sink.onAbortEnabled = [&] {
        p.simLoop().after(2'000'000, [&] {
            abortedAt = nowMs();
            c.setAbortReceive(true);
        });
    };
    c.setEventSink(&sink);
    c.setPOSAutoOperation("9999");
    EXPECT_EQ(c.POSAutoAuthorization(), "");
    EXPECT_EQ(sink.abortEnabled, 1);
    EXPECT_LE(nowMs() - abortedAt, 5);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoMessage");
    EXPECT_EQ(c.POSAutoSequence(), "01") << "no final reply: the sequence stays";
    EXPECT_FALSE(c.AbortReceive());
    EXPECT_EQ(sink.received, 0);
}

TEST_F(Extended, SecondWaitUsesTheAuthorisationTimeOut) {
    responder.options().noFinalReply = true;
    c.setPOSAutoTOfctAuthorization(8000);
    int64_t intermediateAt = 0;
    struct Sink : test::Recorder {
        std::function<void()> onAbortEnabled;
        void AbortEnabledEvent() override { onAbortEnabled(); }
    } sink;
    sink.onAbortEnabled = [&] { intermediateAt = nowMs(); };
    c.setEventSink(&sink);
    EXPECT_EQ(c.POSAutoAuthorization("", "", "", "", 3000), "");
    EXPECT_GE(nowMs() - intermediateAt, 8000) << "lngTimeout serves the first wait only";
    EXPECT_LT(nowMs() - intermediateAt, 8500);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoMessage");
}

TEST_F(Extended, SecondIntermediateReplyFailsTheFunctionCheck) {
    responder.options().secondIntermediate = true;
    responder.options().finalDelayMs = 10;
    EXPECT_EQ(c.POSAutoAuthorization(), "");
    EXPECT_EQ(events.abortEnabled, 1);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoFunction");
    EXPECT_EQ(c.POSAutoSequence(), "02");
}

TEST_F(Extended, NestedOperationFromAHandlerIsRefused) {
    responder.options().finalDelayMs = 3000;
    struct Sink : test::Recorder {
        std::function<void()> onAbortEnabled;
        void AbortEnabledEvent() override { onAbortEnabled(); }
    } sink;
    std::string nested = "not run";
    std::string errorAfterRefusal = "not run";
    sink.onAbortEnabled = [&] {
        nested = c.POSAutoBeep("12");  // also a rejected argument: never written
        errorAfterRefusal = c.ReceiveError();
        EXPECT_EQ(c.POSAutoMessage("14"), "");
        EXPECT_FALSE(c.POSAutoSend("14"));
    };
    c.setPOSAutoCardReader("1");
    ASSERT_NE(c.POSAutoReadingCard(), "");
    c.setEventSink(&sink);
    const std::string reply = c.POSAutoAuthorization();
    EXPECT_EQ(nested, "");
    EXPECT_EQ(errorAfterRefusal, "") << "the running payment's wait is not disturbed";
    EXPECT_EQ(sink.errors, std::vector<std::string>(3, "errorPOSAutoExchangeBusy"));
    EXPECT_EQ(reply.substr(0, 4), "0201") << c.ReceiveError();
    EXPECT_EQ(terminal.received().size(), 2u) << "nothing was interleaved";
    EXPECT_EQ(c.POSAutoNumBeep(), "1");
    // Once the payment is over, operations run again.
    c.setEventSink(&events);
    EXPECT_NE(c.POSAutoBeep("2"), "");
}

TEST_F(Extended, ReceiveDisabledRaisesNoEvent) {
    c.setReceiveEnabled(false);
    EXPECT_NE(c.POSAutoStatusRequest(), "");
    EXPECT_EQ(events.received, 0);
}

TEST_F(Extended, RejectedArgumentsAndTheAbortTreatment) {
    responder.options().finalDelayMs = 10;
    c.setPOSAutoCardReader("1");
    ASSERT_NE(c.POSAutoReadingCard(), "");
    EXPECT_NE(c.POSAutoAuthorization("12"), "") << c.ReceiveError();
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorPOSAutoAmountValue"});
    EXPECT_EQ(terminal.received().back().substr(8, 12), "000000000001");

    c.setPOSAutoTreatmentCard("1");
    c.POSAutoAbortOperation();
    EXPECT_EQ(terminal.received().back().substr(8), "0") << "the default resets it";
    c.POSAutoAbortOperation("1");
    EXPECT_EQ(terminal.received().back().substr(8), "1");
    c.POSAutoAbortOperation("");
    EXPECT_EQ(events.errors.back(), "errorPOSAutoTreatmentCard");
    EXPECT_EQ(terminal.received().back().substr(8), "1") << "the previous value went out";
}

TEST_F(Extended, ReadingCardWithTheWrongReaderSendsNothing) {
    EXPECT_EQ(c.POSAutoReadingCard(), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerPOSAutoCardReaderType");
    EXPECT_TRUE(terminal.received().empty());
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

TEST_F(Extended, OperationsAndResultsByName) {
    std::vector<Value> none;
    // Every optional argument omitted: the defaults, including the abort's treatment "0".
    c.setPOSAutoTreatmentCard("1");
    const Value reply = invoke(c, "POSAutoAbortOperation", MemberKind::Method, none);
    EXPECT_EQ(std::get<std::string>(reply), "011700");
    EXPECT_EQ(lastRequest(),
              "0117"
              "0000"
              "0");
    std::vector<Value> beep = {Value(std::string("4")), Value(int32_t{2500})};
    EXPECT_EQ(std::get<std::string>(invoke(c, "POSAutoBeep", MemberKind::Method, beep)), "022000");
    EXPECT_EQ(std::get<std::string>(getProperty(c, "POSAutoStatus")), "00");
    std::vector<Value> index = {Value(int16_t{-1})};
    EXPECT_THROW(invoke(c, "POSAutoCode", MemberKind::Get, index), AutomationError);
    for (const char* name :
         {"POSAutoMessage", "POSAutoAuthorization", "POSAutoRecording", "POSAutoReceiptMerchant",
          "POSAutoTicketRequested", "POSAutoCardReaderOperation", "POSAutoSettingExtReader",
          "POSAutoReadingCard", "POSAutoDisplayingPinPadRequest", "POSAutoStatusRequest",
          "POSAutoSoftwareStatus", "POSAutoClearTransactionFile", "POSAutoAbortOperation",
          "POSAutoSettingEFTConfiguration", "POSAutoSettingEFTApplication", "POSAutoBeep"})
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Method), nullptr) << name;
    for (const char* name :
         {"POSAutoApplication", "POSAutoReceipt", "POSAutoPrivate", "POSAutoNbCharacter",
          "POSAutoString", "POSAutoStatusEFT", "POSAutoCode", "POSAutoVersion"})
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Get), nullptr) << name;
}

}  // namespace
}  // namespace korvel
