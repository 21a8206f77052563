// Payments in real time while the terminal vanishes, dawdles or floods the line.  Clock bounds
// are hang guards far from what is expected; exact timing is tested in virtual time.
#include <gtest/gtest.h>

#include "support/Pty.h"
#include "support/Tcp.h"

namespace korvel {
namespace {

const std::string kReply = "010000000011ANSWERED";

// The same faults on a pseudo-terminal and on a TCP connection: a dropped connection must
// behave like an unplugged cable, and segments must not change what the link sees.
template <class End>
class LineFaults : public ::testing::Test {};
using Ends = ::testing::Types<Pty, test::TcpEnd>;
TYPED_TEST_SUITE(LineFaults, Ends);

TYPED_TEST(LineFaults, EachWaitEndsTheWayItsStepPromisesWhenTheTerminalVanishesOrDawdles) {
    struct Row {
        const char* name;
        const char* steps;  // the terminal's script (see PtyPeer::play)
        int32_t ackWait, replyWait;
        const char* result;  // reply|tag
        int32_t atLeast;     // ticks the payment takes at least
        const char* later;   // the rest of a session after the payment, which must come in
    };
    constexpr int32_t kLong = 30'000;       // a wait that must not run out
    const char* again = "p300 e A f0 A t";  // the terminal tries again
    const Row rows[] = {
        // A hang-up ends an ACK wait at once (after the retry pause); a reply wait runs out.
        {"gone at session ACK", "E v", kLong, 1000, "|errorHandlerOpenSession", 200, nullptr},
        {"gone at frame ACK", "E a F v", kLong, 1000, "|errorHandlerSendMessage", 200, nullptr},
        {"gone during reply wait", "E a F a T v", kLong, 1500, "|", 1500, nullptr},
        {"gone in reply session", "E a F a T p150 e A v", kLong, kLong,
         "|errorHandlerReceivePacket", 0, nullptr},
        {"reset in reply session", "E a F a T p150 e A r", kLong, kLong,
         "|errorHandlerReceivePacket", 0, nullptr},
        {"never answers", "E p1200", 800, 1500, "|errorHandlerOpenSession", 800, nullptr},
        {"reply byte by byte", "E a F a T p100 e A b A t", 800, 1500, "010000000011ANSWERED|", 100,
         nullptr},
        // Answers well inside each wait go through, well outside fail that step.
        {"dawdling in time", "E p200 a F p200 a T p300 e A f100 A t", 800, 1500,
         "010000000011ANSWERED|", 500, nullptr},
        {"session ACK late", "E p2400 a", 800, 1500, "|errorHandlerOpenSession", 800, nullptr},
        {"frame ACK late", "E a F p2400 a", 800, 1500, "|errorHandlerSendMessage", 800, nullptr},
        {"reply cut by a gap", "E a F a T p300 e A f1200 A t", 800, 1500,
         "|errorHandlerReceivePacket", 300, again},
        {"reply too late", "E a F a T p2500 e A f0 A t", 800, 1500, "|", 1500, again},
        {"flood", "E a F a T p300 n", 800, 1500, "|errorHandlerRecPacket", 300, again},
        // The reply session's EOT and the next session's ENQ in one segment: the session is
        // judged by its last character, so both must arrive, in order, as on any line.
        {"two sessions in one segment", "E a F a T p100 e A f0 A s", 800, 1500,
         "|errorHandlerReceivePacket", 100, again},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::PtyWorld<TypeParam> w;
        w.c.setTOwaitChar(r.ackWait);
        w.c.setTOBetweenChar(400);
        w.c.setTOwaitRetry(200);
        w.c.setRetrySession(1);
        w.c.setRetryData(1);
        w.c.setPOSTimeout(r.replyWait);
        w.loop().setEscapeSource([] { return false; });  // a host polling its keyboard
        std::string reply = "none";
        const uint64_t y0 = w.loop().yieldCount();
        const int32_t took = w.during(r.steps, kReply, [&] { reply = w.c.POSMessage(); });
        EXPECT_LT(w.loop().yieldCount() - y0, static_cast<uint64_t>(took / 5 + 100))
            << "the thread spun instead of sleeping";
        EXPECT_EQ(std::count(w.peer.in.begin(), w.peer.in.end(), link::ENQ), 1);
        EXPECT_GE(took, r.atLeast);
        EXPECT_LT(took, kLong);
        EXPECT_EQ(reply + "|" + w.c.ReceiveError(), r.result);
        EXPECT_TRUE(w.c.CommPortOpen());
        if (std::string(r.steps).find_first_of("vr") != std::string::npos) {
            // A vanished device fails the close's flush; the property closes the port.
            EXPECT_FALSE(w.c.CommClose() || w.c.ReceiveError() != "errorHandlerCommClose");
            w.c.setCommPortOpen(false);
            EXPECT_FALSE(w.c.CommPortOpen());
        } else if (r.later) {
            // The terminal's next session comes in; the payment had deferred its event.
            w.peer.start(r.later, kReply);
            test::yieldUntil(w.loop(), [&] { return !w.c.ReceiveMessage().empty(); });
            EXPECT_EQ(w.c.ReceiveMessage() + std::to_string(w.events.received), kReply + "0");
        }
    }
}

}  // namespace
}  // namespace korvel
