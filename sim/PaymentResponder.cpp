#include "sim/PaymentResponder.h"

#include "util/FixedWidth.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace korvel::sim {
namespace {

std::string field(const std::string& s, std::size_t pos, std::size_t width) {
    return util::cutField(s, pos, width);
}

bool allDigits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A stable number from the request, so that the same request always gets the same answer.
uint32_t fingerprint(const std::string& text) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

std::optional<std::string> paymentReply(const std::string& request) {
    const std::string number = field(request, 0, 2);
    const std::string amount = field(request, 2, 8);
    const std::string rep = field(request, 10, 1);
    const std::string mode = field(request, 11, 1);
    const std::string currency = field(request, 13, 3);

    if (rep == "0") return std::nullopt;
    if (amount == kSilentAmount) return std::nullopt;

    char status = kPaymentAccepted;
    std::string data;
    if (request.size() != 26 || !allDigits(amount)) {
        status = kPaymentMalformed;
        data = "REQUEST MALFORMED";
    } else if (amount.compare(6, 2, "99") == 0) {
        status = kPaymentRefused;
        data = "REFUSED BY ISSUER";
    } else if (amount.compare(6, 2, "98") == 0) {
        status = kPaymentCardUnreadable;
        data = "CARD UNREADABLE";
    } else {
        const uint32_t h = fingerprint(number + amount);
        char text[64];
        std::snprintf(text, sizeof text, "497010******%04u AUTH%06u", h % 10000u,
                      (h / 10000u) % 1000000u);
        data = text;
    }
    data.resize(55, ' ');
    const std::string replyMode = mode == "C" ? "C" : "1";
    return number + status + amount + replyMode + data + currency + std::string(10, ' ');
}

}  // namespace korvel::sim
