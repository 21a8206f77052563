// Card data never leaves the project in clear: the mask over random texts, the wire log's
// rendering, the wipes of the buffers that held a card's tracks, and every command's output.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "korvelcom/CardData.h"
#include "sim/ExtendedResponder.h"
#include "support/TempDir.h"
#include "support/World.h"
#ifndef _WIN32
#include "support/Process.h"
#endif

namespace korvel {
namespace {

bool luhn(const std::string& d) {
    int sum = 0;
    for (std::size_t k = 0; k < d.size(); ++k) {
        int v = d[d.size() - 1 - k] - '0';
        if (k % 2 == 1) v = v * 2 > 9 ? v * 2 - 9 : v * 2;
        sum += v;
    }
    return sum % 10 == 0;
}

// A Luhn-valid card number of `len` digits, the first not 0.
std::string cardNumber(std::mt19937& rng, std::size_t len) {
    std::string n(1, static_cast<char>('1' + rng() % 9));
    while (n.size() < len - 1)
        n.push_back(static_cast<char>('0' + rng() % 10));
    for (char c = '0';; ++c)
        if (luhn(n + c)) return n + c;
}

// Every digit window a card number could be, unmasked, in `text`.
std::string unmaskedCard(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        for (std::size_t len = 13; len <= 19 && i + len <= text.size(); ++len) {
            const std::string w = text.substr(i, len);
            if (w[0] != '0' && w.find_first_not_of("0123456789") == std::string::npos && luhn(w))
                return w;
        }
    return "";
}

TEST(CardData, MaskLeavesNoCardNumberAndTouchesNothingElse) {
    const std::string fixed[][2] = {
        {"CARD 4970101234561235 ok", "CARD 497010******1235 ok"},
        {"%B4970101234561235^TEST/CARD^2812101000?  ", "[track 1: 40 characters]  "},
        // A name that runs to the end: the spaces after it are not the track's.
        {"%B4970101234561235^TEST/CARD  ", "[track 1: 28 characters]  "},
        {"%B4970101234561235^  ", "[track 1: 19 characters]  "},
        {";4970101234561235=28121010000000000?", "[track 2: 36 characters]"},
        {";014970101234561235=1000000000000000000000000000000?", "[track 3: 52 characters]"},
        // Too few or too many digits before the '=' for an account number: no track.
        {";00000000000=1? ;0000000000000000000000=1?",
         ";00000000000=1? ;0000000000000000000000=1?"},
        {"amount 000000001500 978 ref 0000000000000000",
         "amount 000000001500 978 ref "
         "0000000000000000"},
    };
    for (const auto& row : fixed)
        EXPECT_EQ(maskCardData(row[0]), row[1]) << row[0];

    std::mt19937 rng(2026);
    const std::string filler = "ACZ ?/-*\x02\x03";  // sentinels come only with tracks
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        bool card = false;
        for (int piece = 0; piece < 6; ++piece) {
            const unsigned kind = rng() % 6;
            if (kind == 0) {
                text += cardNumber(rng, 13 + rng() % 7);
                card = true;
            } else if (kind == 1) {
                const std::string pan = cardNumber(rng, 16);
                text += rng() % 2 ? ";" + pan + "=2812101000000?" : "%B" + pan + "^DOE/J^2812?";
                card = true;
            } else if (kind == 2) {
                text += std::to_string(rng() % 1000000);  // digits too short for a card
            }
            for (unsigned k = rng() % 8; k > 0; --k)
                text.push_back(filler[rng() % filler.size()]);
        }
        const std::string masked = maskCardData(text);
        ASSERT_EQ(unmaskedCard(masked), "") << text;
        if (!card && unmaskedCard(text).empty()) {
            ASSERT_EQ(masked, text);
        }
    }
}

TEST(CardData, WireLogRendersMaskedAndKeepsTheBytes) {
    WireLog log;
    const std::string frame = "\00211;4970101234561235=2812?\003A";
    log.add(1000, WireLog::Dir::In, frame.substr(0, 9));  // the track split over two bursts
    log.add(9000, WireLog::Dir::In, frame.substr(9));
    EXPECT_EQ(log.bytes(WireLog::Dir::In), frame);
    const std::string shown = log.format();
    EXPECT_EQ(shown,  // the whole track once, where it starts, though it spans two bursts
              "     0.000 ms  <- STX '11[track 2: 23 characters]'\n     8.000 ms  <- ETX 'A'\n");
    setCardDataShown(true);
    EXPECT_NE(log.format().find("234561235=2812"), std::string::npos);
    setCardDataShown(false);
}

std::vector<std::string> gWiped;
void recordWipe(const char* data, std::size_t size, const char* what) {
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != 0) gWiped.push_back(std::string("not zero: ") + what);
    gWiped.emplace_back(what);
}

TEST(CardData, BuffersThatHeldTracksAreWiped) {
    test::World w;
    auto& terminal = w.simulate();
    sim::ExtendedResponder responder(w.p.loop(), terminal);
    terminal.setResponder(responder.responder());
    w->setPOSAutoCardReader("1");
    gWiped.clear();
    setWipeObserver(recordWipe);
    ASSERT_NE(w->POSAutoReadingCard("1"), "");
    ASSERT_NE(w->POSAutoTrackISO2().find("4970101234561235"), std::string::npos);
    const std::set<std::string> during(gWiped.begin(), gWiped.end());
    w.c.reset();
    const std::set<std::string> after(gWiped.begin(), gWiped.end());
    setWipeObserver(nullptr);
    EXPECT_TRUE(std::none_of(gWiped.begin(), gWiped.end(),
                             [](const std::string& s) { return s.rfind("not zero", 0) == 0; }));
    for (const char* what : {"reception", "reception text", "extended reply",
                             "extended reply field", "extended request", "received characters"})
        EXPECT_TRUE(during.count(what)) << what;
    for (const char* what : {"ReceiveMessage", "extended field", "receive buffer"})
        EXPECT_TRUE(after.count(what)) << what;
}

#ifndef _WIN32  // drives the command line and the simulator on a pseudo-terminal
// The command line against the simulator: every extended operation and a basic payment, with
// the trace and JSON, never prints the test card beyond its first six and last four digits.
TEST(CardData, CommandLineOutputIsMasked) {
    const std::string cli = KORVEL_CLI_PATH, card = "4970101234561235";
    test::Background sim({cli, "sim", "--pty", "--responder", "extended", "--quiet"});
    const std::string device = sim.firstLine(5000);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "the simulator printed no device";
    // Both outputs of the command line given as words, on the simulator, traced as JSON.
    const auto run = [&](const std::string& words) {
        std::vector<std::string> args = {cli};
        std::istringstream in(words + " --device " + device +
                              " --trace --json --set TOwaitChar=2000");
        for (std::string w; in >> w;)
            args.push_back(w);
        const test::RunResult r = test::run(args);
        return r.out + r.err;
    };
    const std::string file = test::ownTempDir("carddata").string() + "/card.txt";
    std::string all = run("auto ReadingCard --set POSAutoCardReader=1 --save-props " + file);
    ASSERT_NE(all.find("[track 2: 36 characters]"), std::string::npos) << all;
    for (const char* op :
         {"Authorization --Amount 000000001500", "Recording", "ReceiptMerchant", "TicketRequested",
          "CardReaderOperation", "DisplayingPinPadRequest", "StatusRequest", "SoftwareStatus",
          "ClearTransactionFile", "AbortOperation", "SettingEFTConfiguration",
          "SettingEFTApplication", "Beep", "SettingExtReader --TrackISO2 ;4970101234561235=2812?"})
        all += run(std::string("auto ") + op + " --props " + file);
    all += run("message 11" + card) + run("pay --amount 00001500");
    for (std::size_t i = 0; i + 7 <= card.size(); ++i)
        EXPECT_EQ(all.find(card.substr(i, 7)), std::string::npos) << card.substr(i, 7) << all;
    const std::string lab = run("--show-card-data auto ReadingCard --props " + file);
    EXPECT_NE(lab.find(card), std::string::npos) << lab;
    EXPECT_NE(lab.find("warning: card data is shown in clear"), std::string::npos) << lab;
}
#endif

}  // namespace
}  // namespace korvel
