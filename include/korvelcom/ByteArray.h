// A one-dimensional array of bytes whose lower bound may be any integer, as automation hosts
// pass byte buffers (0-based and 1-based arrays are the usual ones).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel {

struct ByteArray {
    int32_t lbound = 0;          ///< index of the first element
    std::vector<uint8_t> bytes;  ///< the elements; empty means an array without elements

    ByteArray() = default;
    ByteArray(int32_t lowerBound, std::vector<uint8_t> data)
        : lbound(lowerBound), bytes(std::move(data)) {}
    /// An array of the bytes of `text`, starting at index `lowerBound`.
    static ByteArray fromString(const std::string& text, int32_t lowerBound = 0) {
        return ByteArray(lowerBound, std::vector<uint8_t>(text.begin(), text.end()));
    }

    bool empty() const { return bytes.empty(); }
    /// Index of the last element (lbound - 1 for an empty array), computed in 64 bits so that
    /// bounds near the 32-bit limits cannot overflow.
    int64_t ubound() const { return static_cast<int64_t>(lbound) + std::ssize(bytes) - 1; }
    /// Element at array index `index` (lbound <= index <= ubound).
    uint8_t& at(int64_t index) { return bytes.at(static_cast<std::size_t>(index - lbound)); }
    uint8_t at(int64_t index) const { return bytes.at(static_cast<std::size_t>(index - lbound)); }

    friend bool operator==(const ByteArray&, const ByteArray&) = default;
};

}  // namespace korvel
