// The numeric string conversions, through the control's members: the hexadecimal and decimal
// parsers, the five packers and the three unpackers over any text and any range (negative,
// reversed and out-of-range positions included).  Each result is compared with a plain model
// written from the conversion rules (parsers with checked 32-bit arithmetic, ranges with
// 32-bit positions), and the round trips that must hold are checked: unpacking then packing
// gives the text back, and a number written in digits parses to itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"

using korvel::fuzz::check;

namespace {

constexpr std::string_view kDec = "0123456789";
constexpr std::string_view kHex = "0123456789ABCDEF";

korvel::KorvelComTools& control() {
    static korvel::SimPlatform platform;
    static korvel::KorvelComTools c(platform);
    return c;
}

// v = v * base + p - 1 for every character, an update that would leave the 32-bit range at any
// of its three steps being skipped.
int32_t modelParse(std::string_view text, std::string_view digits) {
    const auto base = static_cast<int32_t>(digits.size());
    int32_t v = 0;
    for (char c : text) {
        const auto found = digits.find(c);
        const int32_t p = found == std::string_view::npos ? 0 : static_cast<int32_t>(found) + 1;
        int32_t product = 0;
        int32_t sum = 0;
        int32_t next = 0;
        if (__builtin_mul_overflow(v, base, &product)) continue;
        if (__builtin_add_overflow(product, p, &sum)) continue;
        if (__builtin_sub_overflow(sum, 1, &next)) continue;
        v = next;
    }
    return v;
}

struct Range {
    int32_t start;
    int32_t end;
};

// The range preparation: an end beyond the text comes down to its length, a start of 0 goes
// up to 1.
Range modelRange(const std::string& text, int16_t start, int16_t end) {
    Range r{start, end};
    if (r.end > static_cast<int32_t>(text.size())) r.end = static_cast<int32_t>(text.size());
    if (r.start == 0) r.start = 1;
    return r;
}

// Characters at 1-based positions first to last that exist.
std::string positions(const std::string& text, int32_t first, int32_t last) {
    std::string out;
    for (int32_t p = first; p <= last; ++p)
        if (p >= 1 && p <= static_cast<int32_t>(text.size())) out += text[p - 1];
    return out;
}

std::string modelPack(const std::string& text, Range r, int32_t group, std::string_view digits) {
    std::string out = positions(text, 1, r.start - 1);
    for (int32_t i = r.start; i <= r.end; i += group) {
        if (i < 1) continue;
        const int32_t v = modelParse(positions(text, i, i + group - 1), digits);
        if (v >= 0 && v <= 255) out += static_cast<char>(v);
    }
    return out + positions(text, r.end + 1, static_cast<int32_t>(text.size()));
}

// The code of a byte as text, without padding: "0" to "255", or "0" to "FF".
struct CodeTexts {
    std::string dec[256];
    std::string hex[256];
    CodeTexts() {
        for (unsigned v = 0; v < 256; ++v) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%u", v);
            dec[v] = buf;
            std::snprintf(buf, sizeof buf, "%X", v);
            hex[v] = buf;
        }
    }
};
const std::string& codeText(uint8_t code, bool hex) {
    static const CodeTexts texts;
    return hex ? texts.hex[code] : texts.dec[code];
}

std::string modelUnpack(const std::string& text, Range r, bool hex, int width) {
    std::string out = positions(text, 1, r.start - 1);
    std::string last;
    for (int32_t i = r.start; i <= r.end; ++i) {
        if (i >= 1) last = codeText(static_cast<uint8_t>(text[i - 1]), hex);
        while (static_cast<int>(last.size()) < width)
            last.insert(last.begin(), '0');
        out += last;
    }
    return out + positions(text, r.end + 1, static_cast<int32_t>(text.size()));
}

using RangeMember = std::string (korvel::KorvelComTools::*)(const std::string&, int16_t&,
                                                            int16_t&) const;
using WholeMember = std::string (korvel::KorvelComTools::*)(const std::string&) const;

struct Packer {
    RangeMember ranged;
    WholeMember whole;
    int32_t group;
    std::string_view digits;
};
const Packer kPackers[] = {
    {&korvel::KorvelComTools::cStr1DtoDec, &korvel::KorvelComTools::cStr1DtoDec, 1, kDec},
    {&korvel::KorvelComTools::cStr2DtoDec, &korvel::KorvelComTools::cStr2DtoDec, 2, kDec},
    {&korvel::KorvelComTools::cStr3DtoDec, &korvel::KorvelComTools::cStr3DtoDec, 3, kDec},
    {&korvel::KorvelComTools::cStr1HtoDec, &korvel::KorvelComTools::cStr1HtoDec, 1, kHex},
    {&korvel::KorvelComTools::cStr2HtoDec, &korvel::KorvelComTools::cStr2HtoDec, 2, kHex},
};

struct Unpacker {
    RangeMember ranged;
    WholeMember whole;
    bool hex;
    int width;
};
const Unpacker kUnpackers[] = {
    {&korvel::KorvelComTools::c2DecToAsc, &korvel::KorvelComTools::c2DecToAsc, false, 2},
    {&korvel::KorvelComTools::c3DecToAsc, &korvel::KorvelComTools::c3DecToAsc, false, 3},
    {&korvel::KorvelComTools::c2HexToAsc, &korvel::KorvelComTools::c2HexToAsc, true, 2},
};

void checkRangeWrittenBack(const std::string& text, int16_t start0, int16_t end0, int16_t start,
                           int16_t end) {
    const Range r = modelRange(text, start0, end0);
    check(start == r.start && end == r.end, "prepared range written back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvel::fuzz::Input in(data, size);
    const uint8_t op = in.byte();
    const int16_t rawStart = in.i16();
    const int16_t rawEnd = in.i16();
    const std::string text = in.rest();
    // Mostly positions near the text, whose work is proportional to it; with the first byte
    // from 0xF0 up any 16-bit positions (a range from -32768 to 32767 is long to walk).
    int16_t start0 = rawStart;
    int16_t end0 = rawEnd;
    if (op < 0xF0) {
        const int32_t high = static_cast<int32_t>(text.size()) + 8;
        start0 = static_cast<int16_t>(std::clamp<int32_t>(rawStart, -8, high));
        end0 = static_cast<int16_t>(std::clamp<int32_t>(rawEnd, -8, high));
    }
    const korvel::KorvelComTools& c = control();

    // Parsers.
    check(c.ConvertStrhToDec(text) == modelParse(text, kHex), "ConvertStrhToDec");
    check(c.ConvertStrdToDec(text) == modelParse(text, kDec), "ConvertStrdToDec");

    // A packer and an unpacker chosen by the first byte, over the range of the next four.
    const Packer& pk = kPackers[op % 5];
    int16_t start = start0;
    int16_t end = end0;
    const std::string packed = (c.*pk.ranged)(text, start, end);
    checkRangeWrittenBack(text, start0, end0, start, end);
    check(packed == modelPack(text, modelRange(text, start0, end0), pk.group, pk.digits),
          "packer result");

    const Unpacker& up = kUnpackers[(op / 5) % 3];
    start = start0;
    end = end0;
    const std::string unpacked = (c.*up.ranged)(text, start, end);
    checkRangeWrittenBack(text, start0, end0, start, end);
    check(unpacked == modelUnpack(text, modelRange(text, start0, end0), up.hex, up.width),
          "unpacker result");

    // Round trips over the whole text.
    check(c.cStr3DtoDec(c.c3DecToAsc(text)) == text, "three decimal digits and back");
    check(c.cStr2HtoDec(c.c2HexToAsc(text)) == text, "two hexadecimal digits and back");
    bool below100 = true;
    for (char ch : text)
        below100 = below100 && static_cast<uint8_t>(ch) < 100;
    if (below100) check(c.cStr2DtoDec(c.c2DecToAsc(text)) == text, "two decimal digits and back");

    // A number written in digits parses to itself (the last update of INT32_MAX overflows).
    const int32_t n =
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(rawStart)) << 16 |
                             static_cast<uint16_t>(rawEnd)) &
        0x7FFFFFFF;
    if (n < 0x7FFFFFFF) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", n);
        check(c.ConvertStrdToDec(digits) == n, "decimal text of a number");
        std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(n));
        check(c.ConvertStrhToDec(digits) == n, "hexadecimal text of a number");
    }
    return 0;
}
