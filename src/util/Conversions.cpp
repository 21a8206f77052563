#include "util/Conversions.h"

#include <limits>

namespace korvel::util {
namespace {

constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();

bool fits32(int64_t v) {
    return v >= kMin32 && v <= kMax32;
}

// Characters `first` to `last` (1-based, both included) of `text`; positions below 1 or beyond
// the text contribute nothing.
void copyPositions(std::string_view text, int64_t first, int64_t last, std::string& out) {
    if (first < 1) first = 1;
    if (last > static_cast<int64_t>(text.size())) last = static_cast<int64_t>(text.size());
    if (first > last) return;
    out.append(text.substr(static_cast<std::size_t>(first - 1),
                           static_cast<std::size_t>(last - first + 1)));
}

std::string codeText(uint8_t code, UnpackFormat format) {
    std::string digits;
    const unsigned base = format.hex ? 16 : 10;
    const std::string_view set = format.hex ? kHexDigits : kDecimalDigits;
    unsigned v = code;
    do {
        digits.insert(digits.begin(), set[v % base]);
        v /= base;
    } while (v != 0);
    return digits;
}

void padLeft(std::string& text, int width) {
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
}

}  // namespace

int32_t parseDigits(std::string_view text, std::string_view digits) {
    const int64_t base = static_cast<int64_t>(digits.size());
    int64_t v = 0;
    for (char c : text) {
        const auto found = digits.find(c);
        const int64_t p = found == std::string_view::npos ? 0 : static_cast<int64_t>(found) + 1;
        // Each of the three steps must stay in range on its own; otherwise the update is void.
        const int64_t product = v * base;
        if (!fits32(product)) continue;
        const int64_t sum = product + p;
        if (!fits32(sum)) continue;
        const int64_t next = sum - 1;
        if (!fits32(next)) continue;
        v = next;
    }
    return static_cast<int32_t>(v);
}

int32_t hexTextValue(std::string_view text) {
    return parseDigits(text, kHexDigits);
}

int32_t decimalTextValue(std::string_view text) {
    return parseDigits(text, kDecimalDigits);
}

void prepareRange(std::string_view text, int16_t& start, int16_t& end) {
    if (end > 0 && static_cast<std::size_t>(end) > text.size())
        end = static_cast<int16_t>(text.size());
    if (start == 0) start = 1;
}

std::string packGroups(std::string_view text, int16_t& start, int16_t& end, int groupSize,
                       PackBase base) {
    prepareRange(text, start, end);
    std::string out;
    copyPositions(text, 1, int64_t{start} - 1, out);
    const auto parse = base == PackBase::Hex ? hexTextValue : decimalTextValue;
    for (int64_t i = start; i <= end; i += groupSize) {
        if (i < 1) continue;  // no group starts before the first character
        const std::string_view group =
            text.substr(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(groupSize));
        const int32_t value = parse(group);
        if (value >= 0 && value <= 255) out.push_back(static_cast<char>(value));
    }
    copyPositions(text, int64_t{end} + 1, static_cast<int64_t>(text.size()), out);
    return out;
}

std::string unpackCodes(std::string_view text, int16_t& start, int16_t& end, UnpackFormat format) {
    prepareRange(text, start, end);
    std::string out;
    copyPositions(text, 1, int64_t{start} - 1, out);
    std::string last;
    for (int64_t i = start; i <= end; ++i) {
        // A position without a character converts nothing and repeats the previous text.
        if (i >= 1)
            last = codeText(static_cast<uint8_t>(text[static_cast<std::size_t>(i - 1)]), format);
        padLeft(last, format.width);
        out += last;
    }
    copyPositions(text, int64_t{end} + 1, static_cast<int64_t>(text.size()), out);
    return out;
}

}  // namespace korvel::util
