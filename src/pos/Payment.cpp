// The basic payment: validating puts of the request fields, the request, the reply wait and
// the reply fields.
#include "pos/Payment.h"

namespace korvel::pos {

std::string Payment::request(RequestField field) const {
    return threadRecord().request[static_cast<std::size_t>(field)];
}

std::string Payment::reply(ReplyField field) const {
    return threadRecord().reply[static_cast<std::size_t>(field)];
}

bool Payment::put(RequestField field, const std::string& value) {
    if (const auto tag = check(field, value)) {
        link_.reportError(*tag);  // the field keeps its value
        return false;
    }
    threadRecord().request[static_cast<std::size_t>(field)] = value;
    return true;
}

bool Payment::POSsend() {
    return link_.guarded("errorHandlerPOSsend", false,
                         [&] { return link_.SendMessage(threadRecord().requestMessage()); });
}

std::string Payment::POSMessage(int32_t timeoutMs) {
    std::string result;
    LinkState& st = link_.state();
    try {
        PosRecord& record = threadRecord();
        record.parseReply(result);
        if (!POSsend()) return result;
        // The exchange raises the event itself, once the reply fields are filled.
        if (st.ReceiveEnabled) st.ReceivedEventDeferred = true;
        result = link_.RecMessage(timeoutMs);
        record.parseReply(result);
        if (!result.empty() && st.ReceiveEnabled && st.MessageReady) link_.events().receivedEvent();
        return result;
    } catch (...) {
        // Falls through to the failure path below.
    }
    link_.reportError("errorHandlerPOSMessage");
    return result;
}

}  // namespace korvel::pos
