// The in-memory and the text-file property bags.
#include "korvelcom/PropertyBags.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace korvel {
namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A decimal whole number, optional sign, surrounding spaces allowed; nothing when the text is
// not one or does not fit 64 bits.
std::optional<int64_t> wholeNumber(const std::string& text) {
    const std::string t = trim(text);
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+') {
        ++first;
        // from_chars reads a minus sign of its own: "+-5" has two signs and is no number.
        if (first != last && *first == '-') return std::nullopt;
    }
    int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (first == last || ec != std::errc() || ptr != last) return std::nullopt;
    return v;
}

int64_t toInteger(const PropValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        const auto v = wholeNumber(*s);
        if (!v) throw std::invalid_argument("not a whole number: \"" + *s + "\"");
        return *v;
    }
    if (const auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;
    if (const auto* i = std::get_if<int16_t>(&value)) return *i;
    return std::get<int32_t>(value);
}

template <class T>
T narrow(int64_t v) {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
        throw std::out_of_range(std::to_string(v) + " does not fit the property's type");
    return static_cast<T>(v);
}

}  // namespace

PropValue convertPropValue(const PropValue& value, const PropValue& like) {
    if (std::holds_alternative<std::string>(like)) return describePropValue(value);
    if (std::holds_alternative<int16_t>(like)) return narrow<int16_t>(toInteger(value));
    if (std::holds_alternative<int32_t>(like)) return narrow<int32_t>(toInteger(value));
    if (const auto* s = std::get_if<std::string>(&value)) {
        const std::string word = lower(trim(*s));
        if (word == "true") return true;
        if (word == "false") return false;
    }
    return toInteger(value) != 0;
}

std::string describePropValue(const PropValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    if (const auto* i = std::get_if<int16_t>(&value)) return std::to_string(*i);
    return std::to_string(std::get<int32_t>(value));
}

// ---- In memory -------------------------------------------------------------------------------

PropValue MemoryPropertyBag::read(const std::string& key, const PropValue& defaultValue) {
    reads_.push_back(key);
    std::vector<const Entry*> values;
    for (const Entry& e : entries_)
        if (e.key == key) values.push_back(&e);
    if (values.empty()) return defaultValue;
    std::size_t& next = cursors_[key];
    const Entry* chosen = values[std::min(next, values.size() - 1)];
    ++next;
    return convertPropValue(chosen->value, defaultValue);
}

void MemoryPropertyBag::write(const std::string& key, const PropValue& value,
                              const PropValue& defaultValue) {
    writes_.push_back(Write{key, value, defaultValue});
    if (keepDefaults_ || value != defaultValue) put(key, value);
}

void MemoryPropertyBag::put(const std::string& key, const PropValue& value) {
    entries_.push_back(Entry{key, value});
    cursors_.clear();
}

void MemoryPropertyBag::clear() {
    entries_.clear();
    writes_.clear();
    reads_.clear();
    cursors_.clear();
}

// ---- Text file -------------------------------------------------------------------------------

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out + "\"";
}

// The quoted string starting at `text[0]`; throws std::invalid_argument with the reason.
std::string unquote(const std::string& text) {
    std::string out;
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) break;
        if (text[i] == '\\' || text[i] == '"') {
            out += text[i];
        } else if (text[i] == 'x' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            throw std::invalid_argument("unknown escape \\" + std::string(1, text[i]));
        }
    }
    if (i >= text.size()) throw std::invalid_argument("missing closing quotation mark");
    const std::string rest = trim(text.substr(i + 1));
    if (!rest.empty() && rest[0] != '#')
        throw std::invalid_argument("text after the closing quotation mark");
    return out;
}

PropValue parseValue(const std::string& value) {
    if (!value.empty() && value[0] == '"') return unquote(value);
    const std::string raw = trim(value.substr(0, value.find('#')));  // a comment may follow
    const std::string word = lower(raw);
    if (word == "true") return true;
    if (word == "false") return false;
    const auto n = wholeNumber(raw);
    if (n && *n >= std::numeric_limits<int32_t>::min() && *n <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(*n);
    return raw;  // bare text: a string, which an integer or boolean read then refuses
}

}  // namespace

std::string TextPropertyBag::formatValue(const PropValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return quote(*s);
    return describePropValue(value);
}

void TextPropertyBag::parse(const std::string& text) {
    clear();
    problems_.clear();
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string content = trim(line);
        if (content.empty() || content[0] == '#') continue;
        const auto eq = content.find('=');
        const std::string key = eq == std::string::npos ? "" : trim(content.substr(0, eq));
        if (key.empty()) {
            problems_.push_back("line " + std::to_string(number) + ": expected Key = value");
            continue;
        }
        // The value's own spaces count inside quotation marks only.
        const std::string raw = trim(content.substr(eq + 1));
        try {
            put(key, parseValue(raw));
        } catch (const std::invalid_argument& e) {
            problems_.push_back("line " + std::to_string(number) + ": " + e.what());
        }
    }
}

std::string TextPropertyBag::text() const {
    std::string out =
        "# KorvelComTools saved properties: one Key = value a line.\n"
        "# Strings in \"...\" (\\\\, \\\" and \\xHH escapes), whole numbers, true or false.\n";
    for (const Entry& e : entries())
        out += e.key + " = " + formatValue(e.value) + "\n";
    return out;
}

bool TextPropertyBag::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        clear();
        problems_.clear();
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    parse(all.str());
    return true;
}

bool TextPropertyBag::save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text();
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace korvel
