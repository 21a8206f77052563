// The control's check members: values, written-back ranges, the error convention of every
// failure, and their by-name access.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int32_t kMax = 2147483647;

class ChecksumMembers : public ::testing::Test {
  protected:
    void SetUp() override {
        c.setEventSink(&rec);
        fs::create_directories(dir);
    }
    std::string file(const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    }

    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder rec;
    fs::path dir = test::ownTempDir("checksum_members");
};

TEST_F(ChecksumMembers, FiguresAndWrittenBackRanges) {
    std::string s70000(274, '\xFF');  // 274 * 255 + 130 = 70000
    s70000 += static_cast<char>(130);
    EXPECT_EQ(c.cLRC8str("abc", 1, 3, 0x100), 352);
    EXPECT_EQ(c.addLRC8toString("abc"), "abc`");  // '`' is code 96
    EXPECT_EQ(c.addLRC8toString("", 65), "A");
    EXPECT_EQ(c.cLRC8str("abc", 3, 1, 9), 9);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9), 60219);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, 0), 47933);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, -1), 0x4B37);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, 0x5555, -24575), 60219);
    EXPECT_EQ(c.addCRC16toString("abc"), "abc\x17\xD7");
    EXPECT_EQ(c.cCHECKSUMstr(s70000, 1, 275), 4464);

    const auto ten = file("ten.bin", "0123456789");
    int32_t start = 0, end = kMax;
    EXPECT_EQ(c.cCRC16file(ten, start, end), c.cCRC16str("0123456789", 1, 10));
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 10);
    start = 0;
    EXPECT_EQ(c.cLRC8file(ten, start), c.cLRC8str("0123456789", 1, 10));
    EXPECT_EQ(start, 1);
    EXPECT_EQ(c.cCHECKSUMfile(ten), c.cCHECKSUMstr("0123456789", 1, 10));
    for (int32_t lb : {0, 1}) {
        const ByteArray buf = ByteArray::fromString("abc", lb);
        start = 0;
        end = kMax;
        EXPECT_EQ(c.cCHECKSUMbuffer(buf, start, end), 294);
        EXPECT_EQ(start, lb);
        EXPECT_EQ(end, lb + 2);
        start = 0;
        EXPECT_EQ(c.cLRC8buffer(buf, start), 96);
        EXPECT_EQ(start, lb);
        EXPECT_EQ(c.cCRC16buffer(buf), 55063);
    }
    start = 1;
    end = kMax;
    EXPECT_EQ(c.cLRC8file(file("empty.bin", ""), start, end, 77), 77);
    EXPECT_EQ(end, 0);
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
    // Adjustments stay written back on failure; a missing file is refused before any.
    start = -1;
    end = 100;
    EXPECT_EQ(c.cLRC8file(file("abc.bin", "abc"), start, end), 0);
    EXPECT_EQ(start, -1);
    EXPECT_EQ(end, 3);
    start = 0;
    end = kMax;
    EXPECT_EQ(c.cCRC16file((dir / "none").string(), start, end), 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, kMax);
}

TEST_F(ChecksumMembers, EveryFailureFollowsTheErrorConvention) {
    // One failing call per case, with the tag it must report; each checks its failure value.
    struct Failure {
        const char* tag;
        std::function<bool(KorvelComTools&)> fails;
    };
    const std::string tooLong(32768, 'a');
    const ByteArray none(1, {});
    const std::string folder = dir.string();
    const std::string missing = (dir / "missing.bin").string();
    const std::string over = file("over.bin", std::string(157, '\xFF'));  // total 40035
    const std::vector<Failure> cases = {
        // With 'initValue' 256 the inner LRC succeeds but is no byte: only the append fails.
        {"errorHandleraddLRC8toString", [](auto& k) { return k.addLRC8toString("", 256) == ""; }},
        {"errorHandleraddLRC8toString", [&](auto& k) { return k.addLRC8toString(tooLong) == ""; }},
        {"errorHandlercLRC8str", [](auto& k) { return k.cLRC8str("abc", 0, 3, 5) == 0; }},
        {"errorHandlercLRC8str", [](auto& k) { return k.cLRC8str("abc", 2, 5, 5) == 0; }},
        {"errorHandlercLRC8file", [&](auto& k) { return k.cLRC8file(missing) == 0; }},
        {"errorHandlercLRC8buffer", [&](auto& k) { return k.cLRC8buffer(none) == 0; }},
        {"errorHandleraddCRC16toString",
         [&](auto& k) { return k.addCRC16toString(tooLong) == ""; }},
        {"errorHandlercCRC16str", [](auto& k) { return k.cCRC16str("abc", 2, 5) == 0; }},
        {"errorHandlercCRC16file", [&](auto& k) { return k.cCRC16file(folder) == 0; }},
        {"errorHandlercCRC16buffer", [&](auto& k) { return k.cCRC16buffer(none) == 0; }},
        {"errorHandlercCHECKSUMstr",
         [](auto& k) { return k.cCHECKSUMstr(std::string(157, '\xFF'), 1, 157) == 0; }},
        {"errorHandlercCHECKSUMfile", [&](auto& k) { return k.cCHECKSUMfile(over) == 0; }},
        {"errorHandlercCHECKSUMbuffer",
         [](auto& k) {
             return k.cCHECKSUMbuffer(ByteArray(5, std::vector<uint8_t>(157, 0xFF))) == 0;
         }},
    };
    for (bool enabled : {true, false}) {
        c.setErrorEnabled(enabled);
        for (const Failure& fc : cases) {
            SCOPED_TRACE(fc.tag);
            rec.errors.clear();
            c.setReceiveError("");
            EXPECT_TRUE(fc.fails(c));
            EXPECT_EQ(c.ReceiveError(), fc.tag);
            EXPECT_EQ(rec.errors,
                      enabled ? std::vector<std::string>{fc.tag} : std::vector<std::string>{});
        }
    }
    // The handler may rewrite the tag that is stored.
    c.setErrorEnabled(true);
    rec.onError = [](std::string& tag) { tag = "seen:" + tag; };
    EXPECT_EQ(c.cLRC8str("abc", 0, 3), 0);
    EXPECT_EQ(c.ReceiveError(), "seen:errorHandlercLRC8str");
}

TEST_F(ChecksumMembers, ByNameAccessAppliesDefaultsAndWritesRangesBack) {
    std::vector<Value> args{file("ten.bin", "0123456789"), int32_t{0}, int32_t{kMax}};
    EXPECT_EQ(invoke(c, "cCRC16file", MemberKind::Method, args),
              Value(c.cCRC16str("0123456789", 1, 10)));
    EXPECT_EQ(args[1], Value(int32_t{1}));
    EXPECT_EQ(args[2], Value(int32_t{10}));

    const std::string C = "C";
    const std::vector<std::tuple<const char*, std::vector<Value>, Value>> cases = {
        {"cCHECKSUMbuffer", {ByteArray::fromString("abc", 1)}, int16_t{294}},
        {"cCRC16str", {std::string("123456789"), int16_t{1}, int16_t{9}}, int32_t{60219}},
        {"addCRC16toString", {std::string("abc")}, std::string("abc\x17\xD7")},
        {"cLRC8str",
         {std::string("abc"), std::string("1"), std::string("3"), std::string("256")},
         int16_t{352}},
        {"AddParityString", {C}, std::string("\xC3")},
        {"SupParityString", {C}, C},
        {"TestStrDec", {C}, false},
        {"TestStrHexa", {C}, true},
    };
    for (auto [name, in, want] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(invoke(c, name, MemberKind::Method, in), want);
    }
    for (const char* name : {"addLRC8toString", "cLRC8file", "cLRC8buffer", "cCHECKSUMstr",
                             "cCHECKSUMfile", "cCRC16buffer"}) {
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Method), nullptr) << name;
    }
}

TEST_F(ChecksumMembers, ParityAndDigitTestsNeverReport) {
    EXPECT_FALSE(c.TestStrDec("-1"));
    EXPECT_EQ(c.AddParityString("\x80"), "");
    EXPECT_EQ(c.SupParityString(c.AddParityString("Hello")), "Hello");
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

}  // namespace
}  // namespace korvel
