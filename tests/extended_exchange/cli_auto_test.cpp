// `korvelcom auto` against the extended responder on a pseudo-terminal, in real time: the
// test's own loop runs the simulated terminal while the command runs as a child process.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "sim/ExtendedResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"
#include "support/Process.h"

namespace korvel {
namespace {

const std::string kCli = KORVEL_CLI_PATH;

// Runs the command while `loop` keeps serving the terminal; collects its output and status.
test::RunResult runServing(HostLoop& loop, std::vector<std::string> args) {
    return test::run(std::move(args), [&] { loop.yield(); });
}

class CliAuto : public ::testing::Test {
  protected:
    KorvelComTools host;  // only for this thread's POSIX loop
    HostLoop& loop = host.platform().loop();
    sim::PtyPort port{loop};
    sim::Terminal terminal{loop, port};
    sim::ExtendedResponder responder{loop, terminal};
    void SetUp() override {
        responder.options().finalDelayMs = 200;
        terminal.setResponder(responder.responder());
    }
};

TEST_F(CliAuto, SoftwareStatusAsJson) {
    const auto r = runServing(loop, {kCli, "auto", "--device", port.slavePath(), "SoftwareStatus",
                                     "--json", "--set", "POSAutoSequence=07"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"reply\": \"0715"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"POSAutoStatus\": \"00\""), std::string::npos);
    EXPECT_NE(r.out.find("[\"AF31\", \"41\"]"), std::string::npos) << "entry 31 listed";
    EXPECT_NE(r.out.find("\"POSAutoSequence\": \"08\""), std::string::npos);
    EXPECT_EQ(terminal.received(), std::vector<std::string>{"0715"});
}

TEST_F(CliAuto, AuthorisationWithArgumentsThroughTheIntermediateReply) {
    const auto r = runServing(
        loop, {kCli, "auto", "--device", port.slavePath(), "POSAutoAuthorization", "000000001234",
               "978", "--set", "POSAutoOperation=0000", "--set", "POSAutoSequence=05"});
    // No card reading announced an operation: the reply is refused by the operation check.
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("intermediate reply"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("errorHandlerPOSAutoOperation"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("POSAutoAmount         '000000001234'"), std::string::npos) << r.out;
    ASSERT_EQ(terminal.received().size(), 1u);
    EXPECT_EQ(terminal.received()[0].substr(0, 23),
              "0501"
              "0000"
              "000000001234"
              "978");
}

TEST_F(CliAuto, UsageErrors) {
    EXPECT_EQ(test::run({kCli, "auto", "--device", "/dev/null", "Pay"}).status, 2);
    EXPECT_EQ(test::run({kCli, "auto", "Beep"}).status, 2);
    EXPECT_EQ(test::run({kCli, "auto", "--device", "/dev/null", "Beep", "1", "2", "3"}).status, 2)
        << "too many arguments fail the call";
}

}  // namespace
}  // namespace korvel
