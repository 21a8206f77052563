// The CRC16 kernels against the bit rule, restated here from its definition, and the file forms'
// block walk against the same check over the bytes in memory.  CTest runs the kernel test on the
// fastest kernel of this CPU and again with KORVELCOM_CRC_PATH=table and =clmul.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "util/Checksum.h"

namespace korvel {
namespace {

using namespace util;

uint16_t byTheRule(const uint8_t* p, std::size_t n, uint16_t reg, uint16_t polynomial) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned c = p[i];
        for (int bit = 0; bit < 8; ++bit, c >>= 1) {
            const bool differ = ((c ^ reg) & 1u) != 0;
            reg = static_cast<uint16_t>(reg >> 1);
            if (differ) reg ^= polynomial;
        }
    }
    return reg;
}

TEST(Crc16Kernels, AgreeWithTheBitRuleForAnyPolynomialLengthAndAlignment) {
    // The kernel under test: the one forced (the 128-bit one falls back to the tables on a
    // CPU without it), else at least the 128-bit one where the CPU has it.
    bool folds = false;
#if defined(__x86_64__) || defined(__i386__)
    folds = __builtin_cpu_supports("pclmul");
#endif
    if (const char* forced = std::getenv("KORVELCOM_CRC_PATH")) {
        EXPECT_STREQ(crc16KernelName(crc16Kernel()),
                     std::string(forced) == "clmul" && !folds ? "table" : forced);
    } else if (folds) {
        EXPECT_GE(crc16Kernel(), Crc16Kernel::Clmul) << "the CPU folds, the kernel does not";
    }
    std::mt19937 rng(2026);
    std::vector<uint8_t> data(4096 + 16);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    // Every length to 300 (each fold and tail boundary), then random ones to 4096; every
    // fourth case a fixed polynomial (cached tables reused), the others a fresh random one.
    const uint16_t fixed[] = {0xA001, 0x8408, 0x0000, 0x0001, 0xFFFF, 0x8000};
    std::string failures;
    for (int i = 0; i < 1200; ++i) {
        const auto polynomial = static_cast<uint16_t>(i % 4 ? rng() : fixed[(i / 4) % 6]);
        const auto initial = static_cast<uint16_t>(rng());
        const std::size_t n = i <= 300 ? i : i == 301 ? 4096 : rng() % 4097, at = rng() % 16;
        const uint16_t got = crc16({data.data() + at, n}, initial, polynomial);
        const uint16_t want = byTheRule(data.data() + at, n, initial, polynomial);
        if (got != want)
            failures += std::to_string(n) + "@" + std::to_string(at) + " poly " +
                        std::to_string(polynomial) + " init " + std::to_string(initial) + "\n";
    }
    EXPECT_EQ(failures, "");
}

TEST(ChecksumFileForms, BlockWalkEqualsTheCheckOverTheBytes) {
    std::vector<uint8_t> bytes(600'001);
    std::mt19937 rng(7);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng() % 3);  // small values: the sums stay valid on short ranges
    const std::string name = (test::ownTempDir("util") / "blocks.bin").string();
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
    const int32_t cases[][2] = {{1, kDefaultEnd}, {0, 262144},      {262144, 262145},
                                {100000, 550000}, {524289, 600001}, {600001, 600001},
                                {300000, 200000}};
    for (const CheckSpec check : {CheckSpec{CheckKind::Lrc8, 0x100, 0},
                                  CheckSpec{CheckKind::Crc16, 0x5555, kCrc16DefaultPolynomial},
                                  CheckSpec{CheckKind::Sum, 7, 0}}) {
        for (const auto& c : cases) {
            int32_t start = c[0], end = c[1];
            const auto got = checkFile(check, name, start, end);
            const std::span<const uint8_t> range =
                start > end ? std::span<const uint8_t>{}
                            : std::span<const uint8_t>{bytes}.subspan(start - 1, end - start + 1);
            EXPECT_EQ(got, computeCheck(check, range))
                << int(check.kind) << " " << c[0] << ".." << c[1];
        }
    }
}

}  // namespace
}  // namespace korvel
