// Whole basic payments against the simulated terminal's payment responder: in virtual time
// for every outcome, and once over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "korvelcom/KorvelComTools.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/sim/SimPlatform.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class Payment : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    sim::SimLinePort port{p.simLoop(), p.terminal()};
    sim::Terminal terminal{p.simLoop(), port};
    test::Recorder events;
    void SetUp() override {
        terminal.setResponder(sim::paymentReply);
        c.setEventSink(&events);
        c.setPOSTimeout(5000);
    }
};

TEST_F(Payment, AcceptedPaymentFillsTheReplyFields) {
    c.setPOSAmount("00001500");
    c.setPOSDev("978");
    const std::string reply = c.POSMessage();
    ASSERT_EQ(reply.size(), 80u);
    EXPECT_EQ(c.EFTposNumber(), "01");
    EXPECT_EQ(c.EFTposStat(), "0");
    EXPECT_EQ(c.EFTposAmount(), "00001500");
    EXPECT_EQ(c.EFTposMode(), "1");
    EXPECT_EQ(c.EFTposRep().substr(0, 12), "497010******");
    EXPECT_EQ(c.EFTposRep().substr(16, 5), " AUTH");
    EXPECT_EQ(c.EFTposDev(), "978");
    EXPECT_EQ(reply.substr(70), std::string(10, ' ')) << "the private area follows the fields";
    EXPECT_EQ(events.received, 1);
    EXPECT_EQ(terminal.received(), std::vector<std::string>{"01000015001"
                                                            "0"
                                                            "?978"
                                                            "          "});
}

TEST_F(Payment, RefusalsByAmount) {
    c.setPOSAmount("00002599");
    c.POSMessage();
    EXPECT_EQ(c.EFTposStat(), "1");
    EXPECT_EQ(c.EFTposRep().substr(0, 17), "REFUSED BY ISSUER");
    c.setPOSAmount("00002598");
    c.setPOSMode("C");
    c.POSMessage();
    EXPECT_EQ(c.EFTposStat(), "2");
    EXPECT_EQ(c.EFTposMode(), "C");
}

TEST_F(Payment, SilentAmountAndNoReplyRequested) {
    c.setPOSAmount(sim::kSilentAmount);
    const int64_t t0 = p.simLoop().nowUs();
    EXPECT_EQ(c.POSMessage(), "");
    EXPECT_GE(p.simLoop().nowUs() - t0, 5'000'000) << "waited the whole POSTimeout";
    EXPECT_EQ(c.EFTposStat(), " ");
    EXPECT_EQ(c.ReceiveError(), "");

    c.setPOSAmount("00000100");
    c.setPOSRep("0");
    EXPECT_EQ(c.POSMessage(), "");
    EXPECT_EQ(terminal.received().size(), 2u) << "both requests reached the terminal";
    EXPECT_EQ(events.received, 0);
}

TEST(PaymentResponder, MalformedRequestsAndStableAnswers) {
    EXPECT_EQ(sim::paymentReply("01")->substr(2, 1), "9");
    EXPECT_EQ(sim::paymentReply("0100AB150010?250          ")->substr(2, 1), "9");
    const std::string request = "010000150010?250          ";
    EXPECT_EQ(sim::paymentReply(request), sim::paymentReply(request));
    EXPECT_NE(sim::paymentReply(request), sim::paymentReply("020000150010?250          "));
}

TEST(PaymentOverAPty, RealSerialLayerAndRealTime) {
    KorvelComTools c;  // the POSIX platform of this thread
    sim::PtyPort port(c.platform().loop());
    sim::Terminal terminal(c.platform().loop(), port);
    terminal.setResponder(sim::paymentReply);
    PortMap::set(3, port.slavePath());
    c.setCommPort(3);
    c.setPOSAmount("00004200");
    c.setPOSTimeout(5000);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string reply = c.POSMessage();
    PortMap::clear();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << "no time-out";
    ASSERT_EQ(reply.size(), 80u) << c.ReceiveError();
    EXPECT_EQ(c.EFTposStat(), "0");
    EXPECT_EQ(c.EFTposAmount(), "00004200");
}

}  // namespace
}  // namespace korvel
