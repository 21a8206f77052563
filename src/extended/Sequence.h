// The two-digit sequence number that starts every extended request and that the terminal
// echoes: "01", "02", ..., "99", "01" ("00" never follows).
#pragma once

#include <string>
#include <string_view>

namespace korvel::ext {

/// The sequence number after `current` (2 characters): its numeric value, rounded to the
/// nearest 16-bit integer (ties to even), plus one; 1 when that exceeds 99; written in decimal
/// with one "0" in front when shorter than 2 characters.  A text that does not start with a
/// number counts as 0 ("ab" gives "01"); a value outside the 16-bit range gives "01".
std::string nextSequence(std::string_view current);

}  // namespace korvel::ext
