// The simulator's answers to extended requests: one reply per function code in the extended
// reply layouts, with realistic contents.
//
// Every reply starts with the request's sequence number and its function code, then:
//   01 authorisation  status "00", operation number, card status "00", application "CB01",
//                     amount and currency echoed, and (when the request's control is "4" or
//                     "5") 27 characters of card information.  It is answered first with the
//                     intermediate reply (sequence, "02") and then, `finalDelayMs` later, with
//                     the final reply, sent by the terminal in a session of its own.
//   03 recording      status, operation number, card status, a receipt of up to 500 characters
//   04, 23            status, receipt
//   10 (40, 50, 60)   status, a new operation number
//   11 (41, 51, 61)   status, a new operation number, three tracks (107, 40, 79), private
//                     data (10)
//   12 PIN pad        status, number of characters "4", the entry "1234" (15 characters)
//   14 status         five characters of terminal status ("00100")
//   15 software       status, then 32 software codes (4) and versions (2)
//   16 to 22          status
//   anything else     status "30" (function not supported)
// Operation numbers: each card reading (10, 11 and their variants) announces the next number
// ("0001", "0002", ...); the authorisation and the recording that follow carry the same one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "sim/Terminal.h"

namespace korvel::sim {

/// Behaviour of the extended responder.  The faults apply to the reply that completes an
/// exchange (the final reply of an authorisation).
struct ExtendedOptions {
    /// Milliseconds between the intermediate reply of an authorisation being queued and its
    /// final reply being queued.
    int32_t finalDelayMs = 2000;
    bool wrongSequence = false;       ///< the reply carries the next sequence number
    bool wrongFunction = false;       ///< the reply carries another function code
    bool operationMismatch = false;   ///< a payment reply carries another operation number
    bool secondIntermediate = false;  ///< the final reply is a second intermediate reply
    bool noFinalReply = false;        ///< the authorisation's final reply never comes
};

class ExtendedResponder {
  public:
    /// Answers through `terminal` (its second message, the final reply of an authorisation, is
    /// sent with `Terminal::send`).  `loop` and `terminal` must outlive the responder's
    /// pending work or the responder itself, whichever ends first.
    ExtendedResponder(HostLoop& loop, Terminal& terminal, ExtendedOptions options = {});

    /// The reply to `request` (as a `Responder`); an empty request has no reply.
    std::optional<std::string> operator()(const std::string& request);
    /// A `Responder` calling this object, which must outlive the terminal's use of it.
    Responder responder() {
        return [this](const std::string& request) { return (*this)(request); };
    }

    ExtendedOptions& options() { return options_; }
    /// The operation number announced by the last card reading ("0000" before any).
    const std::string& operation() const { return operation_; }

  private:
    std::string finalAuthorisation(const std::string& request);
    std::string withFaults(std::string reply, bool payment) const;

    HostLoop& loop_;
    Terminal& terminal_;
    ExtendedOptions options_;
    std::string operation_ = "0000";
    int readings_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

/// A receipt text of `lines` lines of 40 characters (at most 500 characters).
std::string receiptText(const std::string& title, const std::string& amount, int lines = 10);

}  // namespace korvel::sim
