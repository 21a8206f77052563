// `korvelcom props save|show` and the --props option of `pay` and `message`, run as a
// separate program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/Process.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

const std::string kCli = KORVEL_CLI_PATH;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(PropsCli, SaveThenShowWhatAControlLoads) {
    const auto file = (test::ownTempDir("persistence") / "a.props").string();
    auto saved = test::run({kCli, "props", "save", file, "--set", "TOwaitChar=750", "--set",
                            "POSNumber=42", "--set", "CommPort=3"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::string text = readAll(file);
    EXPECT_NE(text.find("\nTOwaitChar = 750\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nPOSNumber = \"42\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nPOSAutoTimeOut = \"065\"\n"), std::string::npos);
    EXPECT_EQ(countOf(text, "\n"), 2 + 62) << "two heading comments, one line an entry";

    auto shown = test::run({kCli, "props", "show", file});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out.rfind("CommPort = 3\nCommSettings = \"9600,e,7,1\"\nTOwaitChar = 750\n", 0),
              0u)
        << shown.out;
    EXPECT_NE(text.find(shown.out), std::string::npos) << "show prints the saved entries";

    // Edited by hand: loading fits the text to the field and skips what it cannot read.
    std::ofstream(file, std::ios::app) << "POSNumber = 123\nnonsense\n";
    auto edited = test::run({kCli, "props", "show", file});
    EXPECT_EQ(edited.status, 0);
    EXPECT_NE(edited.out.find("\nPOSNumber = \"42\"\n"), std::string::npos)
        << "the first value of a key is read first";
    EXPECT_NE(edited.err.find("line 66: expected Key = value (skipped)"), std::string::npos)
        << edited.err;

    auto rejected = test::run({kCli, "props", "save", file, "--set", "POSAmount=12"});
    EXPECT_EQ(rejected.status, 1);
    EXPECT_EQ(rejected.err, "POSAmount \"12\": errorPOSAmountLength\n");
    EXPECT_EQ(test::run({kCli, "props", "show", file + ".missing"}).status, 1);
    EXPECT_EQ(test::run({kCli, "props", "load", file}).status, 2);
}

TEST(PropsCli, MessageAndPayStartFromASavedControl) {
    const auto dir = test::ownTempDir("persistence");
    const auto quick = (dir / "quick.props").string();
    ASSERT_EQ(test::run({kCli, "props", "save", quick, "--set", "RetrySession=1", "--set",
                         "RetryData=1", "--set", "TOwaitChar=50", "--set", "TOwaitRetry=10"})
                  .status,
              0);
    {
        test::Background sim({kCli, "sim", "--pty", "--quiet", "--behaviour", "silent"});
        const std::string device = sim.firstLine(5000);
        ASSERT_FALSE(device.empty());
        auto r =
            test::run({kCli, "message", "--props", quick, "--device", device, "--trace", "HI"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(countOf(r.err, "-> ENQ"), 1) << "one session attempt, as saved\n" << r.err;
    }
    const auto payment = (dir / "payment.props").string();
    ASSERT_EQ(test::run({kCli, "props", "save", payment, "--set", "POSAmount=00001234", "--set",
                         "POSDev=978", "--set", "POSNumber=07"})
                  .status,
              0);
    test::Background sim({kCli, "sim", "--pty", "--quiet", "--responder", "payment"});
    const std::string device = sim.firstLine(5000);
    ASSERT_FALSE(device.empty());
    auto ok = test::run({kCli, "pay", "--props", payment, "--device", device, "--json"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("\"EFTposNumber\": \"07\", \"EFTposStat\": \"0\", "
                          "\"EFTposAmount\": \"00001234\""),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find("\"EFTposDev\": \"978\""), std::string::npos);
    auto over = test::run(
        {kCli, "pay", "--props", payment, "--device", device, "--amount", "00000777", "--json"});
    EXPECT_NE(over.out.find("\"EFTposAmount\": \"00000777\""), std::string::npos) << over.out;
    EXPECT_EQ(
        test::run({kCli, "pay", "--props", (dir / "none").string(), "--device", device}).status, 1);
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace korvel
