// Saving and loading the persisted properties: the exact entries written, the order of
// loading, the fixed-width fit without checks or notifications, the port settings, and
// every entry guarded on its own.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using S = std::string;

struct Row {
    const char* key;
    PropValue value;  // of a newly placed control
    PropValue def;
};

// The saved set of a newly placed control, in the order of saving.
std::vector<Row> newlyPlacedSave() {
    const S zeros4(4, '\0');
    return {
        {"CommPort", int16_t{1}, int16_t{1}},
        {"CommSettings", S("9600,e,7,1"), S("9600,e,7,1")},
        {"TOwaitChar", 600, 600},
        {"TOwaitRetry", 1200, 1200},
        {"TOwaitReply", 20, 20},
        {"TOBetweenChar", 50, 50},
        {"TOWaitBetweenCommand", 100, 100},
        {"RetrySession", int16_t{3}, int16_t{3}},
        {"RetryData", int16_t{3}, int16_t{3}},
        {"ErrorEnabled", true, true},
        {"ReceiveEnabled", true, true},
        {"EscapeKeyEnabled", true, true},
        {"AbortReceive", false, false},
        {"POSNumber", S("01"), S("01")},
        {"POSAmount", S("00000001"), S("00000001")},
        {"POSRep", S("1"), S("1")},
        {"POSMode", S("0"), S("0")},
        {"POSType", S("?"), S("?")},
        {"POSDev", S("250"), S("250")},
        {"POSTimeout", 10000, 10000},
        {"POSAutoSequence", S("01"), S("01")},
        {"POSAutoOperation", S("0000"), S("0000")},
        {"POSAutoOperation", S("9999"), S("9999")},
        {"POSAutoAmount", S("000000000001"), S("000000000001")},
        {"POSAutoCurrency", S("250"), S("250")},
        {"POSAutoControl", S("0"), S("0")},
        {"POSAutoClass", S("10"), S("10")},
        {"POSAutoReadingType", S("0"), S("0")},
        {"POSAutoCardInfo", S(27, ' '), S(27, ' ')},
        {"POSAutoTimeOut", S("065"), S("065")},
        {"POSAutoText", S(80, '\0'), S("")},
        {"POSAutoInputType", S("0"), S("0")},
        {"POSAutoMinLength", S("0"), S("0")},
        {"POSAutoMaxLength", S("9"), S("9")},
        {"POSAutoInputOffset", S("00"), S("00")},
        {"POSAutoTreatmentCard", S("0"), S("0")},
        {"POSAutoCardReader", S("0"), S("0")},
        {"POSAutoPrinter", S("2"), S("2")},
        {"POSAutoBuzzer", S("1"), S("1")},
        {"POSAutoRetroPinPad", S("1"), S("1")},
        {"POSAutoApplicationCode", zeros4, S("0000")},
        {"POSAutoEFTNumber", S(3, '\0'), S("000")},
        {"POSAutoNumBeep", S("1"), S("1")},
        {"POSAutoTicketRequest", S(1, '\0'), S("1")},
        {"POSAutoTOfctAuthorization", 400000, 400000},
        {"POSAutoTOfctAuthorizationInter", 150000, 150000},
        {"POSAutoTOfctRecording", 40000, 40000},
        {"POSAutoTOfctReceiptMerchant", 5000, 5000},
        {"POSAutoTOfctSettingExtReader", 30000, 30000},
        {"POSAutoTOfctReadingCard", 65000, 65000},
        {"POSAutoTOfctDisplayingPinPadRequest", 65000, 65000},
        {"POSAutoTOfctStatusRequest", 40000, 40000},
        {"POSAutoTOfctSoftwareStatus", 2000, 2000},
        {"POSAutoTOfctClearTransactionFile", 1800000, 1800000},
        {"POSAutoTOfctAbortOperation", 30000, 30000},
        {"POSAutoTOfctSettingEFTConfiguration", 2000, 2000},
        {"POSAutoTOfctSettingEFTApplication", 2000, 2000},
        {"POSAutoTOfctBeep", 10000, 10000},
        {"POSAutoTOfctCardReader", 2000, 2000},
        {"POSAutoTOfctCBInit", 2000, 2000},
        {"POSAutoTOfctTicketRequest", 2000, 2000},
        {"POSAutoIncSequence", true, true},
    };
}

// The property each saved key restores (the second "POSAutoOperation" restores a private
// field and has no property).
std::string propertyOf(const std::string& key) {
    return key == "POSAutoIncSequence" ? "POSAutoIncSequenceEnabled" : key;
}

// A bag that fails on chosen keys, to show that one failing entry skips only itself.
struct FaultyBag : MemoryPropertyBag {
    std::set<std::string> failing;
    PropValue read(const std::string& key, const PropValue& def) override {
        if (failing.count(key)) throw std::runtime_error("unreadable " + key);
        return MemoryPropertyBag::read(key, def);
    }
    void write(const std::string& key, const PropValue& v, const PropValue& def) override {
        if (failing.count(key)) throw std::runtime_error("full");
        MemoryPropertyBag::write(key, v, def);
    }
};

class Persistence : public ::testing::Test {
  protected:
    Persistence() {
        control.setEventSink(&events);
        control.setPropertyChangedHandler([this](const std::string& n) { changed.push_back(n); });
    }
    SimPlatform platform;
    KorvelComTools control{platform};
    test::Recorder events;
    std::vector<std::string> changed;
};

TEST_F(Persistence, SavesTheSixtyTwoEntriesInOrderWithTheirDefaults) {
    control.InitProperties();
    MemoryPropertyBag bag;
    control.WriteProperties(bag);
    const auto expected = newlyPlacedSave();
    ASSERT_EQ(bag.writes().size(), 62u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i + 1) + " " + expected[i].key);
        EXPECT_EQ(bag.writes()[i].key, expected[i].key);
        EXPECT_EQ(bag.writes()[i].value, expected[i].value);
        EXPECT_EQ(bag.writes()[i].defaultValue, expected[i].def);
    }
    EXPECT_TRUE(changed.empty());
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(Persistence, SavesTheCurrentValuesIncludingPortAndTheSecondOperation) {
    control.setCommPort(5);
    control.setCommSettings("19200,n,8,1");
    control.setPOSAutoOperation("4321");
    control.setPOSNumber("42");
    control.setPOSAutoTOfctBeep(5000);
    control.setRetryData(7);
    control.setAbortReceive(true);
    control.setPOSAutoIncSequenceEnabled(false);
    MemoryPropertyBag bag;
    control.WriteProperties(bag);
    const auto& w = bag.writes();
    ASSERT_EQ(w.size(), 62u);
    EXPECT_EQ(w[0].value, PropValue(int16_t{5}));
    EXPECT_EQ(w[1].value, PropValue(S("19200,n,8,1")));
    EXPECT_EQ(w[8].value, PropValue(int16_t{7}));
    EXPECT_EQ(w[12].value, PropValue(true));
    EXPECT_EQ(w[13].value, PropValue(S("42")));
    EXPECT_EQ(w[21].value, PropValue(S("4321")));
    EXPECT_EQ(w[22].value, PropValue(S("9999"))) << "the operation the replies must carry";
    EXPECT_EQ(w[57].value, PropValue(int32_t{5000}));
    EXPECT_EQ(w[29].value, PropValue(S("002"))) << "a constructed control holds 002";
    EXPECT_EQ(w[29].defaultValue, PropValue(S("065")));
    EXPECT_EQ(w[61].value, PropValue(false));
}

TEST_F(Persistence, LoadsInItsOwnOrderWithTheLoadDefaults) {
    MemoryPropertyBag bag;
    control.ReadProperties(bag);
    std::vector<std::string> expected = {
        "TOwaitChar",     "TOBetweenChar",    "TOWaitBetweenCommand", "TOwaitRetry", "TOwaitReply",
        "RetrySession",   "RetryData",        "CommSettings",         "CommPort",    "ErrorEnabled",
        "ReceiveEnabled", "EscapeKeyEnabled", "AbortReceive"};
    const auto save = newlyPlacedSave();
    for (std::size_t i = 13; i < save.size(); ++i)
        expected.push_back(save[i].key);
    EXPECT_EQ(bag.reads(), expected);
}

TEST_F(Persistence, AnEmptyBagGivesTheDefaultsAnd002) {
    control.setTOwaitChar(1);
    control.setRetrySession(9);
    control.setErrorEnabled(false);
    control.setPOSAutoTimeOut("030");
    control.setPOSAutoApplicationCode("ABCD");
    control.setPOSAutoText(S(80, 'x'));
    control.setPOSAutoTOfctBeep(1);
    control.setPOSAutoIncSequenceEnabled(false);
    changed.clear();
    MemoryPropertyBag empty;
    control.ReadProperties(empty);
    EXPECT_EQ(control.TOwaitChar(), 600);
    EXPECT_EQ(control.RetrySession(), 3);
    EXPECT_TRUE(control.ErrorEnabled());
    EXPECT_EQ(control.POSAutoTimeOut(), "002");
    EXPECT_EQ(control.POSAutoApplicationCode(), "0000");
    EXPECT_EQ(control.POSAutoText(), S(80, ' ')) << "the empty default, fitted to the width";
    EXPECT_EQ(control.POSAutoTOfctBeep(), 10000);
    EXPECT_TRUE(control.POSAutoIncSequenceEnabled());
    EXPECT_TRUE(changed.empty()) << "loading announces nothing";
}

TEST_F(Persistence, A065KeptOrLeftOutAsADefault) {
    control.InitProperties();
    ASSERT_EQ(control.POSAutoTimeOut(), "065");
    MemoryPropertyBag keeping;
    MemoryPropertyBag leaving(false);
    control.WriteProperties(keeping);
    control.WriteProperties(leaving);
    EXPECT_EQ(leaving.writes().size(), 62u) << "every write is still recorded";
    EXPECT_LT(leaving.entries().size(), 62u);

    SimPlatform p2;
    KorvelComTools other(p2);
    other.ReadProperties(keeping);
    EXPECT_EQ(other.POSAutoTimeOut(), "065");
    other.ReadProperties(leaving);
    EXPECT_EQ(other.POSAutoTimeOut(), "002");
}

TEST_F(Persistence, TextIsFittedWithoutChecksEventsOrNotifications) {
    MemoryPropertyBag bag;
    bag.put("POSNumber", S("123"));
    bag.put("POSAmount", S("00000000"));  // all zero: a put would refuse it
    bag.put("POSDev", int32_t{7});
    bag.put("POSAutoClass", S("99"));
    bag.put("POSAutoTimeOut", S("0"));
    bag.put("POSAutoCardInfo", S("short"));
    control.ReadProperties(bag);
    EXPECT_EQ(control.POSNumber(), "12");
    EXPECT_EQ(control.POSAmount(), "00000000");
    EXPECT_EQ(control.POSDev(), "7  ");
    EXPECT_EQ(control.POSAutoClass(), "99");
    EXPECT_EQ(control.POSAutoTimeOut(), "0  ");
    EXPECT_EQ(control.POSAutoCardInfo(), "short" + S(22, ' '));
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(control.ReceiveError(), "");
    EXPECT_TRUE(changed.empty());
}

TEST_F(Persistence, PortSettingsAreAppliedToComm) {
    MemoryPropertyBag bag;
    bag.put("CommPort", int16_t{3});
    bag.put("CommSettings", S("19200,n,8,1"));
    control.ReadProperties(bag);
    EXPECT_EQ(control.CommPort(), 3);
    EXPECT_EQ(control.CommSettings(), "19200,n,8,1");
    EXPECT_FALSE(control.CommPortOpen());

    // Settings the port refuses leave the old ones; the port number is still applied.
    MemoryPropertyBag refused;
    refused.put("CommSettings", S("fast please"));
    refused.put("CommPort", int16_t{4});
    control.ReadProperties(refused);
    EXPECT_EQ(control.CommSettings(), "19200,n,8,1");
    EXPECT_EQ(control.CommPort(), 4);
    EXPECT_TRUE(changed.empty());
}

TEST_F(Persistence, AFailingEntryIsSkippedAndTheRestLoads) {
    control.setTOwaitChar(777);
    control.setRetrySession(5);
    FaultyBag bag;
    bag.put("TOwaitChar", S("soon"));         // not a number
    bag.put("TOBetweenChar", S(" 80 "));      // a number with spaces
    bag.put("RetrySession", int32_t{40000});  // does not fit 16 bits
    bag.put("RetryData", int32_t{6});
    bag.put("CommPort", int16_t{0});  // refused by the port
    bag.put("ErrorEnabled", S("maybe"));
    bag.put("ReceiveEnabled", S("FALSE"));
    bag.put("POSMode", S("5"));
    bag.put("POSDev", S("978"));
    bag.put("POSAutoTOfctCBInit", int32_t{3000});
    bag.failing = {"POSMode"};
    control.ReadProperties(bag);
    EXPECT_EQ(control.TOwaitChar(), 777);
    EXPECT_EQ(control.TOBetweenChar(), 80);
    EXPECT_EQ(control.RetrySession(), 5);
    EXPECT_EQ(control.RetryData(), 6);
    EXPECT_EQ(control.CommPort(), 1);
    EXPECT_TRUE(control.ErrorEnabled());
    EXPECT_FALSE(control.ReceiveEnabled());
    EXPECT_EQ(control.POSMode(), "0");
    EXPECT_EQ(control.POSDev(), "978");
    EXPECT_EQ(control.POSAutoTOfctCBInit(), 3000);
    EXPECT_TRUE(events.errors.empty());

    FaultyBag writeBag;
    writeBag.failing = {"CommPort", "POSAutoOperation", "POSAutoIncSequence"};
    control.WriteProperties(writeBag);
    EXPECT_EQ(writeBag.writes().size(), 62u - 4u);
    EXPECT_EQ(writeBag.writes().front().key, "CommSettings");
    EXPECT_EQ(writeBag.writes().back().key, "POSAutoTOfctTicketRequest");
}

TEST_F(Persistence, SaveAndLoadRoundTripsBetweenControls) {
    control.setPOSAutoTOfctCBInit(3000);
    control.setPOSAutoTOfctTicketRequest(4000);
    control.setPOSAutoTOfctBeep(5000);
    control.setPOSAutoOperation("1234");
    control.setPOSTimeout(-5);
    control.setEscapeKeyEnabled(false);
    control.setPOSAutoText(S(80, '\0').replace(0, 5, "HELLO"));
    MemoryPropertyBag bag;
    control.WriteProperties(bag);

    SimPlatform p2;
    KorvelComTools other(p2);
    other.ReadProperties(bag);
    EXPECT_EQ(other.POSAutoTOfctCBInit(), 3000);
    EXPECT_EQ(other.POSAutoTOfctTicketRequest(), 4000);
    EXPECT_EQ(other.POSAutoTOfctBeep(), 5000);
    EXPECT_EQ(other.POSAutoOperation(), "1234") << "the first value of the twice-written key";
    EXPECT_EQ(other.POSTimeout(), -5);
    EXPECT_FALSE(other.EscapeKeyEnabled());
    EXPECT_EQ(other.POSAutoText(), control.POSAutoText());

    // The second value restores the private operation number: saving again shows it.
    MemoryPropertyBag twice;
    twice.put("POSAutoOperation", S("1111"));
    twice.put("POSAutoOperation", S("2222"));
    other.ReadProperties(twice);
    MemoryPropertyBag again;
    other.WriteProperties(again);
    EXPECT_EQ(again.writes()[21].value, PropValue(S("1111")));
    EXPECT_EQ(again.writes()[22].value, PropValue(S("2222")));
}

TEST_F(Persistence, NewInstanceInitialisationRestoresTheDefaults) {
    control.setTOwaitRetry(5);
    control.setPOSType("A");
    control.InitProperties();
    EXPECT_EQ(control.TOwaitRetry(), 1200);
    EXPECT_EQ(control.POSType(), "?");
    EXPECT_EQ(control.POSAutoTimeOut(), "065");
}

// Every persisted property announces its name once per successful put, by name through the
// automation table; a rejected put announces nothing.
TEST_F(Persistence, EveryPersistedPropertyAnnouncesItsPut) {
    control.InitProperties();
    std::set<std::string> names;
    for (const Row& r : newlyPlacedSave())
        names.insert(propertyOf(r.key));
    ASSERT_EQ(names.size(), 61u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const Value current = getProperty(control, name);  // a value every put accepts
        changed.clear();
        setProperty(control, name, current);
        EXPECT_EQ(changed, std::vector<std::string>{name});
        EXPECT_EQ(control.ReceiveError(), "");
    }
    changed.clear();
    setProperty(control, "POSNumber", Value(S("1")));
    setProperty(control, "POSAutoClass", Value(S("99")));
    setProperty(control, "POSTimeout", Value(int32_t{0}));
    EXPECT_TRUE(changed.empty()) << "rejected puts";
    EXPECT_EQ(events.errors.size(), 3u);
}

}  // namespace
}  // namespace korvel
