// The simulator's answers to basic payment requests.
//
// Request (26 characters): cash-register number (2), amount (8), response indicator (1), mode
// (1), type (1), currency (3), private area (10).
//
// Reply (80 characters): cash-register number echoed (2), status (1), amount echoed (8), mode
// (1), reply data (55), currency echoed (3), private area of ten spaces (10).
//
// Outcomes, chosen by the amount so that demos and tests reach every path:
//   - response indicator "0": no reply at all (the host asked for none);
//   - amount 00000404: no reply (the terminal never answers; the host's wait times out);
//   - amount ending in 99: status "1", refused by the card issuer;
//   - amount ending in 98: status "2", card unreadable;
//   - a request that is not 26 characters, or whose amount is not 8 digits: status "9",
//     request malformed, with the fields that could be read echoed;
//   - any other amount: status "0", accepted.
// Reply data of an accepted payment: the masked card number "497010******" followed by four
// digits, a space, "AUTH", a six-digit authorisation number (both derived from the amount and
// the register number, so a given request always gets the same answer), padded with spaces to
// 55.  A refusal carries "REFUSED BY ISSUER" or "CARD UNREADABLE" instead.
// Mode: a request in mode "C" (cheque) is answered in "C"; every other mode is answered "1"
// (paid by card).
#pragma once

#include <optional>
#include <string>

namespace korvel::sim {

/// Status characters of the payment reply.
inline constexpr char kPaymentAccepted = '0';
inline constexpr char kPaymentRefused = '1';
inline constexpr char kPaymentCardUnreadable = '2';
inline constexpr char kPaymentMalformed = '9';
/// The amount the terminal never answers.
inline constexpr const char* kSilentAmount = "00000404";

/// The reply to a basic payment request, or nothing when the terminal stays silent.
std::optional<std::string> paymentReply(const std::string& request);

}  // namespace korvel::sim
