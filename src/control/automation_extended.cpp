// Registration of the extended protocol's members: request fields, sequence numbering,
// function time-outs, the encoder and the status fields.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void registerExtendedMembers(AutomationTable& t) {
    using K = KorvelComTools;
    using VT = ValueType;
    const auto text = [&t](const char* name, auto getter, auto setter) {
        t.property<std::string>(name, VT::String, getter, setter);
    };
    text("POSAutoSequence", &K::POSAutoSequence, &K::setPOSAutoSequence);
    text("POSAutoOperation", &K::POSAutoOperation, &K::setPOSAutoOperation);
    text("POSAutoAmount", &K::POSAutoAmount, &K::setPOSAutoAmount);
    text("POSAutoCurrency", &K::POSAutoCurrency, &K::setPOSAutoCurrency);
    text("POSAutoControl", &K::POSAutoControl, &K::setPOSAutoControl);
    text("POSAutoClass", &K::POSAutoClass, &K::setPOSAutoClass);
    text("POSAutoCardInfo", &K::POSAutoCardInfo, &K::setPOSAutoCardInfo);
    text("POSAutoTrackISO1", &K::POSAutoTrackISO1, &K::setPOSAutoTrackISO1);
    text("POSAutoTrackISO2", &K::POSAutoTrackISO2, &K::setPOSAutoTrackISO2);
    text("POSAutoTrackISO3", &K::POSAutoTrackISO3, &K::setPOSAutoTrackISO3);
    text("POSAutoReadingType", &K::POSAutoReadingType, &K::setPOSAutoReadingType);
    text("POSAutoTimeOut", &K::POSAutoTimeOut, &K::setPOSAutoTimeOut);
    text("POSAutoText", &K::POSAutoText, &K::setPOSAutoText);
    text("POSAutoInputType", &K::POSAutoInputType, &K::setPOSAutoInputType);
    text("POSAutoMinLength", &K::POSAutoMinLength, &K::setPOSAutoMinLength);
    text("POSAutoMaxLength", &K::POSAutoMaxLength, &K::setPOSAutoMaxLength);
    text("POSAutoInputOffset", &K::POSAutoInputOffset, &K::setPOSAutoInputOffset);
    text("POSAutoTreatmentCard", &K::POSAutoTreatmentCard, &K::setPOSAutoTreatmentCard);
    text("POSAutoCardReader", &K::POSAutoCardReader, &K::setPOSAutoCardReader);
    text("POSAutoPrinter", &K::POSAutoPrinter, &K::setPOSAutoPrinter);
    text("POSAutoBuzzer", &K::POSAutoBuzzer, &K::setPOSAutoBuzzer);
    text("POSAutoRetroPinPad", &K::POSAutoRetroPinPad, &K::setPOSAutoRetroPinPad);
    text("POSAutoApplicationCode", &K::POSAutoApplicationCode, &K::setPOSAutoApplicationCode);
    text("POSAutoEFTNumber", &K::POSAutoEFTNumber, &K::setPOSAutoEFTNumber);
    text("POSAutoData", &K::POSAutoData, &K::setPOSAutoData);
    text("POSAutoNumBeep", &K::POSAutoNumBeep, &K::setPOSAutoNumBeep);
    text("POSAutoTicketRequest", &K::POSAutoTicketRequest, &K::setPOSAutoTicketRequest);

    t.add(Member{"POSAutoIncSequence",
                 MemberKind::Method,
                 {},
                 VT::Empty,
                 [](K& c, std::vector<Value>&) -> Value {
                     c.POSAutoIncSequence();
                     return std::monostate{};
                 }});
    t.property<bool>("POSAutoIncSequenceEnabled", VT::Bool, &K::POSAutoIncSequenceEnabled,
                     &K::setPOSAutoIncSequenceEnabled);

    const auto ms = [&t](const char* name, auto getter, auto setter) {
        t.property<int32_t>(name, VT::I32, getter, setter);
    };
    ms("POSAutoTOfctAuthorization", &K::POSAutoTOfctAuthorization,
       &K::setPOSAutoTOfctAuthorization);
    ms("POSAutoTOfctAuthorizationInter", &K::POSAutoTOfctAuthorizationInter,
       &K::setPOSAutoTOfctAuthorizationInter);
    ms("POSAutoTOfctRecording", &K::POSAutoTOfctRecording, &K::setPOSAutoTOfctRecording);
    ms("POSAutoTOfctReceiptMerchant", &K::POSAutoTOfctReceiptMerchant,
       &K::setPOSAutoTOfctReceiptMerchant);
    ms("POSAutoTOfctSettingExtReader", &K::POSAutoTOfctSettingExtReader,
       &K::setPOSAutoTOfctSettingExtReader);
    ms("POSAutoTOfctReadingCard", &K::POSAutoTOfctReadingCard, &K::setPOSAutoTOfctReadingCard);
    ms("POSAutoTOfctDisplayingPinPadRequest", &K::POSAutoTOfctDisplayingPinPadRequest,
       &K::setPOSAutoTOfctDisplayingPinPadRequest);
    ms("POSAutoTOfctStatusRequest", &K::POSAutoTOfctStatusRequest,
       &K::setPOSAutoTOfctStatusRequest);
    ms("POSAutoTOfctSoftwareStatus", &K::POSAutoTOfctSoftwareStatus,
       &K::setPOSAutoTOfctSoftwareStatus);
    ms("POSAutoTOfctClearTransactionFile", &K::POSAutoTOfctClearTransactionFile,
       &K::setPOSAutoTOfctClearTransactionFile);
    ms("POSAutoTOfctAbortOperation", &K::POSAutoTOfctAbortOperation,
       &K::setPOSAutoTOfctAbortOperation);
    ms("POSAutoTOfctSettingEFTConfiguration", &K::POSAutoTOfctSettingEFTConfiguration,
       &K::setPOSAutoTOfctSettingEFTConfiguration);
    ms("POSAutoTOfctSettingEFTApplication", &K::POSAutoTOfctSettingEFTApplication,
       &K::setPOSAutoTOfctSettingEFTApplication);
    ms("POSAutoTOfctBeep", &K::POSAutoTOfctBeep, &K::setPOSAutoTOfctBeep);
    ms("POSAutoTOfctCardReader", &K::POSAutoTOfctCardReader, &K::setPOSAutoTOfctCardReader);
    ms("POSAutoTOfctCBInit", &K::POSAutoTOfctCBInit, &K::setPOSAutoTOfctCBInit);
    ms("POSAutoTOfctTicketRequest", &K::POSAutoTOfctTicketRequest,
       &K::setPOSAutoTOfctTicketRequest);

    t.add(Member{"POSAutoSend",
                 MemberKind::Method,
                 {Param{"Fct", VT::String, std::nullopt, false}},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.POSAutoSend(std::get<std::string>(a[0]));
                 }});
    t.readOnly("POSAutoStatus", VT::String, &K::POSAutoStatus);
    t.readOnly("POSAutoStatusCard", VT::String, &K::POSAutoStatusCard);
}

}  // namespace korvel
