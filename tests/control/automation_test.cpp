// By-name access: the table the property page, the command line and later the Windows build
// use to reach the control.
#include <gtest/gtest.h>

#include <set>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

TEST(Automation, EveryMemberIsRegisteredOnceAndCallable) {
    const auto& members = AutomationTable::instance().members();
    std::set<std::pair<std::string, MemberKind>> seen;
    for (const Member& m : members) {
        EXPECT_TRUE(seen.insert({m.name, m.kind}).second) << m.name;
        EXPECT_TRUE(m.call) << m.name;
        if (m.kind == MemberKind::Put) {
            EXPECT_EQ(m.params.size(), 1u) << m.name;
        }
    }
    // The link properties are there with both accessors.
    for (const char* name :
         {"TOwaitChar", "TOBetweenChar", "TOwaitReply", "TOwaitRetry", "TOWaitBetweenCommand",
          "RetrySession", "RetryData", "CommPort", "CommSettings", "CommPortOpen", "CommInputLen",
          "ReceiveEnabled", "ErrorEnabled", "EscapeKeyEnabled", "AbortReceive", "ReceiveError",
          "ReceiveMessage"}) {
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Get), nullptr) << name;
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Put), nullptr) << name;
    }
    EXPECT_EQ(AutomationTable::instance().find("Version", MemberKind::Put), nullptr);
    EXPECT_EQ(AutomationTable::instance().find("CommOutput", MemberKind::Get), nullptr);
    EXPECT_EQ(AutomationTable::instance().find("CommInput", MemberKind::Put), nullptr);
}

TEST(Automation, PropertiesByNameConvertText) {
    SimPlatform p;
    KorvelComTools c(p);
    setProperty(c, "towaitchar", Value(std::string("750")));  // names ignore case
    EXPECT_EQ(c.TOwaitChar(), 750);
    setProperty(c, "RetrySession", Value(std::string("0x10")));
    EXPECT_EQ(c.RetrySession(), 16);
    setProperty(c, "ErrorEnabled", Value(std::string("false")));
    EXPECT_FALSE(c.ErrorEnabled());
    setProperty(c, "ErrorEnabled", Value(int32_t{-1}));
    EXPECT_TRUE(c.ErrorEnabled());
    EXPECT_EQ(formatValue(getProperty(c, "Version")), "3.00");
    EXPECT_EQ(formatValue(getProperty(c, "TOwaitChar")), "750");

    EXPECT_THROW(setProperty(c, "RetryData", Value(std::string("70000"))), AutomationError);
    EXPECT_THROW(setProperty(c, "RetryData", Value(std::string("3x"))), AutomationError);
    EXPECT_THROW(setProperty(c, "NoSuchThing", Value(int32_t{1})), AutomationError);
    EXPECT_THROW(setProperty(c, "Version", Value(std::string("4.00"))), AutomationError);
    EXPECT_EQ(c.RetryData(), 3) << "a failed conversion leaves the property alone";
}

TEST(Automation, MethodsTakeDefaultsForOmittedArguments) {
    SimPlatform p;
    KorvelComTools c(p);
    std::vector<Value> args;
    EXPECT_EQ(std::get<bool>(invoke(c, "CommInit", MemberKind::Method, args)), true);
    EXPECT_EQ(c.CommPort(), 1);
    args = {Value(int32_t{2}), Value(std::string("19200,n,8,1"))};
    EXPECT_EQ(std::get<bool>(invoke(c, "CommInit", MemberKind::Method, args)), true);
    EXPECT_EQ(c.CommPort(), 2);
    EXPECT_EQ(c.CommSettings(), "19200,n,8,1");
    args = {Value(int32_t{1}), Value(std::string()), Value(true)};
    EXPECT_THROW(invoke(c, "CommInit", MemberKind::Method, args), AutomationError);
    args = {};
    EXPECT_THROW(invoke(c, "WaitTimeout", MemberKind::Method, args), AutomationError)
        << "the deadline is not optional";
}

TEST(Automation, FailuresReportByTheConventionNotByThrowing) {
    SimPlatform p;
    p.missingPorts.insert(1);
    KorvelComTools c(p);
    test::Recorder events;
    c.setEventSink(&events);
    std::vector<Value> none;
    EXPECT_EQ(std::get<bool>(invoke(c, "CommOpen", MemberKind::Method, none)), false);
    EXPECT_EQ(formatValue(getProperty(c, "ReceiveError")), "errorHandlerCommOpen");
    EXPECT_EQ(events.errors.size(), 1u);
}

}  // namespace
}  // namespace korvel
