// The check kernels against their step-by-step definitions, the catalogue values, and the
// range rules of the string, file and array forms.
#include "util/Checksum.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace korvel::util {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The CRC exactly as defined: for each bit d of c (from bit 0) and r the register's bit 0,
// shift both right and take the polynomial when d differs from r.
uint16_t crcByDefinition(std::span<const uint8_t> data, uint16_t reg, uint16_t poly) {
    for (uint8_t c : data) {
        for (int round = 0; round < 8; ++round, c = static_cast<uint8_t>(c >> 1)) {
            const bool differ = (c & 1u) != (reg & 1u);
            reg = static_cast<uint16_t>(reg >> 1);
            if (differ) reg ^= poly;
        }
    }
    return reg;
}

// The additive checksum step by step; no value when the final total does not fit 16 bits.
std::optional<int16_t> sumByDefinition(std::span<const uint8_t> data, int16_t initial) {
    int32_t total = initial;
    for (uint8_t b : data) {
        total += b;
        if (total > 65536) total -= 65536;
    }
    if (total > 32767) return std::nullopt;
    return static_cast<int16_t>(total);
}

std::vector<uint8_t> randomBytes(std::mt19937& rng, std::size_t n, int low = 0) {
    std::uniform_int_distribution<int> byte(low, 255);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(byte(rng));
    return v;
}

const CheckSpec kLrc{CheckKind::Lrc8, 0, 0};
const CheckSpec kCrc{CheckKind::Crc16, kCrc16DefaultInitial, kCrc16DefaultPolynomial};
const CheckSpec kSum{CheckKind::Sum, 0, 0};

TEST(Crc16, CatalogueCheckValues) {
    const auto digits = bytesOf("123456789");
    EXPECT_EQ(crc16(digits, 0x0000, 0xA001), 0xBB3D);  // CRC-16/ARC
    EXPECT_EQ(crc16(digits, 0xFFFF, 0xA001), 0x4B37);  // CRC-16/MODBUS
    EXPECT_EQ(crc16(bytesOf("abc"), 0x5555, 0xA001), 0xD717);
    EXPECT_EQ(crc16({}, 0x5555, 0xA001), 0x5555);
}

TEST(Crc16, TableDrivenEqualsDefinitionForRandomTriples) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> word(0, 0xFFFF);
    uint16_t poly = 0xA001;
    for (int i = 0; i < 5000; ++i) {
        const auto init = static_cast<uint16_t>(word(rng));
        // Every third round keeps the previous polynomial, so the cached tables serve too.
        if (i % 3 != 0) poly = static_cast<uint16_t>(word(rng));
        const auto len = std::uniform_int_distribution<int>(0, i % 4 == 0 ? 5000 : 80)(rng);
        const auto data = randomBytes(rng, static_cast<std::size_t>(len));
        ASSERT_EQ(crc16(data, init, poly), crcByDefinition(data, init, poly))
            << "init " << init << " poly " << poly << " length " << data.size();
    }
}

TEST(ByteKernels, XorAndSumMatchPlainLoopsAcrossBlockEdges) {
    std::mt19937 rng(7);
    for (std::size_t n : {0u, 1u, 4095u, 4096u, 4097u, 12345u}) {
        const auto data = randomBytes(rng, n);
        uint8_t x = 0;
        uint64_t s = 0;
        for (uint8_t b : data) {
            x ^= b;
            s += b;
        }
        EXPECT_EQ(xorOfBytes(data), x) << n;
        EXPECT_EQ(sumOfBytes(data), s) << n;
    }
}

TEST(Checksum, ClosedFormEqualsStepByStepRule) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> initial(INT16_MIN, INT16_MAX);
    std::uniform_int_distribution<int> len(0, 1500);
    int wrapped = 0, failed = 0;
    for (int i = 0; i < 20000; ++i) {
        // Mostly large bytes in every other case, so that totals cross 65536 often.
        const auto data = randomBytes(rng, static_cast<std::size_t>(len(rng)), i % 2 ? 200 : 0);
        const auto init = static_cast<int16_t>(initial(rng));
        const auto expected = sumByDefinition(data, init);
        ASSERT_EQ(checksumFromSum(init, sumOfBytes(data)), expected)
            << "initial " << init << " length " << data.size();
        failed += !expected;
        wrapped += int64_t{init} + int64_t(sumOfBytes(data)) > 65536 && expected;
    }
    EXPECT_GT(wrapped, 100);
    EXPECT_GT(failed, 100);
}

TEST(Checksum, WrapBoundaries) {
    EXPECT_EQ(checksumFromSum(0, 294), 294);
    EXPECT_EQ(checksumFromSum(0, 40000), std::nullopt);
    EXPECT_EQ(checksumFromSum(0, 70000), 4464);
    EXPECT_EQ(checksumFromSum(0, 65536), std::nullopt);  // 65536 itself is not reduced
    EXPECT_EQ(checksumFromSum(0, 65537), 1);
    EXPECT_EQ(checksumFromSum(-100, 50), -50);
}

TEST(CheckString, PositionsAreUsedUnchanged) {
    struct Case {
        CheckSpec params;
        std::string text;
        int32_t start, end;
        std::optional<int32_t> want;
    };
    std::string near(40000, 'x');
    near[32766] = 'y';
    const std::vector<Case> cases = {
        {kLrc, "abc", 1, 3, 96},
        {{CheckKind::Lrc8, 0x100, 0}, "abc", 1, 3, 352},  // the high byte passes through
        {{CheckKind::Lrc8, -1, 0}, "a", 1, 1, static_cast<int16_t>(0xFF9E)},
        {kLrc, "abc", 0, 3, std::nullopt},
        {kLrc, "abc", 2, 5, std::nullopt},
        {{CheckKind::Lrc8, 7, 0}, "abc", 3, 1, 7},
        {{CheckKind::Lrc8, 7, 0}, "abc", -5, -9, 7},  // an empty range visits nothing
        {kCrc, "123456789", 1, 9, 60219},
        {{CheckKind::Crc16, 0, kCrc16DefaultPolynomial}, "123456789", 1, 9, 47933},
        {{CheckKind::Crc16, kCrc16DefaultInitial, -24575}, "123456789", 1, 9, 60219},
        {kCrc, "abc", 2, 1, 0x5555},
        {kSum, "abc", 1, 3, 294},
        {kSum, std::string(157, '\xFF'), 1, 157, std::nullopt},  // 40035
        {kLrc, near, 32766, 32767, 'x' ^ 'y'},
        {kLrc, near, 32767, 32767, 'y'},
        {kLrc, std::string(100, 'x'), 1, 32767, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 10) + " " + std::to_string(c.start) + ".." +
                     std::to_string(c.end));
        EXPECT_EQ(checkString(c.params, c.text, c.start, c.end), c.want);
    }
}

// One call of the file or array form: the range passed in and what must be written back.
struct RangeCase {
    CheckSpec params;
    int32_t start, end;
    std::optional<int32_t> want;
    int32_t startAfter, endAfter;
};

TEST(CheckFile, RangesAreCutAndWrittenBack) {
    const fs::path dir = test::ownTempDir("checksum");
    fs::create_directories(dir);
    const auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    };
    const std::string ten = write("ten.bin", "123456789\n"), abc = write("abc.bin", "abc");
    const std::string empty = write("empty.bin", "");
    const std::vector<std::pair<std::string, RangeCase>> cases = {
        {ten, {kCrc, 0, kDefaultEnd, crc16(bytesOf("123456789\n"), 0x5555, 0xA001), 1, 10}},
        {ten, {kLrc, 2, 4, '2' ^ '3' ^ '4', 2, 4}},
        {ten, {kSum, 11, kDefaultEnd, 0, 11, 10}},    // past the end: an empty range
        {abc, {kLrc, -1, 100, std::nullopt, -1, 3}},  // adjusted, then refused
        {abc, {{CheckKind::Lrc8, 5, 0}, -1, -2, 5, -1, -2}},
        {empty, {{CheckKind::Lrc8, 42, 0}, 1, kDefaultEnd, 42, 1, 0}},
        {empty, {kCrc, 1, kDefaultEnd, 0x5555, 1, 0}},
        // Only ordinary files exist; nothing is written back when there is none.
        {(dir / "missing.bin").string(), {kLrc, 1, kDefaultEnd, std::nullopt, 1, kDefaultEnd}},
        {dir.string(), {kLrc, 1, kDefaultEnd, std::nullopt, 1, kDefaultEnd}},
        {write(".hidden", "abc"), {kLrc, 1, kDefaultEnd, std::nullopt, 1, kDefaultEnd}},
        {"", {kLrc, 1, kDefaultEnd, std::nullopt, 1, kDefaultEnd}},
    };
    for (const auto& [name, c] : cases) {
        SCOPED_TRACE(name + " from " + std::to_string(c.start));
        int32_t start = c.start, end = c.end;
        EXPECT_EQ(checkFile(c.params, name, start, end), c.want);
        EXPECT_EQ(start, c.startAfter);
        EXPECT_EQ(end, c.endAfter);
    }
    EXPECT_FALSE(ordinaryFileExists("/dev/null"));
    EXPECT_TRUE(ordinaryFileExists(ten));
}

TEST(CheckBuffer, RangesAreCutAndWrittenBack) {
    // The array forms' default start is 0: inside a 0-based array, raised for a 1-based one.
    const std::vector<std::pair<ByteArray, RangeCase>> cases = {
        {ByteArray::fromString("abc", 0), {kSum, 0, kDefaultEnd, 294, 0, 2}},
        {ByteArray::fromString("abc", 1), {kSum, 0, kDefaultEnd, 294, 1, 3}},
        {ByteArray::fromString("abc", -5), {kLrc, INT32_MIN, kDefaultEnd, 96, -5, -3}},
        {ByteArray::fromString("abc", INT32_MIN),
         {kLrc, INT32_MIN, kDefaultEnd, 96, INT32_MIN, INT32_MIN + 2}},
        {ByteArray::fromString("abc", INT32_MAX - 2),
         {kLrc, INT32_MIN, kDefaultEnd, 96, INT32_MAX - 2, INT32_MAX}},
        {ByteArray::fromString("abcdef", 10), {kLrc, 13, 99, 'd' ^ 'e' ^ 'f', 13, 15}},
        {ByteArray::fromString("abcdef", 10), {kLrc, -3, 11, 'a' ^ 'b', 10, 11}},
        {ByteArray(1, {}), {kCrc, 0, kDefaultEnd, std::nullopt, 0, kDefaultEnd}},
    };
    for (const auto& [buf, c] : cases) {
        SCOPED_TRACE("lower bound " + std::to_string(buf.lbound) + " from " +
                     std::to_string(c.start));
        int32_t start = c.start, end = c.end;
        EXPECT_EQ(checkBuffer(c.params, buf, start, end), c.want);
        EXPECT_EQ(start, c.startAfter);
        EXPECT_EQ(end, c.endAfter);
    }
}

}  // namespace
}  // namespace korvel::util
