// A record of every byte crossing a serial line, both directions, with its time: the trace
// that tests assert and that technicians read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel {

class KORVELCOM_API WireLog {
  public:
    enum class Dir : uint8_t {
        Out,  ///< written by the side that owns the log (the control: towards the terminal)
        In,   ///< received by that side
    };
    struct Entry {
        int64_t timeUs;  ///< microseconds on the log's clock (virtual or monotonic)
        Dir dir;
        uint8_t byte;
    };

    WireLog() = default;
    WireLog(const WireLog&) = default;
    WireLog& operator=(const WireLog&) = default;
    /// Wipes the entries (they may hold card data).
    ~WireLog();

    void add(int64_t timeUs, Dir dir, const std::string& bytes);
    /// Forgets every entry, overwriting them first.
    void clear();
    const std::vector<Entry>& entries() const { return entries_; }

    /// The bytes of one direction, concatenated.
    std::string bytes(Dir dir) const;

    /// One line per burst (consecutive bytes of one direction less than `gapUs` apart):
    /// "   12.345 ms  -> ENQ" or "   14.100 ms  <- STX 'OK' ETX 0x07", control characters named
    /// (NUL, STX, ETX, EOT, ENQ, ACK, NAK...), printable runs quoted, other bytes in hex.
    /// Times are relative to the first entry.  Card data is masked unless `cardDataShown()`
    /// (korvelcom/CardData.h); the bytes themselves are kept as they were.
    std::string format(int64_t gapUs = 2000) const;

    /// Readable rendering of a byte string in the same notation as `format`, card data masked
    /// unless `cardDataShown()`.
    static std::string describe(const std::string& bytes);

  private:
    std::vector<Entry> entries_;
};

}  // namespace korvel
