// The fifteen extended operations: each writes its arguments through the fields' validating
// puts and runs one exchange with its function code.
#include "control/Guarded.h"
#include "extended/ExtendedState.h"

namespace korvel {

namespace {
constexpr int arg(ext::Field f) {
    return static_cast<int>(f);
}
}  // namespace

std::string KorvelComTools::extendedOperation(const char* tag, const char* Fct, int32_t lngTimeout,
                                              std::initializer_list<OperationArg> args) {
    // Refused before any argument is written: a rejected argument's tag would otherwise end
    // the running exchange's wait, and an accepted one would change its request fields.
    if (refuseNestedExchange()) return "";
    return guarded(tag, std::string(), [&] {
        for (const OperationArg& a : args)
            if (a.always || !a.value->empty()) putExtendedField(a.field, *a.value);
        return POSAutoMessage(Fct, lngTimeout);
    });
}

using F = ext::Field;

std::string KorvelComTools::POSAutoAuthorization(const std::string& strAmount,
                                                 const std::string& strCurrency,
                                                 const std::string& strControl,
                                                 const std::string& strClass, int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoAuthorization", "01", lngTimeout,
                             {{arg(F::Amount), &strAmount},
                              {arg(F::Currency), &strCurrency},
                              {arg(F::Control), &strControl},
                              {arg(F::Class), &strClass}});
}

std::string KorvelComTools::POSAutoRecording(const std::string& strAmount,
                                             const std::string& strCurrency, int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoRecording", "03", lngTimeout,
                             {{arg(F::Amount), &strAmount}, {arg(F::Currency), &strCurrency}});
}

std::string KorvelComTools::POSAutoReceiptMerchant(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoReceiptMerchant", "04", lngTimeout, {});
}

std::string KorvelComTools::POSAutoTicketRequested(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoTicketRequested", "23", lngTimeout, {});
}

std::string KorvelComTools::POSAutoCardReaderOperation(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoCardReaderOperation", "21", lngTimeout, {});
}

std::string KorvelComTools::POSAutoSettingExtReader(const std::string& strTrackISO1,
                                                    const std::string& strTrackISO2,
                                                    const std::string& strTrackISO3,
                                                    int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoSettingExtReader", "10", lngTimeout,
                             {{arg(F::TrackISO1), &strTrackISO1},
                              {arg(F::TrackISO2), &strTrackISO2},
                              {arg(F::TrackISO3), &strTrackISO3}});
}

std::string KorvelComTools::POSAutoReadingCard(const std::string& strReadingType,
                                               int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoReadingCard", "11", lngTimeout,
                             {{arg(F::ReadingType), &strReadingType}});
}

std::string KorvelComTools::POSAutoDisplayingPinPadRequest(
    const std::string& strText, const std::string& strInputType, const std::string& strMinLength,
    const std::string& strMaxLength, const std::string& strInputOffset, int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoDisplayingPinPadRequest", "12", lngTimeout,
                             {{arg(F::Text), &strText},
                              {arg(F::InputType), &strInputType},
                              {arg(F::MinLength), &strMinLength},
                              {arg(F::MaxLength), &strMaxLength},
                              {arg(F::InputOffset), &strInputOffset}});
}

std::string KorvelComTools::POSAutoStatusRequest(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoStatusRequest", "14", lngTimeout, {});
}

std::string KorvelComTools::POSAutoSoftwareStatus(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoSoftwareStatus", "15", lngTimeout, {});
}

std::string KorvelComTools::POSAutoClearTransactionFile(int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoClearTransactionFile", "16", lngTimeout, {});
}

std::string KorvelComTools::POSAutoAbortOperation(const std::string& strTreatment,
                                                  int32_t lngTimeout) {
    // Written even when empty: the default "0" resets the treatment before every abort.
    return extendedOperation("errorHandlerPOSAutoAbortOperation", "17", lngTimeout,
                             {{arg(F::TreatmentCard), &strTreatment, true}});
}

std::string KorvelComTools::POSAutoSettingEFTConfiguration(const std::string& strCardReader,
                                                           const std::string& strPrinter,
                                                           const std::string& strBuzzer,
                                                           const std::string& strRetroPinPad,
                                                           int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoSettingEFTConfiguration", "18", lngTimeout,
                             {{arg(F::CardReader), &strCardReader},
                              {arg(F::Printer), &strPrinter},
                              {arg(F::Buzzer), &strBuzzer},
                              {arg(F::RetroPinPad), &strRetroPinPad}});
}

std::string KorvelComTools::POSAutoSettingEFTApplication(const std::string& strApplicationCode,
                                                         const std::string& strEFTNumber,
                                                         int32_t lngTimeout) {
    return extendedOperation(
        "errorHandlerPOSAutoSettingEFTApplication", "19", lngTimeout,
        {{arg(F::ApplicationCode), &strApplicationCode}, {arg(F::EFTNumber), &strEFTNumber}});
}

std::string KorvelComTools::POSAutoBeep(const std::string& strNumBeep, int32_t lngTimeout) {
    return extendedOperation("errorHandlerPOSAutoBeep", "20", lngTimeout,
                             {{arg(F::NumBeep), &strNumBeep}});
}

}  // namespace korvel
