// The check kernels against their step-by-step definitions, the catalogue values, and the
// range rules of the string, file and array forms.
#include "util/Checksum.h"

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
        for (int round = 0; round < 8; ++round) {
            const bool d = c & 1u;
            const bool r = reg & 1u;
            reg = static_cast<uint16_t>(reg >> 1);
            c = static_cast<uint8_t>(c >> 1);
            if (d != r) reg ^= poly;
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

std::vector<uint8_t> randomBytes(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(byte(rng));
    return v;
}

const CheckSpec kLrc{CheckKind::Lrc8, 0, 0};
const CheckSpec kCrc{CheckKind::Crc16, kCrc16DefaultInitial, kCrc16DefaultPolynomial};
const CheckSpec kSum{CheckKind::Sum, 0, 0};

// ---- kernels ------------------------------------------------------------------------------

TEST(Crc16, CatalogueCheckValues) {
    const auto digits = bytesOf("123456789");
    EXPECT_EQ(crc16(digits, 0x0000, 0xA001), 0xBB3D);  // CRC-16/ARC
    EXPECT_EQ(crc16(digits, 0xFFFF, 0xA001), 0x4B37);  // CRC-16/MODBUS
    EXPECT_EQ(crc16(digits, 0x5555, 0xA001), 0xEB3B);
    EXPECT_EQ(crc16(bytesOf("abc"), 0x5555, 0xA001), 0xD717);
    EXPECT_EQ(crc16({}, 0x5555, 0xA001), 0x5555);
}

TEST(Crc16, TableDrivenEqualsDefinitionForRandomTriples) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> word(0, 0xFFFF);
    std::uniform_int_distribution<int> shortLen(0, 80);
    std::uniform_int_distribution<int> longLen(80, 5000);
    uint16_t poly = 0xA001;
    for (int i = 0; i < 5000; ++i) {
        const auto init = static_cast<uint16_t>(word(rng));
        // Every third round keeps the previous polynomial, so the cached tables serve too.
        if (i % 3 != 0) poly = static_cast<uint16_t>(word(rng));
        const auto data =
            randomBytes(rng, static_cast<std::size_t>(i % 4 == 0 ? longLen(rng) : shortLen(rng)));
        ASSERT_EQ(crc16(data, init, poly), crcByDefinition(data, init, poly))
            << "init " << init << " poly " << poly << " length " << data.size();
    }
}

TEST(ByteKernels, XorAndSumMatchPlainLoopsAcrossBlockEdges) {
    std::mt19937 rng(7);
    for (std::size_t n : {0u, 1u, 15u, 4095u, 4096u, 4097u, 8192u, 12345u}) {
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
    std::uniform_int_distribution<int> high(200, 255);
    int wrapped = 0;
    int failed = 0;
    for (int i = 0; i < 20000; ++i) {
        auto data = randomBytes(rng, static_cast<std::size_t>(len(rng)));
        // Mostly large bytes in every other case, so that totals cross 65536 often.
        if (i % 2) {
            for (auto& b : data)
                b = static_cast<uint8_t>(high(rng));
        }
        const auto init = static_cast<int16_t>(initial(rng));
        const auto expected = sumByDefinition(data, init);
        ASSERT_EQ(checksumFromSum(init, sumOfBytes(data)), expected)
            << "initial " << init << " length " << data.size();
        if (!expected) ++failed;
        if (int64_t{init} + int64_t(sumOfBytes(data)) > 65536 && expected) ++wrapped;
    }
    // The sample exercised both the wrap and the overflow failure.
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

TEST(Lrc8, HighByteOfInitialPassesThrough) {
    EXPECT_EQ(computeCheck({CheckKind::Lrc8, 0, 0}, bytesOf("abc")), 96);
    EXPECT_EQ(computeCheck({CheckKind::Lrc8, 0x100, 0}, bytesOf("abc")), 352);
    EXPECT_EQ(computeCheck({CheckKind::Lrc8, -1, 0}, bytesOf("a")), static_cast<int16_t>(0xFF9E));
}

// ---- string ranges ------------------------------------------------------------------------

TEST(CheckString, PositionsAreUsedUnchanged) {
    EXPECT_EQ(checkString(kLrc, "abc", 1, 3), 96);
    EXPECT_EQ(checkString(kLrc, "abc", 0, 3), std::nullopt);
    EXPECT_EQ(checkString(kLrc, "abc", 2, 5), std::nullopt);
    EXPECT_EQ(checkString({CheckKind::Lrc8, 7, 0}, "abc", 3, 1), 7);
    // An empty range visits nothing, even outside the string.
    EXPECT_EQ(checkString({CheckKind::Lrc8, 7, 0}, "abc", -5, -9), 7);
    EXPECT_EQ(checkString(kCrc, "123456789", 1, 9), 60219);
    EXPECT_EQ(checkString({CheckKind::Crc16, 0, kCrc16DefaultPolynomial}, "123456789", 1, 9),
              47933);
    EXPECT_EQ(checkString({CheckKind::Crc16, kCrc16DefaultInitial, -24575}, "123456789", 1, 9),
              60219);
    EXPECT_EQ(checkString(kCrc, "abc", 2, 1), 0x5555);
    EXPECT_EQ(checkString(kSum, "abc", 1, 3), 294);
}

TEST(CheckString, SumOverflowAndWrap) {
    const std::string s157(157, '\xFF');  // 157 * 255 = 40035
    EXPECT_EQ(checkString(kSum, s157, 1, 157), std::nullopt);
    std::string s70000(274, '\xFF');  // 274 * 255 = 69870, + 130 = 70000
    s70000 += static_cast<char>(130);
    EXPECT_EQ(checkString(kSum, s70000, 1, 275), 4464);
}

TEST(CheckString, PositionsNearTheSixteenBitLimit) {
    std::string s(40000, 'x');
    s[32766] = 'y';
    EXPECT_EQ(checkString(kLrc, s, 32766, 32767), 'x' ^ 'y');
    EXPECT_EQ(checkString(kLrc, s, 32767, 32767), 'y');
    EXPECT_EQ(checkString(kLrc, std::string(100, 'x'), 1, 32767), std::nullopt);
}

// ---- files --------------------------------------------------------------------------------

class CheckFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(KORVEL_TEST_TMPDIR) / "checksum";
        fs::create_directories(dir_);
    }
    std::string write(const std::string& name, const std::string& content) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    fs::path dir_;
};

TEST_F(CheckFileTest, WholeFileWithTheDefaultRangeWritesTheRangeBack) {
    const auto name = write("ten.bin", "123456789\n");
    int32_t start = 0, end = kDefaultEnd;
    const auto expected = crc16(bytesOf("123456789\n"), 0x5555, 0xA001);
    EXPECT_EQ(checkFile(kCrc, name, start, end), expected);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 10);
    start = 2;
    end = 4;
    EXPECT_EQ(checkFile(kLrc, name, start, end), '2' ^ '3' ^ '4');
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 4);
    start = 11;
    end = kDefaultEnd;
    EXPECT_EQ(checkFile(kSum, name, start, end), 0);  // past the end: empty range
    EXPECT_EQ(end, 10);
}

TEST_F(CheckFileTest, NegativeStartFailsAfterTheClamp) {
    const auto name = write("neg.bin", "abc");
    int32_t start = -1, end = 100;
    EXPECT_EQ(checkFile(kLrc, name, start, end), std::nullopt);
    EXPECT_EQ(start, -1);
    EXPECT_EQ(end, 3);
    start = -1;
    end = -2;  // empty range: nothing visited
    EXPECT_EQ(checkFile({CheckKind::Lrc8, 5, 0}, name, start, end), 5);
}

TEST_F(CheckFileTest, EmptyFileGivesTheInitialValue) {
    const auto name = write("empty.bin", "");
    int32_t start = 1, end = kDefaultEnd;
    EXPECT_EQ(checkFile({CheckKind::Lrc8, 42, 0}, name, start, end), 42);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(checkFile(kCrc, name, start, end), 0x5555);
}

TEST_F(CheckFileTest, OnlyOrdinaryFilesExist) {
    int32_t start = 1, end = kDefaultEnd;
    EXPECT_EQ(checkFile(kLrc, (dir_ / "missing.bin").string(), start, end), std::nullopt);
    EXPECT_EQ(end, kDefaultEnd);  // nothing written back for a missing file
    EXPECT_EQ(checkFile(kLrc, dir_.string(), start, end), std::nullopt);
    EXPECT_EQ(checkFile(kLrc, write(".hidden", "abc"), start, end), std::nullopt);
    EXPECT_EQ(checkFile(kLrc, "", start, end), std::nullopt);
    EXPECT_FALSE(ordinaryFileExists("/dev/null"));
    EXPECT_TRUE(ordinaryFileExists(write("plain", "x")));
    EXPECT_EQ(end, kDefaultEnd);
}

// ---- arrays -------------------------------------------------------------------------------

TEST(CheckBuffer, DefaultRangeCoversAnyLowerBound) {
    for (int32_t lb : {0, 1, -5, INT32_MIN, INT32_MAX - 2}) {
        const ByteArray buf = ByteArray::fromString("abc", lb);
        int32_t start = INT32_MIN, end = kDefaultEnd;
        EXPECT_EQ(checkBuffer(kLrc, buf, start, end), 96) << lb;
        EXPECT_EQ(start, lb);
        EXPECT_EQ(end, lb + 2);
    }
    // The array forms' default start is 0: inside a 0-based array, raised for a 1-based one.
    int32_t start = 0, end = kDefaultEnd;
    EXPECT_EQ(checkBuffer(kSum, ByteArray::fromString("abc", 0), start, end), 294);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 2);
    start = 0;
    end = kDefaultEnd;
    EXPECT_EQ(checkBuffer(kSum, ByteArray::fromString("abc", 1), start, end), 294);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 3);
}

TEST(CheckBuffer, RangePartlyOutsideIsCut) {
    const ByteArray buf = ByteArray::fromString("abcdef", 10);
    int32_t start = 13, end = 99;
    EXPECT_EQ(checkBuffer(kLrc, buf, start, end), 'd' ^ 'e' ^ 'f');
    EXPECT_EQ(start, 13);
    EXPECT_EQ(end, 15);
    start = -3;
    end = 11;
    EXPECT_EQ(checkBuffer(kLrc, buf, start, end), 'a' ^ 'b');
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 11);
}

TEST(CheckBuffer, ArrayWithoutElementsFails) {
    const ByteArray none(1, {});
    int32_t start = 0, end = kDefaultEnd;
    EXPECT_EQ(checkBuffer(kCrc, none, start, end), std::nullopt);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, kDefaultEnd);
}

}  // namespace
}  // namespace korvel::util
