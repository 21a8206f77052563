// The basic payment: validating puts of the request fields, the request, the reply wait and
// the reply fields.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"
#include "pos/PosFields.h"

namespace korvel {

using pos::ReplyField;
using pos::RequestField;

namespace {
const std::string& requestValue(RequestField f) {
    return pos::threadRecord().request[static_cast<std::size_t>(f)];
}
const std::string& replyValue(ReplyField f) {
    return pos::threadRecord().reply[static_cast<std::size_t>(f)];
}
}  // namespace

void KorvelComTools::putPosField(int field, const std::string& value) {
    const auto f = static_cast<RequestField>(field);
    if (const auto tag = pos::check(f, value)) {
        reportError(*tag);  // the field keeps its value
        return;
    }
    pos::threadRecord().request[static_cast<std::size_t>(f)] = value;
    markChanged(pos::info(f).name);
}

std::string KorvelComTools::POSNumber() const {
    return requestValue(RequestField::Number);
}
std::string KorvelComTools::POSAmount() const {
    return requestValue(RequestField::Amount);
}
std::string KorvelComTools::POSRep() const {
    return requestValue(RequestField::Rep);
}
std::string KorvelComTools::POSMode() const {
    return requestValue(RequestField::Mode);
}
std::string KorvelComTools::POSType() const {
    return requestValue(RequestField::Type);
}
std::string KorvelComTools::POSDev() const {
    return requestValue(RequestField::Dev);
}

void KorvelComTools::setPOSNumber(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Number), v);
}
void KorvelComTools::setPOSAmount(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Amount), v);
}
void KorvelComTools::setPOSRep(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Rep), v);
}
void KorvelComTools::setPOSMode(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Mode), v);
}
void KorvelComTools::setPOSType(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Type), v);
}
void KorvelComTools::setPOSDev(const std::string& v) {
    putPosField(static_cast<int>(RequestField::Dev), v);
}

void KorvelComTools::setPOSTimeout(int32_t value) {
    if (value == 0) {
        reportError("errorPOSTimeoutNullValue");
        return;
    }
    posTimeout_ = value;
    markChanged("POSTimeout");
}

std::string KorvelComTools::EFTposNumber() const {
    return replyValue(ReplyField::Number);
}
std::string KorvelComTools::EFTposStat() const {
    return replyValue(ReplyField::Stat);
}
std::string KorvelComTools::EFTposAmount() const {
    return replyValue(ReplyField::Amount);
}
std::string KorvelComTools::EFTposMode() const {
    return replyValue(ReplyField::Mode);
}
std::string KorvelComTools::EFTposRep() const {
    return replyValue(ReplyField::Rep);
}
std::string KorvelComTools::EFTposDev() const {
    return replyValue(ReplyField::Dev);
}

bool KorvelComTools::POSsend() {
    return guarded("errorHandlerPOSsend", false,
                   [&] { return SendMessage(pos::threadRecord().requestMessage()); });
}

std::string KorvelComTools::POSMessage() {
    std::string result;
    try {
        pos::PosRecord& record = pos::threadRecord();
        record.parseReply(result);
        if (!POSsend()) return result;
        // The exchange raises the event itself, once the reply fields are filled.
        if (st_.ReceiveEnabled) st_.ReceivedEventDeferred = true;
        result = RecMessage(posTimeout_);
        record.parseReply(result);
        if (!result.empty() && st_.ReceiveEnabled && st_.MessageReady && sink_)
            sink_->ReceivedEvent();
        return result;
    } catch (...) {
        // Falls through to the failure path below.
    }
    reportError("errorHandlerPOSMessage");
    return result;
}

}  // namespace korvel
