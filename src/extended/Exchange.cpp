// The extended exchange: request, reply wait (with the authorisation's intermediate reply),
// sequence and function checks, decoding by the reply layout table, the operation check, and
// the result fields.
#include <stdexcept>

#include "control/Guarded.h"
#include "extended/Decoder.h"
#include "extended/ExtendedState.h"
#include "korvelcom/CardData.h"
#include "util/FixedWidth.h"

namespace korvel {

namespace {

// The `n` characters at 0-based `pos`, fewer (or none) where the text ends earlier.
std::string part(const std::string& text, std::size_t pos, std::size_t n) {
    return pos < text.size() ? text.substr(pos, n) : std::string();
}

// Marks the control's extended exchange as running for the lifetime of the guard.
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

bool KorvelComTools::refuseNestedExchange() {
    if (!ext_->exchangeRunning) return false;
    // The running exchange ends its reply wait on any tag in `ReceiveError`: the refusal is
    // shown to the host, then the previous text is put back so that the payment goes on.
    const std::string before = st_.ReceiveError;
    reportError("errorPOSAutoExchangeBusy");
    st_.ReceiveError = before;
    return true;
}

bool KorvelComTools::sequenceEchoed(const std::string& reply) const {
    const std::string& sequence = ext_->field(ext::Field::Sequence);
    return part(reply, 0, sequence.size()) == sequence;
}

std::string KorvelComTools::POSAutoMessage(const std::string& Fct, int32_t lngTimeout) {
    if (refuseNestedExchange()) return "";
    RunningExchange running(ext_->exchangeRunning);
    std::string reply;  // the host gets its own copy; this one may hold card data
    WipeOnExit wipeReply(reply, "extended reply");
    try {
        ext_->status = "99";
        ext_->statusCard = "99";
        const int32_t wait = extendedReplyWait(Fct, lngTimeout);
        // A request that was not built or not sent has been reported by the send.
        if (!sendExtendedRequest(Fct)) return "";
        return extendedExchange(Fct, wait, reply);
    } catch (...) {
        // Falls through to the failure path below.
    }
    reportError("errorHandlerPOSAutoMessage");
    return reply;
}

std::string KorvelComTools::extendedExchange(const std::string& Fct, int32_t wait,
                                             std::string& reply) {
    // This exchange raises `ReceivedEvent` itself once the reply is decoded.
    if (st_.ReceiveEnabled) st_.ReceivedEventDeferred = true;
    reply = RecMessage(wait);
    if (reply.empty()) {
        reportError("errorHandlerPOSAutoMessage");
        return "";
    }
    const auto sequenceMismatch = [&] {
        wipe(reply, "extended reply");
        POSAutoIncSequence();  // a reply arrived and was compared: the number moves on
        reportError("errorHandlerPOSAutoSequence");
        return std::string();
    };
    if (!sequenceEchoed(reply)) return sequenceMismatch();

    // An authorisation may first answer that it is in progress; the host may abort the wait
    // for the final reply.  Only one intermediate reply is waited through.
    if (Fct == "01" && part(reply, 2, 2) == kIntermediateCode) {
        if (sink_) sink_->AbortEnabledEvent();
        reply = RecMessage(ext_->timeout(ext::Timeout::Authorization));
        if (reply.empty()) {
            reportError("errorHandlerPOSAutoMessage");
            return "";
        }
        if (!sequenceEchoed(reply)) return sequenceMismatch();
    }

    POSAutoIncSequence();

    const auto functionFailure = [&] {
        wipe(reply, "extended reply");
        reportError("errorHandlerPOSAutoFunction");
    };
    if (part(reply, 2, Fct.size()) != Fct) {
        functionFailure();
        return "";
    }
    if (!decodeExtendedReply(Fct, reply)) {
        functionFailure();
    } else if (ext::replyLayoutFor(Fct)->checksOperation &&
               ext_->field(ext::Field::Operation) != ext_->expectedOperation) {
        // The decoded fields keep their new values.
        wipe(reply, "extended reply");
        reportError("errorHandlerPOSAutoOperation");
        return "";
    }

    if (!reply.empty() && st_.ReceiveEnabled && st_.MessageReady && sink_) sink_->ReceivedEvent();
    return reply;
}

bool KorvelComTools::decodeExtendedReply(const std::string& Fct, const std::string& reply) {
    const ext::ReplyLayout* layout = ext::replyLayoutFor(Fct);
    if (!layout) return false;
    ExtendedState& s = *ext_;
    const std::size_t start = s.field(ext::Field::Sequence).size() + Fct.size();
    using Into = ext::ReplyField::Into;
    std::vector<ext::Extracted> pieces =
        ext::extractReply(*layout, reply, start, s.field(ext::Field::Control));
    for (ext::Extracted& piece : pieces) {
        const std::size_t which = piece.target.which;
        switch (piece.target.into) {
            case Into::Request:
                s.store(static_cast<ext::Field>(which), piece.text);
                break;
            case Into::Result: {
                // The previous reply's value is wiped before its buffer is let go.
                std::string& into =
                    which == static_cast<std::size_t>(ext::Result::Status)       ? s.status
                    : which == static_cast<std::size_t>(ext::Result::StatusCard) ? s.statusCard
                                                                                 : s.results[which];
                wipe(into, "extended result");
                into = std::move(piece.text);
                break;
            }
            case Into::Code:
                s.codes[which] = std::move(piece.text);
                break;
            case Into::Version:
                s.versions[which] = std::move(piece.text);
                break;
        }
    }
    for (ext::Extracted& piece : pieces)
        wipe(piece.text, "extended reply field");
    if (layout->setsExpectedOperation) s.expectedOperation = s.field(ext::Field::Operation);
    return true;
}

std::string KorvelComTools::POSAutoApplication() const {
    return ext_->result(ext::Result::Application);
}
std::string KorvelComTools::POSAutoReceipt() const {
    return ext_->result(ext::Result::Receipt);
}
std::string KorvelComTools::POSAutoPrivate() const {
    return ext_->result(ext::Result::Private);
}
std::string KorvelComTools::POSAutoNbCharacter() const {
    return ext_->result(ext::Result::NbCharacter);
}
std::string KorvelComTools::POSAutoString() const {
    return ext_->result(ext::Result::String);
}
std::string KorvelComTools::POSAutoStatusEFT() const {
    return ext_->result(ext::Result::StatusEFT);
}

std::string KorvelComTools::softwareEntry(int16_t index, bool codes) {
    if (index < 0)
        throw std::out_of_range(codes ? "POSAutoCode: negative index"
                                      : "POSAutoVersion: negative index");
    if (static_cast<std::size_t>(index) >= ext::kSoftwareEntries) {
        reportError(codes ? "errorPOSAutoCode" : "errorPOSAutoVersion");
        return "";
    }
    return codes ? ext_->codes[index] : ext_->versions[index];
}

std::string KorvelComTools::POSAutoCode(int16_t index) {
    return softwareEntry(index, true);
}
std::string KorvelComTools::POSAutoVersion(int16_t index) {
    return softwareEntry(index, false);
}

}  // namespace korvel
