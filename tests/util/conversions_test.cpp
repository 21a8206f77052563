// The scalar parsers' overflow rule, the range preparation the packers and unpackers write
// back, their head and tail copies and dropped groups, and the by-name members.
#include "util/Conversions.h"

#include <gtest/gtest.h>

#include <climits>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"

namespace korvel::util {
namespace {

TEST(Parsers, NonDigitsCountAsMinusOne) {
    EXPECT_EQ(decimalTextValue(""), 0);
    EXPECT_EQ(decimalTextValue("12a"), 119);
    EXPECT_EQ(decimalTextValue(" 5"), -5);
    EXPECT_EQ(decimalTextValue("-5"), -5);
    EXPECT_EQ(hexTextValue("1A"), 26);
    EXPECT_EQ(hexTextValue("ff"), -17);  // lower case is not a digit
    EXPECT_EQ(hexTextValue("1G"), 15);
}

TEST(Parsers, AnUpdateThatWouldOverflowIsSkipped) {
    // + p leaves the range.
    EXPECT_EQ(hexTextValue("7FFFFFFE"), 2147483646);
    EXPECT_EQ(hexTextValue("7FFFFFFF"), 0x7FFFFFF);
    EXPECT_EQ(decimalTextValue("2147483646"), 2147483646);
    EXPECT_EQ(decimalTextValue("2147483647"), 214748364);
    // The product leaves the range; later updates still run.
    EXPECT_EQ(hexTextValue("80000000"), 0x8000000);
    EXPECT_EQ(hexTextValue("123456789A"), 0x12345678);
    EXPECT_EQ(decimalTextValue(std::string(10, 'x')), -1111111111);
    EXPECT_EQ(decimalTextValue(std::string(11, 'x')), -1111111111);
    EXPECT_EQ(decimalTextValue(std::string(10, 'x') + "9"), -1111111111);
    // Only the final - 1 leaves the range: "x8000000" is -2^27, times 16 is INT32_MIN.
    EXPECT_EQ(hexTextValue("x8000000"), -134217728);
    EXPECT_EQ(hexTextValue("x80000000"), INT32_MIN);   // digit 0: + 1 - 1 fits
    EXPECT_EQ(hexTextValue("x8000000y"), -134217728);  // non-digit: - 1 would not
    EXPECT_EQ(hexTextValue("x8000000y1"), -134217728 * 16 + 1);
}

// A packer call over a range taken by value, for the cases whose write-back is not checked.
std::string pack(std::string_view text, int16_t start, int16_t end, int n, PackBase base) {
    return packGroups(text, start, end, n, base);
}
std::string unpack(std::string_view text, int16_t start, int16_t end, UnpackFormat format) {
    return unpackCodes(text, start, end, format);
}
constexpr auto kDec = PackBase::Decimal;

TEST(Packers, RangesHeadTailAndDroppedGroups) {
    int16_t start = kRangeDefaultStart, end = kRangeDefaultEnd;
    EXPECT_EQ(packGroups("1A2B", start, end, 2, PackBase::Hex), "\x1A\x2B");
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 4);
    start = 0;
    end = 100;
    EXPECT_EQ(packGroups("065066", start, end, 3, kDec), "AB");
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 6);
    start = 0;
    end = kRangeDefaultEnd;
    EXPECT_EQ(packGroups("", start, end, 1, kDec), "");
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 0);
    start = -1;
    end = 2;
    EXPECT_EQ(packGroups("123", start, end, 1, kDec),
              "\x01\x02"
              "3");
    EXPECT_EQ(start, -1);  // only a start of exactly 0 is raised

    EXPECT_EQ(pack("A7", 2, 2, 1, kDec), std::string("A\x07"));
    // The last group reaches beyond the end; the tail repeats its characters.
    EXPECT_EQ(pack("12345", 1, 3, 2, kDec),
              "\x0C\x22"
              "45");
    // An end before the start converts nothing but copies head and tail.
    EXPECT_EQ(pack("abcdefg", 5, 2, 1, kDec), "abcdcdefg");
    EXPECT_EQ(pack("655", 1, 3, 2, kDec), std::string("A\x05"));  // a group cut short
    EXPECT_EQ(pack("123", 1, -1, 1, kDec), "123");
    // Groups that are no byte values are dropped.
    EXPECT_EQ(pack("1x2", 1, 100, 1, kDec), "\x01\x02");
    EXPECT_EQ(pack("300", 1, 100, 3, kDec), "");
    EXPECT_EQ(pack("255256065", 1, 100, 3, kDec),
              "\xFF"
              "A");
    EXPECT_EQ(pack("ff4A", 1, 100, 2, PackBase::Hex), "J");
    EXPECT_EQ(pack("F0", 1, 100, 1, PackBase::Hex), std::string("\x0F\x00", 2));
}

TEST(Unpackers, CodesAsPaddedText) {
    int16_t start = 1, end = kRangeDefaultEnd;
    EXPECT_EQ(unpackCodes("AB", start, end, {true, 2}), "4142");
    EXPECT_EQ(end, 2);
    EXPECT_EQ(unpack("A", 1, 1, {false, 3}), "065");
    EXPECT_EQ(unpack("A", 1, 1, {false, 2}), "65");
    EXPECT_EQ(unpack("\xC8\x05", 1, 2, {false, 2}), "20005");
    EXPECT_EQ(unpack(std::string("\x00\xFF", 2), 1, 2, {true, 2}), "00FF");
    EXPECT_EQ(unpack("xAy", 2, 2, {true, 2}), "x41y");
    EXPECT_EQ(unpack("", 0, 32767, {false, 3}), "");
    EXPECT_EQ(unpack("AB", -1, 1, {false, 3}), "000000065B");  // the padded empty text twice

    // A string longer than the last position keeps its tail.
    const std::string text(40000, 'A');
    start = kRangeDefaultStart;
    end = kRangeDefaultEnd;
    const std::string out = unpackCodes(text, start, end, {true, 2});
    EXPECT_EQ(end, 32767);
    ASSERT_EQ(out.size(), 32767u * 2 + (40000 - 32767));
    EXPECT_EQ(out.substr(0, 4), "4141");
    EXPECT_EQ(out.substr(32767 * 2), std::string(40000 - 32767, 'A'));
}

TEST(ConversionMembers, RangeWriteBackReachesTheCaller) {
    SimPlatform sim;
    KorvelComTools control(sim);
    int16_t start = 0;
    int16_t end = 99;
    EXPECT_EQ(control.cStr2DtoDec("6566", start, end), "AB");
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 4);
    EXPECT_EQ(control.c2HexToAsc("AB"), "4142");
    EXPECT_EQ(control.ConvertStrhToDec("7FFFFFFF"), 0x7FFFFFF);

    // By name: omitted ranges take the defaults, passed ones are written back.
    std::vector<Value> args{std::string("1A2B"), int16_t{0}, int16_t{1000}};
    EXPECT_EQ(std::get<std::string>(invoke(control, "cStr2HtoDec", MemberKind::Method, args)),
              "\x1A\x2B");
    EXPECT_EQ(std::get<int16_t>(args[1]), 1);
    EXPECT_EQ(std::get<int16_t>(args[2]), 4);
    std::vector<Value> one{std::string("A")};
    EXPECT_EQ(std::get<std::string>(invoke(control, "c3DecToAsc", MemberKind::Method, one)), "065");
    std::vector<Value> dec{std::string("2147483647")};
    EXPECT_EQ(std::get<int32_t>(invoke(control, "ConvertStrdToDec", MemberKind::Method, dec)),
              214748364);
}

}  // namespace
}  // namespace korvel::util
