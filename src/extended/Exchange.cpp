// The extended exchange: the request built from the layout table, the reply wait (with the
// authorisation's intermediate reply), sequence and function checks, decoding by the reply
// layout table, the operation check, and the result fields.
#include "extended/Exchange.h"

#include "extended/Encoder.h"
#include "korvelcom/CardData.h"

namespace korvel::ext {

namespace {

// The `n` characters at 0-based `pos`, fewer (or none) where the text ends earlier.
std::string part(const std::string& text, std::size_t pos, std::size_t n) {
    return pos < text.size() ? text.substr(pos, n) : std::string();
}

// Marks the extended exchange as running for the lifetime of the guard.
class RunningExchange {
  public:
    explicit RunningExchange(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningExchange() { flag_ = false; }
    RunningExchange(const RunningExchange&) = delete;
    RunningExchange& operator=(const RunningExchange&) = delete;

  private:
    bool& flag_;
};

constexpr const char* kIntermediateCode = "02";

}  // namespace

bool Exchange::refuseNested() {
    if (!running_) return false;
    // The running exchange ends its reply wait on any error text: the refusal is shown to the
    // host, then the previous text is put back so that the payment goes on.
    reporter_.refuse("errorPOSAutoExchangeBusy");
    return true;
}

bool Exchange::send(const std::string& fct) {
    // A request sent from a handler while an exchange waits would cross that exchange's own
    // request and reply on the line.
    if (refuseNested()) return false;
    return sendRequest(fct);
}

bool Exchange::sendRequest(const std::string& fct) {
    return guarded("errorHandlerPOSAutosend", false, [&] {
        // "99": no reply has been decoded for this request yet.
        s_.status = "99";
        s_.statusCard = "99";
        // The request may carry the card's tracks: built in place, wiped once sent.
        std::string request;
        request.reserve(256);  // longer than any request layout
        WipeOnExit wipeRequest(request, "extended request");
        request += s_.field(Field::Sequence);
        request += fct;
        const RequestLayout* layout = layoutFor(fct);
        if (!layout) {
            reporter_.fail("errorHandlerPOSAutosend");
            return false;
        }
        for (const SendCheck& check : layout->checks) {
            // The recomputed seconds stay in the field even when they fail the check.
            if (check.secondsFrom)
                s_.store(check.field, secondsField(s_.timeout(*check.secondsFrom)));
            if (!satisfies(check.rule, s_.field(check.field))) {
                reporter_.fail(check.tag);
                return false;
            }
        }
        for (Field f : layout->data)
            request += s_.field(f);
        // Its own failures are reported by the send itself.
        return channel_.send(request);
    });
}

bool Exchange::sequenceEchoed(const std::string& reply) const {
    const std::string& sequence = s_.field(Field::Sequence);
    return part(reply, 0, sequence.size()) == sequence;
}

std::string Exchange::message(const std::string& fct, int32_t ms) {
    if (refuseNested()) return "";
    RunningExchange running(running_);
    std::string reply;  // the host gets its own copy; this one may hold card data
    WipeOnExit wipeReply(reply, "extended reply");
    try {
        s_.status = "99";
        s_.statusCard = "99";
        const int32_t wait = replyWait(fct, ms);
        // A request that was not built or not sent has been reported by the send.
        if (!sendRequest(fct)) return "";
        return exchange(fct, wait, reply);
    } catch (...) {
        // Falls through to the failure path below.
    }
    reporter_.fail("errorHandlerPOSAutoMessage");
    return reply;
}

std::string Exchange::exchange(const std::string& fct, int32_t wait, std::string& reply) {
    // This exchange raises the received event itself once the reply is decoded.
    channel_.holdReceivedEvent();
    reply = channel_.receive(wait);
    if (reply.empty()) {
        reporter_.fail("errorHandlerPOSAutoMessage");
        return "";
    }
    const auto sequenceMismatch = [&] {
        wipe(reply, "extended reply");
        incSequence();  // a reply arrived and was compared: the number moves on
        reporter_.fail("errorHandlerPOSAutoSequence");
        return std::string();
    };
    if (!sequenceEchoed(reply)) return sequenceMismatch();

    // An authorisation may first answer that it is in progress; the host may abort the wait
    // for the final reply.  Only one intermediate reply is waited through.
    if (fct == "01" && part(reply, 2, 2) == kIntermediateCode) {
        reporter_.abortEnabled();
        reply = channel_.receive(s_.timeout(Timeout::Authorization));
        if (reply.empty()) {
            reporter_.fail("errorHandlerPOSAutoMessage");
            return "";
        }
        if (!sequenceEchoed(reply)) return sequenceMismatch();
    }

    incSequence();

    const auto functionFailure = [&] {
        wipe(reply, "extended reply");
        reporter_.fail("errorHandlerPOSAutoFunction");
    };
    if (part(reply, 2, fct.size()) != fct) {
        functionFailure();
        return "";
    }
    if (!decode(fct, reply)) {
        functionFailure();
    } else if (replyLayoutFor(fct)->checksOperation &&
               s_.field(Field::Operation) != s_.expectedOperation) {
        // The decoded fields keep their new values.
        wipe(reply, "extended reply");
        reporter_.fail("errorHandlerPOSAutoOperation");
        return "";
    }

    if (!reply.empty() && channel_.messageReady()) reporter_.received();
    return reply;
}

bool Exchange::decode(const std::string& fct, const std::string& reply) {
    const ReplyLayout* layout = replyLayoutFor(fct);
    if (!layout) return false;
    const std::size_t start = s_.field(Field::Sequence).size() + fct.size();
    using Into = ReplyField::Into;
    std::vector<Extracted> pieces = extractReply(*layout, reply, start, s_.field(Field::Control));
    for (Extracted& piece : pieces) {
        const std::size_t which = piece.target.which;
        switch (piece.target.into) {
            case Into::Request:
                s_.store(static_cast<Field>(which), piece.text);
                break;
            case Into::Result: {
                // The previous reply's value is wiped before its buffer is let go.
                std::string& into = s_.result(static_cast<Result>(which));
                wipe(into, "extended result");
                into = std::move(piece.text);
                break;
            }
            case Into::Code:
                s_.codes[which] = std::move(piece.text);
                break;
            case Into::Version:
                s_.versions[which] = std::move(piece.text);
                break;
        }
    }
    for (Extracted& piece : pieces)
        wipe(piece.text, "extended reply field");
    if (layout->setsExpectedOperation) s_.expectedOperation = s_.field(Field::Operation);
    return true;
}

}  // namespace korvel::ext
