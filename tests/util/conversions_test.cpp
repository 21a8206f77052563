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

struct Range {
    int16_t start;
    int16_t end;
};

std::string pack(std::string_view text, Range& r, int n, PackBase base) {
    return packGroups(text, r.start, r.end, n, base);
}

std::string unpack(std::string_view text, Range& r, UnpackFormat format) {
    return unpackCodes(text, r.start, r.end, format);
}

TEST(Packers, DefaultRangeIsWrittenBackAsTheWholeString) {
    Range r{kRangeDefaultStart, kRangeDefaultEnd};
    EXPECT_EQ(pack("1A2B", r, 2, PackBase::Hex), "\x1A\x2B");
    EXPECT_EQ(r.end, 4);
    EXPECT_EQ(r.start, 1);

    Range zero{0, 100};
    EXPECT_EQ(pack("065066", zero, 3, PackBase::Decimal), "AB");
    EXPECT_EQ(zero.start, 1);
    EXPECT_EQ(zero.end, 6);

    Range empty{0, kRangeDefaultEnd};
    EXPECT_EQ(pack("", empty, 1, PackBase::Decimal), "");
    EXPECT_EQ(empty.start, 1);
    EXPECT_EQ(empty.end, 0);
}

TEST(Packers, HeadBodyAndTail) {
    Range r{2, 2};
    EXPECT_EQ(pack("A7", r, 1, PackBase::Decimal), std::string("A\x07"));
    // The last group reaches beyond the end; the tail repeats its characters.
    Range over{1, 3};
    EXPECT_EQ(pack("12345", over, 2, PackBase::Decimal),
              "\x0C\x22"
              "45");
    // An end before the start converts nothing but copies head and tail.
    Range reversed{5, 2};
    EXPECT_EQ(pack("abcdefg", reversed, 1, PackBase::Decimal), "abcdcdefg");
    // A group cut short by the end of the string.
    Range tail{1, 3};
    EXPECT_EQ(pack("655", tail, 2, PackBase::Decimal), std::string("A\x05"));
}

TEST(Packers, GroupsThatAreNotByteValuesAreDropped) {
    Range a{1, 100};
    EXPECT_EQ(pack("1x2", a, 1, PackBase::Decimal), "\x01\x02");
    Range b{1, 100};
    EXPECT_EQ(pack("300", b, 3, PackBase::Decimal), "");
    Range c{1, 100};
    EXPECT_EQ(pack("255256065", c, 3, PackBase::Decimal),
              "\xFF"
              "A");
    Range d{1, 100};
    EXPECT_EQ(pack("ff4A", d, 2, PackBase::Hex), "J");
    Range e{1, 100};
    EXPECT_EQ(pack("F0", e, 1, PackBase::Hex), std::string("\x0F\x00", 2));
}

TEST(Packers, PositionsBelowOneContributeNothing) {
    Range negStart{-1, 2};
    EXPECT_EQ(pack("123", negStart, 1, PackBase::Decimal),
              "\x01\x02"
              "3");
    EXPECT_EQ(negStart.start, -1);  // only a start of exactly 0 is raised
    Range negEnd{1, -1};
    EXPECT_EQ(pack("123", negEnd, 1, PackBase::Decimal), "123");
}

TEST(Unpackers, CodesAsPaddedText) {
    Range r{1, kRangeDefaultEnd};
    EXPECT_EQ(unpack("AB", r, {true, 2}), "4142");
    EXPECT_EQ(r.end, 2);
    Range a{1, 1};
    EXPECT_EQ(unpack("A", a, {false, 3}), "065");
    Range b{1, 1};
    EXPECT_EQ(unpack("A", b, {false, 2}), "65");
    Range c{1, 2};
    EXPECT_EQ(unpack("\xC8\x05", c, {false, 2}), "20005");
    Range d{1, 2};
    EXPECT_EQ(unpack(std::string("\x00\xFF", 2), d, {true, 2}), "00FF");
    Range e{2, 2};
    EXPECT_EQ(unpack("xAy", e, {true, 2}), "x41y");
    Range f{0, 32767};
    EXPECT_EQ(unpack("", f, {false, 3}), "");
}

TEST(Unpackers, PositionsBelowOneRepeatThePaddedEmptyText) {
    Range r{-1, 1};
    EXPECT_EQ(unpack("AB", r, {false, 3}), "000000065B");
}

TEST(Unpackers, StringsLongerThanTheLastPositionKeepTheirTail) {
    const std::string text(40000, 'A');
    Range r{kRangeDefaultStart, kRangeDefaultEnd};
    const std::string out = unpack(text, r, {true, 2});
    EXPECT_EQ(r.end, 32767);
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
