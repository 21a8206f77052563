// Check values over bytes: LRC8 (exclusive-or), a bit-reflected CRC16 with any initial value
// and polynomial, and the 16-bit additive checksum; each over a range of a string, of a file
// or of a byte array.  Pure functions: they return the value, or no value on failure, and leave
// reporting to the caller.  The file and array forms adjust the caller's range variables as
// documented and keep the adjustment even when they then fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "korvelcom/ByteArray.h"

namespace korvel::util {

/// Default initial value of the CRC16 forms.
inline constexpr int16_t kCrc16DefaultInitial = 0x5555;
/// Default polynomial of the CRC16 forms: the bit pattern 0xA001, the reflected form of 0x8005.
inline constexpr int16_t kCrc16DefaultPolynomial = static_cast<int16_t>(0xA001);
/// Default first position of a file range (1-based).
inline constexpr int32_t kFileDefaultStart = 1;
/// Default last position of file and array ranges: as far as the data goes.
inline constexpr int32_t kDefaultEnd = 2147483647;
/// Longest string whose whole length a 16-bit position can reach.
inline constexpr std::size_t kMaxStringChars = 32767;

// ---- Kernels over raw bytes ---------------------------------------------------------------

/// Exclusive-or of all bytes (0 for no bytes).
uint8_t xorOfBytes(std::span<const uint8_t> data);

/// Plain sum of all byte values, without any wrap.
uint64_t sumOfBytes(std::span<const uint8_t> data);

/// CRC16, least significant bit first: the register starts at `initial` (not reflected, not
/// inverted); for each bit d of each byte, from bit 0, the register shifts right by one and
/// takes `polynomial` by exclusive-or when d differed from the register's bit 0.  No final
/// inversion.  Long inputs are folded by carry-less multiplication where the CPU has it, else
/// table driven (sixteen bytes a step); a few bytes under a new polynomial go bit by bit.  The
/// tables and folding constants of the last polynomial used on the calling thread are kept.
uint16_t crc16(std::span<const uint8_t> data, uint16_t initial, uint16_t polynomial);

/// The kernels of `crc16`, slowest first.  Clmul folds 64 bytes a step with PCLMULQDQ;
/// Clmul512 folds 128 bytes a step with VPCLMULQDQ on 512-bit registers.
enum class Crc16Kernel { Bitwise, Table, Clmul, Clmul512 };

/// The kernel `crc16` uses for long inputs in this process: the fastest the CPU offers, or a
/// slower one named by the environment variable KORVELCOM_CRC_PATH ("bitwise", "table",
/// "clmul"), read once.  A name the CPU cannot honour or does not know is ignored.
Crc16Kernel crc16Kernel();

/// The name of `kernel` as KORVELCOM_CRC_PATH spells it ("clmul512" for the widest).
const char* crc16KernelName(Crc16Kernel kernel);

/// The additive checksum from the plain byte sum.  The step-by-step rule starts a total at
/// `initial` and, after adding each byte, subtracts 65536 whenever the total exceeds 65536.
/// With P = initial + `byteSum`, that gives P itself when P <= 65536 and ((P - 1) mod 65536) + 1
/// otherwise.  No value when that total does not fit a signed 16-bit result (above 32767).
std::optional<int16_t> checksumFromSum(int16_t initial, uint64_t byteSum);

// ---- Check functions over a range -----------------------------------------------------------

enum class CheckKind { Lrc8, Crc16, Sum };

/// Which check to compute and its parameters.  `initial` and `polynomial` are 16-bit; for the
/// CRC a negative value stands for its bit pattern (value + 65536).  `polynomial` is used by
/// the CRC only.
struct CheckSpec {
    CheckKind kind = CheckKind::Lrc8;
    int16_t initial = 0;
    int16_t polynomial = kCrc16DefaultPolynomial;
};

/// The check over `data`:
/// - LRC8: the 16-bit register `initial` exclusive-or every byte (the high byte of `initial`
///   passes through unchanged), as a signed 16-bit value;
/// - CRC16: 0 to 65535;
/// - Sum: see `checksumFromSum`; no value when the total exceeds 32767.
std::optional<int32_t> computeCheck(const CheckSpec& params, std::span<const uint8_t> data);

/// The check over characters `start` to `end` (1-based, both included) of `text`; positions
/// are used as given.  An empty range (start > end) gives the initial state.  No value when a
/// visited position lies outside 1 to the length of `text`, or on a failure of the check.
std::optional<int32_t> checkString(const CheckSpec& params, std::string_view text, int16_t start,
                                   int16_t end);

/// Whether `name` names an ordinary file: an existing regular file (symbolic links followed)
/// whose name does not begin with a dot.  Directories, devices, pipes, sockets and hidden
/// (dot) files count as absent.
bool ordinaryFileExists(const std::string& name);

/// The check over bytes `start` to `end` (1-based, both included) of the file `name`:
/// 1. no value, without opening anything, unless `ordinaryFileExists(name)`;
/// 2. the whole file is read, in blocks that are checked as they arrive (no value, and the range
///    left alone, when that fails);
/// 3. `end` above the file length is lowered to it, and a `start` of exactly 0 is raised to 1;
///    both stay written back;
/// 4. the range is walked; no value when a non-empty range starts below 1.
std::optional<int32_t> checkFile(const CheckSpec& params, const std::string& name, int32_t& start,
                                 int32_t& end);

/// The check over elements `start` to `end` (array indices, both included) of `buffer`:
/// no value for an array without elements (the range is then left alone); otherwise `start`
/// below the lower bound is raised to it and `end` above the upper bound lowered to it (written
/// back), and the range is walked.
std::optional<int32_t> checkBuffer(const CheckSpec& params, const ByteArray& buffer, int32_t& start,
                                   int32_t& end);

}  // namespace korvel::util
