#include "util/Checksum.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <new>

namespace korvel::util {
namespace {

// The byte kernels work on blocks of a fixed length, so that the compiler vectorises their
// inner loops at -O2 (its cheapest cost model only vectorises loops whose trip count is a
// known multiple of the vector width); the tail runs byte by byte.
constexpr std::size_t kBlock = 4096;

// ---- CRC16 tables -------------------------------------------------------------------------

// Bytes consumed per table-driven step.
constexpr std::size_t kSlices = 16;

// table[0][b]: the register after the eight rounds of one byte, starting from register b and a
// zero byte.  table[k][b]: the same followed by k further zero bytes.  With them, sixteen
// bytes advance the register by sixteen independent look-ups.
struct CrcTables {
    uint16_t polynomial = 0;
    bool built = false;
    std::array<std::array<uint16_t, 256>, kSlices> table{};
};

uint16_t crcRoundsOfByte(uint16_t reg, uint16_t polynomial) {
    for (int bit = 0; bit < 8; ++bit) {
        reg = (reg & 1u) ? static_cast<uint16_t>((reg >> 1) ^ polynomial)
                         : static_cast<uint16_t>(reg >> 1);
    }
    return reg;
}

void buildTables(CrcTables& t, uint16_t polynomial) {
    for (unsigned b = 0; b < 256; ++b) {
        t.table[0][b] = crcRoundsOfByte(static_cast<uint16_t>(b), polynomial);
    }
    for (std::size_t k = 1; k < kSlices; ++k) {
        for (unsigned b = 0; b < 256; ++b) {
            const uint16_t prev = t.table[k - 1][b];
            t.table[k][b] = static_cast<uint16_t>((prev >> 8) ^ t.table[0][prev & 0xFFu]);
        }
    }
    t.polynomial = polynomial;
    t.built = true;
}

// Bit by bit, for short inputs under a polynomial whose tables are not at hand: cheaper than
// building sixteen tables for a few bytes.
uint16_t crc16Bitwise(std::span<const uint8_t> data, uint16_t reg, uint16_t polynomial) {
    for (uint8_t c : data)
        reg = crcRoundsOfByte(static_cast<uint16_t>(reg ^ c), polynomial);
    return reg;
}

constexpr std::size_t kBitwiseLimit = 64;

// ---- Ranges ---------------------------------------------------------------------------------

// Bytes [first, last] (0-based offsets into `size` bytes) as a span; an empty range gives an
// empty span.  Callers have checked that a non-empty range lies inside the data.
std::span<const uint8_t> slice(const uint8_t* data, int64_t first, int64_t last) {
    if (first > last) return {};
    return {data + first, static_cast<std::size_t>(last - first + 1)};
}

}  // namespace

uint8_t xorOfBytes(std::span<const uint8_t> data) {
    const uint8_t* p = data.data();
    const std::size_t n = data.size();
    uint8_t acc = 0;
    std::size_t i = 0;
    for (; n - i >= kBlock; i += kBlock) {
        uint8_t x = 0;
        for (std::size_t j = 0; j < kBlock; ++j)
            x ^= p[i + j];
        acc ^= x;
    }
    for (; i < n; ++i)
        acc ^= p[i];
    return acc;
}

uint64_t sumOfBytes(std::span<const uint8_t> data) {
    const uint8_t* p = data.data();
    const std::size_t n = data.size();
    uint64_t total = 0;
    std::size_t i = 0;
    for (; n - i >= kBlock; i += kBlock) {
        // 4096 bytes of at most 255 each cannot overflow 32 bits.
        uint32_t s = 0;
        for (std::size_t j = 0; j < kBlock; ++j)
            s += p[i + j];
        total += s;
    }
    for (; i < n; ++i)
        total += p[i];
    return total;
}

uint16_t crc16(std::span<const uint8_t> data, uint16_t initial, uint16_t polynomial) {
    thread_local CrcTables cache;
    if (!(cache.built && cache.polynomial == polynomial)) {
        if (data.size() < kBitwiseLimit) return crc16Bitwise(data, initial, polynomial);
        buildTables(cache, polynomial);
    }
    const auto& t = cache.table;
    const uint8_t* p = data.data();
    std::size_t n = data.size();
    uint32_t reg = initial;
    for (; n >= kSlices; n -= kSlices, p += kSlices) {
        // The register meets the first two bytes; those two look-ups carry it through the
        // other fourteen zero bytes, while each later byte is carried through what follows it.
        const uint32_t lead = reg ^ (p[0] | (static_cast<uint32_t>(p[1]) << 8));
        reg = t[15][lead & 0xFFu] ^ t[14][lead >> 8] ^ t[13][p[2]] ^ t[12][p[3]] ^ t[11][p[4]] ^
              t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^
              t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
    }
    for (; n > 0; --n, ++p)
        reg = (reg >> 8) ^ t[0][(reg ^ *p) & 0xFFu];
    return static_cast<uint16_t>(reg);
}

std::optional<int16_t> checksumFromSum(int16_t initial, uint64_t byteSum) {
    // After every addition the step-by-step total is at most 65536: it starts at no more than
    // 32767, and one addition of at most 255 to a total of at most 65536 stays below 2 * 65536,
    // so one subtraction brings it back.  The running plain total never decreases, so as long
    // as it stays at or below 65536 nothing was ever subtracted.  Once a subtraction happened
    // the total is at least 1 (it exceeded 65536 just before) and stays in 1 to 65536, always
    // congruent to the plain total modulo 65536: it is ((P - 1) mod 65536) + 1.
    const int64_t plain = static_cast<int64_t>(initial) + static_cast<int64_t>(byteSum);
    const int64_t total = plain <= 65536 ? plain : ((plain - 1) % 65536) + 1;
    if (total > 32767) return std::nullopt;
    return static_cast<int16_t>(total);
}

std::optional<int32_t> computeCheck(const CheckSpec& params, std::span<const uint8_t> data) {
    switch (params.kind) {
        case CheckKind::Lrc8:
            return static_cast<int16_t>(params.initial ^ xorOfBytes(data));
        case CheckKind::Crc16:
            return crc16(data, static_cast<uint16_t>(params.initial),
                         static_cast<uint16_t>(params.polynomial));
        case CheckKind::Sum:
            if (auto v = checksumFromSum(params.initial, sumOfBytes(data))) return *v;
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<int32_t> checkString(const CheckSpec& params, std::string_view text, int16_t start,
                                   int16_t end) {
    if (start <= end && (start < 1 || static_cast<std::size_t>(end) > text.size())) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return computeCheck(params, slice(bytes, int64_t{start} - 1, int64_t{end} - 1));
}

bool ordinaryFileExists(const std::string& name) {
    if (name.empty()) return false;
    const std::filesystem::path path(name);
    const std::string leaf = path.filename().string();
    if (leaf.empty() || leaf.front() == '.') return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::optional<FileBytes> readWholeFile(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return std::nullopt;
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    if (ec) return std::nullopt;
    FileBytes out;
    // Not zero-filled: the read overwrites every byte (files of up to some gigabytes).
    out.data.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!out.data) return std::nullopt;
    out.size = static_cast<std::size_t>(size);
    if (std::fread(out.data.get(), 1, out.size, f) != out.size) return std::nullopt;
    return out;
}

std::optional<int32_t> checkFile(const CheckSpec& params, const std::string& name, int32_t& start,
                                 int32_t& end) {
    if (!ordinaryFileExists(name)) return std::nullopt;
    const std::optional<FileBytes> file = readWholeFile(name);
    if (!file) return std::nullopt;
    const auto length = static_cast<int64_t>(file->size);
    if (end > length) end = static_cast<int32_t>(length);
    if (start == 0) start = 1;
    if (start <= end && start < 1) return std::nullopt;
    return computeCheck(params, slice(file->data.get(), int64_t{start} - 1, int64_t{end} - 1));
}

std::optional<int32_t> checkBuffer(const CheckSpec& params, const ByteArray& buffer, int32_t& start,
                                   int32_t& end) {
    if (buffer.empty()) return std::nullopt;
    if (start < buffer.lbound) start = buffer.lbound;
    if (end > buffer.ubound()) end = static_cast<int32_t>(buffer.ubound());
    return computeCheck(params, slice(buffer.bytes.data(), int64_t{start} - buffer.lbound,
                                      int64_t{end} - buffer.lbound));
}

}  // namespace korvel::util
