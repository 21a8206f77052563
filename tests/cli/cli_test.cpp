// The technician's command line, run as a separate program: properties by name, and a framed
// exchange with the simulator running in another process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/Process.h"

namespace korvel {
namespace {

const std::string kCli = KORVEL_CLI_PATH;

TEST(Cli, InfoAndPropertiesByName) {
    auto info = test::run({kCli, "info"});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("KorvelComTools 3.00"), std::string::npos);
    EXPECT_NE(info.out.find("TOwaitChar            600"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("/dev/ttyS0"), std::string::npos);

    auto get = test::run({kCli, "get", "TOwaitRetry", "--set", "TOwaitRetry=900"});
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "900\n");
    auto bad = test::run({kCli, "get", "TOwaitRetry", "--set", "TOwaitRetry=soon"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("TOwaitRetry"), std::string::npos);
    auto unknown = test::run({kCli, "get", "NoSuchProperty"});
    EXPECT_EQ(unknown.status, 1);
    auto rejected = test::run({kCli, "get", "POSAmount", "--set", "POSAmount=12"});
    EXPECT_EQ(rejected.out, "00000001\n") << "a value the put rejects is not stored";
}

TEST(Cli, MessageRoundTripAgainstTheSimulatorInAnotherProcess) {
    test::Background sim({kCli, "sim", "--pty", "--quiet"});
    ASSERT_TRUE(sim.started());
    const std::string device = sim.firstLine(5000);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "sim printed no device path";

    auto plain = test::run({kCli, "message", "--device", device, "HELLO"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "HELLO\n") << "the simulator echoes by default";

    auto json = test::run({kCli, "message", "--device", device, "--json", "--trace", "A\"B"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"reply\": \"A\\\"B\", \"ReceiveError\": \"\", \"ReceiveMessage\": "
              "\"A\\\"B\"}\n");
    // The trace names the control characters, one line per burst, both directions.
    EXPECT_NE(json.err.find("-> ENQ"), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("<- ACK"), std::string::npos);
    EXPECT_NE(json.err.find("-> STX 'A\"B' ETX"), std::string::npos);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Cli, MessageToASilentTerminalFailsWithItsTag) {
    test::Background sim({kCli, "sim", "--pty", "--quiet", "--behaviour", "silent"});
    const std::string device = sim.firstLine(5000);
    ASSERT_FALSE(device.empty());
    auto r = test::run({kCli, "message", "--device", device, "--set", "TOwaitChar=50", "--set",
                        "TOwaitRetry=10", "HELLO"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "errorHandlerOpenSession\n");
}

TEST(Cli, MessageOnAMissingDevice) {
    auto r = test::run({kCli, "message", "--device", "/dev/korvelcom-missing", "HELLO"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "errorHandlerOpenSession\n");
}

TEST(Cli, DemoPaysAgainstTheBundledSimulator) {
    auto r = test::run({kCli, "demo", "--think", "50"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("EFTposStat    '0'"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("EFTposAmount  '00001500'"), std::string::npos);
    EXPECT_NE(r.out.find("-> STX '010000150010?250          ' ETX"), std::string::npos)
        << "the trace shows the request frame";
    auto refused = test::run({kCli, "demo", "--think", "50", "--amount", "00000099"});
    EXPECT_EQ(refused.status, 0) << "a refusal is still a reply";
    EXPECT_NE(refused.out.find("EFTposStat    '1'"), std::string::npos);
    auto rejected = test::run({kCli, "demo", "--amount", "99"});
    EXPECT_EQ(rejected.status, 1);
    EXPECT_EQ(rejected.err, "POSAmount \"99\": errorPOSAmountLength\n");
}

TEST(Cli, PayAgainstTheSimulatorInAnotherProcess) {
    test::Background sim({kCli, "sim", "--pty", "--quiet", "--responder", "payment"});
    const std::string device = sim.firstLine(5000);
    ASSERT_FALSE(device.empty());
    auto ok = test::run({kCli, "pay", "--device", device, "--amount", "00001234", "--currency",
                         "978", "--number", "07", "--json"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("\"EFTposNumber\": \"07\", \"EFTposStat\": \"0\", "
                          "\"EFTposAmount\": \"00001234\""),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find("\"EFTposDev\": \"978\", \"reply\": \"070"), std::string::npos);
    EXPECT_NE(ok.out.find("\"ReceiveError\": \"\"}"), std::string::npos);

    auto silent =
        test::run({kCli, "pay", "--device", device, "--amount", "00000404", "--timeout", "400"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.err, "no reply within 400 ms\n");
    EXPECT_NE(silent.out.find("EFTposStat    ' '"), std::string::npos) << "blank after a time-out";

    auto bad = test::run({kCli, "pay", "--device", device, "--currency", "EUR"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "POSDev \"EUR\": errorPOSDevValue\n");
    EXPECT_EQ(bad.out, "") << "nothing sent, nothing printed";
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Cli, AutoTakesArgumentsByNameAgainstTheExtendedSimulator) {
    test::Background sim({kCli, "sim", "--pty", "--quiet", "--responder", "extended"});
    const std::string device = sim.firstLine(5000);
    ASSERT_FALSE(device.empty());
    auto beep = test::run({kCli, "auto", "Beep", "--device", device, "--NumBeep", "3", "--json"});
    EXPECT_EQ(beep.status, 0) << beep.err;
    EXPECT_NE(beep.out.find("\"ReceiveError\": \"\""), std::string::npos) << beep.out;
    auto unknown = test::run({kCli, "auto", "Beep", "--device", device, "--Colour", "red"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("has no argument 'Colour'"), std::string::npos) << unknown.err;

    // A card reading announces the operation; the saved control then authorises it, through
    // the terminal's intermediate reply and the second wait.
    const std::string state = std::string(KORVEL_TEST_TMPDIR) + "/auto-state.txt";
    std::filesystem::create_directories(KORVEL_TEST_TMPDIR);
    auto reading = test::run({kCli, "auto", "ReadingCard", "--device", device, "--set",
                              "POSAutoCardReader=1", "--save-props", state});
    EXPECT_EQ(reading.status, 0) << reading.err;
    auto pay = test::run({kCli, "auto", "Authorization", "--device", device, "--props", state,
                          "--Amount", "000000001500"});
    EXPECT_EQ(pay.status, 0) << pay.err;
    EXPECT_NE(pay.err.find("intermediate reply"), std::string::npos) << pay.err;
    EXPECT_NE(pay.out.find("POSAutoStatus         '00'"), std::string::npos) << pay.out;
    EXPECT_NE(pay.out.find("POSAutoAmount         '000000001500'"), std::string::npos);
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace korvel
