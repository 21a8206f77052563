// By-name access to the control's automation interface: every public member of
// `KorvelComTools` is registered once here with its kind, parameters and defaults.  The
// property page, the command line's `get NAME` / `--set NAME=VALUE`, and later the Windows
// build's IDispatch all go through this table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "korvelcom/ByteArray.h"

namespace korvel {

class KorvelComTools;

/// An automation value: empty, boolean, 16-bit or 32-bit integer, string, or byte array.
using Value = std::variant<std::monostate, bool, int16_t, int32_t, std::string, ByteArray>;

enum class ValueType { Empty, Bool, I16, I32, String, Bytes, Any };
enum class MemberKind { Get, Put, Method };

/// The call itself failed: unknown member, wrong argument count or type, a value that does not
/// convert, or a getter whose underlying component failed.
class AutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Param {
    std::string name;
    ValueType type;
    std::optional<Value> defaultValue;  ///< set for optional parameters
    bool byRef = false;                 ///< the member writes this argument back
};

struct Member {
    using Invoker = std::function<Value(KorvelComTools&, std::vector<Value>& args)>;
    std::string name;
    MemberKind kind;
    std::vector<Param> params;  ///< for Put: the one value parameter
    ValueType result;           ///< Empty for Put and for methods without result
    Invoker call;               ///< receives exactly params.size() converted arguments
};

class AutomationTable {
  public:
    /// The table of `KorvelComTools`, built once on first use.
    static const AutomationTable& instance();

    /// The member of that name and kind (names compare case-insensitively, as automation
    /// does), or nullptr.
    const Member* find(std::string_view name, MemberKind kind) const;
    const std::vector<Member>& members() const { return members_; }

    /// Registers a member; throws `std::logic_error` when the name and kind are taken.
    void add(Member member);

    /// Registers a read-write property from its getter and setter.
    template <class T, class G, class S>
    void property(const std::string& name, ValueType type, G getter, S setter);
    /// Registers a read-only property.
    template <class G>
    void readOnly(const std::string& name, ValueType type, G getter);

  private:
    std::vector<Member> members_;
};

/// Calls a member by name.  Omitted trailing optional arguments take their defaults; each
/// argument is converted to its parameter's type (integers widen and narrow when the value
/// fits, strings parse as numbers or booleans); by-reference arguments are written back into
/// `args` after the call.  Throws `AutomationError` when the call itself fails.
Value invoke(KorvelComTools& control, std::string_view name, MemberKind kind,
             std::vector<Value>& args);
/// Reads a property by name.
Value getProperty(KorvelComTools& control, std::string_view name);
/// Writes a property by name.
void setProperty(KorvelComTools& control, std::string_view name, const Value& value);

/// Converts a value to `type` (see `invoke`); throws `AutomationError` when it does not fit.
Value convertValue(const Value& value, ValueType type);
/// Text form of a value: true/false, decimal integers, the string as it is, bytes in hex.
std::string formatValue(const Value& value);
std::string_view typeName(ValueType type);

// ---- template definitions ------------------------------------------------------------------

template <class T, class G, class S>
void AutomationTable::property(const std::string& name, ValueType type, G getter, S setter) {
    readOnly(name, type, getter);
    add(Member{name,
               MemberKind::Put,
               {Param{"value", type, std::nullopt, false}},
               ValueType::Empty,
               [setter](KorvelComTools& c, std::vector<Value>& a) -> Value {
                   (c.*setter)(std::get<T>(a[0]));
                   return std::monostate{};
               }});
}

template <class G>
void AutomationTable::readOnly(const std::string& name, ValueType type, G getter) {
    add(Member{
        name, MemberKind::Get, {}, type, [getter](KorvelComTools& c, std::vector<Value>&) -> Value {
            return (c.*getter)();
        }});
}

}  // namespace korvel
