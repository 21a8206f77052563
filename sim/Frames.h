// The terminal's view of the link's byte formats: control characters, the acknowledged frame
// (STX, text, ETX, LRC) and the test frame (STX, text, ETX, CRC16 low, CRC16 high).  Pure
// functions over byte strings; no I/O.
#pragma once

#include <cstdint>
#include <string>

namespace korvel::sim {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;

/// Exclusive-or of every byte of `bytes`, starting from 0 (the frame's LRC over text and ETX).
uint8_t lrcOf(const std::string& bytes);

/// CRC16 of `bytes` with initial value 0 and polynomial 0xA001 (the test frame's check).
uint16_t crcOf(const std::string& bytes);

/// STX, `text`, ETX and the LRC of text and ETX.
std::string lrcFrame(const std::string& text);

/// STX, `text`, ETX, then the CRC16 of text and ETX, low byte first.
std::string testFrame(const std::string& text);

/// Whether `body` (what followed STX) is complete as text, ETX and a correct LRC.
bool endsWithLrcCheck(const std::string& body);

/// Whether `body` (what followed STX) is complete as text, ETX and a correct CRC16 pair.
bool endsWithCrcCheck(const std::string& body);

}  // namespace korvel::sim
