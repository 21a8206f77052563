// The control's extended members: each forwards to the extended protocol object, which
// reaches the link and the host through the adapter below.
#include "extended/Exchange.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

using ext::Field;
using ext::Operation;
using ext::Result;
using ext::Timeout;

// The link and the error convention as the extended protocol sees them.
struct KorvelComTools::ExtendedHost final : ext::Channel, ext::Reporter {
    KorvelComTools& c;
    explicit ExtendedHost(KorvelComTools& control) : c(control) {}

    bool send(const std::string& message) override { return c.SendMessage(message); }
    std::string receive(int32_t ms) override { return c.RecMessage(ms); }
    void holdReceivedEvent() override {
        if (c.st_.ReceiveEnabled) c.st_.ReceivedEventDeferred = true;
    }
    bool messageReady() override { return c.st_.ReceiveEnabled && c.st_.MessageReady; }

    void fail(const char* tag) override { c.reportError(tag); }
    void refuse(const char* tag) override {
        const std::string before = c.st_.ReceiveError;
        c.reportError(tag);
        c.st_.ReceiveError = before;
    }
    void abortEnabled() override {
        if (c.sink_) c.sink_->AbortEnabledEvent();
    }
    void received() override {
        if (c.sink_) c.sink_->ReceivedEvent();
    }
    void changed(const char* name) override { c.markChanged(name); }
};

void KorvelComTools::ExtendedDeleter::operator()(ExtendedHost* host) const noexcept {
    delete host;
}
void KorvelComTools::ExtendedDeleter::operator()(ext::Exchange* exchange) const noexcept {
    delete exchange;
}

void KorvelComTools::resetExtended(bool newInstance) {
    if (!ext_) {
        extHost_.reset(new ExtendedHost(*this));
        ext_.reset(new ext::Exchange(*extHost_, *extHost_));
    }
    ext_->reset(newInstance);
}

bool KorvelComTools::storeExtendedFieldUnchecked(const std::string& name, const std::string& text) {
    return ext_->storeUnchecked(name, text);
}

// Each request field and function time-out is a one-line forward to the generic read and write.
#define KORVEL_EXTENDED_FIELD(Name)                                   \
    std::string KorvelComTools::POSAuto##Name() const {               \
        return ext_->field(Field::Name);                              \
    }                                                                 \
    void KorvelComTools::setPOSAuto##Name(const std::string& value) { \
        ext_->putField(Field::Name, value);                           \
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

#define KORVEL_FUNCTION_TIMEOUT(Name)                           \
    int32_t KorvelComTools::POSAutoTOfct##Name() const {        \
        return ext_->timeout(Timeout::Name);                    \
    }                                                           \
    void KorvelComTools::setPOSAutoTOfct##Name(int32_t value) { \
        ext_->putTimeout(Timeout::Name, value);                 \
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

void KorvelComTools::POSAutoIncSequence() {
    ext_->incSequence();
}
bool KorvelComTools::POSAutoIncSequenceEnabled() const {
    return ext_->incSequenceEnabled();
}
void KorvelComTools::setPOSAutoIncSequenceEnabled(bool value) {
    ext_->setIncSequenceEnabled(value);
}

#define KORVEL_EXTENDED_RESULT(Name)                    \
    std::string KorvelComTools::POSAuto##Name() const { \
        return ext_->result(Result::Name);              \
    }
KORVEL_EXTENDED_RESULT(Status)
KORVEL_EXTENDED_RESULT(StatusCard)
KORVEL_EXTENDED_RESULT(Application)
KORVEL_EXTENDED_RESULT(Receipt)
KORVEL_EXTENDED_RESULT(Private)
KORVEL_EXTENDED_RESULT(NbCharacter)
KORVEL_EXTENDED_RESULT(String)
KORVEL_EXTENDED_RESULT(StatusEFT)
#undef KORVEL_EXTENDED_RESULT

std::string KorvelComTools::POSAutoCode(int16_t index) {
    return ext_->code(index);
}
std::string KorvelComTools::POSAutoVersion(int16_t index) {
    return ext_->version(index);
}

bool KorvelComTools::POSAutoSend(const std::string& Fct) {
    return ext_->send(Fct);
}
std::string KorvelComTools::POSAutoMessage(const std::string& Fct, int32_t lngTimeout) {
    return ext_->message(Fct, lngTimeout);
}

// The operations: the arguments in the order of the operation's fields.
std::string KorvelComTools::POSAutoAuthorization(const std::string& strAmount,
                                                 const std::string& strCurrency,
                                                 const std::string& strControl,
                                                 const std::string& strClass, int32_t lngTimeout) {
    return ext_->run(Operation::Authorization, {&strAmount, &strCurrency, &strControl, &strClass},
                     lngTimeout);
}
std::string KorvelComTools::POSAutoRecording(const std::string& strAmount,
                                             const std::string& strCurrency, int32_t lngTimeout) {
    return ext_->run(Operation::Recording, {&strAmount, &strCurrency}, lngTimeout);
}
std::string KorvelComTools::POSAutoReceiptMerchant(int32_t lngTimeout) {
    return ext_->run(Operation::ReceiptMerchant, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoTicketRequested(int32_t lngTimeout) {
    return ext_->run(Operation::TicketRequested, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoCardReaderOperation(int32_t lngTimeout) {
    return ext_->run(Operation::CardReaderOperation, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoSettingExtReader(const std::string& strTrackISO1,
                                                    const std::string& strTrackISO2,
                                                    const std::string& strTrackISO3,
                                                    int32_t lngTimeout) {
    return ext_->run(Operation::SettingExtReader, {&strTrackISO1, &strTrackISO2, &strTrackISO3},
                     lngTimeout);
}
std::string KorvelComTools::POSAutoReadingCard(const std::string& strReadingType,
                                               int32_t lngTimeout) {
    return ext_->run(Operation::ReadingCard, {&strReadingType}, lngTimeout);
}
std::string KorvelComTools::POSAutoDisplayingPinPadRequest(
    const std::string& strText, const std::string& strInputType, const std::string& strMinLength,
    const std::string& strMaxLength, const std::string& strInputOffset, int32_t lngTimeout) {
    return ext_->run(Operation::DisplayingPinPadRequest,
                     {&strText, &strInputType, &strMinLength, &strMaxLength, &strInputOffset},
                     lngTimeout);
}
std::string KorvelComTools::POSAutoStatusRequest(int32_t lngTimeout) {
    return ext_->run(Operation::StatusRequest, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoSoftwareStatus(int32_t lngTimeout) {
    return ext_->run(Operation::SoftwareStatus, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoClearTransactionFile(int32_t lngTimeout) {
    return ext_->run(Operation::ClearTransactionFile, {}, lngTimeout);
}
std::string KorvelComTools::POSAutoAbortOperation(const std::string& strTreatment,
                                                  int32_t lngTimeout) {
    return ext_->run(Operation::AbortOperation, {&strTreatment}, lngTimeout);
}
std::string KorvelComTools::POSAutoSettingEFTConfiguration(const std::string& strCardReader,
                                                           const std::string& strPrinter,
                                                           const std::string& strBuzzer,
                                                           const std::string& strRetroPinPad,
                                                           int32_t lngTimeout) {
    return ext_->run(Operation::SettingEFTConfiguration,
                     {&strCardReader, &strPrinter, &strBuzzer, &strRetroPinPad}, lngTimeout);
}
std::string KorvelComTools::POSAutoSettingEFTApplication(const std::string& strApplicationCode,
                                                         const std::string& strEFTNumber,
                                                         int32_t lngTimeout) {
    return ext_->run(Operation::SettingEFTApplication, {&strApplicationCode, &strEFTNumber},
                     lngTimeout);
}
std::string KorvelComTools::POSAutoBeep(const std::string& strNumBeep, int32_t lngTimeout) {
    return ext_->run(Operation::Beep, {&strNumBeep}, lngTimeout);
}

}  // namespace korvel
