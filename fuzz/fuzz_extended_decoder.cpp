// The extended reply decoder, for every function code: the first input byte chooses the code
// (every code the terminal may answer, the codes without a reply layout, or two raw bytes),
// the second the authorisation's card-information switch, the rest is the reply.  The pieces
// must be exactly the characters at the positions of the reply layouts, written out here
// position by position (1-based, both ends included), padded with spaces where the reply ends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "extended/Decoder.h"

using korvel::fuzz::check;
namespace ext = korvel::ext;
using Into = ext::ReplyField::Into;
using When = ext::ReplyField::When;

namespace {

struct Expect {
    Into into;
    std::size_t which;
    std::size_t first;  // 1-based
    std::size_t last;   // 1-based, included
    When when = When::Always;
};

Expect req(ext::Field f, std::size_t first, std::size_t last, When w = When::Always) {
    return {Into::Request, ext::index(f), first, last, w};
}
Expect res(ext::Result r, std::size_t first, std::size_t last, When w = When::Always) {
    return {Into::Result, static_cast<std::size_t>(r), first, last, w};
}

using ext::Field;
using ext::Result;

// The reply layouts by code; an empty list means the code has no layout.
std::vector<Expect> layoutOf(const std::string& code) {
    const Expect status = res(Result::Status, 5, 6);
    if (code == "01")
        return {status,
                req(Field::Operation, 7, 10),
                res(Result::StatusCard, 11, 12),
                res(Result::Application, 13, 16),
                req(Field::Amount, 17, 28),
                req(Field::Currency, 29, 31),
                req(Field::CardInfo, 32, 58, When::CardInfoRequested)};
    if (code == "03")
        return {status, req(Field::Operation, 7, 10), res(Result::StatusCard, 11, 12),
                res(Result::Receipt, 13, 512)};
    if (code == "04" || code == "23") return {status, res(Result::Receipt, 7, 506, When::StatusOk)};
    if (code == "10") return {status, req(Field::Operation, 7, 10)};
    if (code == "11")
        return {status,
                req(Field::Operation, 7, 10),
                req(Field::TrackISO1, 11, 117),
                req(Field::TrackISO2, 118, 157),
                req(Field::TrackISO3, 158, 236),
                res(Result::Private, 237, 246)};
    if (code == "12") return {status, res(Result::NbCharacter, 7, 7), res(Result::String, 8, 22)};
    if (code == "14") return {res(Result::StatusEFT, 5, 9)};
    if (code == "15") {
        std::vector<Expect> out = {status};
        for (std::size_t i = 0; i < 32; ++i) {
            out.push_back({Into::Code, i, 7 + 6 * i, 10 + 6 * i});
            out.push_back({Into::Version, i, 11 + 6 * i, 12 + 6 * i});
        }
        return out;
    }
    for (const char* c : {"16", "17", "18", "19", "20", "21"})
        if (code == c) return {status};
    return {};
}

// Every code the extended protocol knows, with and without a reply layout, and the
// intermediate reply's code.
const char* const kCodes[] = {"01", "02", "03", "04", "10", "11", "12", "14", "15",
                              "16", "17", "18", "19", "20", "21", "22", "23", "40",
                              "41", "50", "51", "60", "61", "13", "00", "99"};
constexpr std::size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];
const char* const kControls[] = {"0", "4", "5", "3", " ", ""};

std::string slice(const std::string& reply, std::size_t first, std::size_t last) {
    std::string out;
    for (std::size_t p = first; p <= last; ++p)
        out.push_back(p <= reply.size() ? reply[p - 1] : ' ');
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvel::fuzz::Input in(data, size);
    const uint8_t pick = in.byte();
    std::string code =
        pick < kCodeCount * 8 ? kCodes[pick % kCodeCount] : in.bytes(2);  // raw: any two bytes
    const std::string control = kControls[in.byte() % (sizeof kControls / sizeof kControls[0])];
    // The reply as the exchange sees it: sequence number, code, then the fields.
    const std::string reply = in.rest();

    const std::vector<Expect> expected = layoutOf(code);
    const ext::ReplyLayout* layout = ext::replyLayoutFor(code);
    check((layout != nullptr) == !expected.empty(), "a layout exactly for the codes that have one");
    if (!layout) return 0;

    const std::vector<ext::Extracted> pieces = ext::extractReply(*layout, reply, 4, control);
    const bool cardInfo = control == "4" || control == "5";
    std::size_t n = 0;
    std::string status;
    for (const Expect& e : expected) {
        if (e.when == When::CardInfoRequested && !cardInfo) continue;
        check(n < pieces.size(), "a piece for every field of the layout");
        const ext::Extracted& got = pieces[n++];
        check(got.target.into == e.into && got.target.which == e.which, "pieces in reply order");
        check(got.target.width == e.last - e.first + 1, "piece width");
        check(got.text.size() == got.target.width, "piece at its full width");
        std::string want = slice(reply, e.first, e.last);
        if (e.when == When::StatusOk && status != "00") want = std::string(want.size(), ' ');
        check(got.text == want, "piece holds the characters at its positions");
        if (e.into == Into::Result && e.which == static_cast<std::size_t>(Result::Status))
            status = got.text;
    }
    check(n == pieces.size(), "no piece beyond the layout");
    return 0;
}
