#include "extended/ExtendedFields.h"

#include <algorithm>

#include "util/FixedWidth.h"
#include "util/Scramble.h"

namespace korvel::ext {

Rule oneOf(std::vector<std::string_view> members) {
    Rule r;
    r.kind = Rule::Kind::OneOf;
    r.members = std::move(members);
    return r;
}

Rule numeric(double min, double max, bool nonZero) {
    Rule r;
    r.kind = Rule::Kind::Numeric;
    r.min = min;
    r.max = max;
    r.nonZero = nonZero;
    return r;
}

Rule charCode(int low, int high) {
    Rule r;
    r.kind = Rule::Kind::CharCode;
    r.lowCode = low;
    r.highCode = high;
    return r;
}

double numericValue(std::string_view text) {
    return util::leadingNumber(text);
}

bool satisfies(const Rule& rule, std::string_view value) {
    switch (rule.kind) {
        case Rule::Kind::Any:
            return true;
        case Rule::Kind::OneOf:
            return std::find(rule.members.begin(), rule.members.end(), value) != rule.members.end();
        case Rule::Kind::Numeric: {
            const double v = numericValue(value);
            return v >= rule.min && v <= rule.max && !(rule.nonZero && v == 0.0);
        }
        case Rule::Kind::CharCode:
            return std::all_of(value.begin(), value.end(), [&](char c) {
                const int code = static_cast<unsigned char>(c);
                return code >= rule.lowCode && code <= rule.highCode;
            });
    }
    return false;
}

namespace {

constexpr double kNoBound = std::numeric_limits<double>::infinity();

// A field whose write accepts any text of exactly its width.
FieldInfo exact(Field f, const char* name, std::size_t width, const char* initial,
                const char* tag) {
    return FieldInfo{.field = f,
                     .name = name,
                     .width = width,
                     .initial = initial,
                     .exactLength = true,
                     .rule = {},
                     .tag = tag};
}

std::array<FieldInfo, kFieldCount> buildFields() {
    using F = Field;
    const auto digitCodes = charCode('0', '9');
    const auto lengthCodes = charCode('0', '?');  // "0" to "9", ":", ";", "<", "=", ">", "?"
    return {{
        {.field = F::Sequence,
         .name = "POSAutoSequence",
         .width = 2,
         .initial = "01",
         .exactLength = true,
         .rule = numeric(1, 99),
         .tag = "errorPOSAutoSequenceValue"},
        exact(F::Operation, "POSAutoOperation", 4, "0000", "errorPOSAutoOperationValue"),
        exact(F::Amount, "POSAutoAmount", 12, "000000000001", "errorPOSAutoAmountValue"),
        exact(F::Currency, "POSAutoCurrency", 3, "250", "errorPOSAutoCurrency"),
        {.field = F::Control,
         .name = "POSAutoControl",
         .width = 1,
         .initial = "0",
         .rule = oneOf({"0", "1", "2", "3", "4", "5", "p", "q", "s"}),
         .tag = "errorPOSAutoControl"},
        {.field = F::Class,
         .name = "POSAutoClass",
         .width = 2,
         .initial = "10",
         .rule = oneOf({"10", "21", "22"}),
         .tag = "errorPOSAutoClass"},
        // Filled by the authorisation reply; the host may write any text, fitted to 27.
        {.field = F::CardInfo, .name = "POSAutoCardInfo", .width = 27, .initial = ""},
        exact(F::TrackISO1, "POSAutoTrackISO1", 107, nullptr, "errorPOSAutoTrackISO1"),
        exact(F::TrackISO2, "POSAutoTrackISO2", 40, nullptr, "errorPOSAutoTrackISO2"),
        exact(F::TrackISO3, "POSAutoTrackISO3", 79, nullptr, "errorPOSAutoTrackISO3"),
        {.field = F::ReadingType,
         .name = "POSAutoReadingType",
         .width = 1,
         .initial = "0",
         .rule = oneOf({"0", "1", "2"}),
         .tag = "errorPOSAutoReadingType"},
        // Seconds as three characters; the only field whose tag is its bare name.  A negative
        // value passes.
        {.field = F::TimeOut,
         .name = "POSAutoTimeOut",
         .width = 3,
         .initial = "065",
         .exactLength = true,
         .rule = numeric(-kNoBound, 65, true),
         .tag = "POSAutoTimeOut"},
        exact(F::Text, "POSAutoText", 80, nullptr, "errorPOSAutoText"),
        {.field = F::InputType,
         .name = "POSAutoInputType",
         .width = 1,
         .initial = "0",
         .rule = oneOf({"0", "1", "9"}),
         .tag = "errorPOSAutoInputType"},
        {.field = F::MinLength,
         .name = "POSAutoMinLength",
         .width = 1,
         .initial = "0",
         .exactLength = true,
         .rule = lengthCodes,
         .tag = "errorPOSAutoMinLength"},
        {.field = F::MaxLength,
         .name = "POSAutoMaxLength",
         .width = 1,
         .initial = "9",
         .exactLength = true,
         .rule = lengthCodes,
         .tag = "errorPOSAutoMaxLength"},
        // No lower bound on write (the encoder adds 0); a value above 79 has its own tag,
        // which ends with a space.
        {.field = F::InputOffset,
         .name = "POSAutoInputOffset",
         .width = 2,
         .initial = "00",
         .exactLength = true,
         .rule = numeric(-kNoBound, 79),
         .tag = "errorPOSAutoInputOffset",
         .valueTag = "errorPOSAutoInputOffset "},
        {.field = F::TreatmentCard,
         .name = "POSAutoTreatmentCard",
         .width = 1,
         .initial = "0",
         .exactLength = true,
         .tag = "errorPOSAutoTreatmentCard",
         .mapping = Mapping::OneElseZero},
        {.field = F::CardReader,
         .name = "POSAutoCardReader",
         .width = 1,
         .initial = "0",
         .exactLength = true,
         .rule = oneOf({"0", "1", "2"}),
         .tag = "errorPOSAutoCardReader"},
        {.field = F::Printer,
         .name = "POSAutoPrinter",
         .width = 1,
         .initial = "2",
         .exactLength = true,
         .rule = oneOf({"0", "1", "2"}),
         .tag = "errorPOSAutoPrinter"},
        {.field = F::Buzzer,
         .name = "POSAutoBuzzer",
         .width = 1,
         .initial = "1",
         .exactLength = true,
         .tag = "errorPOSAutoBuzzer",
         .mapping = Mapping::AboveZeroToOne},
        {.field = F::RetroPinPad,
         .name = "POSAutoRetroPinPad",
         .width = 1,
         .initial = "1",
         .exactLength = true,
         .tag = "errorPOSAutoRetroPinPad",
         .mapping = Mapping::AboveZeroToOne},
        exact(F::ApplicationCode, "POSAutoApplicationCode", 4, nullptr,
              "errorPOSAutoApplicationCode"),
        exact(F::EFTNumber, "POSAutoEFTNumber", 3, nullptr, "errorPOSAutoEFTNumber"),
        exact(F::Data, "POSAutoData", 16, nullptr, "errorPOSAutoData"),
        {.field = F::NumBeep,
         .name = "POSAutoNumBeep",
         .width = 1,
         .initial = "1",
         .exactLength = true,
         .rule = digitCodes,
         .tag = "errorPOSAutoNumBeep"},
        exact(F::TicketRequest, "POSAutoTicketRequest", 1, nullptr, "errorPOSAutoTicketRequest"),
        {.field = F::ConfigurationReserved, .name = nullptr, .width = 4, .initial = nullptr},
    }};
}

}  // namespace

const std::array<FieldInfo, kFieldCount>& fields() {
    static const std::array<FieldInfo, kFieldCount> table = buildFields();
    return table;
}

const FieldInfo& info(Field f) {
    return fields()[index(f)];
}

std::optional<Field> fieldNamed(std::string_view name) {
    for (const FieldInfo& f : fields())
        if (f.name && name == f.name) return f.field;
    return std::nullopt;
}

std::string initialText(Field f) {
    const FieldInfo& fi = info(f);
    return fi.initial ? util::fitLeft(fi.initial, fi.width) : util::neverWritten(fi.width);
}

std::optional<const char*> validate(Field f, std::string& value) {
    const FieldInfo& fi = info(f);
    if (!fi.tag) return std::nullopt;  // never rejected, stored as given
    if (fi.exactLength && value.size() != fi.width) return fi.tag;
    if (!satisfies(fi.rule, value)) return fi.valueTag ? fi.valueTag : fi.tag;
    switch (fi.mapping) {
        case Mapping::None:
            break;
        case Mapping::OneElseZero:
            if (value != "1") value = "0";
            break;
        case Mapping::AboveZeroToOne:
            // Exactly one character here (the length was checked).
            if (static_cast<unsigned char>(value[0]) > '0') value = "1";
            break;
    }
    return std::nullopt;
}

// ---- Per-function time-outs ------------------------------------------------------------

const std::array<TimeoutInfo, kTimeoutCount>& timeouts() {
    using T = Timeout;
    static const std::array<TimeoutInfo, kTimeoutCount> table = {{
        // The wait for the final authorisation reply after an intermediate one.
        {T::Authorization, "POSAutoTOfctAuthorization", 400000, "01", false},
        {T::AuthorizationInter, "POSAutoTOfctAuthorizationInter", 150000, "01", true},
        {T::Recording, "POSAutoTOfctRecording", 40000, "03", true},
        {T::ReceiptMerchant, "POSAutoTOfctReceiptMerchant", 5000, "04", true},
        {T::SettingExtReader, "POSAutoTOfctSettingExtReader", 30000, "10", true},
        // Also the source of the seconds sent in the card-reading requests.
        {T::ReadingCard, "POSAutoTOfctReadingCard", 65000, "11", true},
        // Also the source of the seconds sent in the PIN-pad display request.
        {T::DisplayingPinPadRequest, "POSAutoTOfctDisplayingPinPadRequest", 65000, "12", true},
        {T::StatusRequest, "POSAutoTOfctStatusRequest", 40000, "14", true},
        {T::SoftwareStatus, "POSAutoTOfctSoftwareStatus", 2000, "15", true},
        {T::ClearTransactionFile, "POSAutoTOfctClearTransactionFile", 1800000, "16", true},
        {T::AbortOperation, "POSAutoTOfctAbortOperation", 30000, "17", true},
        {T::SettingEFTConfiguration, "POSAutoTOfctSettingEFTConfiguration", 2000, "18", true},
        {T::SettingEFTApplication, "POSAutoTOfctSettingEFTApplication", 2000, "19", true},
        {T::Beep, "POSAutoTOfctBeep", 10000, "20", true},
        {T::CardReader, "POSAutoTOfctCardReader", 2000, "21", true},
        // Code 22 has a reply wait but no request layout: the encoder refuses it.
        {T::CBInit, "POSAutoTOfctCBInit", 2000, "22", true},
        {T::TicketRequest, "POSAutoTOfctTicketRequest", 2000, "23", true},
    }};
    return table;
}

const TimeoutInfo& info(Timeout t) {
    return timeouts()[index(t)];
}

std::optional<Timeout> replyTimeoutFor(std::string_view fct) {
    for (const TimeoutInfo& t : timeouts())
        if (t.defaultWait && fct == t.code) return t.timeout;
    return std::nullopt;
}

}  // namespace korvel::ext
