// The extended request layouts, and the seconds a request carries for a function time-out.
#include "extended/Encoder.h"

#include "util/FixedWidth.h"

namespace korvel::ext {

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
    if (text.size() < 3) text = std::string(3 - text.size(), '0') + text;
    return util::fitLeft(text, info(Field::TimeOut).width);
}

}  // namespace korvel::ext
