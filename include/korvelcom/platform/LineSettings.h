// The line settings of a serial port ("9600,e,7,1"): what a port component parses and a
// transport applies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korvelcom/Export.h"

namespace korvel {

/// Baud rate, parity, data bits and stop bits of a serial line.
struct KORVELCOM_API LineSettings {
    /// Bits per second (110 to 256000).
    int32_t baud = 9600;
    char parity = 'e';     ///< 'n', 'e', 'o', 'm' (mark) or 's' (space), lower case
    int dataBits = 7;      ///< 5 to 8
    int stopHalfBits = 2;  ///< stop bits times two: 2 (1), 3 (1.5) or 4 (2)

    /// Parses "baud,parity,data,stop".  Accepts the baud rates a serial port component offers
    /// (110 to 256000), parity n/e/o/m/s in either case, 5 to 8 data bits, stop bits 1, 1.5 or
    /// 2, and spaces around each item.  Returns nothing when the string does not parse.
    static std::optional<LineSettings> parse(const std::string& text);

    /// Microseconds one character takes on the wire (start bit, data, parity, stop bits).
    int64_t charTimeUs() const;
};

}  // namespace korvel
