// Fixed-width text fields of the payment protocols.
#pragma once

#include <cstddef>
#include <string>

namespace korvel::util {

/// The left-aligned fit: `text` padded with spaces on the right to `width`, or cut to it.
inline std::string fitLeft(const std::string& text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

/// The `width` characters of `text` from position `pos` (0-based), padded with spaces where
/// `text` ends early: how a fixed-width field is cut out of a received message.
inline std::string cutField(const std::string& text, std::size_t pos, std::size_t width) {
    return fitLeft(pos < text.size() ? text.substr(pos, width) : std::string(), width);
}

/// A field that was never written: `width` characters of code 0.
inline std::string neverWritten(std::size_t width) {
    return std::string(width, '\0');
}

}  // namespace korvel::util
