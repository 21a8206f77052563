// By-name access to the control's automation interface.  Every member of `KorvelComTools` (and
// every event of `KorvelComToolsEvents`) is one line of one declarative table
// (src/control/automation_members.cpp): name, kind, parameters with their names, types,
// defaults and write-back, result type, dispatch id and, for persisted properties, the key and
// defaults the property bag sees.  The property page, the command line's `get NAME` /
// `--set NAME=VALUE`, property persistence and the Windows build's IDispatch all read it.
//
// Adding a member: add its field or function to the control, then one line to the table with
// the next free dispatch id of its space (members 1 up, events 1 up).  Ids are checked in and
// never renumbered or reused, so that hosts compiled against an older type library keep
// working; the surface test in tests/control fails when one changes.
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

struct Value;

/// A one-dimensional array of automation values with its lower bound (an automation host's
/// array of variants): element `i` of `elements` is the host's element `lbound + i`.
struct KORVELCOM_API VariantArray {
    int32_t lbound = 0;
    std::vector<Value> elements;
    bool operator==(const VariantArray& other) const;
};

/// An automation value: empty, boolean, 16-bit or 32-bit integer, string, byte array, or an
/// array of values.  It is a `std::variant` (`std::get`, `std::holds_alternative` and
/// `std::visit` apply).
struct Value
    : std::variant<std::monostate, bool, int16_t, int32_t, std::string, ByteArray, VariantArray> {
    using variant::variant;
    using variant::operator=;
};

/// A value's declared type.  `Any` is a variant (any value, also the empty one); `Array` an
/// array of variants.
enum class ValueType { Empty, Bool, I16, I32, String, Bytes, Any, Array };
/// Property get, property put, method, or event (raised by the control, not callable).
enum class MemberKind { Get, Put, Method, Event };

/// The dispatch id containers use for the about box; `ShowAbout` answers to it too.
inline constexpr int32_t kAboutBoxDispatchId = -552;

/// The call itself failed: unknown member, wrong argument count or type, a value that does not
/// convert, or a getter whose underlying component failed.
class KORVELCOM_API AutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Param {
    std::string name;
    ValueType type;
    std::optional<Value> defaultValue{};  ///< set for optional parameters
    bool writesBack = false;  ///< the member changes this argument; the caller's variable follows
    /// Declared by reference (as every parameter of a method, indexed read and event is);
    /// false only for a property put's value.  A by-reference parameter need not be written.
    bool byRef = true;
};

/// How a persisted property is saved into and loaded from the container's property bag.
/// Properties are saved in the order of their table lines.
struct Persisted {
    std::string key;    ///< the bag's key (the property's name unless the line says otherwise)
    Value saveDefault;  ///< the default written with the value, of the property's type
    Value loadDefault;  ///< the default read with (differs only for "POSAutoTimeOut")
    /// 1, 2, ...: loaded in this order ahead of every other entry; 0: loaded after those, in
    /// the order of saving.
    int loadRank = 0;
    /// Loading stores the value without the put's checks (a fixed-width field is fitted to its
    /// width); otherwise loading calls the put, which then announces nothing.
    bool unchecked = false;
    /// Set on the operation number only: the operation number the payment replies must carry
    /// is saved right after it, under the same key, with this default.
    std::optional<Value> expectedOperation{};
};

struct Member {
    using Invoker = std::function<Value(KorvelComTools&, std::vector<Value>& args)>;
    std::string name;
    MemberKind kind;
    std::vector<Param> params;  ///< for Put: the one value parameter
    ValueType result;           ///< Empty for Put, events and methods without result; Any for a
                                ///< variant result (which may be the empty value)
    Invoker call;               ///< receives exactly params.size() converted arguments; empty
                                ///< for events
    int32_t id = 0;             ///< dispatch id; a property's get and put share it
    int32_t standardId = 0;     ///< a standard dispatch id it also answers to (0: none)
    std::optional<Persisted> persisted{};  ///< on the get and the put of a persisted property
};

class KORVELCOM_API AutomationTable {
  public:
    /// The table of `KorvelComTools`, built once on first use.
    static const AutomationTable& instance();

    /// The member of that name and kind (names compare case-insensitively, as automation
    /// does), or nullptr.
    const Member* find(std::string_view name, MemberKind kind) const;
    /// The member of that dispatch id (or standard id) and kind, or nullptr.  Events have
    /// their own ids.
    const Member* find(int32_t id, MemberKind kind) const;
    /// Every member in the order of the table's lines (a property's get before its put).
    const std::vector<Member>& members() const { return members_; }

    /// Registers a member; throws `std::logic_error` when the name and kind are taken, or the
    /// id is 0 or belongs to a member of another name in the same id space.
    void add(Member member);

  private:
    std::vector<Member> members_;
};

/// Calls a member by name.  Omitted trailing optional arguments take their defaults; each
/// argument is converted to its parameter's type (integers widen and narrow when the value
/// fits, strings parse as numbers or booleans; an empty value passed for an array is an array
/// not yet dimensioned); arguments the member writes back are replaced in `args` after the
/// call.  Throws `AutomationError` when the call itself fails.
KORVELCOM_API Value invoke(KorvelComTools& control, std::string_view name, MemberKind kind,
                           std::vector<Value>& args);
/// Calls a member found in the table (as `invoke`).
KORVELCOM_API Value invoke(KorvelComTools& control, const Member& member, std::vector<Value>& args);
/// Reads a property by name.
KORVELCOM_API Value getProperty(KorvelComTools& control, std::string_view name);
/// Writes a property by name.
KORVELCOM_API void setProperty(KorvelComTools& control, std::string_view name, const Value& value);

/// Converts a value to `type` (see `invoke`); throws `AutomationError` when it does not fit.
KORVELCOM_API Value convertValue(const Value& value, ValueType type);
/// Text form of a value: true/false, decimal integers, the string as it is, bytes in hex
/// ("[LBOUND] 41 42"), an array as its lower bound and its elements' forms, strings quoted
/// ("[0] {"", "-a", 7}").
KORVELCOM_API std::string formatValue(const Value& value);
KORVELCOM_API std::string_view typeName(ValueType type);

}  // namespace korvel
