// Finding card data in rendered texts: magnetic tracks by their layout (sentinels, separators,
// lengths), card numbers by length, first digit and the Luhn check.
#include "korvelcom/CardData.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace korvel {
namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}
bool printable(char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
}

bool luhn(std::string_view digits) {
    int sum = 0;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        int d = digits[digits.size() - 1 - k] - '0';
        if (k % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return sum % 10 == 0;
}

std::size_t digitsFrom(std::string_view t, std::size_t i) {
    std::size_t j = i;
    while (j < t.size() && digit(t[j]))
        ++j;
    return j - i;
}

// End of a track's data after its separator: through the end sentinel '?' when one comes
// within `limit` characters of `start`, else the printable characters up to the limit, without
// trailing spaces (the fields are padded with them).
std::size_t trackEnd(std::string_view t, std::size_t start, std::size_t from, std::size_t limit) {
    std::size_t j = from;
    while (j < t.size() && j - start < limit && printable(t[j]) && t[j] != '?')
        ++j;
    if (j < t.size() && t[j] == '?' && j - start < limit) return j + 1;
    while (j > from && t[j - 1] == ' ')
        --j;
    return j;
}

std::string trackShown(int kind, std::size_t len) {
    return "[track " + std::to_string(kind) + ": " + std::to_string(len) + " characters]";
}

// Track 1 at `i` ('%' or the format code 'B'): B, 1-19 digits, '^', a name of at most 26
// characters, '^' (or the name's end), data.  Returns its length, 0 when there is none.
std::size_t track1At(std::string_view t, std::size_t i) {
    std::size_t j = i + (t[i] == '%' ? 1 : 0);
    if (j >= t.size() || t[j] != 'B') return 0;
    const std::size_t n = digitsFrom(t, j + 1);
    j += 1 + n;
    if (n < 1 || n > 19 || j >= t.size() || t[j] != '^') return 0;
    std::size_t k = j + 1;
    while (k < t.size() && k - j <= 26 && printable(t[k]) && t[k] != '^')
        ++k;
    if (k < t.size() && t[k] == '^') return trackEnd(t, i, k + 1, 79) - i;
    while (k > j + 1 && t[k - 1] == ' ')
        --k;
    return k - i;
}

// Track 2 or 3 at `i` (';' or the first digit of a maximal run): digits, '=', data.  Sets
// `kind`; returns the length, 0 when there is none.
std::size_t track23At(std::string_view t, std::size_t i, int& kind) {
    const std::size_t d = i + (t[i] == ';' ? 1 : 0);
    if (d > 0 && digit(t[d - 1])) return 0;
    const std::size_t n = digitsFrom(t, d);
    if (n < 12 || n > 21 || d + n >= t.size() || t[d + n] != '=') return 0;
    const std::string_view number = t.substr(d, n);
    const bool three = n >= 14 && !luhn(number) && luhn(number.substr(2));
    const std::size_t end2 = trackEnd(t, i, d + n + 1, 40);
    const std::size_t end3 = trackEnd(t, i, d + n + 1, 107);
    kind = three || (end3 > end2 && end3 - i > 40) ? 3 : 2;
    return (kind == 3 ? end3 : end2) - i;
}

}  // namespace

std::vector<CardDataSpan> findCardData(std::string_view t) {
    std::vector<CardDataSpan> spans;
    std::vector<bool> masked(t.size(), false);
    // Masks every card number inside the run of digits [start, end).
    auto maskRun = [&](std::size_t start, std::size_t end) {
        for (std::size_t s = start; s < end; ++s) {
            if (t[s] == '0') continue;
            for (std::size_t len = 13; len <= 19 && s + len <= end; ++len)
                if (luhn(t.substr(s, len)))
                    for (std::size_t k = s + 6; k < s + len - 4; ++k)
                        masked[k] = true;
        }
    };
    std::vector<CardDataSpan> tracks;
    for (std::size_t i = 0; i < t.size();) {
        int kind = 1;
        std::size_t len = 0;
        if (t[i] == '%' || t[i] == 'B') len = track1At(t, i);
        if (len == 0 && (t[i] == ';' || digit(t[i]))) len = track23At(t, i, kind);
        if (len > 0) {
            tracks.push_back({i, len, trackShown(kind, len)});
            i += len;
        } else {
            ++i;
        }
    }
    // Card numbers in the digit runs between tracks.
    std::size_t next = 0;
    auto scanTo = [&](std::size_t end) {
        for (std::size_t i = next; i < end;) {
            std::size_t j = i;
            while (j < end && digit(t[j]))
                ++j;
            if (j == i) {
                ++i;
                continue;
            }
            maskRun(i, j);
            i = j;
        }
    };
    for (const auto& tr : tracks) {
        scanTo(tr.pos);
        next = tr.pos + tr.len;
    }
    scanTo(t.size());
    std::size_t ti = 0;
    for (std::size_t i = 0; i < t.size();) {
        if (ti < tracks.size() && tracks[ti].pos == i) {
            spans.push_back(tracks[ti]);
            i += tracks[ti++].len;
            continue;
        }
        if (!masked[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < t.size() && masked[j])
            ++j;
        spans.push_back({i, j - i, std::string(j - i, '*')});
        i = j;
    }
    return spans;
}

std::string maskCardData(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    for (const auto& s : findCardData(text)) {
        out.append(text.substr(at, s.pos - at));
        out += s.shown;
        at = s.pos + s.len;
    }
    out.append(text.substr(at));
    return out;
}

namespace {
// -1: not yet decided from the environment.
std::atomic<int> gShown{-1};
std::atomic<WipeObserver> gWipeObserver{nullptr};
}  // namespace

bool cardDataShown() {
    int v = gShown.load();
    if (v < 0) {
        const char* env = std::getenv("KORVELCOM_SHOW_CARD_DATA");
        v = env != nullptr && std::strcmp(env, "1") == 0 ? 1 : 0;
        gShown.store(v);
    }
    return v == 1;
}

void setCardDataShown(bool shown) {
    gShown.store(shown ? 1 : 0);
}

std::string cardDataForDisplay(std::string_view text) {
    return cardDataShown() ? std::string(text) : maskCardData(text);
}

void wipe(std::string& s, const char* what) {
    s.resize(s.capacity());
    volatile char* p = s.data();
    for (std::size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    if (auto* observer = gWipeObserver.load()) observer(s.data(), s.size(), what);
    s.clear();
}

void setWipeObserver(WipeObserver observer) {
    gWipeObserver.store(observer);
}

}  // namespace korvel
