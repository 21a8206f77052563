// Reversible scrambling of data files.  This hides data from a casual look; it is NOT
// encryption and protects nothing against anyone who has the key code or a few known bytes.
//
// Each byte is combined by exclusive-or with a key stream that depends on a numeric key code
// (kept in the per-user settings store), on the file's base name and on the data itself: the
// stream state advances with every plaintext byte, so scrambling and unscrambling run the same
// step.  The file holds exactly the scrambled bytes: no header, no length, no check value.
//
// Pure functions over files and buffers; they return false on failure and leave reporting to
// the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "korvelcom/ByteArray.h"

namespace korvel::util {

/// Where the key code lives in the settings store, and the text used when it is absent.
inline constexpr const char* kScrambleApplication = "KorvelServices";
inline constexpr const char* kScrambleSection = "Settings";
inline constexpr const char* kScrambleKey = "DataCode";
inline constexpr const char* kScrambleDefaultCode = "27315";

/// The numeric value at the start of `text`: leading spaces and tabs skipped, an optional sign,
/// digits and an optional decimal part ("12.5kg" gives 12.5); 0 when the text does not start
/// with a number.
double leadingNumber(std::string_view text);

/// The key code held by the stored text: its leading number, rounded to the nearest whole
/// number (ties to even: "2.5" gives 2, "3.5" gives 4).  No value when that does not fit a
/// signed 16-bit integer.
std::optional<int16_t> scrambleKeyCode(std::string_view storedText);

/// The part of a file name that enters the key: the name without everything up to and
/// including its last "\" or "/" (so the directory never matters), ASCII letters lowered.
/// Other bytes (for example the bytes of UTF-8 letters) stay as they are.
std::string scrambleBaseName(std::string_view fileName);

/// The key stream.  With H = key code / 256 (truncated toward zero), the state s starts at H
/// and takes every byte of the base name: s = s + byte, minus 256 when that reaches 256.  At
/// byte index i with plaintext byte p, the key byte is s (it must lie in 0 to 255), and s
/// then becomes ((s + p + i) xor H) and 255, the sum in signed 16-bit arithmetic.
class ScrambleStream {
  public:
    ScrambleStream(int16_t keyCode, std::string_view fileName);

    /// The key byte for the current index; no value when the state lies outside 0 to 255
    /// (possible only before the first step, with a negative key code).
    std::optional<uint8_t> keyByte() const;
    /// Advances past the current index with its plaintext byte `plain`.  False, leaving the
    /// stream unchanged, when the 16-bit sum overflows (only at indices near 32767) or the
    /// current index is 32767, the last a signed 16-bit count reaches.
    bool advance(uint8_t plain);

    int16_t state() const { return s_; }
    int16_t index() const { return i_; }

  private:
    int16_t h_;
    int16_t s_;
    int16_t i_ = 0;
};

/// Scrambles the first `length` characters of `buffer` into the file `fileName`:
/// 1. deletes the file when it exists (a failure to delete is ignored; a directory is left
///    alone);
/// 2. reads the key code from `keyCodeText` (see `scrambleKeyCode`) and starts the stream;
/// 3. takes `length` characters from the front of `buffer`, scrambling each;
/// 4. writes the `length` scrambled bytes as the whole file.
/// Returns true when the file was written.  Returns false when the key code does not fit, the
/// key byte is out of range, the stream overflows, `buffer` holds fewer than `length`
/// characters, `length` is below 1, `fileName` is empty, or the file cannot be written; no
/// file then remains (a partly written one is removed).  On return the characters taken stay
/// removed from `buffer`, also after a failure.
bool scrambleToFile(const std::string& fileName, std::string& buffer, int16_t length,
                    std::string_view keyCodeText);

/// Unscrambles the file `fileName` into `buffer`, indices 0 to `lastIndex` (`lastIndex` + 1
/// bytes; a file written with length n is read back whole with `lastIndex` n - 1):
/// 1. false when the file is not an ordinary file (see `ordinaryFileExists`);
/// 2. reads its first `lastIndex` + 1 bytes into a zeroed work area (bytes beyond the end of
///    the file stay 0);
/// 3. reads the key code from `keyCodeText` and starts the stream;
/// 4. for each index i from 0 to `lastIndex`, stores the work byte xor the key byte into
///    element i of `buffer` (array index i, whatever its lower bound) and advances the stream
///    with that decoded byte.
/// Returns true when every index was decoded.  Returns false when the file is missing or cannot
/// be read, the key code does not fit, the key byte is out of range, the stream overflows, an
/// index does not exist in `buffer`, `lastIndex` is negative or `fileName` empty.  The array is
/// never resized; the bytes decoded before a failure stay in it.
bool unscrambleFromFile(const std::string& fileName, ByteArray& buffer, int16_t lastIndex,
                        std::string_view keyCodeText);

}  // namespace korvel::util
