// `korvelcom checksum`: values, failures with their tag and exit status 1, usage errors 2.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char ch : s)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ChecksumCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = korvel::test::ownTempDir("checksum_cli");
        fs::create_directories(dir);
    }
    std::string file(const std::string& name, const std::string& content) {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    CliResult run(const std::vector<std::string>& args) {
        std::string cmd = quote(KORVEL_CLI_PATH) + " checksum";
        for (const auto& a : args)
            cmd += " " + quote(a);
        cmd += " >" + quote((dir / "out").string()) + " 2>" + quote((dir / "err").string());
        CliResult r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(dir / "out");
        r.err = slurp(dir / "err");
        return r;
    }
    fs::path dir;
};

TEST_F(ChecksumCli, PrintsTheValueOrTheFailureTag) {
    const auto digits = file("digits.txt", "123456789");
    const auto over = file("over.bin", std::string(157, '\xFF'));
    // Arguments, exit status, output and error output.
    const std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> cases = {
        {{"crc16", "--string", "123456789"}, 0, "60219\n", ""},
        {{"crc16", "--string", "123456789", "--init", "0xFFFF"}, 0, "19255\n", ""},
        {{"crc16", "--string", "123456789", "--poly", "-24575"}, 0, "60219\n", ""},
        {{"lrc8", "--string", "abc"}, 0, "96\n", ""},
        {{"sum", "--string", "abc", "--start", "2"}, 0, std::to_string('b' + 'c') + "\n", ""},
        {{"crc16", digits}, 0, "60219\n", ""},
        // The file form cuts the end to the file and raises a start of 0 to 1.
        {{"crc16", digits, "--start", "0", "--end", "99", "--init", "0"}, 0, "47933\n", ""},
        {{"sum", digits, "--start", "2", "--end", "3"}, 0, std::to_string('2' + '3') + "\n", ""},
        {{"lrc8", file("empty", ""), "--init", "300"}, 0, "300\n", ""},
        {{"lrc8", (dir / "missing").string()}, 1, "", "errorHandlercLRC8file\n"},
        {{"crc16", dir.string()}, 1, "", "errorHandlercCRC16file\n"},
        {{"sum", over}, 1, "", "errorHandlercCHECKSUMfile\n"},
        {{"lrc8", "--string", "abc", "--end", "5"}, 1, "", "errorHandlercLRC8str\n"},
    };
    for (const auto& [args, status, out, err] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const CliResult r = run(args);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, err);
    }
}

TEST_F(ChecksumCli, UsageErrorsExitTwo) {
    const auto f = file("x", "x");
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"md5", f}).status, 2);
    EXPECT_EQ(run({"lrc8"}).status, 2);
    EXPECT_EQ(run({"lrc8", f, "--string", "abc"}).status, 2);
    EXPECT_EQ(run({"lrc8", f, "--poly", "1"}).status, 2);
    EXPECT_EQ(run({"sum", f, "--init", "40000"}).status, 2);
    EXPECT_EQ(run({"crc16", f, "--init", "65536"}).status, 2);
    EXPECT_EQ(run({"crc16", f, "--start", "1x"}).status, 2);
    EXPECT_EQ(run({"crc16", f, "--end"}).status, 2);
    EXPECT_EQ(run({"lrc8", "--string", "abc", "--start", "40000"}).status, 2);
    EXPECT_EQ(run({"lrc8", "--string", std::string(40000, 'a')}).status, 2);
}

}  // namespace
