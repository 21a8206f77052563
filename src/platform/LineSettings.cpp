#include "korvelcom/platform/LineSettings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace korvel {
namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const auto comma = text.find(',', from);
        parts.push_back(trim(text.substr(from, comma - from)));
        if (comma == std::string::npos) return parts;
        from = comma + 1;
    }
}

constexpr std::array<int32_t, 16> kBauds = {110,   300,    600,    1200,  2400,  4800,
                                            9600,  14400,  19200,  28800, 38400, 56000,
                                            57600, 115200, 128000, 256000};

}  // namespace

std::optional<LineSettings> LineSettings::parse(const std::string& text) {
    const auto parts = splitCommas(text);
    if (parts.size() != 4) return std::nullopt;
    LineSettings out;

    const std::string& baud = parts[0];
    if (baud.empty() || baud.size() > 6 ||
        !std::all_of(baud.begin(), baud.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    out.baud = std::stoi(baud);
    if (std::find(kBauds.begin(), kBauds.end(), out.baud) == kBauds.end()) return std::nullopt;

    if (parts[1].size() != 1) return std::nullopt;
    out.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(parts[1][0])));
    if (std::string("neoms").find(out.parity) == std::string::npos) return std::nullopt;

    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
    out.dataBits = parts[2][0] - '0';

    if (parts[3] == "1") {
        out.stopHalfBits = 2;
    } else if (parts[3] == "1.5") {
        out.stopHalfBits = 3;
    } else if (parts[3] == "2") {
        out.stopHalfBits = 4;
    } else {
        return std::nullopt;
    }
    return out;
}

int64_t LineSettings::charTimeUs() const {
    // Counted in half bits so that 1.5 stop bits stay exact.
    const int64_t halfBits = 2 * (1 + dataBits + (parity == 'n' ? 0 : 1)) + stopHalfBits;
    return (halfBits * 1'000'000 + baud) / (2 * static_cast<int64_t>(baud));
}

}  // namespace korvel
