// Digit-set tests and the even-parity bit.
#include "util/Parity.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace korvel::util {
namespace {

TEST(DigitTests, AcceptOnlyTheirSet) {
    for (std::string s : {"", "0123"})
        EXPECT_TRUE(testStrDec(s)) << s;
    for (std::string s : {"12 3", "-1", "12a"})
        EXPECT_FALSE(testStrDec(s)) << s;
    EXPECT_FALSE(testStrDec(std::string{'1', '\0', '2'}));
    for (std::string s : {"", "00ff", "00FF", "0123456789ABCDEFabcdef"})
        EXPECT_TRUE(testStrHexa(s)) << s;
    for (std::string s : {"0x1F", "G", "\xC1"})  // 'A' with bit 7 set is not 'A'
        EXPECT_FALSE(testStrHexa(s)) << s;
}

TEST(Parity, AddsEvenParityInBitSeven) {
    EXPECT_EQ(addParityString("C"), "\xC3");
    EXPECT_EQ(addParityString("\x80"), "");      // one bit, no room for the parity bit
    EXPECT_EQ(addParityString("\xC0"), "\xC0");  // two bits: unchanged
    EXPECT_EQ(addParityString(std::string{'a', '\x80', 'b'}), "\xE1\xE2");  // walk goes on
    EXPECT_EQ(supParityString("\xC3\xB1"), "C1");
}

TEST(Parity, EveryCharacterComesOutEvenAndStrips) {
    std::string all7;
    for (int c = 0; c < 128; ++c)
        all7 += static_cast<char>(c);
    const std::string withParity = addParityString(all7);
    ASSERT_EQ(withParity.size(), all7.size());
    for (char ch : withParity)
        EXPECT_EQ(std::popcount(static_cast<uint8_t>(ch)) % 2, 0);
    EXPECT_EQ(supParityString(withParity), all7);
    const std::string longText(40000, 'C');  // past the 16-bit position range
    EXPECT_EQ(addParityString(longText), std::string(40000, '\xC3'));
    EXPECT_EQ(supParityString(addParityString(longText)), longText);
}

}  // namespace
}  // namespace korvel::util
