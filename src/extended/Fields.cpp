// The extended request fields and function time-outs: creation and new-instance defaults, the
// validating write over the field table, the sequence advance, and the result fields.
#include <stdexcept>

#include "extended/Exchange.h"
#include "extended/Sequence.h"
#include "korvelcom/CardData.h"
#include "util/FixedWidth.h"

namespace korvel::ext {

void State::store(Field f, const std::string& text) {
    field(f) = util::fitLeft(text, info(f).width);
}

Exchange::Exchange(Channel& channel, Reporter& reporter) : channel_(channel), reporter_(reporter) {
    reset(false);
}

Exchange::~Exchange() {
    // The request fields hold the card's tracks after a card reading, the results its data.
    for (auto& f : s_.fields)
        wipe(f, "extended field");
    for (auto& r : s_.results)
        wipe(r, "extended result");
}

void Exchange::reset(bool newInstance) {
    for (const FieldInfo& f : fields()) {
        // A field without an initial value holds code 0 until first written: creation gives
        // it that, new-instance initialisation leaves it as it is.
        if (newInstance && !f.initial) continue;
        s_.field(f.field) = initialText(f.field);
    }
    if (!newInstance) s_.field(Field::TimeOut) = kConstructedTimeOut;
    for (const TimeoutInfo& t : timeouts())
        s_.timeout(t.timeout) = t.initial;
    s_.incSequenceEnabled = true;
    s_.status = "99";
    s_.statusCard = "99";
}

void Exchange::putField(Field f, const std::string& value) {
    std::string text = value;  // the write's own copy, mapped in place
    std::optional<const char*> tag;
    try {
        tag = validate(f, text);
    } catch (...) {
        // A check that cannot run lets the value through, as a setter skips a failed step.
    }
    if (tag) {
        reporter_.fail(*tag);  // the field keeps its value
        return;
    }
    try {
        s_.store(f, text);
    } catch (...) {
        // A failed store leaves the old value; the put is still announced.
    }
    reporter_.changed(info(f).name);
}

bool Exchange::storeUnchecked(std::string_view name, const std::string& text) {
    const auto f = fieldNamed(name);
    if (!f) return false;
    s_.store(*f, text);
    return true;
}

void Exchange::putTimeout(Timeout t, int32_t ms) {
    s_.timeout(t) = ms;
    reporter_.changed(info(t).name);
}

void Exchange::setIncSequenceEnabled(bool on) {
    s_.incSequenceEnabled = on;
    reporter_.changed("POSAutoIncSequenceEnabled");
}

void Exchange::incSequence() {
    if (!s_.incSequenceEnabled) return;
    try {
        // A direct store: no check, no notification.
        s_.store(Field::Sequence, nextSequence(s_.field(Field::Sequence)));
    } catch (...) {
        s_.field(Field::Sequence) = "01";
    }
}

int32_t Exchange::replyWait(const std::string& fct, int32_t ms) const {
    if (ms != 0) return ms;
    const auto t = replyTimeoutFor(fct);
    return t ? s_.timeout(*t) : 0;
}

std::string Exchange::softwareEntry(int16_t index, bool codes) {
    if (index < 0)
        throw std::out_of_range(codes ? "POSAutoCode: negative index"
                                      : "POSAutoVersion: negative index");
    if (static_cast<std::size_t>(index) >= kSoftwareEntries) {
        reporter_.fail(codes ? "errorPOSAutoCode" : "errorPOSAutoVersion");
        return "";
    }
    return codes ? s_.codes[index] : s_.versions[index];
}

}  // namespace korvel::ext
