// The terminal vanishes in the middle of an exchange (the pseudo-terminal's master closes, as
// when the cable of a USB adapter is pulled): every wait ends by the hang-up or by its own
// time-out with the tag its step reports, the loop sleeps instead of spinning on the dead
// device, and once a device is back under the port number the next open and payment work.
#include <gtest/gtest.h>

#include <memory>

#include "faults/FaultRig.h"
#include "korvelcom/KorvelComTools.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using test::Clock;
using test::MasterPeer;
using test::msSince;

constexpr int16_t kPort = 21;
// Long enough that an ACK wait ending on the hang-up is told from one that ran out.
constexpr int32_t kWaitChar = 4000;
constexpr int32_t kRetryPause = 200;
constexpr int32_t kReplyTimeout = 2000;

class Vanish : public ::testing::Test {
  protected:
    void SetUp() override {
        PortMap::set(kPort, pty->slavePath());
        c.setEventSink(&events);
        c.setCommPort(kPort);
        c.setCommSettings("9600,n,8,1");
        c.setTOwaitChar(kWaitChar);
        c.setTOwaitRetry(kRetryPause);
        c.setPOSTimeout(kReplyTimeout);
        p.posixLoop().setEscapeSource([] { return false; });  // a host polling its keyboard
    }
    void TearDown() override {
        peer.join(true);
        PortMap::set(kPort, "");
    }

    /// Runs a payment while the peer plays `script`; returns how long it took.
    double pay(std::function<void(MasterPeer&)> script) {
        peer.start(std::move(script));
        const auto t0 = Clock::now();
        reply = c.POSMessage();
        const double ms = msSince(t0);
        peer.join();
        return ms;
    }
    /// Milliseconds from the hang-up to the end of the operation that ended at `end`.
    double afterVanish(Clock::time_point end) const {
        return std::chrono::duration<double, std::milli>(end - peer.vanishedAt()).count();
    }

    test::FaultPlatform p;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    MasterPeer peer{*pty};
    KorvelComTools c{p};
    test::Recorder events;
    std::string reply;
};

// The bound on wake-ups over a stretch of `ms`: the loop wakes for the Escape poll every 10 ms
// and for the link's own short pauses; twice that cadence plus the handful of steps is already
// far below what a loop spinning on a hung-up descriptor produces (thousands per second).
uint64_t wakeBound(double ms) {
    return static_cast<uint64_t>(ms / 10.0 * 2.0) + 100;
}

TEST_F(Vanish, WhileTheSessionAckIsAwaitedTheSendFailsWithoutWaitingItOut) {
    bool sawEnq = false;
    const test::CostMeter meter(p);
    const double ms = pay([&](MasterPeer& t) {
        sawEnq = t.awaitByte(link::ENQ, 5000);
        t.vanish();
    });
    const test::LoopCost cost = meter.stop();
    const double tail = afterVanish(Clock::now());
    cost.print("payment, terminal gone while the session ACK was awaited");
    std::printf("[ figures  ] ended %.0f ms after the hang-up (TOwaitChar %d, TOwaitRetry %d)\n",
                tail, kWaitChar, kRetryPause);

    ASSERT_TRUE(sawEnq);
    EXPECT_EQ(reply, "");
    // The ACK wait fails on the dead port, the session's remaining ENQ attempts cannot open it.
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_EQ(events.errors.back(), "errorHandlerOpenSession");
    EXPECT_LT(ms, kWaitChar) << "the hang-up ends the ACK wait; it does not run out";
    EXPECT_LT(cost.yields, wakeBound(cost.wallMs));
    EXPECT_TRUE(c.CommPortOpen()) << "the port stays open until the host closes it";
}

TEST_F(Vanish, WhileTheFrameAckIsAwaitedTheSendFailsWithoutWaitingItOut) {
    std::string request;
    const test::CostMeter meter(p);
    const double ms = pay([&](MasterPeer& t) {
        if (!t.awaitByte(link::ENQ, 5000)) return;
        t.sendByte(link::ACK);
        request = t.awaitFrame(5000);
        t.vanish();
    });
    const test::LoopCost cost = meter.stop();
    cost.print("payment, terminal gone while the frame ACK was awaited");
    std::printf("[ figures  ] payment took %.0f ms (TOwaitChar %d, TOwaitRetry %d)\n", ms,
                kWaitChar, kRetryPause);

    EXPECT_EQ(request.size(), 26u) << "the request frame went out";
    EXPECT_EQ(reply, "");
    // The frame's ACK wait fails on the dead port; re-sending the frame then fails the send.
    EXPECT_EQ(c.ReceiveError(), "errorHandlerSendMessage");
    EXPECT_LT(ms, kWaitChar);
    EXPECT_LT(cost.yields, wakeBound(cost.wallMs));
}

TEST_F(Vanish, DuringTheReplyWaitThePaymentRunsToItsTimeOutWithoutSpinning) {
    // The request is acknowledged and closed, then the terminal goes.  Nothing tells the reply
    // wait about it: it ends by its time-out, as for a terminal that never answers.
    Clock::time_point sent{};
    const test::CostMeter meter(p);
    int32_t t0 = c.platform().loop().tick();
    const double ms = pay([&](MasterPeer& t) {
        if (test::acceptRequest(t).empty() || !t.awaitByte(link::EOT, 5000)) return;
        sent = Clock::now();
        t.vanish();
    });
    const int32_t ticks = tickAdd(c.platform().loop().tick(), -t0);
    const test::LoopCost cost = meter.stop();
    cost.print("payment, terminal gone during the 2000 ms reply wait");
    std::printf("[ figures  ] reply wait ended %.0f ms after the hang-up (POSTimeout %d)\n",
                afterVanish(Clock::now()), kReplyTimeout);

    ASSERT_TRUE(peer.vanished());
    EXPECT_EQ(reply, "");
    EXPECT_EQ(c.ReceiveError(), "") << "a time-out of the reply wait is not a failure";
    EXPECT_EQ(c.EFTposStat(), " ");
    EXPECT_GE(ticks, kReplyTimeout);
    EXPECT_LT(ms, kReplyTimeout + 5000) << "the wait does not outlive its time-out";
    EXPECT_LT(cost.yields, wakeBound(cost.wallMs));
    // The dead descriptor left the wake set: the loop did not read it during the wait.
    EXPECT_LT(cost.gathers, 100u);
}

TEST_F(Vanish, InTheMiddleOfTheTerminalsReplySessionTheReceptionFails) {
    // The terminal opens its reply session, the control acknowledges, then the line drops
    // before the frame: the reception reports its failure and ends the reply wait early.
    const test::CostMeter meter(p);
    const double ms = pay([&](MasterPeer& t) {
        if (test::acceptRequest(t).empty() || !t.awaitByte(link::EOT, 5000)) return;
        t.pause(150);
        t.sendByte(link::ENQ);
        if (t.awaitByte(link::ACK, 5000)) t.vanish();
    });
    const test::LoopCost cost = meter.stop();
    cost.print("payment, terminal gone after the control acknowledged its reply ENQ");

    ASSERT_TRUE(peer.vanished());
    EXPECT_EQ(reply, "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerReceivePacket");
    EXPECT_LT(ms, kReplyTimeout) << "the failed reception ends the reply wait";
    EXPECT_LT(cost.yields, wakeBound(cost.wallMs));
}

TEST_F(Vanish, PortStateAfterTheHangUpAndClosingWithoutBlocking) {
    ASSERT_TRUE(c.CommOpen());
    int notifications = 0;
    events.onReceived = [&] { ++notifications; };
    pty->closeMaster();
    // One wait lets the loop see the hang-up.
    const test::CostMeter meter(p);
    c.WaitTimeout(tickAdd(c.platform().loop().tick(), 300));
    const test::LoopCost cost = meter.stop();
    cost.print("WaitTimeout(300) on a port whose device hung up");
    EXPECT_LT(cost.yields, wakeBound(cost.wallMs));
    EXPECT_LT(cost.gathers, 5u) << "the dead descriptor is not read at every yield";

    EXPECT_TRUE(c.CommPortOpen());
    EXPECT_EQ(p.serial().waitHandle(), -1);
    EXPECT_EQ(notifications, 0) << "a hang-up is no reception";
    EXPECT_THROW(c.CommInputLen(), SerialError);
    c.setCommOutput(std::string("x"));  // refused and ignored, as a setter does

    // CommClose returns at once but fails: its flush cannot read the vanished device, and the
    // port stays open.  Closing through the property works at once.
    auto t0 = Clock::now();
    EXPECT_FALSE(c.CommClose());
    EXPECT_LT(msSince(t0), 1000.0);
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommClose");
    EXPECT_TRUE(c.CommPortOpen());
    t0 = Clock::now();
    c.setCommPortOpen(false);
    EXPECT_LT(msSince(t0), 1000.0);
    EXPECT_FALSE(c.CommPortOpen());
    EXPECT_FALSE(c.CommOpen()) << "nothing behind the old device path";
    EXPECT_FALSE(c.CommPortOpen());
}

TEST_F(Vanish, CommCloseSucceedsOnceTheDeviceIsBack) {
    ASSERT_TRUE(c.CommOpen());
    pty->closeMaster();
    const auto t0 = Clock::now();
    while (!p.serial().gone() && msSince(t0) < 3000)
        c.WaitTimeout(tickAdd(c.platform().loop().tick(), 10));
    ASSERT_TRUE(p.serial().gone());
    Pty back;
    PortMap::set(kPort, back.slavePath());
    EXPECT_TRUE(c.CommClose()) << c.ReceiveError();
    EXPECT_FALSE(c.CommPortOpen());
}

TEST_F(Vanish, AfterTheDeviceReturnsTheNextOpenAndPaymentWork) {
    // The terminal goes while the request's ACK is awaited.
    pay([&](MasterPeer& t) {
        if (t.awaitByte(link::ENQ, 5000)) t.vanish();
    });
    ASSERT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_FALSE(c.CommOpen()) << "no device yet";
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommOpen");

    // A terminal appears on a new device under the same port number.
    sim::PtyPort line(c.platform().loop());
    sim::Terminal terminal(c.platform().loop(), line);
    terminal.setResponder(sim::paymentReply);
    PortMap::set(kPort, line.slavePath());

    EXPECT_TRUE(c.CommOpen()) << c.ReceiveError();
    EXPECT_TRUE(c.CommPortOpen());
    c.setPOSAmount("00001250");
    const std::string answer = c.POSMessage();
    EXPECT_EQ(answer.size(), 80u) << c.ReceiveError();
    EXPECT_EQ(c.EFTposStat(), std::string(1, sim::kPaymentAccepted));
    EXPECT_EQ(c.EFTposAmount(), "00001250");
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_EQ(terminal.received().size(), 1u);
}

TEST_F(Vanish, APaymentAloneFindsTheReturnedDevice) {
    // No explicit open by the host: the send's own session opening reaches the new device.
    pay([&](MasterPeer& t) {
        if (t.awaitByte(link::ENQ, 5000)) t.vanish();
    });
    ASSERT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    sim::PtyPort line(c.platform().loop());
    sim::Terminal terminal(c.platform().loop(), line);
    terminal.setResponder(sim::paymentReply);
    PortMap::set(kPort, line.slavePath());

    EXPECT_EQ(c.POSMessage().size(), 80u) << c.ReceiveError();
    EXPECT_EQ(c.EFTposStat(), std::string(1, sim::kPaymentAccepted));
}

}  // namespace
}  // namespace korvel
