// Conversions between digit text and byte values: two scalar parsers (hexadecimal and decimal
// text to a signed 32-bit number), packers that turn groups of digit characters inside a range
// of a string into the characters those groups encode, and unpackers that write each character
// of a range as its code in digits.  Pure functions; none of them fails: a step that cannot be
// done is skipped and the conversion goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::util {

/// Decimal digits, in value order.
inline constexpr std::string_view kDecimalDigits = "0123456789";
/// Hexadecimal digits, in value order (upper case only: "a" to "f" are not digits here).
inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";

/// Default range of the packers and unpackers: the whole string.
inline constexpr int16_t kRangeDefaultStart = 1;
inline constexpr int16_t kRangeDefaultEnd = 32767;

/// Value of `text` in the base given by the size of `digits`.  Starting from v = 0, every
/// character c, first to last, updates v to v * base + p - 1 where p is c's 1-based position in
/// `digits` (0 when c is not a digit, which therefore counts as the digit -1 and does not stop
/// the parse).  The update is evaluated left to right in signed 32-bit arithmetic; when one of
/// its three steps (the product, + p, - 1) would leave the signed 32-bit range, the whole
/// update is skipped and v keeps its previous value.  The empty text gives 0.
int32_t parseDigits(std::string_view text, std::string_view digits);

/// `parseDigits` with the hexadecimal digits: "1A" gives 26, "ff" gives -17 (two non-digits),
/// "7FFFFFFF" gives 0x7FFFFFF (the last update would overflow and is skipped).
int32_t hexTextValue(std::string_view text);
/// `parseDigits` with the decimal digits: "12a" gives 119, " 5" gives -5, "2147483647" gives
/// 214748364.
int32_t decimalTextValue(std::string_view text);

/// Range preparation shared by the packers and unpackers, applied to the caller's positions
/// (1-based, both included): an `end` beyond the length of the text is lowered to that length,
/// then a `start` of exactly 0 is raised to 1.  Other values (also negative ones) stay.
void prepareRange(std::string_view text, int16_t& start, int16_t& end);

/// How a packer reads its groups.
enum class PackBase { Decimal, Hex };

/// Packer: prepares the range (written back), then builds the result from
/// - the head: characters 1 to `start` - 1 unchanged;
/// - the body: for i = start, start + groupSize, ... while i <= end, the group of `groupSize`
///   characters at i (fewer where the text ends) is parsed (`decimalTextValue` or
///   `hexTextValue`) and the character of that code appended; a value outside 0 to 255 drops
///   the group.  A group is not cut at `end`: characters beyond it are used, and the tail copy
///   repeats them;
/// - the tail: characters `end` + 1 to the length unchanged.
/// Positions below 1 contribute nothing (head, body and tail).  `groupSize` is 1, 2 or 3.
std::string packGroups(std::string_view text, int16_t& start, int16_t& end, int groupSize,
                       PackBase base);

/// How an unpacker writes each character code.
struct UnpackFormat {
    bool hex = false;  ///< upper-case hexadecimal instead of decimal
    int width = 2;     ///< left-padded with "0" to this many digits; longer codes stay whole
};

/// Unpacker: prepares the range (written back), copies the head and the tail as `packGroups`
/// does, and for every position of the body appends the character's code as text in `format`
/// ("A" gives "65" in decimal width 2, "065" in width 3, "41" in hexadecimal).  A body position
/// below 1 has no character: it appends the text appended last once more (the zero-padded empty
/// text, "00" or "000", when it is the first).
std::string unpackCodes(std::string_view text, int16_t& start, int16_t& end, UnpackFormat format);

}  // namespace korvel::util
