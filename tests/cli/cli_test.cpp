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
        {"checksum lrc8 @missing", 1, none,
         "^errorHandlercLRC8file: cannot read .*missing: No such file or directory\n$"},
        {"checksum sum @over", 1, none, "^errorHandlercCHECKSUMfile: the range or the initial"},
        {"checksum lrc8 --string abc --end 5", 1, none, "^errorHandlercLRC8str: "},
        {"checksum", 2, none, "CHECK is required"},
        {"info", 0, "^KorvelComTools 3\\.00\n...\n  TOwaitChar {12}600\n...port 1 -> /dev/ttyS0",
         none},
        {"get TOwaitRetry --set TOwaitRetry=900", 0, "^900\n$", none},
        {"get POSAmount --set POSAmount=12", 1, none,
         "^errorPOSAmountLength: POSAmount has the wrong number of characters\n$"},
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
        {"", 2, "Usage: korvelcom...props...Exit status: 0 the reply came", none},
        // Any method by name: the variant result, then what it wrote back.
        {"call GetCommandLine", 0,
         R"(^\[0\] \{"", "call", "GetCommandLine"\}\nArgArray = \[0\] \{"", "call", )"
         R"("GetCommandLine"\}\n$)",
         none},
        {"call cLRC8file @missing 0", 1, "^0\nlongStart = 0\nlongEnd = 2147483647\n$",
         "^errorHandlercLRC8file: "},
        {"call CommInit x", 2, none, "does not convert to a 16-bit integer"},
        {"--version", 0, "^korvelcom 3\\.00\n$", none},
        {"help pay", 0, "^one basic payment...--amount TEXT", none},
        {"pay --device /dev/null --amount 1 --help", 0, "Usage: korvelcom pay", none},
        {"help nosuch", 2, none, "no command named .nosuch."},
        {"pay --device @nonexistent", 3, none,
         "^errorHandlerOpenSession: cannot open COM1 \\(.*nonexistent\\): the device does not"},
        {"pay --device @digits/tty", 3, none,
         "cannot open COM1 \\(.*digits/tty\\): the device does not"},
        {"pay", 2, none, "port"},
        {"convert cStr2HtoDec 1A2B --start 2 --end 9", 0, "^'1' 0xA2 VT\nintStart 2 intEnd 4\n$",
         none},
        {"convert ConvertStrhToDec ff", 0, "^-17\n$", none},
        {"convert c2HexToAsc AB --end 1", 0, "^'41B'\nintStart 1 intEnd 1\n$", none},
        {"unscramble @missing", 1, none, "cannot read"},
        {"props show @missing", 1, none, "cannot read the property file"},
        {"props save @no/such/folder", 1, none, "cannot write the property file"},
        {"pay --device /dev/null --currency EUR", 1, none,
         "^errorPOSDevValue: POSDev is out of its range \\(POSDev \"EUR\"\\)\n$"},
        {"demo --think 50", 0,
         "EFTposStat    '0'\n  EFTposAmount  '00001500'...-> STX '010000150010\\?250 {10}' ETX",
         none},
        {"auto Beep --device /dev/null --Colour red", 2, none, "not expected: --Colour"},
    };
    for (const auto& row : rows)
        check(row.args, row.status, row.out, row.err, d);
    for (const char* command : {"demo", "pay", "message", "auto", "sim", "checksum", "scramble",
                                "unscramble", "convert", "info", "get", "props", "about", "help"})
        check(S(command) + " --help", 0, S("Usage: korvelcom ") + command, none);
    ::unsetenv("KORVELCOM_SYSDIR");
}

TEST(Cli, ScrambleRoundTripsThroughStandardInputAndOutput) {
    const S f = test::ownTempDir("cli").string() + "/Data.BIN", cli = KORVEL_CLI_PATH;
    const auto sh = [](const S& line) { return test::run({"/bin/sh", "-c", line}); };
    const auto r = sh("printf 'PAN\\000data' | " + cli + " scramble " + f + " && " + cli +
                      " unscramble " + f + " | od -An -c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "   P   A   N  \\0   d   a   t   a\n");
    // The bytes depend on the key code: another key cannot read the file back.
    EXPECT_NE(sh(cli + " unscramble " + f + " --key 300").out, "PAN");
    // The default key 27315 and the base name "data.bin", worked by hand from the scrambling
    // rule: the file holds exactly these bytes.
    EXPECT_EQ(sh("od -An -tx1 " + f).out, " 3b 90 37 a3 a8 3f da 23\n");
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
    check("props save " + file + " --set POSAmount=12", 1, "^$", "^errorPOSAmountLength: ");

    test::Background sim({KORVEL_CLI_PATH, "sim", "--pty", "--quiet", "--responder", "payment"});
    const S device = sim.firstLine(5000);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "the simulator printed no device";
    // The saved control, with the command line's amount taking precedence.
    check("pay --props " + file + " --device " + device + " --amount 00001234 --json", 0,
          "^\\{\"EFTposNumber\":\"07\",\"EFTposStat\":\"0\",\"EFTposAmount\":\"00001234\","
          "...\"EFTposDev\":\"978\",\"reply\":\"070...\",\"ReceiveError\":\"\"\\}\n$",
          "^$");
    // No reply: no reply fields either.
    check("pay --device " + device + " --amount 00000404 --timeout 400", 1, "^$",
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
