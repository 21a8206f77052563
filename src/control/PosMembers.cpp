// The control's basic payment members: each forwards to the payment; accepted puts also tell
// the container.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"
#include "pos/Payment.h"

namespace korvel {

using pos::ReplyField;
using pos::RequestField;

void KorvelComTools::putPosField(int field, const std::string& value) {
    const auto f = static_cast<RequestField>(field);
    if (payment_->put(f, value)) markChanged(pos::info(f).name);
}

std::string KorvelComTools::POSNumber() const {
    return payment_->request(RequestField::Number);
}
std::string KorvelComTools::POSAmount() const {
    return payment_->request(RequestField::Amount);
}
std::string KorvelComTools::POSRep() const {
    return payment_->request(RequestField::Rep);
}
std::string KorvelComTools::POSMode() const {
    return payment_->request(RequestField::Mode);
}
std::string KorvelComTools::POSType() const {
    return payment_->request(RequestField::Type);
}
std::string KorvelComTools::POSDev() const {
    return payment_->request(RequestField::Dev);
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
    return payment_->reply(ReplyField::Number);
}
std::string KorvelComTools::EFTposStat() const {
    return payment_->reply(ReplyField::Stat);
}
std::string KorvelComTools::EFTposAmount() const {
    return payment_->reply(ReplyField::Amount);
}
std::string KorvelComTools::EFTposMode() const {
    return payment_->reply(ReplyField::Mode);
}
std::string KorvelComTools::EFTposRep() const {
    return payment_->reply(ReplyField::Rep);
}
std::string KorvelComTools::EFTposDev() const {
    return payment_->reply(ReplyField::Dev);
}

bool KorvelComTools::POSsend() {
    return payment_->POSsend();
}
std::string KorvelComTools::POSMessage() {
    return payment_->POSMessage(posTimeout_);
}

}  // namespace korvel
