// The control's extended request fields and function time-outs: one generic read and one
// validating write over the field table, and the named members as one-line wrappers.
#include "control/Guarded.h"
#include "extended/ExtendedState.h"
#include "korvelcom/CardData.h"
#include "util/FixedWidth.h"

namespace korvel {

using ext::Field;
using ext::Timeout;

void KorvelComTools::ExtendedState::store(Field f, const std::string& text) {
    field(f) = util::fitLeft(text, ext::info(f).width);
}

void KorvelComTools::ExtendedStateDeleter::operator()(ExtendedState* state) const noexcept {
    // The request fields hold the card's tracks after a card reading, the results its data.
    for (auto& field : state->fields)
        wipe(field, "extended field");
    for (auto& result : state->results)
        wipe(result, "extended result");
    delete state;
}

void KorvelComTools::resetExtended(bool newInstance) {
    if (!ext_) ext_.reset(new ExtendedState);
    ExtendedState& s = *ext_;
    for (const ext::FieldInfo& f : ext::fields()) {
        // A field without an initial value holds code 0 until first written: creation gives
        // it that, new-instance initialisation leaves it as it is.
        if (newInstance && !f.initial) continue;
        s.field(f.field) = ext::initialText(f.field);
    }
    if (!newInstance) s.field(Field::TimeOut) = ext::kConstructedTimeOut;
    for (const ext::TimeoutInfo& t : ext::timeouts())
        s.timeout(t.timeout) = t.initial;
    s.incSequenceEnabled = true;
    s.status = "99";
    s.statusCard = "99";
}

std::string KorvelComTools::extendedField(int field) const {
    return ext_->field(static_cast<Field>(field));
}

void KorvelComTools::putExtendedField(int field, const std::string& value) {
    const auto f = static_cast<Field>(field);
    std::string text = value;  // the write's own copy, mapped in place
    std::optional<const char*> tag;
    ignoreFailure([&] { tag = ext::validate(f, text); });
    if (tag) {
        reportError(*tag);  // the field keeps its value
        return;
    }
    ignoreFailure([&] { ext_->store(f, text); });
    markChanged(ext::info(f).name);
}

bool KorvelComTools::storeExtendedFieldUnchecked(const std::string& name, const std::string& text) {
    const auto f = ext::fieldNamed(name);
    if (!f) return false;
    ext_->store(*f, text);
    return true;
}

int32_t KorvelComTools::functionTimeOut(int timeout) const {
    return ext_->timeout(static_cast<Timeout>(timeout));
}

void KorvelComTools::putFunctionTimeOut(int timeout, int32_t value) {
    const auto t = static_cast<Timeout>(timeout);
    ext_->timeout(t) = value;
    markChanged(ext::info(t).name);
}

int32_t KorvelComTools::extendedReplyWait(const std::string& Fct, int32_t lngTimeout) const {
    if (lngTimeout != 0) return lngTimeout;
    const auto t = ext::replyTimeoutFor(Fct);
    return t ? ext_->timeout(*t) : 0;
}

bool KorvelComTools::POSAutoIncSequenceEnabled() const {
    return ext_->incSequenceEnabled;
}

void KorvelComTools::setPOSAutoIncSequenceEnabled(bool value) {
    ext_->incSequenceEnabled = value;
    markChanged("POSAutoIncSequenceEnabled");
}

std::string KorvelComTools::POSAutoStatus() const {
    return ext_->status;
}

std::string KorvelComTools::POSAutoStatusCard() const {
    return ext_->statusCard;
}

// The named members: each property is a one-line wrapper over the generic read and write.
#define KORVEL_EXTENDED_FIELD(Name)                                   \
    std::string KorvelComTools::POSAuto##Name() const {               \
        return extendedField(static_cast<int>(Field::Name));          \
    }                                                                 \
    void KorvelComTools::setPOSAuto##Name(const std::string& value) { \
        putExtendedField(static_cast<int>(Field::Name), value);       \
    }

KORVEL_EXTENDED_FIELD(Sequence)
KORVEL_EXTENDED_FIELD(Operation)
KORVEL_EXTENDED_FIELD(Amount)
KORVEL_EXTENDED_FIELD(Currency)
KORVEL_EXTENDED_FIELD(Control)
KORVEL_EXTENDED_FIELD(Class)
KORVEL_EXTENDED_FIELD(CardInfo)
KORVEL_EXTENDED_FIELD(TrackISO1)
KORVEL_EXTENDED_FIELD(TrackISO2)
KORVEL_EXTENDED_FIELD(TrackISO3)
KORVEL_EXTENDED_FIELD(ReadingType)
KORVEL_EXTENDED_FIELD(TimeOut)
KORVEL_EXTENDED_FIELD(Text)
KORVEL_EXTENDED_FIELD(InputType)
KORVEL_EXTENDED_FIELD(MinLength)
KORVEL_EXTENDED_FIELD(MaxLength)
KORVEL_EXTENDED_FIELD(InputOffset)
KORVEL_EXTENDED_FIELD(TreatmentCard)
KORVEL_EXTENDED_FIELD(CardReader)
KORVEL_EXTENDED_FIELD(Printer)
KORVEL_EXTENDED_FIELD(Buzzer)
KORVEL_EXTENDED_FIELD(RetroPinPad)
KORVEL_EXTENDED_FIELD(ApplicationCode)
KORVEL_EXTENDED_FIELD(EFTNumber)
KORVEL_EXTENDED_FIELD(Data)
KORVEL_EXTENDED_FIELD(NumBeep)
KORVEL_EXTENDED_FIELD(TicketRequest)
#undef KORVEL_EXTENDED_FIELD

#define KORVEL_FUNCTION_TIMEOUT(Name)                               \
    int32_t KorvelComTools::POSAutoTOfct##Name() const {            \
        return functionTimeOut(static_cast<int>(Timeout::Name));    \
    }                                                               \
    void KorvelComTools::setPOSAutoTOfct##Name(int32_t value) {     \
        putFunctionTimeOut(static_cast<int>(Timeout::Name), value); \
    }

KORVEL_FUNCTION_TIMEOUT(Authorization)
KORVEL_FUNCTION_TIMEOUT(AuthorizationInter)
KORVEL_FUNCTION_TIMEOUT(Recording)
KORVEL_FUNCTION_TIMEOUT(ReceiptMerchant)
KORVEL_FUNCTION_TIMEOUT(SettingExtReader)
KORVEL_FUNCTION_TIMEOUT(ReadingCard)
KORVEL_FUNCTION_TIMEOUT(DisplayingPinPadRequest)
KORVEL_FUNCTION_TIMEOUT(StatusRequest)
KORVEL_FUNCTION_TIMEOUT(SoftwareStatus)
KORVEL_FUNCTION_TIMEOUT(ClearTransactionFile)
KORVEL_FUNCTION_TIMEOUT(AbortOperation)
KORVEL_FUNCTION_TIMEOUT(SettingEFTConfiguration)
KORVEL_FUNCTION_TIMEOUT(SettingEFTApplication)
KORVEL_FUNCTION_TIMEOUT(Beep)
KORVEL_FUNCTION_TIMEOUT(CardReader)
KORVEL_FUNCTION_TIMEOUT(CBInit)
KORVEL_FUNCTION_TIMEOUT(TicketRequest)
#undef KORVEL_FUNCTION_TIMEOUT

}  // namespace korvel
