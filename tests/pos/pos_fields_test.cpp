// Basic payment request fields: checks in order, shared per thread, reset by new controls.
#include <gtest/gtest.h>

#include <thread>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class PosFields : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    std::vector<std::string> changed;
    void SetUp() override {
        c.setEventSink(&events);
        c.setPropertyChangedHandler([this](const std::string& n) { changed.push_back(n); });
    }
    // Puts `value` and returns the tag it raised ("" when accepted).
    std::string put(void (KorvelComTools::*setter)(const std::string&), const std::string& value) {
        events.errors.clear();
        c.setReceiveError("");
        (c.*setter)(value);
        return events.errors.empty() ? "" : events.errors.back();
    }
};

TEST_F(PosFields, DefaultsOfAFreshControl) {
    EXPECT_EQ(c.POSNumber(), "01");
    EXPECT_EQ(c.POSAmount(), "00000001");
    EXPECT_EQ(c.POSRep(), "1");
    EXPECT_EQ(c.POSMode(), "0");
    EXPECT_EQ(c.POSType(), "?");
    EXPECT_EQ(c.POSDev(), "250");
    EXPECT_EQ(c.POSTimeout(), 10000);
}

TEST_F(PosFields, AmountChecksInOrder) {
    using K = KorvelComTools;
    EXPECT_EQ(put(&K::setPOSAmount, "00001500"), "");
    EXPECT_EQ(put(&K::setPOSAmount, "1500"), "errorPOSAmountLength");
    EXPECT_EQ(put(&K::setPOSAmount, ""), "errorPOSAmountLength");
    EXPECT_EQ(put(&K::setPOSAmount, "0000150A"), "errorPOSAmountValue");
    EXPECT_EQ(put(&K::setPOSAmount, "000015000"), "errorPOSAmountLength");
    EXPECT_EQ(put(&K::setPOSAmount, "00000000"), "errorPOSAmountNullValue");
    EXPECT_EQ(put(&K::setPOSAmount, "0000000A"), "errorPOSAmountValue") << "digits first";
    EXPECT_EQ(c.POSAmount(), "00001500") << "rejected puts keep the previous amount";
    EXPECT_EQ(c.ReceiveError(), "errorPOSAmountValue");
    EXPECT_EQ(changed, std::vector<std::string>{"POSAmount"}) << "only the accepted put";
}

TEST_F(PosFields, OtherFieldsChecks) {
    using K = KorvelComTools;
    EXPECT_EQ(put(&K::setPOSNumber, "7"), "errorPOSNumberLength");
    EXPECT_EQ(put(&K::setPOSNumber, "A1"), "errorPOSNumberValue");
    EXPECT_EQ(put(&K::setPOSNumber, "07"), "");
    EXPECT_EQ(put(&K::setPOSDev, "978"), "");
    EXPECT_EQ(put(&K::setPOSDev, "EUR"), "errorPOSDevValue");
    EXPECT_EQ(put(&K::setPOSDev, "97"), "errorPOSDevLength");
    EXPECT_EQ(put(&K::setPOSType, "9"), "");
    EXPECT_EQ(put(&K::setPOSType, "10"), "errorPOSType");
    EXPECT_EQ(put(&K::setPOSMode, "X"), "");
    EXPECT_EQ(put(&K::setPOSMode, ""), "errorPOSMode");
    EXPECT_EQ(put(&K::setPOSRep, "0"), "");
    EXPECT_EQ(put(&K::setPOSRep, "00"), "errorPOSRep");
    EXPECT_EQ(c.POSNumber(), "07");
    EXPECT_EQ(c.POSDev(), "978");
    EXPECT_EQ(c.POSType(), "9");
    EXPECT_EQ(c.POSMode(), "X");
    EXPECT_EQ(c.POSRep(), "0");
    EXPECT_EQ(changed,
              (std::vector<std::string>{"POSNumber", "POSDev", "POSType", "POSMode", "POSRep"}));
}

TEST_F(PosFields, TimeoutRejectsOnlyZero) {
    c.setPOSTimeout(0);
    EXPECT_EQ(c.ReceiveError(), "errorPOSTimeoutNullValue");
    EXPECT_EQ(c.POSTimeout(), 10000);
    c.setPOSTimeout(-1);
    EXPECT_EQ(c.POSTimeout(), -1);
    EXPECT_EQ(changed, std::vector<std::string>{"POSTimeout"});
}

TEST_F(PosFields, RejectionWithoutEventWhenErrorsAreDisabled) {
    c.setErrorEnabled(false);
    c.setPOSAmount("1");
    EXPECT_EQ(c.ReceiveError(), "errorPOSAmountLength");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(PosFields, SharedByTheControlsOfOneThreadOnly) {
    KorvelComTools second(p);  // creating it resets the shared fields
    c.setPOSAmount("00004200");
    EXPECT_EQ(second.POSAmount(), "00004200");
    second.setPOSTimeout(5);
    EXPECT_EQ(c.POSTimeout(), 10000) << "the time-out is per control";

    std::string seenOnOtherThread, replyOnOtherThread;
    std::thread([&] {
        SimPlatform q;
        KorvelComTools other(q);
        other.setPOSAmount("00000077");
        seenOnOtherThread = other.POSAmount();
        replyOnOtherThread = other.EFTposRep() + other.EFTposDev();
    }).join();
    EXPECT_EQ(replyOnOtherThread, std::string(58, '\0'))
        << "reply fields hold code 0 until the thread's first exchange";
    EXPECT_EQ(seenOnOtherThread, "00000077");
    EXPECT_EQ(c.POSAmount(), "00004200") << "another thread has its own record";

    KorvelComTools third(p);
    EXPECT_EQ(c.POSAmount(), "00000001") << "a new control resets the record for all";
    c.setPOSAmount("00000005");
    c.InitNewInstance();
    EXPECT_EQ(second.POSAmount(), "00000001");
}

}  // namespace
}  // namespace korvel
