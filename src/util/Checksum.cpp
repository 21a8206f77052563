#include "util/Checksum.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "util/Crc16Clmul.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace korvel::util {
namespace {

// The byte kernels work on blocks of a fixed length, so that the compiler vectorises their
// inner loops at -O2 (its cheapest cost model only vectorises loops whose trip count is a
// known multiple of the vector width); the tail runs byte by byte.
constexpr std::size_t kBlock = 4096;

// ---- CRC16 -------------------------------------------------------------------------------

// Bytes consumed per table-driven step.
constexpr std::size_t kSlices = 16;

// table[0][b]: the register after the eight rounds of one byte, starting from register b and a
// zero byte.  table[k][b]: the same followed by k further zero bytes.  With them, sixteen
// bytes advance the register by sixteen independent look-ups.  The folding constants of the
// carry-less kernels are derived with the tables and kept beside them.
struct CrcTables {
    uint16_t polynomial = 0;
    bool built = false;
    std::array<std::array<uint16_t, 256>, kSlices> table{};
    clmul::Constants fold{};
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
    t.fold = clmul::deriveConstants(polynomial);
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

uint16_t crc16Tables(const CrcTables& tables, std::span<const uint8_t> data, uint16_t initial) {
    const auto& t = tables.table;
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

// Shortest input that is folded: one step of the four 16-byte lanes.  From there on folding is
// as fast as the tables (64 bytes) or faster (96 bytes: 15 ns against 24 on the benchmark host).
constexpr std::size_t kFoldLimit = 64;

const char* const kKernelNames[] = {"bitwise", "table", "clmul", "clmul512"};

Crc16Kernel chooseKernel() {
    const clmul::Width width = clmul::cpuWidth();
    const Crc16Kernel best = width == clmul::Width::Avx512 ? Crc16Kernel::Clmul512
                             : width == clmul::Width::Sse  ? Crc16Kernel::Clmul
                                                           : Crc16Kernel::Table;
    const char* forced = std::getenv("KORVELCOM_CRC_PATH");
    if (forced == nullptr) return best;
    for (int k = 0; k <= static_cast<int>(best); ++k) {
        if (std::strcmp(forced, kKernelNames[k]) == 0) return static_cast<Crc16Kernel>(k);
    }
    return best;
}

// ---- Ranges ---------------------------------------------------------------------------------

// Bytes [first, last] (0-based offsets into `size` bytes) as a span; an empty range gives an
// empty span.  Callers have checked that a non-empty range lies inside the data.
std::span<const uint8_t> slice(const uint8_t* data, int64_t first, int64_t last) {
    if (first > last) return {};
    return {data + first, static_cast<std::size_t>(last - first + 1)};
}

// Read length of the file forms: large enough that a read costs one system call per block,
// small enough that the block is still in the second-level cache when the check walks it.
constexpr std::size_t kFileBlock = 1u << 20;

// The memory that holds a whole file for one call.  On Linux a large one is mapped on its own
// and asked for in 2 MB pages (transparent huge pages, where the system grants them on
// request): filling hundreds of megabytes of fresh 4 KB pages costs a fault and a zeroing per
// page, more than the read itself.  Elsewhere, and when that fails, plain heap memory.
class FileMemory {
  public:
    explicit FileMemory(std::size_t size) : size_(size ? size : 1) {
#if defined(__linux__)
        constexpr std::size_t kHugePage = 2u << 20;
        if (size_ >= kHugePage) {
            void* p =
                ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p != MAP_FAILED) {
                (void)::madvise(p, size_, MADV_HUGEPAGE);
                mapped_ = static_cast<uint8_t*>(p);
                return;
            }
        }
#endif
        heap_.reset(new (std::nothrow) uint8_t[size_]);
    }
    ~FileMemory() {
#if defined(__linux__)
        if (mapped_) ::munmap(mapped_, size_);
#endif
    }
    FileMemory(const FileMemory&) = delete;
    FileMemory& operator=(const FileMemory&) = delete;
    /// The memory, or nullptr when none could be had.
    uint8_t* get() const {
        return mapped_ ? mapped_ : heap_.get();
    }

  private:
    std::size_t size_;
    uint8_t* mapped_ = nullptr;
    std::unique_ptr<uint8_t[]> heap_;
};

}  // namespace

namespace {

// A check over consecutive pieces of its range: the same value as over the whole range.
class CheckRun {
  public:
    explicit CheckRun(const CheckSpec& params)
        : params_(params), crc_(static_cast<uint16_t>(params.initial)) {}

    void add(std::span<const uint8_t> bytes) {
        switch (params_.kind) {
            case CheckKind::Lrc8:
                xor_ ^= xorOfBytes(bytes);
                break;
            case CheckKind::Crc16:
                crc_ = crc16(bytes, crc_, static_cast<uint16_t>(params_.polynomial));
                break;
            case CheckKind::Sum:
                sum_ += sumOfBytes(bytes);
                break;
        }
    }

    std::optional<int32_t> result() const {
        switch (params_.kind) {
            case CheckKind::Lrc8:
                return static_cast<int16_t>(params_.initial ^ xor_);
            case CheckKind::Crc16:
                return crc_;
            case CheckKind::Sum:
                if (auto v = checksumFromSum(params_.initial, sum_)) return *v;
                return std::nullopt;
        }
        return std::nullopt;
    }

  private:
    CheckSpec params_;
    uint8_t xor_ = 0;
    uint16_t crc_;
    uint64_t sum_ = 0;
};

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

Crc16Kernel crc16Kernel() {
    static const Crc16Kernel kernel = chooseKernel();
    return kernel;
}

const char* crc16KernelName(Crc16Kernel kernel) {
    return kKernelNames[static_cast<int>(kernel)];
}

uint16_t crc16(std::span<const uint8_t> data, uint16_t initial, uint16_t polynomial) {
    const Crc16Kernel kernel = crc16Kernel();
    thread_local CrcTables cache;
    if (kernel == Crc16Kernel::Bitwise) return crc16Bitwise(data, initial, polynomial);
    if (!(cache.built && cache.polynomial == polynomial)) {
        if (data.size() < kBitwiseLimit) return crc16Bitwise(data, initial, polynomial);
        buildTables(cache, polynomial);
    }
    if (kernel == Crc16Kernel::Table || data.size() < kFoldLimit) {
        return crc16Tables(cache, data, initial);
    }
    // Whole 16-byte lanes are folded into a 16-byte remainder with the same CRC; the remainder
    // from register 0 and then the last few bytes go through the tables.
    const auto width = kernel == Crc16Kernel::Clmul512 && data.size() >= 256 ? clmul::Width::Avx512
                                                                             : clmul::Width::Sse;
    const std::size_t folded = data.size() & ~std::size_t{15};
    uint8_t remainder[16];
    clmul::fold(width, data.data(), folded, initial, cache.fold, remainder);
    const uint16_t reg = crc16Tables(cache, remainder, 0);
    return crc16Tables(cache, data.subspan(folded), reg);
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
    CheckRun run(params);
    run.add(data);
    return run.result();
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

std::optional<int32_t> checkFile(const CheckSpec& params, const std::string& name, int32_t& start,
                                 int32_t& end) {
    if (!ordinaryFileExists(name)) return std::nullopt;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return std::nullopt;
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    if (ec) return std::nullopt;
    // The range as it will be written back once the whole file has been read.
    const auto length = static_cast<int64_t>(size);
    const int32_t last = end > length ? static_cast<int32_t>(length) : end;
    const int32_t first = start == 0 ? 1 : start;
    const bool walk = first >= 1 && first <= last;

    // The whole file is held in memory for the call.  It is read block by block straight
    // into that one buffer (no stdio copy), and each block is checked as soon as it has
    // landed, while it is still in the cache; only the part inside the range is visited.
    const FileMemory file(static_cast<std::size_t>(size));
    if (!file.get()) return std::nullopt;
    std::setvbuf(f, nullptr, _IONBF, 0);
    CheckRun run(params);
    for (uint64_t offset = 0; offset < size;) {
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(kFileBlock, size - offset));
        uint8_t* const block = file.get() + offset;
        if (std::fread(block, 1, n, f) != n) return std::nullopt;
        const int64_t lo = std::max<int64_t>(int64_t{first} - 1, static_cast<int64_t>(offset));
        const int64_t hi = std::min<int64_t>(last, static_cast<int64_t>(offset + n));
        if (walk && lo < hi)
            run.add(
                {block + (lo - static_cast<int64_t>(offset)), static_cast<std::size_t>(hi - lo)});
        offset += n;
    }
    end = last;
    start = first;
    if (first <= last && first < 1) return std::nullopt;
    return run.result();
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
