// The extended request fields: initial values, validating writes with their tags and value
// mappings, and the sequence number's advance.
#include <gtest/gtest.h>

#include <stdexcept>

#include "extended/ExtendedRig.h"
#include "extended/Sequence.h"

namespace korvel::test {
namespace {

// Every field with the value of a newly placed control, in the order the control holds them.
const auto kFields = pairs(
    "Sequence=01 Operation=0000 Amount=000000000001 Currency=250 Control=0 Class=10 "
    "CardInfo=_*27 TrackISO1=~*107 TrackISO2=~*40 TrackISO3=~*79 ReadingType=0 TimeOut=065 "
    "Text=~*80 InputType=0 MinLength=0 MaxLength=9 InputOffset=00 TreatmentCard=0 CardReader=0 "
    "Printer=2 Buzzer=1 RetroPinPad=1 ApplicationCode=~*4 EFTNumber=~*3 Data=~*16 NumBeep=1 "
    "TicketRequest=~*1");

std::vector<std::string> snapshot(const Ext& w) {
    std::vector<std::string> all;
    for (const auto& [name, initial] : kFields)
        all.push_back(w.get(name));
    return all;
}

TEST(ExtendedFields, InitialValuesOfACreatedAndOfANewlyPlacedControl) {
    Ext w(false);
    for (const auto& [name, initial] : kFields)
        EXPECT_EQ(w.get(name), name == "TimeOut" ? "002" : initial) << name;
    // Result fields hold code 0 until a reply fills them; the two status fields "99".
    for (const auto& [name, initial] :
         pairs("Status=99 StatusCard=99 Application=~*4 Receipt=~*500 Private=~*10 "
               "NbCharacter=~*1 String=~*15 StatusEFT=~*5"))
        EXPECT_EQ(w.get(name), initial) << name;
    EXPECT_EQ(w.x.code(0) + w.x.version(31), expand("~*6"));
    // The software table has the entries 0 to 31; a negative index fails the read itself.
    EXPECT_EQ(w.x.code(32), "");
    EXPECT_EQ(w.x.version(32), "");
    EXPECT_EQ(w.errors, (std::vector<std::string>{"errorPOSAutoCode", "errorPOSAutoVersion"}));
    EXPECT_THROW(w.x.code(-1), std::out_of_range);
    EXPECT_THROW(w.x.version(-1), std::out_of_range);
    EXPECT_EQ(w.errorText, "errorPOSAutoVersion");

    // A newly placed control takes the defaults again but keeps fields that have none.
    w.setAll("Amount=000000000777 ApplicationCode=AP01");
    w.x.setIncSequenceEnabled(false);
    w.x.reset(true);
    for (const auto& [name, initial] : kFields)
        EXPECT_EQ(w.get(name), name == "ApplicationCode" ? "AP01" : initial) << name;
    EXPECT_TRUE(w.x.incSequenceEnabled());
}

// The values a field's write accepts ("text>stored" when it stores another text) and those it
// rejects with its tag.
struct Check {
    std::string field, tag;
    std::vector<std::string> accepted, rejected;
};

const std::vector<Check> kChecks = {
    {"Sequence", "errorPOSAutoSequenceValue", {"01", "99", "1a"}, {"00", "100", "-1", "5"}},
    {"Operation", "errorPOSAutoOperationValue", {"4321"}, {"432"}},
    {"Amount", "errorPOSAutoAmountValue", {"0000000000AB"}, {"12"}},
    {"Currency", "errorPOSAutoCurrency", {"978"}, {"9780"}},
    {"Control", "errorPOSAutoControl", {"s"}, {"P"}},
    {"Class", "errorPOSAutoClass", {"21"}, {"11"}},
    {"CardInfo", "", {"ABC", "x*30>" + expand("x*27")}, {}},
    {"TrackISO1", "errorPOSAutoTrackISO1", {"1*107"}, {"1*106"}},
    {"TrackISO2", "errorPOSAutoTrackISO2", {}, {"2*41"}},
    {"TrackISO3", "errorPOSAutoTrackISO3", {"3*79"}, {}},
    {"ReadingType", "errorPOSAutoReadingType", {"2"}, {"3"}},
    {"TimeOut", "POSAutoTimeOut", {"-10", "001"}, {"000", "066", "65"}},
    {"Text", "errorPOSAutoText", {}, {"T*79"}},
    {"InputType", "errorPOSAutoInputType", {"9"}, {"2"}},
    {"MinLength", "errorPOSAutoMinLength", {"?"}, {"@", "00"}},
    {"MaxLength", "errorPOSAutoMaxLength", {"0"}, {"/", "00"}},
    {"InputOffset", "errorPOSAutoInputOffset", {"79", "-1", "00"}, {"7"}},
    {"InputOffset", "errorPOSAutoInputOffset ", {}, {"80"}},
    {"TreatmentCard", "errorPOSAutoTreatmentCard", {"x>0", "1"}, {"-"}},
    {"CardReader", "errorPOSAutoCardReader", {"2"}, {"-"}},
    {"Printer", "errorPOSAutoPrinter", {"0"}, {"22"}},
    {"Buzzer", "errorPOSAutoBuzzer", {"7>1", "0", "/"}, {"-"}},
    {"RetroPinPad", "errorPOSAutoRetroPinPad", {"\xC8>1"}, {"10"}},
    {"ApplicationCode", "errorPOSAutoApplicationCode", {"AP01"}, {"AP0"}},
    {"EFTNumber", "errorPOSAutoEFTNumber", {"123"}, {"1234"}},
    {"Data", "errorPOSAutoData", {}, {"d*15"}},
    {"NumBeep", "errorPOSAutoNumBeep", {"0", "9"}, {":", "/", "33"}},
    {"TicketRequest", "errorPOSAutoTicketRequest", {"1"}, {"11"}}};

// Each write changes its own field only, and only when accepted; it is announced under the
// property's name, a rejection leaves its tag and raises one event.
TEST(ExtendedFields, WritesAreValidatedMappedAndStoredInTheirOwnField) {
    const std::vector<std::string> none;
    for (const Check& check : kChecks)
        for (const bool accepted : {true, false})
            for (const std::string& item : accepted ? check.accepted : check.rejected) {
                const std::string value = expand(item.substr(0, item.find('>')));
                SCOPED_TRACE(check.field + " = '" + value + "'");
                Ext w;
                std::vector<std::string> want = snapshot(w);
                for (std::size_t i = 0; i < kFields.size(); ++i)
                    if (kFields[i].first == check.field && accepted) {
                        const auto arrow = item.find('>');
                        want[i] = arrow == item.npos ? value : item.substr(arrow + 1);
                        want[i].resize(kFields[i].second.size(), ' ');
                    }
                w.set(check.field, value);
                EXPECT_EQ(snapshot(w), want);
                EXPECT_EQ(w.announced, accepted ? std::vector{"POSAuto" + check.field} : none);
                EXPECT_EQ(w.errors, accepted ? none : std::vector{check.tag});
            }
}

TEST(ExtendedSequence, AdvancesThroughTwoDigitsAndWrapsToOne) {
    Ext w;
    for (const auto& [stored, next] : pairs("01=02 09=10 98=99 99=01 ab=01 1a=02 ~*2=01")) {
        EXPECT_TRUE(w.x.storeUnchecked("POSAutoSequence", expand(stored)));
        w.x.incSequence();
        EXPECT_EQ(w.get("Sequence"), next) << "after '" << stored << "'";
    }
    EXPECT_FALSE(w.x.storeUnchecked("POSAutoStatus", "00")) << "not a request field";
    EXPECT_EQ(ext::nextSequence("2.5") + ext::nextSequence("3.5"), "0305") << "half to even";
    w.x.setIncSequenceEnabled(false);
    w.x.incSequence();
    EXPECT_EQ(w.get("Sequence"), "01") << "switched off";
    // Only the switch was announced: the advance bypasses the validating write.
    EXPECT_EQ(w.announced, std::vector<std::string>{"POSAutoIncSequenceEnabled"});
}

}  // namespace
}  // namespace korvel::test
