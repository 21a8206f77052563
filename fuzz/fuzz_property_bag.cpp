// The text property-file loader.  Any file text is parsed, and must give exactly the entries
// and the count of refused lines that a model of the file notation written here line by line
// gives (Key = value; strings in quotation marks with \\, \" and \xHH escapes, or bare text;
// whole decimal numbers with an optional sign that fit 32 bits; true or false in any case;
// '#' comments).  What it understood must survive its own writing unchanged (parse, write, parse
// again gives the same entries in the same order, without a problem), and a control that loads it
// must save a set that loads into a second control and saves again byte for byte the same (save
// then load keeps every value, every byte of every string included).  Lines it could not understand
// are counted against the lines of the file.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"
#include "ui/PersistedProperties.h"

using korvel::TextPropertyBag;
using korvel::fuzz::check;

namespace {

// ---- The model of the file notation --------------------------------------------------------

// The model works on views into the file text and copies only what it keeps.
std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted string from its opening mark; nothing when it is not one.
std::optional<std::string> quoted(std::string_view v) {
    std::string out;
    std::size_t i = 1;
    for (; i < v.size() && v[i] != '"'; ++i) {
        if (v[i] != '\\') {
            out += v[i];
        } else if (i + 1 < v.size() && (v[i + 1] == '\\' || v[i + 1] == '"')) {
            out += v[++i];
        } else if (i + 3 < v.size() && v[i + 1] == 'x' && hexValue(v[i + 2]) >= 0 &&
                   hexValue(v[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(v[i + 2]) * 16 + hexValue(v[i + 3]));
            i += 3;
        } else {
            return std::nullopt;  // an unknown escape, or one cut by the end of the line
        }
    }
    if (i >= v.size()) return std::nullopt;  // no closing mark
    const std::string_view rest = trimmed(v.substr(i + 1));
    if (!rest.empty() && rest[0] != '#') return std::nullopt;
    return out;
}

// A whole decimal number: an optional sign, then digits only (a value far beyond 32 bits is
// kept as 10^12).
std::optional<int64_t> decimal(std::string_view t) {
    std::size_t i = t.empty() || (t[0] != '+' && t[0] != '-') ? 0 : 1;
    if (i == t.size()) return std::nullopt;
    constexpr int64_t kFar = 1'000'000'000'000;
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        v = std::min(v * 10 + (t[i] - '0'), kFar);
    }
    return t[0] == '-' ? -v : v;
}

// Whether `t` spells `word` (lower case) in any case.
bool spells(std::string_view t, std::string_view word) {
    if (t.size() != word.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        if ((t[i] >= 'A' && t[i] <= 'Z' ? t[i] - 'A' + 'a' : t[i]) != word[i]) return false;
    return true;
}

struct ModelFile {
    std::vector<korvel::MemoryPropertyBag::Entry> entries;
    std::size_t refused = 0;
};

ModelFile modelParse(std::string_view text) {
    ModelFile m;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string_view::npos) to = text.size();
        const std::string_view content = trimmed(text.substr(from, to - from));
        from = to + 1;
        if (content.empty() || content[0] == '#') continue;
        const auto eq = content.find('=');
        const std::string_view key =
            eq == std::string_view::npos ? std::string_view() : trimmed(content.substr(0, eq));
        if (key.empty()) {
            ++m.refused;
            continue;
        }
        const std::string_view value = trimmed(content.substr(eq + 1));
        if (!value.empty() && value[0] == '"') {
            auto s = quoted(value);
            if (s)
                m.entries.push_back({std::string(key), std::move(*s)});
            else
                ++m.refused;
            continue;
        }
        const std::string_view bare = trimmed(value.substr(0, value.find('#')));
        const auto n = decimal(bare);
        if (spells(bare, "true") || spells(bare, "false"))
            m.entries.push_back({std::string(key), spells(bare, "true")});
        else if (n && *n >= INT32_MIN && *n <= INT32_MAX)
            m.entries.push_back({std::string(key), static_cast<int32_t>(*n)});
        else
            m.entries.push_back({std::string(key), std::string(bare)});
    }
    return m;
}

// ---- The checks ----------------------------------------------------------------------------

bool sameEntries(const TextPropertyBag& a, const TextPropertyBag& b) {
    const auto& x = a.entries();
    const auto& y = b.entries();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i].key != y[i].key || x[i].value != y[i].value) return false;
    return true;
}

std::size_t lineCount(const std::string& text) {
    std::size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n + (!text.empty() && text.back() != '\n');
}

// FNV-1a over the entries' keys, value types and values, without building any text; with
// `onlyKeys`, over the entries under those keys only.
std::size_t entriesHash(const TextPropertyBag& bag,
                        const std::unordered_set<std::string>* onlyKeys = nullptr) {
    uint64_t h = 14695981039346656037ull;
    const auto mix = [&h](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            h ^= static_cast<const unsigned char*>(p)[i];
            h *= 1099511628211ull;
        }
    };
    for (const auto& e : bag.entries()) {
        if (onlyKeys && !onlyKeys->count(e.key)) continue;
        const std::size_t lengths[] = {e.key.size(), e.value.index()};
        mix(lengths, sizeof lengths);
        mix(e.key.data(), e.key.size());
        std::visit(
            [&](const auto& v) {
                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
                    const std::size_t n = v.size();
                    mix(&n, sizeof n);
                    mix(v.data(), v.size());
                } else {
                    const int64_t n = v;
                    mix(&n, sizeof n);
                }
            },
            e.value);
    }
    return static_cast<std::size_t>(h);
}

// Loads `bag` into a new control and returns what that control saves.
TextPropertyBag loadAndSave(TextPropertyBag& bag) {
    static korvel::SimPlatform platform;  // each control gets its own port on it
    korvel::KorvelComTools control(platform);
    control.ReadProperties(bag);
    TextPropertyBag saved;
    control.WriteProperties(saved);
    return saved;
}

// The hashes of the entry sets checked so far, in a table allocated once.  A growing
// container would allocate in most runs, and libFuzzer looks for a leak (a full scan of the
// heap) after every run whose allocations and frees do not match.
class SeenSets {
  public:
    /// Adds `hash`; false when it was there already.
    bool insert(std::size_t hash) {
        if (hash == 0) hash = 1;  // 0 marks a free slot
        if (used_ >= kSlots / 2) {
            std::fill(slots_.begin(), slots_.end(), 0);  // half full: start over
            used_ = 0;
        }
        std::size_t i = hash & (kSlots - 1);
        for (; slots_[i] != 0; i = (i + 1) & (kSlots - 1))
            if (slots_[i] == hash) return false;
        slots_[i] = hash;
        ++used_;
        return true;
    }

  private:
    static constexpr std::size_t kSlots = std::size_t{1} << 21;
    std::vector<std::size_t> slots_ = std::vector<std::size_t>(kSlots);
    std::size_t used_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    TextPropertyBag bag;
    bag.parse(text);
    check(bag.entries().size() + bag.problems().size() <= lineCount(text),
          "at most one entry or problem a line");
    const ModelFile model = modelParse(text);
    check(bag.problems().size() == model.refused, "the lines refused are those of the notation");
    check(bag.entries().size() == model.entries.size(), "one entry for each line understood");
    for (std::size_t i = 0; i < model.entries.size(); ++i) {
        check(bag.entries()[i].key == model.entries[i].key, "an entry's key");
        check(bag.entries()[i].value == model.entries[i].value, "an entry's type and value");
    }

    // The checks below depend only on the entries.  Entries already checked in this run (a
    // mutation that changed only comments, spacing or refused lines) are not checked again;
    // they are told apart by a 64-bit hash.
    static SeenSets written;
    if (!written.insert(entriesHash(bag))) return 0;

    // What was understood survives its own writing.
    TextPropertyBag again;
    again.parse(bag.text());
    check(again.problems().empty(), "the written file parses without problems");
    check(sameEntries(bag, again), "parse, write, parse keeps the entries");

    // Save then load keeps every value.  What a control loads depends only on the entries
    // under keys of the saved set, in order; a set of those already checked (a mutation that
    // changed only other keys) is not checked again.
    static const std::unordered_set<std::string> keys = [] {
        std::unordered_set<std::string> k;
        for (const auto& row : korvel::ui::persistedRows())
            k.insert(row.key);
        return k;
    }();
    static SeenSets loaded;
    if (!loaded.insert(entriesHash(bag, &keys))) return 0;
    TextPropertyBag first = loadAndSave(bag);
    check(first.entries().size() == korvel::ui::persistedRows().size(), "every row saved");
    const std::string firstText = first.text();
    TextPropertyBag reread;
    reread.parse(firstText);
    check(reread.problems().empty(), "a saved file parses without problems");
    check(reread.text() == firstText, "a saved file reads back as saved");
    TextPropertyBag second = loadAndSave(reread);
    check(second.text() == firstText, "save, load, save gives the same file");
    return 0;
}
