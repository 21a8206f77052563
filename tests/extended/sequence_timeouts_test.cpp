// Sequence numbering and the per-function time-outs.
#include <gtest/gtest.h>

#include <utility>

#include "extended/ExtendedFields.h"
#include "extended/Sequence.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class Sequence : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    std::vector<std::string> changed;
    void SetUp() override {
        c.setEventSink(&events);
        c.setPropertyChangedHandler([this](const std::string& n) { changed.push_back(n); });
    }
    std::string advanceFrom(const std::string& stored) {
        c.storeExtendedFieldUnchecked("POSAutoSequence", stored);
        c.POSAutoIncSequence();
        return c.POSAutoSequence();
    }
};

TEST_F(Sequence, AdvancesWithTwoDigitsAndWrapsToOne) {
    EXPECT_EQ(advanceFrom("01"), "02");
    EXPECT_EQ(advanceFrom("09"), "10");
    EXPECT_EQ(advanceFrom("98"), "99");
    EXPECT_EQ(advanceFrom("99"), "01");
    EXPECT_EQ(advanceFrom("ab"), "01") << "a text without a number counts as 0";
    EXPECT_EQ(advanceFrom("1a"), "02");
    EXPECT_EQ(advanceFrom(" 5"), "06");
    EXPECT_EQ(advanceFrom(std::string(2, '\0')), "01");
    EXPECT_TRUE(changed.empty()) << "the advance bypasses the validating write";
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST_F(Sequence, RunsThroughEveryNumberOnce) {
    c.setPOSAutoSequence("01");
    std::string seen = c.POSAutoSequence();
    for (int i = 0; i < 99; ++i) {
        c.POSAutoIncSequence();
        seen += c.POSAutoSequence();
    }
    std::string expected;
    for (int n = 1; n <= 99; ++n)
        expected += (n < 10 ? "0" : "") + std::to_string(n);
    EXPECT_EQ(seen, expected + "01");
}

TEST_F(Sequence, DisabledLeavesTheNumber) {
    c.setPOSAutoSequence("42");
    changed.clear();
    c.setPOSAutoIncSequenceEnabled(false);
    EXPECT_EQ(changed, std::vector<std::string>{"POSAutoIncSequenceEnabled"});
    c.POSAutoIncSequence();
    EXPECT_EQ(c.POSAutoSequence(), "42");
    EXPECT_FALSE(c.POSAutoIncSequenceEnabled());
    c.InitNewInstance();
    EXPECT_TRUE(c.POSAutoIncSequenceEnabled()) << "a new instance starts enabled";
    std::vector<Value> none;
    invoke(c, "POSAutoIncSequence", MemberKind::Method, none);
    EXPECT_EQ(c.POSAutoSequence(), "02") << "callable by name";
}

TEST(NextSequence, RoundsTiesToEvenAndFallsBackToOne) {
    EXPECT_EQ(ext::nextSequence("2.5"), "03");  // 2.5 rounds to 2
    EXPECT_EQ(ext::nextSequence("3.5"), "05");  // 3.5 rounds to 4
    EXPECT_EQ(ext::nextSequence("0.4"), "01");
    EXPECT_EQ(ext::nextSequence("-1"), "00");  // loaded unchecked; the rule still applies
    EXPECT_EQ(ext::nextSequence("-5"), "-4");
    EXPECT_EQ(ext::nextSequence("40000"), "01") << "outside 16 bits";
    EXPECT_EQ(ext::nextSequence("32767"), "01");
}

// Initial values in state order, with the code each one serves as default reply wait.
const std::vector<std::pair<std::string, int32_t>> kTimeouts = {
    {"POSAutoTOfctAuthorization", 400000},
    {"POSAutoTOfctAuthorizationInter", 150000},
    {"POSAutoTOfctRecording", 40000},
    {"POSAutoTOfctReceiptMerchant", 5000},
    {"POSAutoTOfctSettingExtReader", 30000},
    {"POSAutoTOfctReadingCard", 65000},
    {"POSAutoTOfctDisplayingPinPadRequest", 65000},
    {"POSAutoTOfctStatusRequest", 40000},
    {"POSAutoTOfctSoftwareStatus", 2000},
    {"POSAutoTOfctClearTransactionFile", 1800000},
    {"POSAutoTOfctAbortOperation", 30000},
    {"POSAutoTOfctSettingEFTConfiguration", 2000},
    {"POSAutoTOfctSettingEFTApplication", 2000},
    {"POSAutoTOfctBeep", 10000},
    {"POSAutoTOfctCardReader", 2000},
    {"POSAutoTOfctCBInit", 2000},
    {"POSAutoTOfctTicketRequest", 2000},
};

TEST_F(Sequence, FunctionTimeOutsDefaultsAndUncheckedWrites) {
    ASSERT_EQ(kTimeouts.size(), ext::kTimeoutCount);
    for (std::size_t i = 0; i < kTimeouts.size(); ++i) {
        const auto& [name, initial] = kTimeouts[i];
        EXPECT_EQ(ext::timeouts()[i].name, name);
        EXPECT_EQ(std::get<int32_t>(getProperty(c, name)), initial) << name;
    }
    // Each written by name changes itself only and is announced; -1 and 0 are accepted.
    int32_t v = -1;
    for (const auto& [name, initial] : kTimeouts) {
        (void)initial;
        changed.clear();
        setProperty(c, name, Value(v));
        EXPECT_EQ(changed, std::vector<std::string>{name});
        --v;
    }
    v = -1;
    for (const auto& [name, initial] : kTimeouts) {
        (void)initial;
        EXPECT_EQ(std::get<int32_t>(getProperty(c, name)), v--) << name;
    }
    c.setPOSAutoTOfctBeep(0);
    EXPECT_EQ(c.POSAutoTOfctBeep(), 0);
    EXPECT_TRUE(events.errors.empty());
    c.InitNewInstance();
    EXPECT_EQ(c.POSAutoTOfctBeep(), 10000);
    EXPECT_EQ(c.POSAutoTOfctClearTransactionFile(), 1800000);
}

TEST(ReplyTimeout, EachCodeSelectsItsOwnTimeOut) {
    using T = ext::Timeout;
    const std::vector<std::pair<std::string, T>> expected = {
        {"01", T::AuthorizationInter},
        {"03", T::Recording},
        {"04", T::ReceiptMerchant},
        {"10", T::SettingExtReader},
        {"11", T::ReadingCard},
        {"12", T::DisplayingPinPadRequest},
        {"14", T::StatusRequest},
        {"15", T::SoftwareStatus},
        {"16", T::ClearTransactionFile},
        {"17", T::AbortOperation},
        {"18", T::SettingEFTConfiguration},
        {"19", T::SettingEFTApplication},
        {"20", T::Beep},
        {"21", T::CardReader},
        {"22", T::CBInit},
        {"23", T::TicketRequest},
    };
    for (const auto& [code, timeout] : expected) {
        const auto got = ext::replyTimeoutFor(code);
        ASSERT_TRUE(got) << code;
        EXPECT_EQ(*got, timeout) << code;
    }
    EXPECT_EQ(ext::info(*ext::replyTimeoutFor("16")).initial, 1800000);
    for (const char* none : {"40", "50", "60", "41", "51", "61", "02", "1", "", "011", "99"})
        EXPECT_FALSE(ext::replyTimeoutFor(none)) << none;
}

}  // namespace
}  // namespace korvel
