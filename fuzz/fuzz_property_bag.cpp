// The text property-file loader.  Any text must give the entries and the count of refused lines
// of a model of the notation (Key = value; strings in quotation marks with \\, \" and \xHH
// escapes, or bare text; decimal numbers with one optional sign that fit 32 bits; true or false
// in any case; '#' comments).  The entries must survive their own writing, and a control that
// loads them must save a file that a second control loads and saves again byte for byte.
#include <array>
#include <charconv>
#include <optional>

#include "Driver.h"
#include "korvelcom/PropertyBags.h"
#include "persistence/PersistedSet.h"

using korvel::TextPropertyBag;
using korvel::fuzz::check;
using Entries = std::vector<korvel::MemoryPropertyBag::Entry>;

namespace {

std::string_view trim(std::string_view s) {
    const auto a = std::min(s.find_first_not_of(" \t\r"), s.size());
    return s.substr(a, s.find_last_not_of(" \t\r") + 1 - a);
}

// A quoted string; nothing for a bad escape, no closing mark, or anything but a comment after.
std::optional<std::string> quoted(std::string_view v) {
    std::string out;
    for (std::size_t i = 1; i < v.size(); ++i) {
        unsigned code = 0;
        if (v[i] == '"') {
            const std::string_view rest = trim(v.substr(i + 1));
            return rest.empty() || rest[0] == '#' ? std::optional(out) : std::nullopt;
        }
        if (v[i] != '\\')
            out += v[i];
        else if (v.substr(i + 1, 1) == "\\" || v.substr(i + 1, 1) == "\"")
            out += v[++i];
        else if (v.substr(i + 1, 1) == "x" && i + 3 < v.size() &&
                 std::from_chars(v.data() + i + 2, v.data() + i + 4, code, 16).ptr ==
                     v.data() + i + 4)
            out += static_cast<char>(code), i += 3;
        else
            return std::nullopt;
    }
    return std::nullopt;
}

korvel::PropValue bare(std::string_view t) {
    std::string low(t);
    for (char& ch : low)
        ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    if (low == "true" || low == "false") return low == "true";
    const bool sign = t.substr(0, 1) == "+" || t.substr(0, 1) == "-", minus = t.substr(0, 1) == "-";
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data() + sign, t.data() + t.size(), v);
    if (t.size() > sign && ec == std::errc() && end == t.data() + t.size() &&
        v <= INT32_MAX + uint64_t{minus})
        return static_cast<int32_t>(minus ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
    return std::string(t);
}

std::pair<Entries, std::size_t> model(std::string_view text) {
    std::pair<Entries, std::size_t> out;
    for (std::size_t from = 0, to; from < text.size(); from = to + 1) {
        to = std::min(text.find('\n', from), text.size());
        const std::string_view line = trim(text.substr(from, to - from)),
                               key = trim(line.substr(0, line.find('=')));
        const std::string_view value =
            trim(line.substr(std::min(line.find('='), line.size() - 1) + 1));
        const auto q = value.substr(0, 1) == "\"" ? quoted(value) : std::optional<std::string>("");
        if (line.empty() || line[0] == '#') continue;
        if (line.find('=') == line.npos || key.empty() || !q)
            ++out.second;
        else if (value.substr(0, 1) == "\"")
            out.first.push_back({std::string(key), *q});
        else
            out.first.push_back({std::string(key), bare(trim(value.substr(0, value.find('#'))))});
    }
    return out;
}

bool same(const Entries& a, const Entries& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](auto& x, auto& y) { return x.key == y.key && x.value == y.value; });
}

TextPropertyBag loadAndSave(TextPropertyBag& bag) {
    static korvel::SimPlatform platform;  // each control gets its own port on it
    korvel::KorvelComTools control(platform);
    control.ReadProperties(bag);
    TextPropertyBag saved;
    control.WriteProperties(saved);
    return saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TextPropertyBag bag, again;
    bag.parse(text);
    const auto [entries, refused] = model(text);
    check(bag.problems().size() == refused && same(bag.entries(), entries),
          "the entries and refusals of the notation");
    // Entries written lately skip the checks below (a table allocated once, each slot keeping
    // the last hash that fell in it): mutations of comments and spacing are common.
    static std::array<std::size_t, 1 << 16> recent{};
    const std::size_t hash = std::hash<std::string>{}(bag.text());
    if (std::exchange(recent[hash % recent.size()], hash) == hash) return 0;
    again.parse(bag.text());
    check(again.problems().empty() && same(again.entries(), entries),
          "parse, write, parse keeps the entries");
    const TextPropertyBag first = loadAndSave(bag);
    check(first.entries().size() == korvel::persistence::savingOrder().size(), "every entry saved");
    again.parse(first.text());
    check(again.problems().empty() && again.text() == first.text(),
          "a saved file reads back as saved");
    check(loadAndSave(again).text() == first.text(), "save, load, save gives the same file");
    return 0;
}
