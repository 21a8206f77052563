// The extended reply decoder: the first input byte picks a function code (one with a reply
// layout, one without, or two raw bytes), the second the card-information switch, the rest is
// the reply.  The pieces must be the reply cut field after field from position 5 by the
// layout's widths, spaces where it ends, card information only when asked for, a field that
// needs status "00" blank otherwise; a reply starts with its status and ends where it should.
#include <map>

#include "Driver.h"
#include "extended/Decoder.h"

using korvel::fuzz::check;
namespace ext = korvel::ext;
using When = ext::ReplyField::When;

// Each layout's last position (1-based), optional fields included, and codes without one.
const std::map<std::string, std::size_t> kLast = {
    {"01", 58}, {"03", 512}, {"04", 506}, {"10", 10}, {"11", 246}, {"12", 22},
    {"14", 9},  {"15", 198}, {"16", 6},   {"17", 6},  {"18", 6},   {"19", 6},
    {"20", 6},  {"21", 6},   {"23", 506}, {"02", 0},  {"22", 0},   {"40", 0},
    {"41", 0},  {"50", 0},   {"51", 0},   {"60", 0},  {"61", 0},   {"13", 0}};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    auto in = korvel::fuzz::input(data, size);
    const uint8_t pick = in.byte();
    const std::string code = pick < 8 * kLast.size()
                                 ? std::next(kLast.begin(), pick % kLast.size())->first
                                 : in.bytes(2);
    const std::string control = std::string("0453 ").substr(in.byte() % 6, 1);  // "" at 5
    const std::string reply = std::string(in.in);  // sequence number, code, then the fields
    const ext::ReplyLayout* layout = ext::replyLayoutFor(code);
    const auto last = kLast.find(code);
    check(!layout == (last == kLast.end() || last->second == 0),
          "a layout for the codes that have one");
    if (!layout) return 0;
    const std::vector<ext::Extracted> pieces = ext::extractReply(*layout, reply, 4, control);
    const auto status = code == "14" ? ext::Result::StatusEFT : ext::Result::Status;
    check(!pieces.empty() && pieces[0].target.into == ext::ReplyField::Into::Result &&
              pieces[0].target.which == static_cast<std::size_t>(status),
          "a reply starts with its status");
    std::size_t at = 5, n = 0;
    for (const ext::ReplyField& f : layout->fields) {
        const std::string cut = korvel::fuzz::slice(reply, at, at + f.width - 1);
        at += f.width;
        if (f.when == When::CardInfoRequested && control != "4" && control != "5") continue;
        check(n < pieces.size(), "a piece for every field taken");
        const ext::Extracted& got = pieces[n++];
        check(got.target.into == f.into && got.target.which == f.which, "pieces in reply order");
        const bool blank = f.when == When::StatusOk && pieces[0].text != "00";
        check(got.text == (blank ? std::string(f.width, ' ') : cut),
              "a piece is the characters at its positions");
    }
    check(n == pieces.size() && at - 1 == last->second,
          "no piece beyond the layout, which ends where it should");
    return 0;
}
