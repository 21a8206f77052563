// `korvelcom checksum`: values, failures with their tag and exit status 1, usage errors 2.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
        dir = fs::path(KORVEL_TEST_TMPDIR) / "checksum_cli";
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

TEST_F(ChecksumCli, PrintsTheValueInDecimal) {
    EXPECT_EQ(run({"crc16", "--string", "123456789"}).out, "60219\n");
    EXPECT_EQ(run({"crc16", "--string", "123456789", "--init", "0"}).out, "47933\n");
    EXPECT_EQ(run({"crc16", "--string", "123456789", "--init", "0xFFFF"}).out, "19255\n");
    EXPECT_EQ(run({"crc16", "--string", "123456789", "--poly", "-24575"}).out, "60219\n");
    EXPECT_EQ(run({"lrc8", "--string", "abc"}).out, "96\n");
    EXPECT_EQ(run({"sum", "--string", "abc", "--start", "2"}).out,
              std::to_string('b' + 'c') + "\n");

    const auto digits = file("digits.txt", "123456789");
    const CliResult whole = run({"crc16", digits});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, "60219\n");
    EXPECT_EQ(whole.err, "");
    // The file form cuts the end to the file and raises a start of 0 to 1.
    EXPECT_EQ(run({"crc16", digits, "--start", "0", "--end", "99", "--init", "0"}).out, "47933\n");
    EXPECT_EQ(run({"sum", digits, "--start", "2", "--end", "3"}).out,
              std::to_string('2' + '3') + "\n");
    EXPECT_EQ(run({"lrc8", file("empty", ""), "--init", "300"}).out, "300\n");
}

TEST_F(ChecksumCli, FailuresPrintTheTagAndExitOne) {
    const CliResult missing = run({"lrc8", (dir / "missing").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "errorHandlercLRC8file\n");
    EXPECT_EQ(run({"crc16", dir.string()}).err, "errorHandlercCRC16file\n");
    const auto over = file("over.bin", std::string(157, '\xFF'));
    const CliResult overflow = run({"sum", over});
    EXPECT_EQ(overflow.status, 1);
    EXPECT_EQ(overflow.err, "errorHandlercCHECKSUMfile\n");
    const CliResult outside = run({"lrc8", "--string", "abc", "--end", "5"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, "errorHandlercLRC8str\n");
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
