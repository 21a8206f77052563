// The binary form in which IPersistStreamInit saves the control's persisted properties: the
// entries the control writes into a property bag, in order (a key written twice appears
// twice), behind a header that names the format and its version.  Layout: docs/com.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "korvelcom/PropertyBags.h"

namespace korvel::com {

/// Size of the header: magic "KVCP", version (16 bits), entry count (16 bits), payload length
/// in bytes (32 bits), all little-endian.
inline constexpr std::size_t kStreamHeaderSize = 12;
inline constexpr uint16_t kStreamVersion = 1;

/// The header and payload of `entries`.
std::string encodeProperties(const std::vector<MemoryPropertyBag::Entry>& entries);
/// The payload length a header announces; nullopt when the magic or the version is not ours
/// or the length is beyond any saved control (64 KiB).
std::optional<uint32_t> payloadLength(const std::string& header);
/// The entries of a whole stream (header and payload); nullopt when any part is malformed:
/// a truncated entry, an unknown type, a boolean other than 0 or 1, bytes left over, or a
/// count that disagrees with the header.
std::optional<std::vector<MemoryPropertyBag::Entry>> decodeProperties(const std::string& data);

}  // namespace korvel::com
