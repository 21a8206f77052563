// The technician's command line run as a program: the utility commands as one table, then saved
// property files driving a payment and an extended card reading and payment against the
// terminal simulator running in another process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Process.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

using S = std::string;

// Runs `korvelcom ARGS` (words separated by spaces, "@" standing for `dir`) and checks the exit
// status and both outputs against patterns in which "..." stands for any text.
void check(const S& args, int status, S out, S err, const S& dir = "") {
    SCOPED_TRACE("korvelcom " + args);
    std::vector<S> argv = {KORVEL_CLI_PATH};
    std::istringstream words(args);
    for (S w; words >> w; argv.push_back(w))
        if (w.find('@') != S::npos) w.replace(w.find('@'), 1, dir);
    const auto r = test::run(argv);
    EXPECT_EQ(r.status, status) << r.err;
    for (S* p : {&out, &err})
        for (auto at = p->find("..."); at != S::npos; at = p->find("...", at))
            p->replace(at, 3, "[\\s\\S]*");
    EXPECT_TRUE(std::regex_search(r.out, std::regex(out))) << "output:\n" << r.out;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(err))) << "errors:\n" << r.err;
}

TEST(Cli, UtilityCommands) {
    const S d = test::ownTempDir("cli").string() + "/";
    std::ofstream(d + "digits") << "123456789";
    std::ofstream(d + "over") << S(157, '\xFF');
    std::remove((d + "KorvelComTools.hlp").c_str());
    ::setenv("KORVELCOM_SYSDIR", d.c_str(), 1);
    const S none = "^$";
    const struct {
        const char* args;
        int status;
        S out, err;
    } rows[] = {
        {"checksum crc16 --string 123456789", 0, "^60219\n$", none},
        {"checksum crc16 --string 123456789 --init 0xFFFF", 0, "^19255\n$", none},
        {"checksum lrc8 --string abc", 0, "^96\n$", none},
        // The file form cuts the end to the file and raises a start of 0 to 1.
        {"checksum crc16 @digits --start 0 --end 99 --init 0", 0, "^47933\n$", none},
        {"checksum lrc8 @missing", 1, none, "^errorHandlercLRC8file\n$"},
        {"checksum sum @over", 1, none, "^errorHandlercCHECKSUMfile\n$"},
        {"checksum lrc8 --string abc --end 5", 1, none, "^errorHandlercLRC8str\n$"},
        {"checksum", 2, none, "missing the check...\nusage: korvelcom checksum"},
        {"info", 0, "^KorvelComTools 3\\.00\n...\n  TOwaitChar {12}600\n...port 1 -> /dev/ttyS0",
         none},
        {"get TOwaitRetry --set TOwaitRetry=900", 0, "^900\n$", none},
        {"get POSAmount --set POSAmount=12", 0, "^00000001\n$", none},  // refused, not stored
        // The tool's control is constructed, not initialised as a newly placed one.
        {"get POSAutoTimeOut", 0, "^002\n$", none},
        {"get POSAutoIncSequenceEnabled --set=POSAutoIncSequenceEnabled=false", 0, "^false\n$",
         none},
        {"about", 0,
         "^About\\.\\.\\. KorvelComTools\n\nKorvelComTools\nVersion 3\\.0\\.0 \nAciveX 32 bit OCX "
         "control [^\r]*\nIMPORTANT READ CAREFULLY: DISCLAIMER OF WARRANTY\nNO WARRANTIES\\. "
         "[^\r]*\nhttps://[^\r]*\nHelp file: " +
             d + "KorvelComTools\\.hlp   \\(not installed\\)\n$",
         none},
        {"", 2, "^usage: korvelcom .*COMMAND...korvelcom props save", none},
        {"props show @missing", 1, none, "cannot read the property file"},
        {"props save @no/such/folder", 1, none, "cannot write the property file"},
        {"pay --device /dev/null --currency EUR", 1, none, "^POSDev \"EUR\": errorPOSDevValue\n$"},
        {"demo --think 50", 0,
         "EFTposStat    '0'\n  EFTposAmount  '00001500'...-> STX '010000150010\\?250 {10}' ETX",
         none},
        {"auto Beep --device /dev/null --Colour red", 2, none, "has no argument 'Colour'"},
    };
    for (const auto& row : rows)
        check(row.args, row.status, row.out, row.err, d);
    ::unsetenv("KORVELCOM_SYSDIR");
}

TEST(Cli, SavedPropertiesDriveAPayment) {
    const S dir = test::ownTempDir("cli").string(), file = dir + "/pay.props";
    check(
        "props save @/pay.props --set TOwaitChar=750 --set POSNumber=07 --set POSDev=978 "
        "--set CommPort=3 --set POSAmount=00000777",
        0, "^$", "^$", dir);
    check("props show " + file, 0,
          "^CommPort = 3\nCommSettings = \"9600,e,7,1\"\nTOwaitChar = 750\n...\n"
          "POSNumber = \"07\"\n...\nPOSAutoTimeOut = \"065\"\n",
          "^$");
    check("props save " + file + " --set POSAmount=12", 1, "^$",
          "^POSAmount \"12\": errorPOSAmountLength\n$");

    test::Background sim({KORVEL_CLI_PATH, "sim", "--pty", "--quiet", "--responder", "payment"});
    const S device = sim.firstLine(5000);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "the simulator printed no device";
    // The saved control, with the command line's amount taking precedence.
    check("pay --props " + file + " --device " + device + " --amount 00001234 --json", 0,
          "^\\{\"EFTposNumber\": \"07\", \"EFTposStat\": \"0\", \"EFTposAmount\": \"00001234\", "
          "...\"EFTposDev\": \"978\", \"reply\": \"070...\", \"ReceiveError\": \"\"\\}\n$",
          "^$");
    check("pay --device " + device + " --amount 00000404 --timeout 400", 1, "EFTposStat    ' '",
          "^no reply within 400 ms\n$");
    // Edited by hand: the first value of a key is read, a line without a key is skipped.
    std::ofstream(file, std::ios::app) << "POSNumber = 123\nnonsense\n";
    check("props show " + file, 0, "\nPOSNumber = \"07\"\n",
          "line 66: expected Key = value \\(skipped\\)");
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Cli, CardReadingThenAuthorisationFromTheSavedControl) {
    test::Background sim({KORVEL_CLI_PATH, "sim", "--pty", "--quiet", "--responder", "extended"});
    const S device = sim.firstLine(5000), state = test::ownTempDir("cli").string() + "/auto";
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "the simulator printed no device";
    const S on = " --device " + device + " ";
    check("auto ReadingCard --set POSAutoCardReader=1 --save-props " + state + on, 0, "", "^$");
    check("auto Authorization --props " + state + on + "--Amount 000000001500", 0,
          "POSAutoStatus         '00'...POSAutoAmount         '000000001500'",
          "intermediate reply");
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace korvel
