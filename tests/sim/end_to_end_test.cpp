// The control's link against the simulated terminal, both on one virtual-time loop: complete
// exchanges, lost acknowledgements, misbehaving terminals, unsolicited messages, test frames.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "sim/Frames.h"
#include "sim/Terminal.h"
#include "support/Recorder.h"

namespace korvel::sim::test {
namespace {

std::string one(char c) {
    return std::string(1, c);
}

/// A port that loses chosen writes of the terminal (the n-th ACK it sends), as a line would.
class LossyPort : public TerminalPort {
  public:
    LossyPort(SimLoop& loop, SimLine::Endpoint& end) : inner_(loop, end) {
        inner_.setReceiver([this](const std::string& bytes) { deliver(bytes); });
    }
    void write(const std::string& bytes) override {
        if (bytes == std::string(1, ACK) && ++acks_ == dropAck) return;
        inner_.write(bytes);
    }
    int64_t nowUs() const override { return inner_.nowUs(); }
    int dropAck = 0;  ///< which ACK (1 = the first) is lost; 0: none

  private:
    SimLinePort inner_;
    int acks_ = 0;
};

class EndToEnd : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    korvel::test::Recorder events;
    std::unique_ptr<LossyPort> port;
    std::unique_ptr<Terminal> term;

    void start(std::initializer_list<const char*> behaviours = {}, TerminalOptions o = {}) {
        for (const char* b : behaviours)
            EXPECT_TRUE(applyBehaviour(o.behaviours, b));
        term.reset();
        port.reset();
        port = std::make_unique<LossyPort>(p.simLoop(), p.terminal());
        term = std::make_unique<Terminal>(p.simLoop(), *port, o);
        c.setEventSink(&events);
    }
    void runMs(int64_t ms) { p.simLoop().runFor(ms * 1000); }
};

TEST_F(EndToEnd, MessageIsAnsweredByTheResponder) {
    start();
    term->setResponder(
        [](const std::string& rq) -> std::optional<std::string> { return "R:" + rq; });
    EXPECT_EQ(c.Message("PAY 100", 5000), "R:PAY 100");
    EXPECT_EQ(c.Message("PAY 200", 5000), "R:PAY 200");
    EXPECT_EQ(term->received(), (std::vector<std::string>{"PAY 100", "PAY 200"}));
    EXPECT_EQ(term->sent(), (std::vector<std::string>{"R:PAY 100", "R:PAY 200"}));
    EXPECT_TRUE(events.errors.empty());
    // What the control wrote and read, in order.
    const std::string out = one(ENQ) + lrcFrame("PAY 100") + one(EOT) + one(ACK) + one(ACK);
    EXPECT_EQ(p.wire().bytes(WireLog::Dir::Out).substr(0, out.size()), out);
    const std::string in = one(ACK) + one(ACK) + one(ENQ) + lrcFrame("R:PAY 100") + one(EOT);
    EXPECT_EQ(p.wire().bytes(WireLog::Dir::In).substr(0, in.size()), in);
}

// The terminal's ACK to the frame is lost: the control ends its wait with EOT (which commits
// the message at the terminal) and re-sends the frame after its retry pause, without ENQ.
// The terminal acknowledges it again without processing it twice, and its reply, whose first
// session fell into the control's retry pause, arrives with the terminal's next attempt.
TEST_F(EndToEnd, LostFrameAckIsRecoveredAndProcessedOnce) {
    start();
    port->dropAck = 2;
    int calls = 0;
    term->setResponder([&](const std::string& rq) -> std::optional<std::string> {
        ++calls;
        return "DONE " + rq;
    });
    ASSERT_TRUE(c.SendMessage("PAY"));
    // Whatever tag the failed first wait left, the host clears it before waiting for the reply.
    c.setReceiveError("");
    EXPECT_EQ(c.RecMessage(5000), "DONE PAY");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(term->stats().duplicates, 1);
    EXPECT_EQ(term->received(), std::vector<std::string>{"PAY"});
    const std::string sent = one(ENQ) + lrcFrame("PAY") + one(EOT) + lrcFrame("PAY") + one(EOT);
    EXPECT_EQ(p.wire().bytes(WireLog::Dir::Out).substr(0, sent.size()), sent);
}

TEST_F(EndToEnd, MisbehavingTerminalsFailWithTheirTag) {
    start({"silent"});
    EXPECT_EQ(c.Message("PAY", 5000), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerOpenSession");
    EXPECT_EQ(term->stats().enqIgnored, 3);

    start({"no-frame-ack"});
    EXPECT_FALSE(c.SendMessage("PAY"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerSendMessage");
    EXPECT_EQ(term->stats().framesDropped, 9);
    EXPECT_TRUE(term->received().empty());

    start({"bad-check"});
    EXPECT_EQ(c.Message("PAY", 5000), "");
    EXPECT_EQ(c.ReceiveError(), "errorHandlerReceivePacket");
    EXPECT_EQ(term->received(), std::vector<std::string>{"PAY"});
    EXPECT_TRUE(term->sent().empty()) << "the control never acknowledged the reply";
    std::string send = "PING", rec;
    int16_t status = -1;
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 69) << "a test reply with a wrong CRC";
}

TEST_F(EndToEnd, NoisyAndSplitRepliesAreReceived) {
    TerminalOptions o;
    o.splitPieces = 4;
    o.splitGapMs = 40;
    start({"noise", "split"}, o);
    EXPECT_EQ(c.Message("A LONGER REQUEST TEXT", 5000), "A LONGER REQUEST TEXT");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(EndToEnd, SlowReplyNeedsALongEnoughWait) {
    TerminalOptions o;
    o.slowDelayMs = 2000;
    start({"slow"}, o);
    EXPECT_EQ(c.Message("PAY", 1500), "") << "the reply comes after the wait";
    runMs(1500);  // the late reply is still received and stored
    EXPECT_EQ(c.ReceiveMessage(), "PAY");
    EXPECT_EQ(c.Message("PAY", 3000), "PAY");
}

TEST_F(EndToEnd, UnsolicitedMessageRaisesReceivedEventWhileArmed) {
    TerminalOptions o;
    o.unsolicitedEveryMs = 2000;
    o.unsolicitedText = "CARD REMOVED";
    start({"unsolicited"}, o);
    term->setResponder([](const std::string&) { return std::optional<std::string>(); });
    ASSERT_TRUE(c.SendMessage("HELLO"));  // arms the receive path; no reply comes
    const int before = events.received;
    runMs(2500);
    EXPECT_EQ(events.received, before + 1);
    EXPECT_EQ(c.ReceiveMessage(), "CARD REMOVED");
    EXPECT_EQ(term->sent(), std::vector<std::string>{"CARD REMOVED"});
}

TEST_F(EndToEnd, TestExchangeGetsOk) {
    start();
    std::string send = "PING", rec;
    int16_t status = -1;
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rec, "OKPING" + one(ETX));
    EXPECT_EQ(term->testRequests(), std::vector<std::string>{"PING"});

    term->setTestResponder([](const std::string&) -> std::optional<std::string> { return "NO"; });
    send = "PING";
    c.MessageTestK7200(send, rec, status);
    EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace korvel::sim::test
