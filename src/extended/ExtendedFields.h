// The extended request fields and the per-function time-outs as data: one table row per field
// (property name, width, initial value, write check, error tags, value mapping) and one per
// time-out (property name, initial milliseconds, the function code it serves).  The validating
// write, the request encoder, and the reply decoder all read these tables.  Pure data
// and pure functions; no control is needed to use them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::ext {

/// The extended request fields, in the order the control state holds them.  The last entry,
/// `ConfigurationReserved`, is a private field (no property): four code-0 characters that no
/// operation assigns, sent at the end of the terminal-configuration request.
enum class Field : std::size_t {
    Sequence,
    Operation,
    Amount,
    Currency,
    Control,
    Class,
    CardInfo,
    TrackISO1,
    TrackISO2,
    TrackISO3,
    ReadingType,
    TimeOut,
    Text,
    InputType,
    MinLength,
    MaxLength,
    InputOffset,
    TreatmentCard,
    CardReader,
    Printer,
    Buzzer,
    RetroPinPad,
    ApplicationCode,
    EFTNumber,
    Data,
    NumBeep,
    TicketRequest,
    ConfigurationReserved,
};
inline constexpr std::size_t kFieldCount = 28;
/// The fields that are properties of the control (all but `ConfigurationReserved`).
inline constexpr std::size_t kPropertyFieldCount = 27;

constexpr std::size_t index(Field f) {
    return static_cast<std::size_t>(f);
}

/// What a value must satisfy beyond its length.
struct Rule {
    enum class Kind { Any, OneOf, Numeric, CharCode };
    Kind kind = Kind::Any;
    std::vector<std::string_view> members;  ///< OneOf: exact, case-sensitive matches
    double min = -std::numeric_limits<double>::infinity();  ///< Numeric: inclusive bounds of
    double max = std::numeric_limits<double>::infinity();   ///< the text's numeric value
    bool nonZero = false;                                   ///< Numeric: 0 is refused
    int lowCode = 0;     ///< CharCode: every character's code lies in [lowCode, highCode]
    int highCode = 255;  ///< (codes 0 to 255)
};

/// The value is one of `members`.
Rule oneOf(std::vector<std::string_view> members);
/// The numeric value (see `numericValue`) lies from `min` to `max`, and is not 0 when
/// `nonZero`.
Rule numeric(double min, double max, bool nonZero = false);
/// Every character's code lies from `low` to `high`.
Rule charCode(int low, int high);

/// The numeric value of a text: the decimal number at its start (leading spaces skipped,
/// optional sign, digits, optional decimal part), 0 when it does not start with a number:
/// "1a" gives 1, "-5" gives -5, "ab" gives 0.
double numericValue(std::string_view text);

/// Whether `value` satisfies `rule`.
bool satisfies(const Rule& rule, std::string_view value);

/// How an accepted value is rewritten before it is stored.
enum class Mapping {
    None,
    OneElseZero,     ///< "1" stays "1"; any other character becomes "0"
    AboveZeroToOne,  ///< a character of code above 48 ("0") becomes "1"; others stay
};

struct FieldInfo {
    Field field;
    const char* name;  ///< property name, also announced to the container; nullptr: private
    std::size_t width;
    const char* initial;             ///< value of a new control; nullptr: code-0 characters
    bool exactLength = false;        ///< a write must have exactly `width` characters
    Rule rule{};                     ///< checked after the length
    const char* tag = nullptr;       ///< tag of a rejected write; nullptr: never rejected
    const char* valueTag = nullptr;  ///< tag of a rule failure when it differs from `tag`
    Mapping mapping = Mapping::None;
};

/// Every field, indexed by `Field`.
const std::array<FieldInfo, kFieldCount>& fields();
const FieldInfo& info(Field f);
/// The property field of that exact name, or nothing.
std::optional<Field> fieldNamed(std::string_view name);

/// The initial text of a field at its full width (code-0 characters where it has none).
std::string initialText(Field f);
/// The `POSAutoTimeOut` value a freshly constructed control holds before any new-instance
/// initialisation or loading; the table's "065" is the value of a newly placed control.
inline constexpr const char* kConstructedTimeOut = "002";

/// Checks a write of `value` to `f`.  On success returns nothing and leaves in `value` the
/// text to store (mapping applied, not yet fitted to the width); on rejection returns the tag.
std::optional<const char*> validate(Field f, std::string& value);

// ---- Per-function time-outs ------------------------------------------------------------

/// The function time-outs, in the order the control state holds them.
enum class Timeout : std::size_t {
    Authorization,
    AuthorizationInter,
    Recording,
    ReceiptMerchant,
    SettingExtReader,
    ReadingCard,
    DisplayingPinPadRequest,
    StatusRequest,
    SoftwareStatus,
    ClearTransactionFile,
    AbortOperation,
    SettingEFTConfiguration,
    SettingEFTApplication,
    Beep,
    CardReader,
    CBInit,
    TicketRequest,
};
inline constexpr std::size_t kTimeoutCount = 17;

constexpr std::size_t index(Timeout t) {
    return static_cast<std::size_t>(t);
}

struct TimeoutInfo {
    Timeout timeout;
    const char* name;  ///< property name
    int32_t initial;   ///< milliseconds
    const char* code;  ///< the function code it serves
    bool defaultWait;  ///< it is the code's reply wait when the caller gives none (the
                       ///< authorisation's final wait after an intermediate reply is not)
};

const std::array<TimeoutInfo, kTimeoutCount>& timeouts();
const TimeoutInfo& info(Timeout t);

/// The time-out that serves as the default reply wait of function code `fct` (exact,
/// case-sensitive): "01" gives `AuthorizationInter`; codes without a time-out (40, 50, 60,
/// 41, 51, 61, anything unlisted) give nothing.
std::optional<Timeout> replyTimeoutFor(std::string_view fct);

}  // namespace korvel::ext
