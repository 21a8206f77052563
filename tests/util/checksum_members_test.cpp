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

namespace korvel {
namespace {

namespace fs = std::filesystem;
constexpr int32_t kMax = 2147483647;

class ChecksumMembers : public ::testing::Test {
  protected:
    void SetUp() override {
        c.setEventSink(&rec);
        dir = fs::path(KORVEL_TEST_TMPDIR) / "checksum_members";
        fs::create_directories(dir);
    }
    std::string file(const std::string& name, const std::string& content) {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder rec;
    fs::path dir;
};

TEST_F(ChecksumMembers, FiguresOverStrings) {
    EXPECT_EQ(c.cLRC8str("abc", 1, 3), 96);
    EXPECT_EQ(c.addLRC8toString("abc"), "abc`");  // '`' is code 96
    EXPECT_EQ(c.addLRC8toString("", 65), "A");
    EXPECT_EQ(c.cLRC8str("abc", 3, 1, 9), 9);
    EXPECT_EQ(c.cLRC8str("abc", 1, 3, 0x100), 352);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9), 60219);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, 0), 47933);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, -1), 0x4B37);
    EXPECT_EQ(c.cCRC16str("123456789", 1, 9, 0x5555, -24575), 60219);
    EXPECT_EQ(c.cCRC16str("abc", 1, 3), 55063);
    EXPECT_EQ(c.addCRC16toString("abc"), "abc\x17\xD7");
    EXPECT_EQ(c.cCHECKSUMstr("abc", 1, 3), 294);
    std::string s70000(274, '\xFF');
    s70000 += static_cast<char>(130);
    EXPECT_EQ(c.cCHECKSUMstr(s70000, 1, 275), 4464);
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST_F(ChecksumMembers, RangesAreWrittenBack) {
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
    // Partly outside: cut to the array.
    start = -10;
    end = 1;
    EXPECT_EQ(c.cLRC8buffer(ByteArray::fromString("abc", 0), start, end), 'a' ^ 'b');
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 1);
    EXPECT_TRUE(rec.errors.empty());
}

// One failing call of a member, with the tag it must report; `fails` checks the failure value.
struct Failure {
    const char* tag;
    std::function<bool(KorvelComTools&)> fails;
};

TEST_F(ChecksumMembers, EveryFailureFollowsTheErrorConvention) {
    const std::string tooLong(32768, 'a');
    const ByteArray none(1, {});
    const std::string folder = dir.string();
    const std::string missing = (dir / "missing.bin").string();
    const std::string over = file("over.bin", std::string(157, '\xFF'));  // total 40035
    const std::vector<Failure> cases = {
        {"errorHandleraddLRC8toString",
         [](auto& k) { return k.addLRC8toString("abc", 256) == ""; }},
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
            rec.errors.clear();
            c.setReceiveError("");
            EXPECT_TRUE(fc.fails(c)) << fc.tag;
            EXPECT_EQ(c.ReceiveError(), fc.tag);
            if (enabled) {
                EXPECT_EQ(rec.errors, std::vector<std::string>{fc.tag});
            } else {
                EXPECT_TRUE(rec.errors.empty()) << fc.tag;
            }
        }
    }
}

TEST_F(ChecksumMembers, AdjustmentsStayWrittenBackOnFailure) {
    const auto abc = file("abc.bin", "abc");
    int32_t start = -1, end = 100;
    EXPECT_EQ(c.cLRC8file(abc, start, end), 0);
    EXPECT_EQ(c.ReceiveError(), "errorHandlercLRC8file");
    EXPECT_EQ(start, -1);
    EXPECT_EQ(end, 3);
    // A missing file is reported before anything is adjusted.
    start = 0;
    end = kMax;
    EXPECT_EQ(c.cCRC16file((dir / "none").string(), start, end), 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, kMax);
}

TEST_F(ChecksumMembers, EmptyFileAndHandlerThatRewritesTheTag) {
    int32_t start = 1, end = kMax;
    EXPECT_EQ(c.cLRC8file(file("empty.bin", ""), start, end, 77), 77);
    EXPECT_EQ(end, 0);
    rec.onError = [](std::string& tag) { tag = "seen:" + tag; };
    EXPECT_EQ(c.cLRC8str("abc", 0, 3), 0);
    EXPECT_EQ(c.ReceiveError(), "seen:errorHandlercLRC8str");
}

TEST_F(ChecksumMembers, InnerFailureOfAnAppendReportsTheInnerTag) {
    // With 'initValue' 256 the inner LRC succeeds but is no byte: only the append fails.
    EXPECT_EQ(c.addLRC8toString("", 256), "");
    EXPECT_EQ(rec.errors, std::vector<std::string>{"errorHandleraddLRC8toString"});
}

TEST_F(ChecksumMembers, ByNameAccessAppliesDefaultsAndWritesRangesBack) {
    const auto ten = file("ten.bin", "0123456789");
    std::vector<Value> args{ten, int32_t{0}, int32_t{kMax}};
    EXPECT_EQ(invoke(c, "cCRC16file", MemberKind::Method, args),
              Value(c.cCRC16str("0123456789", 1, 10)));
    EXPECT_EQ(args[1], Value(int32_t{1}));
    EXPECT_EQ(args[2], Value(int32_t{10}));

    std::vector<Value> bufArgs{ByteArray::fromString("abc", 1)};
    EXPECT_EQ(invoke(c, "cCHECKSUMbuffer", MemberKind::Method, bufArgs), Value(int16_t{294}));
    std::vector<Value> crcArgs{std::string("123456789"), int16_t{1}, int16_t{9}};
    EXPECT_EQ(invoke(c, "cCRC16str", MemberKind::Method, crcArgs), Value(int32_t{60219}));
    std::vector<Value> appendArgs{std::string("abc")};
    EXPECT_EQ(invoke(c, "addCRC16toString", MemberKind::Method, appendArgs),
              Value(std::string("abc\x17\xD7")));
    std::vector<Value> lrcArgs{std::string("abc"), std::string("1"), std::string("3"),
                               std::string("256")};
    EXPECT_EQ(invoke(c, "cLRC8str", MemberKind::Method, lrcArgs), Value(int16_t{352}));
    std::vector<Value> strArgs{std::string("C")};
    EXPECT_EQ(invoke(c, "AddParityString", MemberKind::Method, strArgs),
              Value(std::string("\xC3")));
    EXPECT_EQ(invoke(c, "TestStrDec", MemberKind::Method, strArgs), Value(false));
    EXPECT_EQ(invoke(c, "TestStrHexa", MemberKind::Method, strArgs), Value(true));
    EXPECT_EQ(invoke(c, "SupParityString", MemberKind::Method, strArgs), Value(std::string("C")));
    for (const char* name : {"addLRC8toString", "cLRC8file", "cLRC8buffer", "cCHECKSUMstr",
                             "cCHECKSUMfile", "cCRC16buffer"}) {
        EXPECT_NE(AutomationTable::instance().find(name, MemberKind::Method), nullptr) << name;
    }
}

TEST_F(ChecksumMembers, ParityAndDigitTestsNeverReport) {
    EXPECT_TRUE(c.TestStrDec(""));
    EXPECT_FALSE(c.TestStrDec("-1"));
    EXPECT_TRUE(c.TestStrHexa("00FF"));
    EXPECT_EQ(c.AddParityString("\x80"), "");
    EXPECT_EQ(c.SupParityString(c.AddParityString("Hello")), "Hello");
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

}  // namespace
}  // namespace korvel
