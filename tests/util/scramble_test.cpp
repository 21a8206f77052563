// File scrambling: a known-answer file, round trips, the consumed and filled buffers, what
// makes the members answer false and what makes the call itself fail, and the key code as the
// settings store holds it.
#include "util/Scramble.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(KORVEL_TEST_TMPDIR) / "scramble" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string bytesText(const ByteArray& a) {
    return std::string(a.bytes.begin(), a.bytes.end());
}

class Scramble : public ::testing::Test {
  protected:
    void setCode(const std::string& code) {
        sim.memorySettings().set("KorvelServices", "Settings", "DataCode", code);
    }
    // Scrambles `data` whole into `file` and returns the file's bytes.
    std::string scrambled(const fs::path& file, std::string data) {
        EXPECT_TRUE(control.EncryptFile(file.string(), data, static_cast<int16_t>(data.size())));
        return readFile(file);
    }

    SimPlatform sim;
    KorvelComTools control{sim};
    fs::path dir = freshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST(ScrambleKey, LeadingNumberRoundedToEven) {
    EXPECT_EQ(util::scrambleKeyCode("27315"), 27315);
    EXPECT_EQ(util::scrambleKeyCode("  -12.5kg"), -12);
    EXPECT_EQ(util::scrambleKeyCode("3.5"), 4);
    EXPECT_EQ(util::scrambleKeyCode("abc"), 0);
    EXPECT_EQ(util::scrambleKeyCode("-32768"), -32768);
    EXPECT_EQ(util::scrambleKeyCode("32767.5"), std::nullopt);  // rounds to 32768
    EXPECT_EQ(util::scrambleKeyCode("99999999999999999999999"), std::nullopt);
    EXPECT_EQ(util::scrambleBaseName("C:\\Data\\Mixed/Dir/File.BIN"), "file.bin");
}

TEST_F(Scramble, KnownAnswer) {
    setCode("27315");  // H = 106; the base name "x.bin" brings the state to 73
    EXPECT_EQ(scrambled(dir / "X.BIN", "AB"), "\x08\xA2");
    setCode("1234");
    EXPECT_EQ(scrambled(dir / "Data.bin", "Hello"), "\x4D\x2C\xC7\x71\xE7");
}

TEST_F(Scramble, RoundTripConsumesTheBufferAndFillsIndexByIndex) {
    std::mt19937 rng(7);
    std::string data(1000, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    const fs::path file = dir / "round.dat";
    std::ofstream(file) << std::string(2000, 'z');  // an older, longer file is replaced
    std::string buffer = data + "REST";
    ASSERT_TRUE(control.EncryptFile(file.string(), buffer, 1000));
    EXPECT_EQ(buffer, "REST");
    EXPECT_EQ(fs::file_size(file), 1000u);
    ByteArray out(0, std::vector<uint8_t>(1000, 0xEE));
    EXPECT_TRUE(control.DecryptFile(file.string(), out, 999));
    EXPECT_EQ(bytesText(out), data);

    scrambled(dir / "four.dat", "WXYZ");
    // A last index equal to the count needs one element more than the file has bytes.
    ByteArray exact(0, std::vector<uint8_t>(4, 0));
    EXPECT_FALSE(control.DecryptFile((dir / "four.dat").string(), exact, 4));
    EXPECT_EQ(bytesText(exact), "WXYZ");
    ByteArray longer(0, std::vector<uint8_t>(5, 0xEE));
    EXPECT_TRUE(control.DecryptFile((dir / "four.dat").string(), longer, 4));
    EXPECT_EQ(bytesText(longer).substr(0, 4), "WXYZ");
    // The work byte beyond the file is 0, so element 4 holds the key byte for index 4.
    util::ScrambleStream stream(27315, "four.dat");
    for (char c : std::string("WXYZ"))
        ASSERT_TRUE(stream.advance(static_cast<uint8_t>(c)));
    EXPECT_EQ(longer.bytes[4], *stream.keyByte());
    // Index 0 must exist: an array starting at 1 gets nothing.
    ByteArray oneBased(1, std::vector<uint8_t>(5, 0xEE));
    EXPECT_FALSE(control.DecryptFile((dir / "four.dat").string(), oneBased, 3));
    EXPECT_EQ(oneBased.bytes, std::vector<uint8_t>(5, 0xEE));
}

TEST_F(Scramble, OnlyTheBaseNameAndTheCodesHighByteMatter) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    const std::string data = "same data, same key";
    const std::string inA = scrambled(dir / "a" / "Rec.dat", data);  // no entry: code 27315
    EXPECT_EQ(scrambled(dir / "b" / "rec.DAT", data), inA);
    EXPECT_NE(scrambled(dir / "b" / "rec2.dat", data), inA);
    setCode("0");
    EXPECT_NE(scrambled(dir / "a" / "Rec.dat", data), inA);
    // Only H = code / 256 enters the stream: 27316 has the high byte of the default 27315.
    setCode("27316");
    EXPECT_EQ(scrambled(dir / "a" / "Rec.dat", data), inA);
}

TEST_F(Scramble, FailuresAnswerFalse) {
    const fs::path file = dir / "f.bin";
    std::ofstream(file) << "old";

    // Too little data: the old file is gone and the buffer emptied.
    std::string shortBuffer = "AB";
    EXPECT_FALSE(control.EncryptFile(file.string(), shortBuffer, 3));
    EXPECT_EQ(shortBuffer, "");
    EXPECT_FALSE(fs::exists(file));

    // A key code that does not fit 16 bits.
    std::ofstream(file) << "old";
    setCode("40000");
    std::string buffer = "ABC";
    EXPECT_FALSE(control.EncryptFile(file.string(), buffer, 3));
    EXPECT_FALSE(fs::exists(file));
    ByteArray out(0, std::vector<uint8_t>(3, 0xEE));
    EXPECT_FALSE(control.DecryptFile((dir / "missing").string(), out, 2));
    EXPECT_EQ(out.bytes, std::vector<uint8_t>(3, 0xEE));  // a missing file leaves it untouched

    // A negative code whose state stays negative through the name: the key byte is invalid.
    setCode("-32768");  // H = -128; "a" brings it to -31
    std::string data = "XYZ";
    EXPECT_FALSE(control.EncryptFile((dir / "a").string(), data, 3));
    EXPECT_EQ(data, "YZ");  // the first character was taken before the step failed

    // A directory cannot be written, and is not deleted either.
    setCode("27315");
    fs::create_directories(dir / "sub");
    std::string more = "ABC";
    EXPECT_FALSE(control.EncryptFile((dir / "sub").string(), more, 3));
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
}

TEST_F(Scramble, StreamSumOverflowsNearTheLastIndex) {
    const fs::path file = dir / "big.bin";
    std::string buffer(32767, '\xFF');
    EXPECT_FALSE(control.EncryptFile(file.string(), buffer, 32767));
    EXPECT_FALSE(fs::exists(file));
    // s + 255 + i first leaves the 16-bit range at i = 32513 - s (s is 0 to 255); the
    // character of that index has been taken.
    const std::size_t taken = 32767 - buffer.size();
    EXPECT_GE(taken, 32259u);
    EXPECT_LE(taken, 32514u);
}

TEST_F(Scramble, ByNameWritesBothBuffersBackAndArgumentErrorsFailTheCall) {
    const std::string file = (dir / "byname.bin").string();
    std::vector<Value> enc{file, std::string("Hello!"), int16_t{5}};
    EXPECT_EQ(invoke(control, "EncryptFile", MemberKind::Method, enc), Value(true));
    EXPECT_EQ(std::get<std::string>(enc[1]), "!");
    std::vector<Value> dec{file, ByteArray(0, std::vector<uint8_t>(5, 0)), int16_t{4}};
    EXPECT_EQ(invoke(control, "DecryptFile", MemberKind::Method, dec), Value(true));
    EXPECT_EQ(bytesText(std::get<ByteArray>(dec[1])), "Hello");

    std::string buffer = "ABC";
    EXPECT_THROW(control.EncryptFile("", buffer, 3), std::out_of_range);
    EXPECT_THROW(control.EncryptFile(file, buffer, 0), std::out_of_range);
    EXPECT_THROW(control.DecryptFile("", std::get<ByteArray>(dec[1]), 0), std::out_of_range);
    EXPECT_THROW(control.DecryptFile(file, std::get<ByteArray>(dec[1]), -1), std::out_of_range);
    EXPECT_EQ(buffer, "ABC");
    enc = {file, std::string("ABC"), int16_t{0}};
    EXPECT_THROW(invoke(control, "EncryptFile", MemberKind::Method, enc), AutomationError);
}

TEST(ScramblePosix, KeyCodeComesFromTheIniFile) {
    const fs::path dir = freshDir("ini");
    fs::create_directories(dir / "config" / "korvelcom");
    std::ofstream(dir / "config" / "korvelcom" / "KorvelServices.ini")
        << "[Settings]\nDataCode=1234\n";
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    KorvelComTools control;  // the default POSIX platform
    std::string buffer = "Hello";
    const bool ok = control.EncryptFile((dir / "Data.bin").string(), buffer, 5);
    if (old) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(dir / "Data.bin"), "\x4D\x2C\xC7\x71\xE7");  // as with code 1234
}

}  // namespace
}  // namespace korvel
