// Shared by the fuzz targets: the check that stops a run on a broken invariant, and a reader
// that takes typed values from the front of the input (zeros once the input is used up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvel::fuzz {

/// Reports the broken invariant and stops the run (libFuzzer keeps the input as a crash).
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

/// Stops the run unless `ok`.
inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

class Input {
  public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return size_ - pos_; }

    /// The next byte, or 0 when the input is used up.
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    /// Two bytes, low byte first.
    uint16_t u16() {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    int16_t i16() { return static_cast<int16_t>(u16()); }
    /// Up to `n` bytes (fewer when the input ends first).
    std::string bytes(std::size_t n) {
        if (n > left()) n = left();
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    /// Everything not taken yet.
    std::string rest() { return bytes(left()); }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace korvel::fuzz
