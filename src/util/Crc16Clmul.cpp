#include "util/Crc16Clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#define KORVEL_CRC_X86 1
#include <immintrin.h>
#else
#define KORVEL_CRC_X86 0
#endif

// Notation.  A 16-byte lane loaded little-endian holds 128 message bits in reflected order:
// bit m of the lane is the coefficient of x^(127 - m), so the lane's low 64-bit word is the
// high-degree half.  The CRC of the whole message from register I is (A(x) * x^16) mod P, where
// A is the message read as one polynomial (first bit highest) with I added to its first 16
// bits.  Folding keeps a lane X congruent to what has been read so far: reading lane C gives
// X * x^128 + C, and X * x^D = X_high * x^(D + 64) + X_low * x^D is congruent to
// X_high * (x^(D + 63) mod P) * x + X_low * (x^(D - 1) mod P) * x, two 64 x 16-bit carry-less
// products that fit one lane.  Finishing X is the ordinary CRC over its 16 bytes from register
// 0, which is (X * x^16) mod P.

namespace korvel::util::clmul {
namespace {

// x^k mod P, most significant bit first (bit 15 is the coefficient of x^15); P is x^16 plus
// `normal`, the bit-reversed pattern.
uint16_t xPowMod(unsigned k, uint16_t normal) {
    uint32_t r = 1;
    for (unsigned i = 0; i < k; ++i) {
        r <<= 1;
        if (r & 0x10000u) r ^= 0x10000u | normal;
    }
    return static_cast<uint16_t>(r);
}

uint16_t reflect16(uint16_t v) {
    uint16_t r = 0;
    for (int i = 0; i < 16; ++i) {
        if ((v >> i) & 1u) r = static_cast<uint16_t>(r | (1u << (15 - i)));
    }
    return r;
}

FoldPair pairFor(unsigned distance, uint16_t normal) {
    return {static_cast<uint64_t>(reflect16(xPowMod(distance + 63, normal))) << 48,
            static_cast<uint64_t>(reflect16(xPowMod(distance - 1, normal))) << 48};
}

#if KORVEL_CRC_X86

// Target attributes keep the rest of the build free of -m flags: these functions only run
// after cpuWidth() has found the instructions.
#define KORVEL_SSE_CLMUL __attribute__((target("sse2,pclmul")))
#define KORVEL_AVX512_CLMUL __attribute__((target("avx512f,pclmul,vpclmulqdq")))

KORVEL_SSE_CLMUL __m128i pairVector(const FoldPair& k) {
    return _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high));
}

KORVEL_SSE_CLMUL __m128i loadLane(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// X * x^D + next, for the distance whose multipliers are in `k`.
KORVEL_SSE_CLMUL __m128i foldLane(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Four lanes a step (64 bytes), folded across 512 bits; then the four into one, and the
// remaining whole lanes one at a time.
KORVEL_SSE_CLMUL void foldSse(const uint8_t* p, std::size_t n, uint16_t initial, const Constants& k,
                              uint8_t out[16]) {
    __m128i x0 = _mm_xor_si128(loadLane(p), _mm_cvtsi32_si128(initial));
    __m128i x1 = loadLane(p + 16), x2 = loadLane(p + 32), x3 = loadLane(p + 48);
    p += 64;
    n -= 64;
    const __m128i k512 = pairVector(k.by512);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = foldLane(x0, k512, loadLane(p));
        x1 = foldLane(x1, k512, loadLane(p + 16));
        x2 = foldLane(x2, k512, loadLane(p + 32));
        x3 = foldLane(x3, k512, loadLane(p + 48));
    }
    const __m128i k128 = pairVector(k.by128);
    __m128i x = foldLane(foldLane(foldLane(x0, k128, x1), k128, x2), k128, x3);
    for (; n >= 16; p += 16, n -= 16)
        x = foldLane(x, k128, loadLane(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
}

KORVEL_AVX512_CLMUL __m512i pairVector512(const FoldPair& k) {
    const auto h = static_cast<long long>(k.high), l = static_cast<long long>(k.low);
    return _mm512_set_epi64(l, h, l, h, l, h, l, h);
}

// Four lanes at once: each lane * x^D + next.
KORVEL_AVX512_CLMUL __m512i foldWide(__m512i x, __m512i k, __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

// foldLane compiled for the wide target, so that its instructions are VEX-encoded.
KORVEL_AVX512_CLMUL __m128i foldLaneVex(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Eight lanes a step (two 512-bit registers, 128 bytes) folded across 1024 bits; the two
// registers into one across 512, its four lanes into one, then the remaining whole lanes.
// The last steps repeat foldSse's in VEX form, so no legacy SSE code follows wide registers.
KORVEL_AVX512_CLMUL void foldAvx512(const uint8_t* p, std::size_t n, uint16_t initial,
                                    const Constants& k, uint8_t out[16]) {
    __m512i z0 =
        _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, initial));
    __m512i z1 = _mm512_loadu_si512(p + 64);
    p += 128;
    n -= 128;
    const __m512i k1024 = pairVector512(k.by1024);
    for (; n >= 128; p += 128, n -= 128) {
        z0 = foldWide(z0, k1024, _mm512_loadu_si512(p));
        z1 = foldWide(z1, k1024, _mm512_loadu_si512(p + 64));
    }
    const __m512i k512 = pairVector512(k.by512);
    __m512i z = foldWide(z0, k512, z1);
    if (n >= 64) {
        z = foldWide(z, k512, _mm512_loadu_si512(p));
        p += 64;
        n -= 64;
    }
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(k.by128.low), static_cast<long long>(k.by128.high));
    uint8_t lanes[64];
    _mm512_storeu_si512(lanes, z);
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
    for (int lane = 1; lane < 4; ++lane)
        x = foldLaneVex(x, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes) + lane));
    for (; n >= 16; p += 16, n -= 16)
        x = foldLaneVex(x, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
}

#endif

}  // namespace

Constants deriveConstants(uint16_t polynomial) {
    const uint16_t normal = reflect16(polynomial);
    return {pairFor(128, normal), pairFor(512, normal), pairFor(1024, normal)};
}

Width cpuWidth() {
#if KORVEL_CRC_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq")) {
        return Width::Avx512;
    }
    if (__builtin_cpu_supports("pclmul")) return Width::Sse;
#endif
    return Width::None;
}

void fold(Width width, const uint8_t* data, std::size_t n, uint16_t initial, const Constants& k,
          uint8_t out[16]) {
#if KORVEL_CRC_X86
    if (width == Width::Avx512) return foldAvx512(data, n, initial, k, out);
    if (width == Width::Sse) return foldSse(data, n, initial, k, out);
#else
    (void)width, (void)data, (void)n, (void)initial, (void)k, (void)out;
#endif
}

}  // namespace korvel::util::clmul
