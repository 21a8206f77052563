// The terminal's view of the link's byte formats: control characters, the acknowledged frame
// (STX, text, ETX, LRC) and the test frame (STX, text, ETX, CRC16 low, CRC16 high).  Pure
// functions over byte strings; no I/O.
#pragma once

#include <cstdint>
#include <string>

#include "link/Frame.h"

namespace korvel::sim {

// The control characters and checks are the link's own.
using link::ACK;
using link::ENQ;
using link::EOT;
using link::ETX;
using link::STX;

/// Exclusive-or of every byte of `bytes`, starting from 0 (the frame's LRC over text and ETX).
inline uint8_t lrcOf(const std::string& bytes) {
    return link::lrc(bytes);
}

/// CRC16 of `bytes` with initial value 0 and polynomial 0xA001 (the test frame's check).
inline uint16_t crcOf(const std::string& bytes) {
    return link::testCrc(bytes);
}

/// STX, `text`, ETX and the LRC of text and ETX.
std::string lrcFrame(const std::string& text);

/// STX, `text`, ETX, then the CRC16 of text and ETX, low byte first.
std::string testFrame(const std::string& text);

/// Whether `body` (what followed STX) is complete as text, ETX and a correct LRC.
bool endsWithLrcCheck(const std::string& body);

/// Whether `body` (what followed STX) is complete as text, ETX and a correct CRC16 pair.
bool endsWithCrcCheck(const std::string& body);

}  // namespace korvel::sim
