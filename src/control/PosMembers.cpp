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

// A request field's getter and checked put, by the field it reads and writes.
#define KORVEL_POS_REQUEST(Name, Field)                        \
    std::string KorvelComTools::Name() const {                 \
        return payment_->request(RequestField::Field);         \
    }                                                          \
    void KorvelComTools::set##Name(const std::string& v) {     \
        putPosField(static_cast<int>(RequestField::Field), v); \
    }
KORVEL_POS_REQUEST(POSNumber, Number)
KORVEL_POS_REQUEST(POSAmount, Amount)
KORVEL_POS_REQUEST(POSRep, Rep)
KORVEL_POS_REQUEST(POSMode, Mode)
KORVEL_POS_REQUEST(POSType, Type)
KORVEL_POS_REQUEST(POSDev, Dev)
#undef KORVEL_POS_REQUEST

void KorvelComTools::setPOSTimeout(int32_t value) {
    if (value == 0) {
        reportError("errorPOSTimeoutNullValue");
        return;
    }
    posTimeout_ = value;
    markChanged("POSTimeout");
}

// The reply fields of the last answer, read-only.
#define KORVEL_POS_REPLY(Name, Field)              \
    std::string KorvelComTools::Name() const {     \
        return payment_->reply(ReplyField::Field); \
    }
KORVEL_POS_REPLY(EFTposNumber, Number)
KORVEL_POS_REPLY(EFTposStat, Stat)
KORVEL_POS_REPLY(EFTposAmount, Amount)
KORVEL_POS_REPLY(EFTposMode, Mode)
KORVEL_POS_REPLY(EFTposRep, Rep)
KORVEL_POS_REPLY(EFTposDev, Dev)
#undef KORVEL_POS_REPLY

bool KorvelComTools::POSsend() {
    return payment_->POSsend();
}
std::string KorvelComTools::POSMessage() {
    return payment_->POSMessage(posTimeout_);
}

}  // namespace korvel
