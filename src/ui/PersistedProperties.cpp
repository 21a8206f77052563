// The persisted property set: keys, targets, widths and defaults in the order of saving.
#include "ui/PersistedProperties.h"

#include <string>

#include "extended/ExtendedFields.h"
#include "pos/PosFields.h"

namespace korvel::ui {
namespace {

PersistedRow link32(const char* key, int32_t LinkState::*field, int32_t def) {
    PersistedRow r{key, Target::LinkI32};
    r.i32 = field;
    r.saveDefault = r.loadDefault = def;
    return r;
}

PersistedRow link16(const char* key, int16_t LinkState::*field, int16_t def) {
    PersistedRow r{key, Target::LinkI16};
    r.i16 = field;
    r.saveDefault = r.loadDefault = def;
    return r;
}

PersistedRow flag(const char* key, bool LinkState::*field, bool def) {
    PersistedRow r{key, Target::LinkFlag};
    r.flag = field;
    r.saveDefault = r.loadDefault = def;
    return r;
}

PersistedRow pos(pos::RequestField f, const char* def) {
    PersistedRow r{pos::info(f).name, Target::PosField, static_cast<std::size_t>(f)};
    r.width = pos::info(f).width;
    r.saveDefault = r.loadDefault = std::string(def);
    return r;
}

PersistedRow ext(ext::Field f, const std::string& def) {
    PersistedRow r{ext::info(f).name, Target::ExtField, ext::index(f)};
    r.width = ext::info(f).width;
    r.saveDefault = r.loadDefault = def;
    return r;
}

PersistedRow timeout(ext::Timeout t) {
    PersistedRow r{ext::info(t).name, Target::FunctionTimeout, ext::index(t)};
    r.saveDefault = r.loadDefault = ext::info(t).initial;
    return r;
}

std::vector<PersistedRow> build() {
    using F = ext::Field;
    using P = pos::RequestField;
    std::vector<PersistedRow> rows;
    PersistedRow port{"CommPort", Target::CommPort};
    port.saveDefault = port.loadDefault = int16_t{1};
    rows.push_back(port);
    PersistedRow settings{"CommSettings", Target::CommSettings};
    settings.saveDefault = settings.loadDefault = std::string("9600,e,7,1");
    rows.push_back(settings);

    rows.push_back(link32("TOwaitChar", &LinkState::TOwaitChar, 600));
    rows.push_back(link32("TOwaitRetry", &LinkState::TOwaitRetry, 1200));
    rows.push_back(link32("TOwaitReply", &LinkState::TOwaitReply, 20));
    rows.push_back(link32("TOBetweenChar", &LinkState::TOBetweenChar, 50));
    rows.push_back(link32("TOWaitBetweenCommand", &LinkState::TOWaitBetweenCommand, 100));
    rows.push_back(link16("RetrySession", &LinkState::RetrySession, 3));
    rows.push_back(link16("RetryData", &LinkState::RetryData, 3));
    rows.push_back(flag("ErrorEnabled", &LinkState::ErrorEnabled, true));
    rows.push_back(flag("ReceiveEnabled", &LinkState::ReceiveEnabled, true));
    rows.push_back(flag("EscapeKeyEnabled", &LinkState::EscapeKeyEnabled, true));
    rows.push_back(flag("AbortReceive", &LinkState::AbortReceive, false));

    rows.push_back(pos(P::Number, "01"));
    rows.push_back(pos(P::Amount, "00000001"));
    rows.push_back(pos(P::Rep, "1"));
    rows.push_back(pos(P::Mode, "0"));
    rows.push_back(pos(P::Type, "?"));
    rows.push_back(pos(P::Dev, "250"));
    PersistedRow posTimeout{"POSTimeout", Target::PosTimeout};
    posTimeout.saveDefault = posTimeout.loadDefault = int32_t{10000};
    rows.push_back(posTimeout);

    rows.push_back(ext(F::Sequence, "01"));
    rows.push_back(ext(F::Operation, "0000"));
    // The operation number the replies must carry is saved under the operation's own key,
    // right after it.
    PersistedRow expected{"POSAutoOperation", Target::ExpectedOperation};
    expected.width = ext::info(F::Operation).width;
    expected.saveDefault = expected.loadDefault = std::string("9999");
    rows.push_back(expected);
    rows.push_back(ext(F::Amount, "000000000001"));
    rows.push_back(ext(F::Currency, "250"));
    rows.push_back(ext(F::Control, "0"));
    rows.push_back(ext(F::Class, "10"));
    rows.push_back(ext(F::ReadingType, "0"));
    rows.push_back(ext(F::CardInfo, std::string(27, ' ')));
    // Saved with the newly placed control's "065" but loaded with the constructed "002".
    PersistedRow timeOut = ext(F::TimeOut, "065");
    timeOut.loadDefault = std::string(ext::kConstructedTimeOut);
    rows.push_back(timeOut);
    rows.push_back(ext(F::Text, ""));
    rows.push_back(ext(F::InputType, "0"));
    rows.push_back(ext(F::MinLength, "0"));
    rows.push_back(ext(F::MaxLength, "9"));
    rows.push_back(ext(F::InputOffset, "00"));
    rows.push_back(ext(F::TreatmentCard, "0"));
    rows.push_back(ext(F::CardReader, "0"));
    rows.push_back(ext(F::Printer, "2"));
    rows.push_back(ext(F::Buzzer, "1"));
    rows.push_back(ext(F::RetroPinPad, "1"));
    rows.push_back(ext(F::ApplicationCode, "0000"));
    rows.push_back(ext(F::EFTNumber, "000"));
    rows.push_back(ext(F::NumBeep, "1"));
    rows.push_back(ext(F::TicketRequest, "1"));

    for (const ext::TimeoutInfo& t : ext::timeouts())
        rows.push_back(timeout(t.timeout));

    // The key lacks the word Enabled of the property's name.
    PersistedRow inc{"POSAutoIncSequence", Target::IncSequence};
    inc.saveDefault = inc.loadDefault = true;
    rows.push_back(inc);
    return rows;
}

}  // namespace

const std::vector<PersistedRow>& persistedRows() {
    static const std::vector<PersistedRow> rows = build();
    return rows;
}

const std::vector<std::size_t>& loadOrder() {
    static const std::vector<std::size_t> order = [] {
        // TOwaitChar, TOBetweenChar, TOWaitBetweenCommand, TOwaitRetry, TOwaitReply,
        // RetrySession, RetryData, CommSettings, CommPort, then the four switches.
        std::vector<std::size_t> o = {2, 5, 6, 3, 4, 7, 8, 1, 0, 9, 10, 11, 12};
        for (std::size_t i = 13; i < persistedRows().size(); ++i)
            o.push_back(i);
        return o;
    }();
    return order;
}

}  // namespace korvel::ui
