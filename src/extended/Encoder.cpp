// The extended request encoder: `POSAutoSend` builds the request of one function code from
// the field table and the layout table and sends it as one framed message.
#include "extended/Encoder.h"

#include "control/Guarded.h"
#include "extended/ExtendedState.h"
#include "korvelcom/CardData.h"
#include "util/FixedWidth.h"

namespace korvel {

namespace ext {

namespace {

std::vector<RequestLayout> buildLayouts() {
    using F = Field;
    // The seconds sent in a request: never 0, at most 65 (negative values pass).
    const Rule seconds = numeric(-std::numeric_limits<double>::infinity(), 65, true);
    const Rule inputLength = charCode('0', '?');
    const std::vector<F> tracks = {F::TrackISO1, F::TrackISO2, F::TrackISO3};
    return {
        {{"01"},
         {{F::Control, oneOf({"3", "s", "q", "p", "5", "4", "2", "1", "0"}),
           "errorHandlerPOSAutoControl"},
          {F::Class, oneOf({"22", "21", "10"}), "errorHandlerPOSAutoClass"}},
         {F::Operation, F::Amount, F::Currency, F::Control, F::Class}},
        {{"03"}, {}, {F::Operation, F::Amount, F::Currency}},
        {{"04"}, {}, {F::Operation}},
        // The external reader's tracks go out only while the terminal's own reader is off.
        {{"10", "40", "50", "60"},
         {{F::CardReader, oneOf({"0"}), "errorHandlerPOSAutoCardReaderType"}},
         tracks},
        {{"11", "41", "51", "61"},
         {{F::CardReader, oneOf({"1"}), "errorHandlerPOSAutoCardReaderType"},
          {F::ReadingType, oneOf({"1", "2", "0"}), "errorHandlerPOSAutoReadingType"},
          {F::TimeOut, seconds, "errorHandlerPOSAutoTimeout", Timeout::ReadingCard}},
         {F::ReadingType, F::TimeOut}},
        {{"12"},
         {{F::InputType, oneOf({"9", "1", "0"}), "errorHandlerPOSAutoInputType"},
          {F::MinLength, inputLength, "errorHandlerPOSAutoInputLength"},
          {F::MaxLength, inputLength, "errorHandlerPOSAutoInputLength"},
          {F::TimeOut, seconds, "errorHandlerPOSAutoTimeout", Timeout::DisplayingPinPadRequest},
          {F::InputOffset, numeric(0, 79), "errorHandlerPOSAutoInputOffset"}},
         {F::Text, F::InputType, F::MinLength, F::MaxLength, F::TimeOut, F::InputOffset}},
        {{"14"}, {}, {}},
        {{"15"}, {}, {}},
        {{"16"}, {}, {F::ApplicationCode}},
        {{"17"}, {}, {F::Operation, F::TreatmentCard}},
        {{"18"},
         {{F::CardReader, oneOf({"2", "1", "0"}), "errorHandlerPOSAutoCardReader"},
          {F::Printer, oneOf({"2", "1", "0"}), "errorHandlerPOSAutoPrinter"}},
         {F::CardReader, F::Printer, F::Buzzer, F::RetroPinPad, F::ConfigurationReserved}},
        {{"19"}, {}, {F::ApplicationCode, F::EFTNumber, F::Data}},
        {{"20"}, {}, {F::NumBeep}},
        {{"21"}, {}, {F::TreatmentCard}},
        {{"23"}, {}, {F::ApplicationCode, F::TicketRequest}},
    };
}

}  // namespace

const std::vector<RequestLayout>& requestLayouts() {
    static const std::vector<RequestLayout> table = buildLayouts();
    return table;
}

const RequestLayout* layoutFor(std::string_view fct) {
    for (const RequestLayout& l : requestLayouts())
        for (std::string_view code : l.codes)
            if (fct == code) return &l;
    return nullptr;
}

std::size_t requestLength(const RequestLayout& layout) {
    std::size_t n = 4;
    for (Field f : layout.data)
        n += info(f).width;
    return n;
}

std::string secondsField(int32_t ms) {
    std::string text = std::to_string(ms / 1000);  // C++ division truncates toward zero
    while (text.size() < 3)
        text.insert(0, "0");
    return util::fitLeft(text, info(Field::TimeOut).width);
}

}  // namespace ext

bool KorvelComTools::POSAutoSend(const std::string& Fct) {
    // A request sent from a handler while an exchange waits would cross that exchange's own
    // request and reply on the line.
    if (refuseNestedExchange()) return false;
    return sendExtendedRequest(Fct);
}

bool KorvelComTools::sendExtendedRequest(const std::string& Fct) {
    return guarded("errorHandlerPOSAutosend", false, [&] {
        ExtendedState& s = *ext_;
        // "99": no reply has been decoded for this request yet.
        s.status = "99";
        s.statusCard = "99";
        // The request may carry the card's tracks: built in place, wiped once sent.
        std::string request;
        request.reserve(256);  // longer than any request layout
        WipeOnExit wipeRequest(request, "extended request");
        request += s.field(ext::Field::Sequence);
        request += Fct;
        const ext::RequestLayout* layout = ext::layoutFor(Fct);
        if (!layout) {
            reportError("errorHandlerPOSAutosend");
            return false;
        }
        for (const ext::SendCheck& check : layout->checks) {
            // The recomputed seconds stay in the field even when they fail the check.
            if (check.secondsFrom)
                s.store(check.field, ext::secondsField(s.timeout(*check.secondsFrom)));
            if (!ext::satisfies(check.rule, s.field(check.field))) {
                reportError(check.tag);
                return false;
            }
        }
        for (ext::Field f : layout->data)
            request += s.field(f);
        // Its own failures are reported by the send itself.
        return SendMessage(request);
    });
}

}  // namespace korvel
