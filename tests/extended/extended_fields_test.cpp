// The extended request fields: initial values, validating writes with their tags, value
// mappings and change notifications, and by-name access for every field.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "extended/ExtendedFields.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

std::string zeros(std::size_t n) {
    return std::string(n, '\0');
}

class ExtendedFields : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    std::vector<std::string> changed;
    void SetUp() override {
        c.setEventSink(&events);
        c.setPropertyChangedHandler([this](const std::string& n) { changed.push_back(n); });
    }
    std::string get(const std::string& name) { return std::get<std::string>(getProperty(c, name)); }
    void set(const std::string& name, const std::string& value) {
        setProperty(c, name, Value(value));
    }
    // Writes `value` and expects it rejected with `tag`, the field unchanged, one event and
    // no notification.
    void expectRejected(const std::string& name, const std::string& value, const std::string& tag) {
        const std::string before = get(name);
        events.errors.clear();
        changed.clear();
        set(name, value);
        EXPECT_EQ(c.ReceiveError(), tag) << name << " = '" << value << "'";
        EXPECT_EQ(events.errors, std::vector<std::string>{tag}) << name << " = '" << value << "'";
        EXPECT_EQ(get(name), before) << name << " = '" << value << "'";
        EXPECT_TRUE(changed.empty()) << name;
    }
    // Writes `value` and expects `stored`, one notification under the name and no tag.
    void expectStored(const std::string& name, const std::string& value,
                      const std::string& stored) {
        c.setReceiveError("");
        changed.clear();
        set(name, value);
        EXPECT_EQ(get(name), stored) << name << " = '" << value << "'";
        EXPECT_EQ(changed, std::vector<std::string>{name}) << name << " = '" << value << "'";
        EXPECT_EQ(c.ReceiveError(), "") << name << " = '" << value << "'";
    }
    void expectAccepted(const std::string& name, const std::string& value) {
        expectStored(name, value, value);
    }
};

// Initial values of a newly placed control, in the order of the control state.
const std::vector<std::pair<std::string, std::string>> kInitial = {
    {"POSAutoSequence", "01"},
    {"POSAutoOperation", "0000"},
    {"POSAutoAmount", "000000000001"},
    {"POSAutoCurrency", "250"},
    {"POSAutoControl", "0"},
    {"POSAutoClass", "10"},
    {"POSAutoCardInfo", std::string(27, ' ')},
    {"POSAutoTrackISO1", zeros(107)},
    {"POSAutoTrackISO2", zeros(40)},
    {"POSAutoTrackISO3", zeros(79)},
    {"POSAutoReadingType", "0"},
    {"POSAutoTimeOut", "065"},
    {"POSAutoText", zeros(80)},
    {"POSAutoInputType", "0"},
    {"POSAutoMinLength", "0"},
    {"POSAutoMaxLength", "9"},
    {"POSAutoInputOffset", "00"},
    {"POSAutoTreatmentCard", "0"},
    {"POSAutoCardReader", "0"},
    {"POSAutoPrinter", "2"},
    {"POSAutoBuzzer", "1"},
    {"POSAutoRetroPinPad", "1"},
    {"POSAutoApplicationCode", zeros(4)},
    {"POSAutoEFTNumber", zeros(3)},
    {"POSAutoData", zeros(16)},
    {"POSAutoNumBeep", "1"},
    {"POSAutoTicketRequest", zeros(1)},
};

TEST_F(ExtendedFields, TableMatchesThePropertiesInStateOrder) {
    ASSERT_EQ(kInitial.size(), ext::kPropertyFieldCount);
    for (std::size_t i = 0; i < kInitial.size(); ++i) {
        const auto& fi = ext::fields()[i];
        EXPECT_EQ(ext::index(fi.field), i);
        ASSERT_NE(fi.name, nullptr);
        EXPECT_EQ(fi.name, kInitial[i].first);
        EXPECT_EQ(fi.width, kInitial[i].second.size()) << fi.name;
    }
    const auto& reserved = ext::info(ext::Field::ConfigurationReserved);
    EXPECT_EQ(reserved.name, nullptr) << "a private field, not a property";
    EXPECT_EQ(ext::initialText(ext::Field::ConfigurationReserved), zeros(4));
}

TEST_F(ExtendedFields, ConstructionAndNewInstanceInitialValues) {
    for (const auto& [name, value] : kInitial)
        EXPECT_EQ(get(name), name == "POSAutoTimeOut" ? "002" : value) << name;
    EXPECT_EQ(c.POSAutoStatus(), "99");
    EXPECT_EQ(c.POSAutoStatusCard(), "99");

    c.InitNewInstance();
    for (const auto& [name, value] : kInitial)
        EXPECT_EQ(get(name), value) << name << " after new-instance initialisation";
}

TEST_F(ExtendedFields, NewInstanceInitialisationRestoresDefaultsButNotUnsetFields) {
    c.setPOSAutoAmount("000000000777");
    c.setPOSAutoTimeOut("030");
    c.setPOSAutoApplicationCode("AP01");
    c.setPOSAutoTrackISO2(std::string(40, 'T'));
    c.InitNewInstance();
    EXPECT_EQ(c.POSAutoAmount(), "000000000001");
    EXPECT_EQ(c.POSAutoTimeOut(), "065");
    // Fields without an initial value hold code 0 only until first written.
    EXPECT_EQ(c.POSAutoApplicationCode(), "AP01");
    EXPECT_EQ(c.POSAutoTrackISO2(), std::string(40, 'T'));
    KorvelComTools fresh(p);
    EXPECT_EQ(fresh.POSAutoApplicationCode(), zeros(4)) << "fields are per control";
}

TEST_F(ExtendedFields, SequenceBoundaries) {
    expectRejected("POSAutoSequence", "00", "errorPOSAutoSequenceValue");
    expectAccepted("POSAutoSequence", "01");
    expectAccepted("POSAutoSequence", "99");
    expectAccepted("POSAutoSequence", "1a");  // numeric value 1
    expectRejected("POSAutoSequence", "100", "errorPOSAutoSequenceValue");
    expectRejected("POSAutoSequence", "5", "errorPOSAutoSequenceValue");
    expectRejected("POSAutoSequence", "ab", "errorPOSAutoSequenceValue");
    expectRejected("POSAutoSequence", "-1", "errorPOSAutoSequenceValue");
    expectRejected("POSAutoSequence", "", "errorPOSAutoSequenceValue");
}

TEST_F(ExtendedFields, TimeOutBoundariesAndItsBareTag) {
    expectRejected("POSAutoTimeOut", "000", "POSAutoTimeOut");
    expectRejected("POSAutoTimeOut", "066", "POSAutoTimeOut");
    expectAccepted("POSAutoTimeOut", "065");
    expectAccepted("POSAutoTimeOut", "001");
    expectAccepted("POSAutoTimeOut", "-10");                    // negative values pass
    expectRejected("POSAutoTimeOut", "abc", "POSAutoTimeOut");  // numeric value 0
    expectRejected("POSAutoTimeOut", "65", "POSAutoTimeOut");
    expectRejected("POSAutoTimeOut", "0065", "POSAutoTimeOut");
}

TEST_F(ExtendedFields, InputOffsetTagsDifferByTrailingSpace) {
    expectAccepted("POSAutoInputOffset", "79");
    expectRejected("POSAutoInputOffset", "80", "errorPOSAutoInputOffset ");
    expectRejected("POSAutoInputOffset", "7", "errorPOSAutoInputOffset");
    expectRejected("POSAutoInputOffset", "790", "errorPOSAutoInputOffset");
    expectAccepted("POSAutoInputOffset", "-1");  // no lower bound on write
    expectAccepted("POSAutoInputOffset", "00");
}

TEST_F(ExtendedFields, CharacterCodeRanges) {
    for (const char* name : {"POSAutoMinLength", "POSAutoMaxLength"}) {
        const std::string tag = std::string("error") + name;
        expectAccepted(name, "?");  // 63
        expectAccepted(name, "0");  // 48
        expectAccepted(name, ":");
        expectRejected(name, "@", tag);  // 64
        expectRejected(name, "/", tag);  // 47
        expectRejected(name, "", tag);
        expectRejected(name, "00", tag);
    }
    expectAccepted("POSAutoNumBeep", "9");
    expectAccepted("POSAutoNumBeep", "0");
    expectRejected("POSAutoNumBeep", ":", "errorPOSAutoNumBeep");  // 58
    expectRejected("POSAutoNumBeep", "/", "errorPOSAutoNumBeep");
    expectRejected("POSAutoNumBeep", "33", "errorPOSAutoNumBeep");
}

TEST_F(ExtendedFields, ValueSetsAreExactAndCaseSensitive) {
    const std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>>
        sets = {
            {"POSAutoControl",
             {{"0", "1", "2", "3", "4", "5", "p", "q", "s"}, {"P", "6", "r", "", "00", " 0"}}},
            {"POSAutoClass", {{"10", "21", "22"}, {"11", "20", "2", "", "10 "}}},
            {"POSAutoReadingType", {{"0", "1", "2"}, {"3", "", "01"}}},
            {"POSAutoInputType", {{"0", "1", "9"}, {"2", "8", ""}}},
            {"POSAutoCardReader", {{"0", "1", "2"}, {"3", "", "00"}}},
            {"POSAutoPrinter", {{"0", "1", "2"}, {"3", "", "22"}}},
        };
    for (const auto& [name, sample] : sets) {
        for (const auto& v : sample.first)
            expectAccepted(name, v);
        for (const auto& v : sample.second)
            expectRejected(name, v, "error" + name);
    }
}

TEST_F(ExtendedFields, ValueMappings) {
    expectStored("POSAutoTreatmentCard", "x", "0");
    expectStored("POSAutoTreatmentCard", "1", "1");
    expectStored("POSAutoTreatmentCard", "2", "0");
    expectRejected("POSAutoTreatmentCard", "", "errorPOSAutoTreatmentCard");
    expectRejected("POSAutoTreatmentCard", "11", "errorPOSAutoTreatmentCard");
    for (const char* name : {"POSAutoBuzzer", "POSAutoRetroPinPad"}) {
        expectStored(name, "7", "1");
        expectStored(name, "0", "0");
        expectStored(name, " ", " ");
        expectStored(name, "/", "/");  // code 47 stays
        expectStored(name, "1", "1");
        expectStored(name, "\xC8", "1");  // code 200 sorts after "0"
        expectRejected(name, "", std::string("error") + name);
        expectRejected(name, "10", std::string("error") + name);
    }
}

TEST_F(ExtendedFields, ExactLengthFields) {
    const std::map<std::string, std::string> tags = {
        {"POSAutoOperation", "errorPOSAutoOperationValue"},
        {"POSAutoAmount", "errorPOSAutoAmountValue"},
        {"POSAutoCurrency", "errorPOSAutoCurrency"},
        {"POSAutoTrackISO1", "errorPOSAutoTrackISO1"},
        {"POSAutoTrackISO2", "errorPOSAutoTrackISO2"},
        {"POSAutoTrackISO3", "errorPOSAutoTrackISO3"},
        {"POSAutoText", "errorPOSAutoText"},
        {"POSAutoApplicationCode", "errorPOSAutoApplicationCode"},
        {"POSAutoEFTNumber", "errorPOSAutoEFTNumber"},
        {"POSAutoData", "errorPOSAutoData"},
        {"POSAutoTicketRequest", "errorPOSAutoTicketRequest"},
    };
    for (const auto& [name, tag] : tags) {
        const std::size_t width = get(name).size();
        expectRejected(name, std::string(width - 1, 'x'), tag);
        expectRejected(name, std::string(width + 1, 'x'), tag);
        // Any characters, trailing spaces kept: the amount's digits are not checked.
        const std::string value = std::string(width - 1, 'A') + " ";
        expectAccepted(name, value);
    }
}

TEST_F(ExtendedFields, CardInfoIsNeverRejected) {
    c.setReceiveError("earlier");
    changed.clear();
    c.setPOSAutoCardInfo("ABC");
    EXPECT_EQ(c.POSAutoCardInfo(), "ABC" + std::string(24, ' '));
    EXPECT_EQ(changed, std::vector<std::string>{"POSAutoCardInfo"});
    c.setPOSAutoCardInfo(std::string(27, 'x') + "YYY");
    EXPECT_EQ(c.POSAutoCardInfo(), std::string(27, 'x'));
    c.setPOSAutoCardInfo("");
    EXPECT_EQ(c.POSAutoCardInfo(), std::string(27, ' '));
    EXPECT_EQ(c.ReceiveError(), "earlier") << "a successful write leaves the tag";
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(ExtendedFields, RejectionWithoutEventWhenErrorsAreDisabled) {
    c.setErrorEnabled(false);
    c.setPOSAutoControl("P");
    EXPECT_EQ(c.ReceiveError(), "errorPOSAutoControl");
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(c.POSAutoControl(), "0");
}

TEST_F(ExtendedFields, AHandlerThatRewritesTheTagKeepsItsText) {
    events.onError = [](std::string& tag) { tag = "seen:" + tag; };
    c.setPOSAutoClass("99");
    EXPECT_EQ(c.ReceiveError(), "seen:errorPOSAutoClass");
}

// A valid value for every property, and what it is stored as: written by name, it must change
// that field and no other, and be announced under that name.
TEST_F(ExtendedFields, EveryFieldIsReachableByNameAndWiredToItsOwnSlot) {
    const std::map<std::string, std::pair<std::string, std::string>> sample = {
        {"POSAutoSequence", {"42", "42"}},
        {"POSAutoOperation", {"1234", "1234"}},
        {"POSAutoAmount", {"000000004200", "000000004200"}},
        {"POSAutoCurrency", {"978", "978"}},
        {"POSAutoControl", {"s", "s"}},
        {"POSAutoClass", {"21", "21"}},
        {"POSAutoCardInfo", {"CARD", "CARD" + std::string(23, ' ')}},
        {"POSAutoTrackISO1", {std::string(107, '1'), std::string(107, '1')}},
        {"POSAutoTrackISO2", {std::string(40, '2'), std::string(40, '2')}},
        {"POSAutoTrackISO3", {std::string(79, '3'), std::string(79, '3')}},
        {"POSAutoReadingType", {"2", "2"}},
        {"POSAutoTimeOut", {"030", "030"}},
        {"POSAutoText", {std::string(80, 'T'), std::string(80, 'T')}},
        {"POSAutoInputType", {"9", "9"}},
        {"POSAutoMinLength", {"4", "4"}},
        {"POSAutoMaxLength", {"8", "8"}},
        {"POSAutoInputOffset", {"12", "12"}},
        {"POSAutoTreatmentCard", {"1", "1"}},
        {"POSAutoCardReader", {"1", "1"}},
        {"POSAutoPrinter", {"1", "1"}},
        {"POSAutoBuzzer", {"0", "0"}},
        {"POSAutoRetroPinPad", {"5", "1"}},
        {"POSAutoApplicationCode", {"AP01", "AP01"}},
        {"POSAutoEFTNumber", {"123", "123"}},
        {"POSAutoData", {"0123456789ABCDEF", "0123456789ABCDEF"}},
        {"POSAutoNumBeep", {"3", "3"}},
        {"POSAutoTicketRequest", {"1", "1"}},
    };
    ASSERT_EQ(sample.size(), kInitial.size());
    for (const auto& [name, initial] : kInitial) {
        (void)initial;
        ASSERT_TRUE(sample.count(name)) << name;
        std::map<std::string, std::string> before;
        for (const auto& other : kInitial)
            before[other.first] = get(other.first);
        changed.clear();
        set(name, sample.at(name).first);
        EXPECT_EQ(c.ReceiveError(), "") << name;
        EXPECT_EQ(changed, std::vector<std::string>{name});
        for (const auto& other : kInitial) {
            const std::string now = get(other.first);
            if (other.first == name)
                EXPECT_EQ(now, sample.at(name).second) << name;
            else
                EXPECT_EQ(now, before[other.first])
                    << "writing " << name << " changed " << other.first;
        }
    }
}

TEST_F(ExtendedFields, UncheckedStoreAsPropertyLoadingDoes) {
    changed.clear();
    EXPECT_TRUE(c.storeExtendedFieldUnchecked("POSAutoControl", "x"));
    EXPECT_EQ(c.POSAutoControl(), "x");
    EXPECT_TRUE(c.storeExtendedFieldUnchecked("POSAutoSequence", "7"));
    EXPECT_EQ(c.POSAutoSequence(), "7 ");
    EXPECT_TRUE(c.storeExtendedFieldUnchecked("POSAutoApplicationCode", "123456"));
    EXPECT_EQ(c.POSAutoApplicationCode(), "1234");
    EXPECT_FALSE(c.storeExtendedFieldUnchecked("POSAutoStatus", "00"));
    EXPECT_FALSE(c.storeExtendedFieldUnchecked("posautocontrol", "1")) << "exact spelling";
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST(ExtendedRules, NumericValueOfText) {
    EXPECT_EQ(ext::numericValue("1a"), 1);
    EXPECT_EQ(ext::numericValue("-5"), -5);
    EXPECT_EQ(ext::numericValue("ab"), 0);
    EXPECT_EQ(ext::numericValue(" 7"), 7);
    EXPECT_EQ(ext::numericValue("0.5"), 0.5);
    EXPECT_EQ(ext::numericValue(std::string(3, '\0')), 0);
}

}  // namespace
}  // namespace korvel
