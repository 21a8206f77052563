// The by-name layer over the member table: lookup by name or dispatch id, the conversions of
// argument values to parameter types, and calls with defaults and write-back.
#include "korvelcom/Automation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

#include "korvelcom/KorvelComTools.h"

namespace korvel {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<int64_t> parseInteger(const std::string& text) {
    int64_t v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    int base = 10;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        first += 2;
        base = 16;
    }
    const auto [ptr, ec] = std::from_chars(first, last, v, base);
    if (ec != std::errc() || ptr != last || first == last) return std::nullopt;
    return v;
}

template <class T>
T narrow(int64_t v, std::string_view what) {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
        throw AutomationError("value " + std::to_string(v) + " does not fit " + std::string(what));
    return static_cast<T>(v);
}

}  // namespace

bool VariantArray::operator==(const VariantArray& other) const {
    return lbound == other.lbound && elements == other.elements;
}

const Member* AutomationTable::find(std::string_view name, MemberKind kind) const {
    for (const Member& m : members_)
        if (m.kind == kind && sameName(m.name, name)) return &m;
    return nullptr;
}

const Member* AutomationTable::find(int32_t id, MemberKind kind) const {
    for (const Member& m : members_)
        if (m.kind == kind && (m.id == id || (m.standardId != 0 && m.standardId == id))) return &m;
    return nullptr;
}

void AutomationTable::add(Member member) {
    if (find(member.name, member.kind))
        throw std::logic_error("automation member registered twice: " + member.name);
    // A property's get and put share their id; no other two names do within an id space.
    const bool event = member.kind == MemberKind::Event;
    for (const Member& m : members_)
        if ((m.kind == MemberKind::Event) == event && !sameName(m.name, member.name) &&
            (m.id == member.id || (member.standardId != 0 && m.standardId == member.standardId)))
            throw std::logic_error("dispatch id taken twice: " + member.name);
    if (member.id == 0) throw std::logic_error("automation member without an id: " + member.name);
    members_.push_back(std::move(member));
}

std::string_view typeName(ValueType type) {
    switch (type) {
        case ValueType::Empty:
            return "empty";
        case ValueType::Bool:
            return "boolean";
        case ValueType::I16:
            return "16-bit integer";
        case ValueType::I32:
            return "32-bit integer";
        case ValueType::String:
            return "string";
        case ValueType::Bytes:
            return "byte array";
        case ValueType::Any:
            return "variant";
        case ValueType::Array:
            return "array of variants";
    }
    return "?";
}

Value convertValue(const Value& value, ValueType type) {
    if (type == ValueType::Any) return value;
    // Integer view of the value, when it has one.
    auto asInteger = [&]() -> std::optional<int64_t> {
        if (auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;  // automation's true is -1
        if (auto* i = std::get_if<int16_t>(&value)) return *i;
        if (auto* i = std::get_if<int32_t>(&value)) return *i;
        if (auto* s = std::get_if<std::string>(&value)) return parseInteger(*s);
        return std::nullopt;
    };
    switch (type) {
        case ValueType::Empty:
            return std::monostate{};
        case ValueType::Bool: {
            if (auto* s = std::get_if<std::string>(&value)) {
                std::string l(*s);
                std::transform(l.begin(), l.end(), l.begin(),
                               [](unsigned char c) { return std::tolower(c); });
                if (l == "true" || l == "yes" || l == "on") return true;
                if (l == "false" || l == "no" || l == "off") return false;
            }
            if (auto v = asInteger()) return *v != 0;
            break;
        }
        case ValueType::I16:
            if (auto v = asInteger()) return narrow<int16_t>(*v, "a 16-bit integer");
            break;
        case ValueType::I32:
            if (auto v = asInteger()) return narrow<int32_t>(*v, "a 32-bit integer");
            break;
        case ValueType::String:
            if (auto* s = std::get_if<std::string>(&value)) return *s;
            if (auto* b = std::get_if<bool>(&value)) return std::string(*b ? "True" : "False");
            if (auto v = asInteger()) return std::to_string(*v);
            if (auto* a = std::get_if<ByteArray>(&value))
                return std::string(a->bytes.begin(), a->bytes.end());
            break;
        case ValueType::Bytes:
            if (auto* a = std::get_if<ByteArray>(&value)) return *a;
            if (auto* s = std::get_if<std::string>(&value)) return ByteArray::fromString(*s);
            break;
        case ValueType::Array:
            if (auto* a = std::get_if<VariantArray>(&value)) return *a;
            if (std::holds_alternative<std::monostate>(value)) return VariantArray{};
            break;
        case ValueType::Any:
            break;
    }
    throw AutomationError("the value does not convert to a " + std::string(typeName(type)));
}

std::string formatValue(const Value& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(int16_t v) const { return std::to_string(v); }
        std::string operator()(int32_t v) const { return std::to_string(v); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const ByteArray& a) const {
            std::string out = "[" + std::to_string(a.lbound) + "]";
            char hex[4];
            for (uint8_t b : a.bytes) {
                std::snprintf(hex, sizeof hex, " %02X", b);
                out += hex;
            }
            return out;
        }
        std::string operator()(const VariantArray& a) const {
            std::string out = "[" + std::to_string(a.lbound) + "] {";
            for (std::size_t i = 0; i < a.elements.size(); ++i) {
                const Value& e = a.elements[i];
                std::string text = std::visit(*this, static_cast<const Value::variant&>(e));
                if (std::holds_alternative<std::string>(e)) {  // quoted, quotes doubled
                    for (std::size_t q = text.find('"'); q != std::string::npos;
                         q = text.find('"', q + 2))
                        text.insert(q, 1, '"');
                    text = '"' + text + '"';
                }
                out += (i ? ", " : "") + text;
            }
            return out + "}";
        }
    };
    return std::visit(Visitor{}, static_cast<const Value::variant&>(value));
}

Value invoke(KorvelComTools& control, std::string_view name, MemberKind kind,
             std::vector<Value>& args) {
    const Member* m = AutomationTable::instance().find(name, kind);
    if (!m) throw AutomationError("no such member: " + std::string(name));
    return invoke(control, *m, args);
}

Value invoke(KorvelComTools& control, const Member& member, std::vector<Value>& args) {
    const Member* m = &member;
    if (!m->call) throw AutomationError(m->name + ": an event is raised, not called");
    if (args.size() > m->params.size()) throw AutomationError(m->name + ": too many arguments");
    std::vector<Value> call;
    call.reserve(m->params.size());
    for (std::size_t i = 0; i < m->params.size(); ++i) {
        const Param& p = m->params[i];
        // An empty value omits an optional argument; for an array it is a fresh variable.
        if (i < args.size() &&
            (!std::holds_alternative<std::monostate>(args[i]) || p.type == ValueType::Array)) {
            call.push_back(convertValue(args[i], p.type));
        } else if (p.defaultValue) {
            call.push_back(*p.defaultValue);
        } else {
            throw AutomationError(m->name + ": argument " + p.name + " is not optional");
        }
    }
    Value result;
    try {
        result = m->call(control, call);
    } catch (const AutomationError&) {
        throw;
    } catch (const std::exception& e) {
        // Only members documented to fail the call itself let anything escape.
        throw AutomationError(m->name + ": " + e.what());
    }
    for (std::size_t i = 0; i < args.size(); ++i)
        if (m->params[i].writesBack) args[i] = call[i];
    return result;
}

Value getProperty(KorvelComTools& control, std::string_view name) {
    std::vector<Value> none;
    return invoke(control, name, MemberKind::Get, none);
}

void setProperty(KorvelComTools& control, std::string_view name, const Value& value) {
    std::vector<Value> args{value};
    invoke(control, name, MemberKind::Put, args);
}

}  // namespace korvel
