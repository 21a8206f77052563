// The numeric string conversions through the control: both parsers, the five packers and the
// three unpackers over any text and any range (negative, reversed and out-of-range positions
// included), each against a plain model of its rules; and the round trips (unpacking then
// packing gives the text back).
#include "Driver.h"

using korvel::fuzz::check;
using K = korvel::KorvelComTools;

namespace {

// v = v * base + p - 1 for each character, p its place among the digits from 1 (0 for any
// other); an update that would leave the 32-bit range at any step is skipped.
int32_t parse(std::string_view text, std::string_view digits) {
    int32_t v = 0, product, sum, next;
    for (char c : text)
        if (!__builtin_mul_overflow(v, static_cast<int32_t>(digits.size()), &product) &&
            !__builtin_add_overflow(product, static_cast<int32_t>(digits.find(c) + 1), &sum) &&
            !__builtin_sub_overflow(sum, 1, &next))
            v = next;
    return v;
}

// The characters at 1-based positions `first` to `last` that exist.
std::string at(const std::string& t, int32_t first, int32_t last) {
    first = std::max(first, 1), last = std::min(last, static_cast<int32_t>(t.size()));
    return first > last ? "" : t.substr(first - 1, last - first + 1);
}

// A packer reads groups of `width` digits from each position of the range; an unpacker
// (negative `width`) writes each position's code in -width digits.  An end past the text comes
// down to its length, a start of 0 goes up to 1; the text outside the range is kept.
struct Conversion {
    std::string (K::*member)(const std::string&, int16_t&, int16_t&) const;
    std::string_view digits;
    int32_t width;
};
constexpr std::string_view kDec = "0123456789", kHex = "0123456789ABCDEF";
const Conversion kConversions[] = {{&K::cStr1DtoDec, kDec, 1}, {&K::cStr2DtoDec, kDec, 2},
                                   {&K::cStr3DtoDec, kDec, 3}, {&K::cStr1HtoDec, kHex, 1},
                                   {&K::cStr2HtoDec, kHex, 2}, {&K::c2DecToAsc, kDec, -2},
                                   {&K::c3DecToAsc, kDec, -3}, {&K::c2HexToAsc, kHex, -2}};

std::string model(const Conversion& k, const std::string& t, int32_t start, int32_t end) {
    std::string out, code;
    for (int32_t i = start; i <= end; i += std::max(k.width, 1)) {
        const int32_t v = i < 1 ? -1 : parse(at(t, i, i + k.width - 1), k.digits);
        if (k.width > 0 && v >= 0 && v <= 255) out += static_cast<char>(v);
        if (k.width > 0) continue;
        if (i >= 1) {  // a position before the text repeats the code before
            char b[4];
            std::snprintf(b, sizeof b, k.digits == kHex ? "%X" : "%u",
                          unsigned{static_cast<uint8_t>(t[i - 1])});
            code = b;
        }
        out += code.insert(0, std::max<int>(-k.width - static_cast<int>(code.size()), 0), '0');
    }
    return at(t, 1, start - 1) + out + at(t, end + 1, static_cast<int32_t>(t.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static korvel::SimPlatform platform;
    static const K c(platform);
    auto in = korvel::fuzz::input(data, size);
    const uint8_t op = in.byte();
    int16_t start = in.i16(), end = in.i16();
    const std::string text = std::string(in.in);
    check(c.ConvertStrhToDec(text) == parse(text, kHex), "ConvertStrhToDec");
    check(c.ConvertStrdToDec(text) == parse(text, kDec), "ConvertStrdToDec");
    check(c.cStr3DtoDec(c.c3DecToAsc(text)) == text, "three decimal digits and back");
    check(c.cStr2HtoDec(c.c2HexToAsc(text)) == text, "two hexadecimal digits and back");
    if (std::all_of(text.begin(), text.end(),
                    [](char ch) { return static_cast<uint8_t>(ch) < 100; }))
        check(c.cStr2DtoDec(c.c2DecToAsc(text)) == text, "two decimal digits and back");

    // Mostly positions near the text; from 0xF0 on any 16-bit ones (long ranges to walk).
    if (op < 0xF0)
        for (int16_t* p : {&start, &end})
            *p = static_cast<int16_t>(std::clamp<int32_t>(*p, -8, text.size() + 8));
    const Conversion& k = kConversions[op % std::size(kConversions)];
    const int32_t s = start == 0 ? 1 : start,
                  e = std::min<int32_t>(end, static_cast<int32_t>(text.size()));
    check((c.*k.member)(text, start, end) == model(k, text, s, e), "a conversion over a range");
    check(start == s && end == e, "the prepared range is written back");
    return 0;
}
