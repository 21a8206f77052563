// Writes the seed corpora of the fuzz targets: the terminal simulator's own replies (basic
// payments of several outcomes, the extended replies of every function code, test frames),
// obtained by running a control against the simulator in virtual time, and the property file
// a control saves.  Usage: korvel_fuzz_corpus DIR (one folder per target is filled in DIR).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Script.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"
#include "sim/ExtendedResponder.h"
#include "sim/Frames.h"
#include "sim/PaymentResponder.h"
#include "sim/Terminal.h"
#include "sim/TerminalPort.h"

namespace fs = std::filesystem;
using namespace korvel;
using fuzz::writeChunk;

namespace {

fs::path gRoot;
int gWritten = 0;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path dir = gRoot / target;
    fs::create_directories(dir);
    std::ofstream out(dir / ("seed-" + name), std::ios::binary | std::ios::trunc);
    out << bytes;
    ++gWritten;
}

// A control and a simulated terminal on one virtual line.
struct Bench {
    SimPlatform platform;
    sim::SimLinePort port{platform.simLoop(), platform.terminal()};
    sim::Terminal terminal{platform.simLoop(), port};
    KorvelComTools control{platform};
};

std::vector<std::string> paymentReplies() {
    std::vector<std::string> out;
    // Accepted, refused by the issuer, card unreadable, cheque mode.
    const char* const cases[][2] = {
        {"00001500", "0"}, {"00002599", "0"}, {"00002598", "0"}, {"00004200", "C"}};
    for (const auto& k : cases) {
        Bench b;
        b.terminal.setResponder(sim::paymentReply);
        b.control.setPOSAmount(k[0]);
        b.control.setPOSMode(k[1]);
        b.control.POSMessage();
        for (const std::string& s : b.terminal.sent())
            out.push_back(s);
    }
    return out;
}

// The replies the simulator sends to one extended operation of a new control (sequence
// "01"): one reply, or the intermediate reply and the final one of an authorisation.
std::vector<std::string> extendedReplies(const fuzz::receive::Operation& op) {
    Bench b;
    sim::ExtendedOptions options;
    options.finalDelayMs = 200;
    sim::ExtendedResponder responder(b.platform.simLoop(), b.terminal, options);
    b.terminal.setResponder(responder.responder());
    b.control.setPOSAutoCardReader(op.cardReader);
    b.control.POSAutoMessage(op.code, 5000);
    b.platform.simLoop().runFor(3'000'000);  // a reply nobody waited for still goes out
    return b.terminal.sent();
}

// The bytes the simulator answers a test frame with.
std::string testReply(const std::string& reply) {
    Bench b;
    if (!reply.empty()) b.terminal.setTestResponder([reply](const std::string&) { return reply; });
    std::string send = "T";
    std::string rec;
    int16_t status = 0;
    int32_t timeout = 3000;
    b.control.MessageTestK7200(send, rec, status, timeout);
    return b.platform.wire().bytes(WireLog::Dir::In);
}

std::string savedProperties(KorvelComTools& control) {
    TextPropertyBag bag;
    control.WriteProperties(bag);
    return bag.text();
}

// The terminal's session carrying `text`: ENQ, the frame on the control's ACK, EOT on its
// next ACK.
std::string session(const std::string& text, int32_t firstDelayMs = 5) {
    return writeChunk(0, firstDelayMs, std::string(1, link::ENQ)) +
           writeChunk(fuzz::kAfterAck, 1, sim::lrcFrame(text)) +
           writeChunk(fuzz::kAfterAck, 1, std::string(1, link::EOT));
}

std::string receiveHeader(uint8_t scenario, uint8_t operation, uint8_t flags) {
    // TOwaitChar 17 ms, TOBetweenChar 5 ms, reply pause 1 ms, wait 68 ms.
    const uint8_t timing = 0x0F | (8 << 4);
    return std::string{static_cast<char>(scenario),
                       static_cast<char>(operation),
                       static_cast<char>(flags),
                       static_cast<char>(timing),
                       '\x01',
                       '\x3F'};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: korvel_fuzz_corpus DIR\n";
        return 2;
    }
    gRoot = argv[1];
    namespace rx = fuzz::receive;
    const uint8_t on = rx::kReceiveEnabled | rx::kErrorEnabled;

    // Basic payment replies.
    const std::vector<std::string> payments = paymentReplies();
    for (std::size_t i = 0; i < payments.size(); ++i) {
        const std::string n = std::to_string(i);
        seed("fuzz_pos_reply", "payment-" + n, payments[i]);
        seed("fuzz_receive", "payment-" + n,
             receiveHeader(rx::kPosMessage, 0, on) + session(payments[i]));
        // The same reply framed by the target itself.
        seed("fuzz_receive", "payment-framed-" + n,
             receiveHeader(rx::kPosMessage, 0, on) + writeChunk(0, 5, std::string(1, link::ENQ)) +
                 writeChunk(fuzz::kAfterAck | fuzz::kFramed, 1, payments[i]) +
                 writeChunk(fuzz::kAfterAck, 1, std::string(1, link::EOT)));
    }
    seed("fuzz_receive", "message-ok", receiveHeader(rx::kMessage, 0, on) + session("OK"));
    seed("fuzz_receive", "message-noise",
         receiveHeader(rx::kMessage, 0, rx::kReceiveEnabled) + writeChunk(0, 5, "\x05") +
             writeChunk(fuzz::kAfterAck, 1, "\x18\xFF" + sim::lrcFrame("NOISY")) +
             writeChunk(fuzz::kAfterAck, 1, "xy\x04"));
    seed("fuzz_receive", "idle-unsolicited",
         receiveHeader(rx::kIdle, 0, on) + session("UNSOLICITED") + session("AGAIN", 30));
    seed("fuzz_receive", "idle-lone-eot",
         receiveHeader(rx::kIdle, 0, on) + writeChunk(0, 3, "\x04") + session("LATE", 20));

    // Extended replies of every operation.
    for (std::size_t i = 0; i < rx::kOperationCount; ++i) {
        const rx::Operation& op = rx::kOperations[i];
        const std::vector<std::string> replies = extendedReplies(op);
        std::string script;
        for (const std::string& r : replies) {
            script += session(r, script.empty() ? 5 : 20);
            seed("fuzz_extended_decoder", "reply-" + std::string(op.code) + "-" + r.substr(2, 2),
                 std::string("\xFF") + r.substr(2, 2) + "\x01" + r);
        }
        if (replies.empty()) continue;
        // The payment replies carry the simulator's operation "0000", which the control
        // accepts once a card reading announced it.
        const std::string code = op.code;
        const bool payment = code == "01" || code == "03" || code == "04" || code == "23";
        const uint8_t flags = on | (payment ? rx::kOperationZero : 0);
        seed("fuzz_receive", "extended-" + std::string(op.code),
             receiveHeader(rx::kExtended, static_cast<uint8_t>(i), flags) + script);
    }

    // Test frames: "OK" replies, a refusal, and one taken before the wait started.
    const std::string ok = testReply("");
    const std::string no = testReply("NO");
    const std::string head{'\x00', '\x05', static_cast<char>(100)};
    const std::string sendFirst{static_cast<char>(fuzz::testframe::kSendFirst), '\x05',
                                static_cast<char>(100)};
    seed("fuzz_test_frame", "ok", head + writeChunk(0, 2, ok));
    seed("fuzz_test_frame", "ok-send-first", sendFirst + writeChunk(0, 2, ok));
    seed("fuzz_test_frame", "no", head + writeChunk(0, 2, no));
    seed("fuzz_test_frame", "early",
         head + writeChunk(fuzz::kEarly, 0, ok.substr(0, 3)) + writeChunk(0, 1, ok.substr(3)));
    seed("fuzz_test_frame", "framed", head + writeChunk(fuzz::kFramed, 2, "OK then"));

    // Property files: a newly placed control, and one that loaded unusual values.
    {
        SimPlatform p;
        KorvelComTools c(p);
        c.InitProperties();
        seed("fuzz_property_bag", "new-instance", savedProperties(c));
        MemoryPropertyBag odd;
        odd.put("POSAutoText", std::string("line\x01\x02\"quoted\"\\ \xE9\xFF"));
        odd.put("TOwaitChar", int32_t{-5});
        odd.put("CommSettings", "19200,n,8,2");
        odd.put("POSAutoOperation", "0007");
        odd.put("POSAutoOperation", "0008");
        odd.put("ErrorEnabled", false);
        c.ReadProperties(odd);
        seed("fuzz_property_bag", "unusual", savedProperties(c));
    }
    seed("fuzz_property_bag", "hand-written",
         "# edited by hand\nCommPort=2\nTOwaitChar = 800 # longer\nPOSNumber = 7\n"
         "ErrorEnabled = FALSE\nPOSAutoText = bare words\nbroken line\nPOSDev = \"9\\x41\"\n");

    // Conversions: [operation][start][end][text].
    const auto conv = [](uint8_t op, int16_t start, int16_t end, const std::string& text) {
        std::string s(1, static_cast<char>(op));
        for (int16_t v : {start, end}) {
            s += static_cast<char>(v & 0xFF);
            s += static_cast<char>((v >> 8) & 0xFF);
        }
        return s + text;
    };
    seed("fuzz_conversions", "hex-pairs", conv(4, 1, 32767, "1A2B"));
    seed("fuzz_conversions", "decimal-range", conv(1, 1, 3, "12345"));
    seed("fuzz_conversions", "reversed", conv(0, 5, 2, "abcdefg"));
    seed("fuzz_conversions", "three-digits", conv(7, 0, 32767, "065300"));
    seed("fuzz_conversions", "negative-start", conv(5, -3, 4, "A7x"));
    seed("fuzz_conversions", "overflow", conv(13, 1, 32767, "7FFFFFFF2147483647"));
    seed("fuzz_conversions", "any-positions", conv(0xF3, -32768, 32767, "Zz9"));

    std::cout << "wrote " << gWritten << " seed files under " << gRoot.string() << '\n';
    return 0;
}
