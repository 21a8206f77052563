// The basic payment reply parser: any text the terminal sends back is cut into the six reply
// fields.  Every field must hold exactly the characters at its fixed positions of the reply
// (1-based: number 1-2, status 3, amount 4-11, mode 12, reply data 13-67, currency 68-70),
// padded with spaces where the reply is shorter, and the control's getters must return them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "pos/PosFields.h"

using korvel::fuzz::check;

namespace {

struct Slot {
    std::size_t first;  // 1-based position of the first character
    std::size_t width;
};
// The reply layout, written out position by position.
constexpr std::array<Slot, 6> kSlots = {{{1, 2}, {3, 1}, {4, 8}, {12, 1}, {13, 55}, {68, 3}}};

std::string expectedField(const std::string& reply, const Slot& s) {
    std::string out;
    for (std::size_t p = s.first; p < s.first + s.width; ++p)
        out.push_back(p <= reply.size() ? reply[p - 1] : ' ');
    return out;
}

korvel::KorvelComTools& control() {
    static korvel::SimPlatform platform;
    static korvel::KorvelComTools c(platform);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    korvel::pos::PosRecord& record = korvel::pos::threadRecord();
    const auto requestBefore = record.request;
    const std::string requestMessage = record.requestMessage();

    record.parseReply(reply);

    std::string joined;
    for (std::size_t i = 0; i < kSlots.size(); ++i) {
        check(record.reply[i] == expectedField(reply, kSlots[i]), "reply field at its positions");
        joined += record.reply[i];
    }
    check(joined.size() == 70, "the reply fields cover 70 characters");
    std::string head = reply.substr(0, 70);
    head.resize(70, ' ');
    check(joined == head, "the fields joined are the first 70 characters, padded");

    korvel::KorvelComTools& c = control();
    check(c.EFTposNumber() == record.reply[0], "EFTposNumber");
    check(c.EFTposStat() == record.reply[1], "EFTposStat");
    check(c.EFTposAmount() == record.reply[2], "EFTposAmount");
    check(c.EFTposMode() == record.reply[3], "EFTposMode");
    check(c.EFTposRep() == record.reply[4], "EFTposRep");
    check(c.EFTposDev() == record.reply[5], "EFTposDev");

    check(record.request == requestBefore, "parsing a reply leaves the request fields alone");
    check(record.requestMessage() == requestMessage, "and the request message");
    return 0;
}
