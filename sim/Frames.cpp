#include "sim/Frames.h"

#include <span>

#include "util/Checksum.h"

namespace korvel::sim {
namespace {

std::span<const uint8_t> bytesOf(const std::string& s, std::size_t count) {
    return {reinterpret_cast<const uint8_t*>(s.data()), count};
}

}  // namespace

std::string lrcFrame(const std::string& text) {
    std::string body = text + ETX;
    const char check = static_cast<char>(lrcOf(body));
    return STX + body + check;
}

std::string testFrame(const std::string& text) {
    std::string body = text + ETX;
    const uint16_t crc = crcOf(body);
    body.push_back(static_cast<char>(crc & 0xFF));
    body.push_back(static_cast<char>(crc >> 8));
    return STX + body;
}

bool endsWithLrcCheck(const std::string& body) {
    const std::size_t n = body.size();
    if (n < 2 || body[n - 2] != ETX) return false;
    return util::xorOfBytes(bytesOf(body, n - 1)) == static_cast<uint8_t>(body[n - 1]);
}

bool endsWithCrcCheck(const std::string& body) {
    const std::size_t n = body.size();
    if (n < 3 || body[n - 3] != ETX) return false;
    const uint16_t got = static_cast<uint16_t>(static_cast<uint8_t>(body[n - 2]) |
                                               (static_cast<uint8_t>(body[n - 1]) << 8));
    return util::crc16(bytesOf(body, n - 2), 0, 0xA001) == got;
}

}  // namespace korvel::sim
