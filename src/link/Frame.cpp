#include "link/Frame.h"

#include <span>

#include "util/Checksum.h"

namespace korvel::link {
namespace {
std::span<const uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
}  // namespace

uint8_t lrc(const std::string& text) {
    return util::xorOfBytes(bytesOf(text));
}

std::optional<std::string> buildFrame(const std::string& message) {
    if (message.size() > kMaxFrameText) return std::nullopt;
    std::string frame;
    frame.reserve(message.size() + 3);
    frame += STX;
    frame += message;
    frame += ETX;
    frame += static_cast<char>(lrc(frame.substr(1)));
    return frame;
}

std::optional<std::string> parseFrame(const std::string& received) {
    const auto stx = received.find(STX);
    if (stx == std::string::npos) return std::nullopt;
    std::string text = received.substr(stx + 1);
    if (text.size() < 3) return std::nullopt;
    const auto check = static_cast<uint8_t>(text.back());
    text.pop_back();
    if (text.size() > kMaxFrameText + 1 || lrc(text) != check) return std::nullopt;
    if (text.back() != ETX) return std::nullopt;
    text.pop_back();
    return text;
}

uint16_t testCrc(const std::string& text) {
    return util::crc16(bytesOf(text), 0, 0xA001);
}

std::optional<std::string> appendTestCrc(const std::string& text) {
    if (text.size() > kMaxFrameText + 1) return std::nullopt;
    const uint16_t crc = testCrc(text);
    std::string out = text;
    out += static_cast<char>(crc & 0xFF);
    out += static_cast<char>(crc >> 8);
    return out;
}

}  // namespace korvel::link
