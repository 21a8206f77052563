// Writes the fuzz targets' seed corpora into DIR/TARGET/: the terminal simulator's replies
// (payments of four outcomes, every extended operation's replies, test frames) as the targets'
// inputs, a hand-written property file and a few conversions.  Usage: korvel_fuzz_corpus DIR
#include <filesystem>
#include <fstream>
#include <iostream>

#include "Driver.h"
#include "World.h"
#include "pos/PosFields.h"
#include "sim/ExtendedResponder.h"
#include "sim/Frames.h"
#include "sim/PaymentResponder.h"

using namespace korvel;
using namespace std::literals;
using fuzz::writeChunk;

namespace {

std::filesystem::path gRoot;
int gWritten = 0;

void seed(const std::string& target, const std::string& bytes) {
    std::filesystem::create_directories(gRoot / target);
    std::ofstream(gRoot / target / ("seed-" + std::to_string(++gWritten)), std::ios::binary)
        << bytes;
}

// The receive target's header (TOwaitChar 17 ms, TOBetweenChar 5 ms, pause 1 ms, wait 68 ms),
// then a session for each text: ENQ, the frame on the control's ACK, EOT on its next ACK.
std::string receive(uint8_t scenario, std::size_t op, uint8_t flags,
                    const std::vector<std::string>& texts, uint8_t framed = 0) {
    std::string out = {static_cast<char>(scenario), static_cast<char>(op),
                       static_cast<char>(flags)};
    out += "\x8F\x01\x3F";
    for (const std::string& t : texts)
        out += writeChunk(0, out.size() > 6 ? 20 : 5, "\x05") +
               writeChunk(fuzz::kAfterAck | framed, 1, framed ? t : sim::lrcFrame(t)) +
               writeChunk(fuzz::kAfterAck, 1, "\x04");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return std::cerr << "usage: korvel_fuzz_corpus DIR\n", 2;
    gRoot = argv[1];
    const uint8_t on = fuzz::kReceiveOn | fuzz::kErrorOn;
    // Payments accepted, refused by the issuer, with the card unreadable, in cheque mode.
    for (const auto& [amount, mode] :
         {std::pair{"00001500", "0"}, {"00002599", "0"}, {"00002598", "0"}, {"00004200", "C"}}) {
        pos::PosRecord r;
        r.request[static_cast<std::size_t>(pos::RequestField::Amount)] = amount;
        r.request[static_cast<std::size_t>(pos::RequestField::Mode)] = mode;
        const std::string reply = sim::paymentReply(r.requestMessage()).value();
        seed("fuzz_pos_reply", reply);
        seed("fuzz_receive", receive(fuzz::kPosMessage, 0, on, {reply}));
        seed("fuzz_receive", receive(fuzz::kPosMessage, 0, on, {reply}, fuzz::kFramed));
    }
    seed("fuzz_receive", receive(fuzz::kMessage, 0, on, {"OK"}));
    seed("fuzz_receive", receive(fuzz::kIdle, 0, on, {"UNSOLICITED", "AGAIN"}));

    // Every extended operation of a new control; a reply nobody waited for still goes out.
    for (std::size_t i = 0; i < std::size(fuzz::kOperations); ++i) {
        const std::string code = fuzz::kOperations[i];
        test::World w;
        sim::ExtendedResponder responder(w.p.loop(), w.simulate(), {.finalDelayMs = 200});
        w.terminal->setResponder(responder.responder());
        w->setPOSAutoCardReader(fuzz::cardReaderFor(code));
        w->POSAutoMessage(code, 5000);
        w.p.simLoop().runFor(3'000'000);
        for (const std::string& r : w.terminal->sent())
            seed("fuzz_extended_decoder", "\xFF" + r.substr(2, 2) + "\x01" + r);
        // A payment reply carries the simulator's operation "0000", which the control accepts
        // once a card reading announced it.
        const bool payment = code == "01" || code == "03" || code == "04" || code == "23";
        if (!w.terminal->sent().empty())
            seed("fuzz_receive",
                 receive(fuzz::kExtended, i, on | (payment ? fuzz::kOperationZero : 0),
                         w.terminal->sent()));
    }

    // Test frames: the simulator's "OK" reply, whole or partly early, a refusal, one framed here.
    const std::string ok = sim::testFrame("OKT"), head = "\x01\x05\x64";
    for (const std::string& s : {ok, sim::testFrame("NO"), writeChunk(fuzz::kFramed, 2, "OK then")})
        seed("fuzz_test_frame", head + (s[0] == link::STX ? writeChunk(0, 2, s) : s));
    seed("fuzz_test_frame",
         head + writeChunk(fuzz::kEarly, 0, ok.substr(0, 3)) + writeChunk(0, 1, ok.substr(3)));
    seed("fuzz_property_bag",
         "# by hand\nCommPort=2\nTOwaitChar = 800 # longer\nErrorEnabled = FALSE\n"
         "POSAutoText = bare words\nbroken line\nPOSDev = \"9\\x41\\\"\\\\\"\n");
    // Conversions: [operation][start][end][text], positions low byte first (octal escapes).
    for (std::string_view s :
         {"\004\001\000\377\1771A2B"sv, "\001\001\000\003\00012345"sv, "\000\005\000\002\000abc"sv,
          "\007\000\000\377\177065300"sv, "\005\375\377\004\000A7x"sv, "\363\000\200\377\177Zz9"sv,
          "\015\001\000\377\1777FFFFFFF2147483647"sv})
        seed("fuzz_conversions", std::string(s));
    std::cout << "wrote " << gWritten << " seed files under " << gRoot.string() << '\n';
    return 0;
}
