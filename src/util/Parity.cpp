#include "util/Parity.h"

#include <bit>
#include <cstdint>

namespace korvel::util {
namespace {

bool allOf(std::string_view str, std::string_view set) {
    for (char c : str) {
        if (set.find(c) == std::string_view::npos) return false;
    }
    return true;
}

}  // namespace

bool testStrHexa(std::string_view str) {
    return allOf(str, "0123456789ABCDEFabcdef");
}

bool testStrDec(std::string_view str) {
    return allOf(str, "0123456789");
}

std::string addParityString(std::string_view str) {
    std::string out;
    out.reserve(str.size());
    for (char ch : str) {
        const auto c = static_cast<uint8_t>(ch);
        if (std::popcount(c) % 2 == 0) {
            out += ch;
        } else if (c < 128) {
            out += static_cast<char>(c + 128);
        }
        // Odd count with bit 7 already set: no parity character exists; the character is
        // skipped.
    }
    return out;
}

std::string supParityString(std::string_view str) {
    std::string out(str);
    for (char& ch : out)
        ch = static_cast<char>(static_cast<uint8_t>(ch) & 0x7Fu);
    return out;
}

}  // namespace korvel::util
