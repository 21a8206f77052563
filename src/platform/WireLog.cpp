#include "korvelcom/platform/WireLog.h"

#include <cstdio>

namespace korvel {
namespace {

const char* controlName(uint8_t b) {
    static const char* const kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    return b < 32 ? kNames[b] : nullptr;
}

}  // namespace

void WireLog::add(int64_t timeUs, Dir dir, const std::string& bytes) {
    for (char c : bytes)
        entries_.push_back(Entry{timeUs, dir, static_cast<uint8_t>(c)});
}

std::string WireLog::bytes(Dir dir) const {
    std::string out;
    for (const auto& e : entries_)
        if (e.dir == dir) out.push_back(static_cast<char>(e.byte));
    return out;
}

std::string WireLog::describe(const std::string& bytes) {
    std::string out;
    bool inQuote = false;
    auto sep = [&] {
        if (!out.empty()) out += ' ';
    };
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        const bool printable = b >= 0x20 && b < 0x7F && b != '\'';
        if (printable) {
            if (!inQuote) {
                sep();
                out += '\'';
                inQuote = true;
            }
            out += ch;
            continue;
        }
        if (inQuote) {
            out += '\'';
            inQuote = false;
        }
        sep();
        if (const char* name = controlName(b)) {
            out += name;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", b);
            out += hex;
        }
    }
    if (inQuote) out += '\'';
    return out;
}

std::string WireLog::format(int64_t gapUs) const {
    std::string out;
    if (entries_.empty()) return out;
    const int64_t t0 = entries_.front().timeUs;
    std::size_t i = 0;
    while (i < entries_.size()) {
        const Entry& first = entries_[i];
        std::string burst(1, static_cast<char>(first.byte));
        std::size_t j = i + 1;
        while (j < entries_.size() && entries_[j].dir == first.dir &&
               entries_[j].timeUs - entries_[j - 1].timeUs < gapUs) {
            burst.push_back(static_cast<char>(entries_[j].byte));
            ++j;
        }
        char head[48];
        std::snprintf(head, sizeof head, "%10.3f ms  %s ",
                      static_cast<double>(first.timeUs - t0) / 1000.0,
                      first.dir == Dir::Out ? "->" : "<-");
        out += head;
        out += describe(burst);
        out += '\n';
        i = j;
    }
    return out;
}

}  // namespace korvel
