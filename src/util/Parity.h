// Character-by-character string tests and parity: digit-set tests, and the even-parity bit in
// bit 7 of each character.  Pure functions that never fail; strings of any length.
#pragma once

#include <string>
#include <string_view>

namespace korvel::util {

/// True when every character is one of "0123456789ABCDEFabcdef" (true for "").
bool testStrHexa(std::string_view str);

/// True when every character is one of "0123456789" (true for "").
bool testStrDec(std::string_view str);

/// Each character with an even number of 1 bits over its 8 bits: a character whose count is
/// odd gets bit 7 set (code + 128).  A character of code 128 or more whose count is odd cannot
/// take the bit and is left out of the result.
std::string addParityString(std::string_view str);

/// Each character with bit 7 cleared (code AND 127); same length as `str`.
std::string supParityString(std::string_view str);

}  // namespace korvel::util
