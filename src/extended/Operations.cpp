// The fifteen extended operations as data: each writes its arguments through the fields'
// validating writes and runs one exchange with its function code.
#include <stdexcept>

#include "extended/Exchange.h"

namespace korvel::ext {

const std::vector<OperationInfo>& operations() {
    using F = Field;
    using O = Operation;
    static const std::vector<OperationInfo> table = {
        {O::Authorization,
         "POSAutoAuthorization",
         "01",
         {F::Amount, F::Currency, F::Control, F::Class}},
        {O::Recording, "POSAutoRecording", "03", {F::Amount, F::Currency}},
        {O::ReceiptMerchant, "POSAutoReceiptMerchant", "04", {}},
        {O::TicketRequested, "POSAutoTicketRequested", "23", {}},
        {O::CardReaderOperation, "POSAutoCardReaderOperation", "21", {}},
        {O::SettingExtReader,
         "POSAutoSettingExtReader",
         "10",
         {F::TrackISO1, F::TrackISO2, F::TrackISO3}},
        {O::ReadingCard, "POSAutoReadingCard", "11", {F::ReadingType}},
        {O::DisplayingPinPadRequest,
         "POSAutoDisplayingPinPadRequest",
         "12",
         {F::Text, F::InputType, F::MinLength, F::MaxLength, F::InputOffset}},
        {O::StatusRequest, "POSAutoStatusRequest", "14", {}},
        {O::SoftwareStatus, "POSAutoSoftwareStatus", "15", {}},
        {O::ClearTransactionFile, "POSAutoClearTransactionFile", "16", {}},
        // Written even when empty: the default "0" resets the treatment before every abort.
        {O::AbortOperation, "POSAutoAbortOperation", "17", {F::TreatmentCard}, true},
        {O::SettingEFTConfiguration,
         "POSAutoSettingEFTConfiguration",
         "18",
         {F::CardReader, F::Printer, F::Buzzer, F::RetroPinPad}},
        {O::SettingEFTApplication,
         "POSAutoSettingEFTApplication",
         "19",
         {F::ApplicationCode, F::EFTNumber}},
        {O::Beep, "POSAutoBeep", "20", {F::NumBeep}},
    };
    return table;
}

std::string Exchange::run(Operation op, std::initializer_list<const std::string*> args,
                          int32_t ms) {
    const OperationInfo& info = operations().at(static_cast<std::size_t>(op));
    if (info.operation != op || args.size() != info.args.size())
        throw std::logic_error("extended operation table out of order");
    // Refused before any argument is written: a rejected argument's tag would otherwise end
    // the running exchange's wait, and an accepted one would change its request fields.
    if (refuseNested()) return "";
    const std::string tag = std::string("errorHandler") + info.name;
    return guarded(tag.c_str(), std::string(), [&] {
        const std::string* const* arg = args.begin();
        for (Field f : info.args) {
            const std::string& value = **arg++;
            if (info.writeEmpty || !value.empty()) putField(f, value);
        }
        return message(info.code, ms);
    });
}

}  // namespace korvel::ext
