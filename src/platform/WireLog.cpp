#include "korvelcom/platform/WireLog.h"

#include <cstdio>

#include "korvelcom/CardData.h"

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

WireLog::~WireLog() {
    clear();
}

void WireLog::clear() {
    // The log may hold card data: overwrite it before the memory goes back to the heap.
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(entries_.data());
    for (std::size_t i = 0; i < entries_.size() * sizeof(Entry); ++i)
        p[i] = 0;
    entries_.clear();
}

std::string WireLog::describe(const std::string& raw) {
    const std::string bytes = cardDataForDisplay(raw);
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
    // Card data is found in each direction's whole byte stream, so that a number or a track
    // split over bursts is masked too; a span is shown once, at its first byte.
    std::string stream[2];
    for (const auto& e : entries_)
        stream[static_cast<int>(e.dir)].push_back(static_cast<char>(e.byte));
    std::vector<CardDataSpan> spans[2];
    if (!cardDataShown())
        for (int d = 0; d < 2; ++d)
            spans[d] = findCardData(stream[d]);
    wipe(stream[0], "wire log rendering");
    wipe(stream[1], "wire log rendering");
    std::size_t pos[2] = {0, 0};
    std::size_t span[2] = {0, 0};
    auto render = [&](const Entry& e, std::string& into) {
        const int d = static_cast<int>(e.dir);
        const std::size_t p = pos[d]++;
        auto& k = span[d];
        while (k < spans[d].size() && spans[d][k].pos + spans[d][k].len <= p)
            ++k;
        if (k < spans[d].size() && spans[d][k].pos <= p) {
            if (spans[d][k].pos == p) into += spans[d][k].shown;
        } else {
            into.push_back(static_cast<char>(e.byte));
        }
    };
    const int64_t t0 = entries_.front().timeUs;
    std::size_t i = 0;
    while (i < entries_.size()) {
        const Entry& first = entries_[i];
        std::string burst;
        render(first, burst);
        std::size_t j = i + 1;
        while (j < entries_.size() && entries_[j].dir == first.dir &&
               entries_[j].timeUs - entries_[j - 1].timeUs < gapUs) {
            render(entries_[j], burst);
            ++j;
        }
        char head[48];
        std::snprintf(head, sizeof head, "%10.3f ms  %s ",
                      static_cast<double>(first.timeUs - t0) / 1000.0,
                      first.dir == Dir::Out ? "->" : "<-");
        out += head;
        out += describe(burst);
        out += '\n';
        wipe(burst, "wire log rendering");
        i = j;
    }
    return out;
}

}  // namespace korvel
