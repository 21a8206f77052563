// The terminal's side of a fuzzed exchange, as the input bytes describe it: a list of chunks,
// each written to the line after a delay, optionally only once the control has sent its next
// ACK, optionally wrapped in a frame first.  Shared by the targets that put the input on the
// line and by the seed generator that writes such inputs from the simulator's replies.
//
// A chunk on input: [control][delay][length][bytes...]
//   control bit 0  wait for the control's next ACK before the delay starts
//   control bit 1  wrap the bytes in a frame (STX, bytes, ETX, check) before writing them
//   control bit 2  write the bytes before the control starts waiting (where a target has such
//                  a moment)
//   control bits 4-7  high bits of the length (lengths up to 4095)
//   delay          milliseconds, 0 to 63 (the two high bits are ignored)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"

namespace korvel::fuzz {

inline constexpr uint8_t kAfterAck = 0x01;
inline constexpr uint8_t kFramed = 0x02;
inline constexpr uint8_t kEarly = 0x04;
inline constexpr uint8_t kDelayMask = 0x3F;

struct Chunk {
    uint8_t control = 0;
    int32_t delayMs = 0;
    std::string bytes;

    bool afterAck() const { return control & kAfterAck; }
    bool framed() const { return control & kFramed; }
    bool early() const { return control & kEarly; }
};

/// Reads up to `maxChunks` chunks from the rest of the input.
inline std::vector<Chunk> readChunks(Input& in, std::size_t maxChunks) {
    std::vector<Chunk> out;
    while (!in.empty() && out.size() < maxChunks) {
        Chunk c;
        c.control = in.byte();
        c.delayMs = in.byte() & kDelayMask;
        const std::size_t length = static_cast<std::size_t>(c.control >> 4) << 8 | in.byte();
        c.bytes = in.bytes(length);
        out.push_back(std::move(c));
    }
    return out;
}

/// One chunk in the input notation (the seed generator's side); `bytes` at most 4095 long.
inline std::string writeChunk(uint8_t control, int32_t delayMs, const std::string& bytes) {
    const std::size_t length = bytes.size() & 0xFFF;
    std::string out;
    out += static_cast<char>((control & 0x0F) | ((length >> 8) << 4));
    out += static_cast<char>(delayMs & kDelayMask);
    out += static_cast<char>(length & 0xFF);
    return out + bytes.substr(0, length);
}

}  // namespace korvel::fuzz

namespace korvel::fuzz {

/// The receive-path target's input: six header bytes, then chunks.
///   [scenario][operation][flags][link timing][reply pause][wait]
namespace receive {

enum Scenario : uint8_t {
    kPosMessage = 0,  ///< a basic payment: `POSMessage`
    kMessage = 1,     ///< `Message`: a send, then `RecMessage`
    kExtended = 2,    ///< an extended exchange: `POSAutoMessage`
    kIdle = 3,        ///< the host idles with the link armed (unsolicited messages)
};
inline constexpr uint8_t kScenarioCount = 4;

/// The extended operations the exchange can send with the defaults (the card reader switch
/// set as each needs), the codes without a reply layout included.
struct Operation {
    const char* code;
    const char* cardReader;
};
inline constexpr Operation kOperations[] = {
    {"01", "0"}, {"03", "0"}, {"04", "0"}, {"10", "0"}, {"11", "1"}, {"12", "0"}, {"14", "0"},
    {"15", "0"}, {"16", "0"}, {"17", "0"}, {"18", "0"}, {"19", "0"}, {"20", "0"}, {"21", "0"},
    {"23", "0"}, {"40", "0"}, {"41", "1"}, {"50", "0"}, {"51", "1"}, {"60", "0"}, {"61", "1"},
};
inline constexpr std::size_t kOperationCount = sizeof kOperations / sizeof kOperations[0];

// Flags.
inline constexpr uint8_t kReceiveEnabled = 0x01;
inline constexpr uint8_t kErrorEnabled = 0x02;
inline constexpr uint8_t kCardInfo = 0x04;       ///< `POSAutoControl` "5": card information
inline constexpr uint8_t kOperationZero = 0x08;  ///< the expected operation number is "0000"

}  // namespace receive

/// The test-frame target's input: three header bytes, then chunks.
///   [flags][silence][wait]
namespace testframe {
inline constexpr uint8_t kSendFirst = 0x01;  ///< `MessageTestK7200` rather than the bare receive
}  // namespace testframe

}  // namespace korvel::fuzz
