// The link's control characters and frame formats, as byte strings (no I/O here).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvel::link {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;

/// Longest text a frame carries: the checks cover the text and ETX, and their positions are
/// 16-bit (at most 32767 characters).
inline constexpr std::size_t kMaxFrameText = 32766;
/// The most a reception keeps from a frame's STX on: one character more than the longest
/// frame either framing accepts (STX, text, ETX and LRC; or STX, text and two CRC bytes), so
/// that a frame cut to this length still fails its length check.
inline constexpr std::size_t kMaxGathered = kMaxFrameText + 5;

/// Exclusive-or of the bytes of `text`, from 0.
uint8_t lrc(const std::string& text);

/// STX, `message`, ETX, LRC of message and ETX.  No value when the message is too long.
std::optional<std::string> buildFrame(const std::string& message);

/// The message of a received frame: everything after the first STX must be the text, ETX and
/// a correct LRC (the last character is always taken as the LRC).  No value for a missing STX,
/// fewer than 3 characters after it, a wrong LRC, a missing ETX, or a text too long to check.
std::optional<std::string> parseFrame(const std::string& received);

/// CRC16 of `text` with initial value 0 and polynomial 0xA001 (CRC-16/ARC).
uint16_t testCrc(const std::string& text);

/// `text` followed by its CRC16 (initial 0, polynomial 0xA001), low byte first.  No value when
/// `text` is longer than 32767 characters.
std::optional<std::string> appendTestCrc(const std::string& text);

}  // namespace korvel::link
