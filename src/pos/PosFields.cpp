#include "pos/PosFields.h"

#include "util/FixedWidth.h"
#include "util/Parity.h"

namespace korvel::pos {

const std::array<RequestFieldInfo, 6>& requestFields() {
    static const std::array<RequestFieldInfo, 6> table = {{
        {RequestField::Number, "POSNumber", 2, "01", true, false, "errorPOSNumberLength",
         "errorPOSNumberValue", nullptr},
        {RequestField::Amount, "POSAmount", 8, "00000001", true, true, "errorPOSAmountLength",
         "errorPOSAmountValue", "errorPOSAmountNullValue"},
        {RequestField::Rep, "POSRep", 1, "1", false, false, "errorPOSRep", nullptr, nullptr},
        {RequestField::Mode, "POSMode", 1, "0", false, false, "errorPOSMode", nullptr, nullptr},
        {RequestField::Type, "POSType", 1, "?", false, false, "errorPOSType", nullptr, nullptr},
        {RequestField::Dev, "POSDev", 3, "250", true, false, "errorPOSDevLength",
         "errorPOSDevValue", nullptr},
    }};
    return table;
}

const RequestFieldInfo& info(RequestField field) {
    return requestFields()[static_cast<std::size_t>(field)];
}

PosRecord::PosRecord() {
    resetRequest();
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = util::neverWritten(kReplyWidths[i]);
}

void PosRecord::resetRequest() {
    for (const auto& f : requestFields())
        request[static_cast<std::size_t>(f.field)] = f.initial;
    privateArea = std::string(kPrivateAreaWidth, ' ');
}

std::string PosRecord::requestMessage() const {
    std::string message;
    for (const auto& f : requestFields())
        message += util::fitLeft(request[static_cast<std::size_t>(f.field)], f.width);
    return message + util::fitLeft(privateArea, kPrivateAreaWidth);
}

void PosRecord::parseReply(const std::string& text) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        const std::size_t width = kReplyWidths[i];
        reply[i] = util::cutField(text, pos, width);
        pos += width;
    }
}

PosRecord& threadRecord() {
    thread_local PosRecord record;
    return record;
}

std::optional<const char*> check(RequestField field, const std::string& value) {
    const RequestFieldInfo& f = info(field);
    if (value.size() != f.width) return f.lengthTag;
    if (f.digits && !util::testStrDec(value)) return f.digitsTag;
    // After the digit test the numeric value is 0 exactly when every digit is '0'.
    if (f.nonZero && value.find_first_not_of('0') == std::string::npos) return f.zeroTag;
    return std::nullopt;
}

}  // namespace korvel::pos
