// The cash-register example as a process: with --demo --auto-pay it pays against the bundled
// simulator on a pseudo-terminal, off screen, and its exit status tells the outcome.
#include <gtest/gtest.h>

#include "support/Process.h"

namespace korvel::qt {
namespace {

TEST(Example, DemoPaysOnceAndExitsWithTheOutcome) {
    const auto approved = test::run({KORVEL_QT_POS_PATH, "--demo", "--auto-pay", "--think", "100"});
    EXPECT_EQ(approved.status, 0) << approved.out << approved.err;
    EXPECT_NE(approved.out.find("ReceivedEvent"), std::string::npos) << approved.out;
    EXPECT_NE(approved.out.find("payment approved"), std::string::npos) << approved.out;
    EXPECT_NE(approved.out.find("EFTposStat 0  EFTposAmount 00001500"), std::string::npos);

    const auto refused = test::run(
        {KORVEL_QT_POS_PATH, "--demo", "--auto-pay", "--think", "100", "--amount", "00002599"});
    EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
    EXPECT_NE(refused.out.find("payment refused by the card issuer"), std::string::npos)
        << refused.out;

    const auto usage = test::run({KORVEL_QT_POS_PATH, "--bogus"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("usage: qt-pos"), std::string::npos);
}

}  // namespace
}  // namespace korvel::qt
