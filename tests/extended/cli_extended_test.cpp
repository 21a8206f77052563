// The command line reaches every extended property by name: `get` after `--set` prints what
// the same writes give in-process, validation included.
#include <gtest/gtest.h>

#include "extended/ExtendedFields.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Process.h"

namespace korvel {
namespace {

const std::string kCli = KORVEL_CLI_PATH;

std::string getByCli(const std::string& name, const std::string& setValue) {
    auto r = test::run({kCli, "get", name, "--set", name + "=" + setValue});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    return r.out;
}

TEST(CliExtended, EveryRequestFieldByName) {
    for (const auto& f : ext::fields()) {
        if (!f.name) continue;
        // A value of the field's width made of its last accepted character where the field
        // has a value set, else of digits; the CLI must print what the control stores.
        std::string value(f.width, '7');
        if (f.rule.kind == ext::Rule::Kind::OneOf) value = std::string(f.rule.members.back());
        if (f.rule.kind == ext::Rule::Kind::CharCode)
            value = std::string(1, static_cast<char>(f.rule.highCode));
        SimPlatform p;
        KorvelComTools c(p);
        setProperty(c, f.name, Value(value));
        const std::string expected = std::get<std::string>(getProperty(c, f.name));
        EXPECT_EQ(getByCli(f.name, value), expected + "\n") << f.name;
    }
}

TEST(CliExtended, ConstructionDefaultsAndRejectedValues) {
    auto timeOut = test::run({kCli, "get", "POSAutoTimeOut"});
    EXPECT_EQ(timeOut.out, "002\n") << "the CLI constructs without new-instance initialisation";
    EXPECT_EQ(getByCli("POSAutoSequence", "00"), "01\n") << "a rejected value is not stored";
    EXPECT_EQ(getByCli("POSAutoTimeOut", "066"), "002\n");
    EXPECT_EQ(getByCli("POSAutoBuzzer", "7"), "1\n");
    auto app = test::run({kCli, "get", "POSAutoApplicationCode"});
    EXPECT_EQ(app.out, std::string(4, '\0') + "\n");
    auto status = test::run({kCli, "get", "POSAutoStatus"});
    EXPECT_EQ(status.out, "99\n");
}

TEST(CliExtended, EveryFunctionTimeOutAndTheSequenceSwitchByName) {
    int32_t v = 1001;
    for (const auto& t : ext::timeouts()) {
        EXPECT_EQ(getByCli(t.name, std::to_string(v)), std::to_string(v) + "\n") << t.name;
        ++v;
    }
    EXPECT_EQ(getByCli("POSAutoTOfctBeep", "-1"), "-1\n");
    EXPECT_EQ(getByCli("POSAutoIncSequenceEnabled", "false"), "false\n");
    auto def = test::run({kCli, "get", "POSAutoIncSequenceEnabled"});
    EXPECT_EQ(def.out, "true\n");
}

}  // namespace
}  // namespace korvel
