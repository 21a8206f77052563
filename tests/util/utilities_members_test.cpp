// The utilities as the control's members: by name (value, range or buffer written back, error
// tag and ErrorEvent only while ErrorEnabled), scrambling files, waiting for programs.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvelcom/Automation.h"
#include "support/TempDir.h"
#include "support/World.h"
#include "util/Scramble.h"
#include "util/SystemHelpers.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace util;
using S = std::string;
using I = int16_t;
using L = int32_t;

struct Row {
    const char* name;
    std::vector<Value> args;
    S want;  ///< the result, every argument written back, then the error tag: "0 1 3 !tag"
};

TEST(UtilityMembers, ValuesWriteBackAndErrorTags) {
    const fs::path dir = test::ownTempDir("util");
    auto file = [&](const S& name, const S& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    };
    const S abc = file("abc.bin", "abc"), ten = file("ten.bin", "0123456789"), tooLong(32768, 'a');
    const S empty = file("empty.bin", ""), over = file("over.bin", S(157, '\xFF'));
    const S missing = (dir / "missing.bin").string(), hidden = file(".hidden", "abc");
    const S old = file("old.bin", "old"), scrambled = (dir / "scrambled.bin").string();
    S d100;
    for (int i = 0; i < 10; ++i)
        d100 += "0123456789";
    const auto bytes = [](const S& text, L lb) { return ByteArray::fromString(text, lb); };
    const L end = INT32_MAX;
    const std::vector<Row> rows = {
        // LRC8: the high byte of the initial value passes through; positions used as given.
        {"cLRC8str", {S("abc"), I(1), I(3), I(0x100)}, "352"},
        {"cLRC8str", {S("abc"), I(0), I(3)}, "0 !errorHandlercLRC8str"},
        {"cLRC8str", {S("abc"), I(2), I(5)}, "0 !errorHandlercLRC8str"},
        {"cLRC8str", {S(32766, 'x') + "y", I(32766), I(32767)}, "1"},
        {"addLRC8toString", {S("abc")}, "abc`"},
        {"addLRC8toString", {S(""), I(256)}, " !errorHandleraddLRC8toString"},
        // CRC16 with its defaults 0x5555 and 0xA001, and other initial values.
        {"cCRC16str", {S("123456789"), I(1), I(9)}, "60219"},
        {"cCRC16str", {S("123456789"), I(1), I(9), I(-1), I(-24575)}, "19255"},
        {"cCRC16str", {S("abc"), I(2), I(1)}, "21845"},
        // Long data (the CRC kernels' paths are checked in checksum_kernels_test).
        {"cLRC8str", {d100, I(1), I(99)}, "57"},
        {"cCHECKSUMstr", {d100, I(1), I(99)}, "5193"},
        {"cCHECKSUMstr", {S(4097, '\x01'), I(1), I(4097)}, "4097"},  // long data, summed in blocks
        {"cLRC8str", {S(4097, '\x01'), I(1), I(4097)}, "1"},
        {"cCRC16str", {S("abc"), I(2), I(5)}, "0 !errorHandlercCRC16str"},
        {"addCRC16toString", {S("abc")}, "abc\x17\xD7"},
        {"addCRC16toString", {S("abc"), I(0), I(0x1021)}, "abc_\x06"},
        {"addCRC16toString", {tooLong}, " !errorHandleraddCRC16toString"},
        // The additive checksum wraps above 65536 and fails above 32767.
        {"cCHECKSUMstr", {S(274, '\xFF') + '\x82', I(1), I(275)}, "4464"},  // 70000
        {"cCHECKSUMstr", {S(157, '\xFF'), I(1), I(157)}, "0 !errorHandlercCHECKSUMstr"},
        {"cCHECKSUMstr", {S("\x7F"), I(1), I(1), I(32640)}, "32767"},
        {"cCHECKSUMstr", {S(129, '\xFF'), I(1), I(129), I(32641)}, "0 !errorHandlercCHECKSUMstr"},
        {"cCHECKSUMstr", {S(129, '\xFF'), I(1), I(129), I(32642)}, "1"},  // 65537
        // Files: the end is cut to the length and a start of 0 raised to 1, both written back.
        {"cCRC16file", {abc, L(0), end}, "55063 1 3"},
        {"cLRC8file", {ten, L(2), L(4)}, "48 2 4"},
        {"cCHECKSUMfile", {ten, L(11), end}, "0 11 10"},
        {"cLRC8file", {abc, L(-1), L(100)}, "0 -1 3 !errorHandlercLRC8file"},
        {"cLRC8file", {empty, L(1), end, I(42)}, "42 1 0"},
        {"cCRC16file", {ten}, "18157"},
        {"cLRC8file", {missing, L(1), end}, "0 1 2147483647 !errorHandlercLRC8file"},
        {"cCRC16file", {dir.string(), L(1), end}, "0 1 2147483647 !errorHandlercCRC16file"},
        {"cLRC8file", {hidden}, "0 !errorHandlercLRC8file"},
        {"cCHECKSUMfile", {over}, "0 !errorHandlercCHECKSUMfile"},
        // Arrays: the range is clamped to the array's bounds, whatever its lower bound.
        {"cCHECKSUMbuffer", {bytes("abc", 1), L(0), end}, "294 1 3"},
        {"cLRC8buffer", {bytes("abc", INT_MIN), L(INT_MIN), end}, "96 -2147483648 -2147483646"},
        {"cLRC8buffer", {bytes("abc", INT_MAX - 2), L(0), end}, "96 2147483645 2147483647"},
        {"cLRC8buffer", {bytes("abcdef", 10), L(13), L(99)}, "103 13 15"},
        {"cLRC8buffer", {bytes("abcdef", 10), L(-3), L(11), I(1)}, "2 10 11"},
        {"cCRC16buffer", {ByteArray(1, {}), L(0), end}, "0 0 2147483647 !errorHandlercCRC16buffer"},
        {"cLRC8buffer", {ByteArray(1, {})}, "0 !errorHandlercLRC8buffer"},
        {"cCHECKSUMbuffer", {bytes(S(157, '\xFF'), 5)}, "0 !errorHandlercCHECKSUMbuffer"},
        // Digit tests and parity never report.
        {"AddParityString", {S(40000, 'C')}, S(40000, '\xC3')},
        {"TestStrDec", {S("")}, "true"},
        {"TestStrDec", {S("0123")}, "true"},
        {"TestStrDec", {S("1\0002", 3)}, "false"},
        {"TestStrHexa", {S("0123456789ABCDEFabcdef")}, "true"},
        {"TestStrHexa", {S("G")}, "false"},
        {"TestStrHexa", {S("\xC1")}, "false"},
        {"AddParityString", {S("\xC0")}, "\xC0"},
        {"AddParityString", {S("a\200b")}, "\xE1\xE2"},  // no room for the bit: left out
        {"SupParityString", {S("\xC3\xB1")}, "C1"},
        // Parsers: a non-digit counts as -1; an update that would overflow is skipped.
        {"ConvertStrdToDec", {S("")}, "0"},
        {"ConvertStrdToDec", {S("12a")}, "119"},
        {"ConvertStrdToDec", {S("2147483646")}, "2147483646"},
        {"ConvertStrdToDec", {S("2147483647")}, "214748364"},
        {"ConvertStrdToDec", {S(10, 'x') + "9"}, "-1111111111"},
        {"ConvertStrhToDec", {S("ff")}, "-17"},
        {"ConvertStrhToDec", {S("7FFFFFFF")}, "134217727"},
        {"ConvertStrhToDec", {S("123456789A")}, "305419896"},
        {"ConvertStrhToDec", {S("x80000000")}, "-2147483648"},
        {"ConvertStrhToDec", {S("x8000000y1")}, "-2147483647"},
        // Packers: head and tail copied, groups may reach past the end, non-bytes dropped.
        {"cStr2HtoDec", {S("1A2B"), I(1), I(32767)}, "\x1A\x2B 1 4"},
        {"cStr3DtoDec", {S("065066"), I(0), I(100)}, "AB 1 6"},
        {"cStr1DtoDec", {S(""), I(0), I(32767)}, " 1 0"},
        {"cStr1DtoDec", {S("123"), I(-1), I(2)}, "\001\0023 -1 2"},
        {"cStr2DtoDec", {S("12345"), I(1), I(3)}, "\x0C\"45 1 3"},
        {"cStr1DtoDec", {S("abcdefg"), I(5), I(2)}, "abcdcdefg 5 2"},
        {"cStr2DtoDec", {S("655")}, "A\x05"},
        {"cStr3DtoDec", {S("255256065")}, "\377A"},
        {"cStr1HtoDec", {S("F0")}, S("\x0F\x00", 2)},
        // Unpackers: codes as padded text; a position below 1 repeats the last text.
        {"c3DecToAsc", {S("A"), I(1), I(1)}, "065 1 1"},
        {"c2DecToAsc", {S("\xC8\x05")}, "20005"},
        {"c2HexToAsc", {S("xAy"), I(2), I(2)}, "x41y 2 2"},
        {"c3DecToAsc", {S("AB"), I(-1), I(1)}, "000000065B -1 1"},
        {"c2HexToAsc",
         {S(40000, '\0'), I(0), I(32767)},
         S(65534, '0') + S(7233, '\0') + " 1 32767"},
        // File scrambling: the buffer consumed, the array filled; argument errors fail the call.
        {"EncryptFile", {scrambled, S("Hello!"), I(5)}, "true !"},
        {"DecryptFile", {scrambled, bytes(S(5, '\0'), 0), I(4)}, "true [0] 48 65 6C 6C 6F"},
        {"DecryptFile", {scrambled, bytes(S(5, '\0'), 0), I(5)}, "false [0] 48 65 6C 6C 6F"},
        {"DecryptFile", {scrambled, bytes(S(6, '\0'), 0), I(5)}, "true [0] 48 65 6C 6C 6F 6E"},
        {"DecryptFile", {scrambled, bytes("abcde", 1), I(3)}, "false [1] 61 62 63 64 65"},
        {"DecryptFile", {missing, bytes("abc", 0), I(2)}, "false [0] 61 62 63"},
        {"EncryptFile", {old, S("AB"), I(3)}, "false "},  // the old file is deleted
        // System helpers: 15.5 and 0.4 twips a pixel round to 16 and 0 (no conversion).
        {"TwipsToPixel", {I(1000), I(3)}, " 62 3"},
        {"TwipsToPixel", {I(-1016), I(5)}, " -64 5"},
        {"PixelToTwips", {I(-2048), I(7)}, " -32768 0"},
        {"PixelToTwips", {I(-2049), I(20000)}, " -2049 0"},
        {"WinDir", {}, "/opt/win"},
        {"WinSysDir", {}, "/"},
        // Re-dimensioned from 1 to 0; the variant result holds a copy.  Quotes group nothing.
        {"GetCommandLine",
         {VariantArray{1, {S("old")}}},
         R"([0] {"", "-a", """b", "c""", "d"} [0] {"", "-a", """b", "c""", "d"})"},
        {"GetCommandLine",
         {Value{}},
         R"([0] {"", "-a", """b", "c""", "d"} [0] {"", "-a", """b", "c""", "d"})"},
        {"IsActive", {S("not a number")}, "0"},
    };
    for (bool enabled : {true, false}) {
        test::World w;
        auto& sys = static_cast<SimSystemServices&>(w.p.system());
        sys.twipsX = 15.5;
        sys.twipsY = 0.4;
        sys.windowsDir = "/opt/win/";
        sys.systemDir = "/";
        sys.processArguments = "-a  \"b\tc\" d";
        w->setErrorEnabled(enabled);
        for (const Row& r : rows) {
            SCOPED_TRACE(S(r.name) + " row " + std::to_string(&r - rows.data()));
            w->setReceiveError("");
            w.events.errors.clear();
            std::vector<Value> args = r.args;
            S got = formatValue(invoke(*w, r.name, MemberKind::Method, args));
            const Member* m = AutomationTable::instance().find(r.name, MemberKind::Method);
            for (std::size_t i = 0; i < args.size(); ++i)
                got += m->params[i].writesBack ? " " + formatValue(args[i]) : "";
            got += w->ReceiveError().empty() ? "" : " !" + w->ReceiveError();
            EXPECT_EQ(got, r.want);
            EXPECT_EQ(w.events.errors.size(), enabled && !w->ReceiveError().empty() ? 1u : 0u);
        }
    }
    EXPECT_FALSE(fs::exists(old));
    test::World w;  // the C++ array forms without a range take the whole array
    EXPECT_EQ(w->cLRC8buffer(bytes("abc", 1)) + w->cCHECKSUMbuffer(bytes("abc", 0)) +
                  w->cCRC16buffer(bytes("abc", 0)),
              55453);
}

struct Scrambling : ::testing::Test {
    void code(const S& c) { w.p.memorySettings().set("KorvelServices", "Settings", "DataCode", c); }
    S scrambled(const fs::path& file, S data) {
        EXPECT_TRUE(w->EncryptFile(file.string(), data, static_cast<int16_t>(data.size())));
        std::ifstream in(file, std::ios::binary);
        return S(std::istreambuf_iterator<char>(in), {});
    }
    test::World w;
    fs::path dir = test::ownTempDir("util");
};

// The key takes the base name in lower case and the code's high byte: 27315 -> 106, 1279 -> 4.
TEST_F(Scrambling, KnownAnswersAndFailuresThatLeaveNoFile) {
    code("27315");
    fs::create_directories(dir / "sub");
    EXPECT_EQ(scrambled(dir / "sub" / "X.BIN", "AB"), "\x08\xA2");
    code("1279");
    EXPECT_EQ(scrambled(dir / "Data.bin", "Hello"), "\x4D\x2C\xC7\x71\xE7");
    const auto fails = [&](const S& name, S data, const S& rest) {
        std::ofstream(dir / name) << "old";
        EXPECT_FALSE(w->EncryptFile((dir / name).string(), data, int16_t(data.size()))) << name;
        EXPECT_EQ(data, rest) << name;  // the characters taken stay taken
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    };
    code("40000");  // does not fit 16 bits
    fails("f.bin", "ABC", "ABC");
    code("-32768");  // the state stays negative through the name "a": no key byte
    fails("a", "XYZ", "YZ");
    code("27315");  // with this name the 16-bit sum s + 255 + i first overflows at i = 32303
    S big(32767, '\xFF');
    fails("big.bin", big, S(32767 - 32304, '\xFF'));
    // "sub", a directory, cannot be written, nor is it deleted.
    EXPECT_FALSE(w->EncryptFile((dir / "sub").string(), big, 3));
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
    std::ofstream(dir / "zeros") << S(32767, '\0');  // unscrambling overflows near the end too
    ByteArray all(0, std::vector<uint8_t>(32767));
    EXPECT_FALSE(w->DecryptFile((dir / "zeros").string(), all, 32766));
}

TEST(Programs, SimulatedWaitYieldsUntilTheProgramEndsOrEscape) {
    test::World w;
    auto& sys = static_cast<SimSystemServices&>(w.p.system());
    int yields = 0;
    const auto endAt = [&](int n, auto then) {
        w.p.simLoop().setYieldHook([&, n, then] {
            if (++yields == n) then();
        });
    };
    endAt(5, [&] { sys.running.erase(4000); });
    w->SuspendActivateExe("\"C:\\Program Files\\pos.exe\" /x");
    EXPECT_EQ(sys.started, (std::vector<std::vector<S>>{{"C:\\Program Files\\pos.exe", "/x"}}));
    // Escape returns at once, skips the final wait and leaves the program running; with
    // Escape disabled the key is ignored.
    endAt(8, [&] { w.p.simLoop().setEscape(true); });
    w->SuspendActivateExe("pos.exe");
    EXPECT_EQ(w->IsActive(4001), -1);
    w->setEscapeKeyEnabled(false);
    endAt(10, [&] { sys.running.erase(4002); });
    w->SuspendActivateExe("pos.exe");
    EXPECT_EQ(yields, 10);
    EXPECT_EQ(sys.waited, (std::vector<int32_t>{4000, 4002}));
    // A program that cannot start: back at once.
    sys.failStarts = true;
    w->SuspendActivateExe("missing.exe");
    w->SuspendActivateExe("   ");
    EXPECT_EQ(w.p.simLoop().yields(), 10);
}

}  // namespace
}  // namespace korvel
