// CRC16 (bit-reflected, any polynomial) by carry-less multiplication: the message is folded
// 128 bits at a time into a 128-bit remainder with the same CRC, using constants x^k mod P
// derived from the polynomial at run time.  The caller finishes the remainder and the last
// bytes with the table or bitwise kernel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvel::util::clmul {

/// Multipliers for one fold distance D (bits): `high` carries the high-degree half of a 128-bit
/// lane D + 64 bits further, `low` carries the low-degree half D bits further.  Each is
/// x^(distance - 1) mod P, bit-reflected into the top 16 bits of a 64-bit word (the missing
/// factor x comes from the product's one-bit offset in reflected order).
struct FoldPair {
    uint64_t high = 0;
    uint64_t low = 0;
};

/// The multipliers of one polynomial, for the distances the kernels fold across.
struct Constants {
    FoldPair by128;   // one 16-byte lane into the next
    FoldPair by512;   // four lanes: 64 bytes a step
    FoldPair by1024;  // eight lanes (two 512-bit registers): 128 bytes a step
};

/// The constants of the reflected polynomial pattern `polynomial` (0xA001 for x^16+x^15+x^2+1).
Constants deriveConstants(uint16_t polynomial);

/// The widest carry-less kernel the CPU running us offers.
enum class Width { None, Sse, Avx512 };
Width cpuWidth();

/// Folds `n` bytes at `data` (`n` a multiple of 16, at least `minimumBytes(width)`) with
/// `initial` entering the register as it does before the first byte, and stores a 16-byte
/// remainder in `out`: the CRC over those 16 bytes from register 0 equals the CRC over the
/// `n` bytes from `initial`.  `width` must be one `cpuWidth()` allows (not None).
void fold(Width width, const uint8_t* data, std::size_t n, uint16_t initial, const Constants& k,
          uint8_t out[16]);

/// Shortest input each kernel folds: one full step of its lanes.
constexpr std::size_t minimumBytes(Width width) {
    return width == Width::Avx512 ? 128 : 64;
}

}  // namespace korvel::util::clmul
