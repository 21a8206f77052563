// The simulated payment terminal: the far side of the control's link, driven only by arriving
// bytes and by timers posted on a host loop (it never blocks and never sleeps), so the same
// terminal runs in virtual time against a simulated line and in real time on a pseudo-terminal
// or a serial device.
//
// Receiving (a message from the control):
//   control ENQ           -> ACK after the reply pause (a repeated ENQ is acknowledged again)
//   STX text ETX LRC      -> the frame ends at the first correct LRC after an ETX; ACK after
//                            the reply pause.  Bytes before STX are ignored.  A frame whose
//                            check never matches is dropped once the line has been silent for
//                            `silenceMs`, without any answer (the link has no NAK).
//   EOT                   -> the message is committed: recorded and handed to the responder
//                            exactly once.  Without EOT it is committed `ackWaitMs` after the
//                            frame's ACK; an ENQ or STX arriving instead of the EOT also commits
//                            it first (the EOT was lost).
//   After a failed ACK wait the control sends EOT and, after its retry pause, the same frame
//   again without ENQ.  Such a frame (STX without a session) is accepted; when its text equals
//   the message already committed since the control's last ENQ it is a re-send: acknowledged
//   again, not processed again.
//
// Replying (a session of its own, once `processingDelayMs` after the control's EOT):
//   ENQ, wait for ACK (an EOT, the retry pause and a new ENQ after each miss, `enqAttempts` in
//   all), reply pause, frame, wait for ACK (EOT, retry pause, reply pause and the same frame
//   again, up to the ENQ attempts left), reply pause, EOT.  When every frame try of a session
//   fails: one more retry pause and a new session, `sessions` in all.  The first byte of an
//   answer decides: anything but ACK counts as no answer, and the wait runs to its end.
//   While its ENQ awaits an answer, an ENQ or STX from the control wins the line: the
//   terminal withdraws (the attempt does not count), serves the control, and goes on after.
//   Outgoing messages queue; one session at a time, never while the control is sending.
//
// Test framing (no session): STX text ETX CRC-low CRC-high, CRC16 of text and ETX (initial 0,
// polynomial 0xA001), arriving without ENQ, is answered after the reply pause with a test frame
// whose text the test responder gives ("OK" followed by the request by default).  It is told
// from an LRC frame by its check bytes: after ETX, a first byte that is a correct LRC ends an
// LRC frame only when no second byte follows within `checkWaitMs` that completes a correct CRC.
//
// Limits: a text holding ETX followed by a byte equal to the LRC so far is cut there (1 chance
// in 256 per embedded ETX); the control's messages are printable text.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/WireLog.h"
#include "sim/TerminalOptions.h"
#include "sim/TerminalPort.h"

namespace korvel::sim {

/// Answers a request text; no value means no reply.
using Responder = std::function<std::optional<std::string>(const std::string& request)>;

/// Receives one readable line per event (bytes in and out, messages, failures); no newline.
using Logger = std::function<void(const std::string& line)>;

/// The steps of one of the terminal's own messages (replies, unsolicited, `Terminal::send`).
/// Messages go out one at a time in the order they were queued: each is `Queued` once, then
/// `Framed` every time a frame carrying it goes onto the line (retries included, possibly
/// never), and ends once with `Delivered` (the control acknowledged it) or `GivenUp`.
enum class Outgoing { Queued, Framed, Delivered, GivenUp };
using OutgoingObserver = std::function<void(Outgoing step, const std::string& text)>;

/// Counters of what the terminal saw and did.
struct TerminalStats {
    int64_t enqReceived = 0;         ///< ENQ from the control (answered or not)
    int64_t enqIgnored = 0;          ///< ENQ left unanswered ("silent")
    int64_t framesReceived = 0;      ///< frames with a correct LRC
    int64_t framesAcked = 0;         ///< frames acknowledged (re-sends included)
    int64_t framesDropped = 0;       ///< good frames left unacknowledged ("no-frame-ack", "silent")
    int64_t badFrames = 0;           ///< frames dropped on a wrong check, a missing ETX, overflow
    int64_t duplicates = 0;          ///< re-sent frames acknowledged but not processed again
    int64_t sessionTimeouts = 0;     ///< control sessions with no frame within `ackWaitMs`
    int64_t eotMissing = 0;          ///< messages committed without their EOT
    int64_t messagesProcessed = 0;   ///< messages handed to the responder
    int64_t repliesQueued = 0;       ///< replies the responder gave
    int64_t enqSent = 0;             ///< ENQ attempts of its own sessions
    int64_t framesSent = 0;          ///< frame transmissions of its own sessions
    int64_t messagesSent = 0;        ///< own messages acknowledged and closed with EOT
    int64_t sessionsFailed = 0;      ///< own messages given up after every attempt
    int64_t collisions = 0;          ///< own ENQ attempts withdrawn for the control's ENQ or STX
    int64_t unsolicitedQueued = 0;   ///< messages queued by "unsolicited"
    int64_t testFramesReceived = 0;  ///< test frames with a correct CRC
    int64_t testRepliesSent = 0;     ///< test frames answered
};

class Terminal {
  public:
    /// Starts listening on `port` (taking over its receiver).  `loop` and `port` must outlive
    /// the terminal.  With "unsolicited" the first message is queued `unsolicitedEveryMs` after
    /// construction.
    Terminal(HostLoop& loop, TerminalPort& port, TerminalOptions options = {});
    /// Stops listening; timers still posted on the loop do nothing afterwards.
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    /// Replaces the responder for messages (default: echo the request).  nullptr: no replies.
    void setResponder(Responder responder);
    /// Replaces the responder for test frames (default: "OK" followed by the request).
    void setTestResponder(Responder responder);
    /// Receives a readable trace of the terminal's activity (nullptr: none).
    void setLogger(Logger logger) { logger_ = std::move(logger); }
    /// Is told about every own message queued and every frame of it sent (nullptr: none), so
    /// that a test can check what the control accepted against what the terminal really sent.
    void setOutgoingObserver(OutgoingObserver observer) { outgoingObserver_ = std::move(observer); }

    /// Queues a message of the terminal's own, sent in a session of its own when the line is
    /// free.
    void send(const std::string& text);

    const TerminalOptions& options() const { return options_; }
    const TerminalStats& stats() const { return stats_; }
    // The records below stay empty when `TerminalOptions::keepHistory` is false.

    /// Messages committed from the control, in order (re-sends not repeated).
    const std::vector<std::string>& received() const { return received_; }
    /// Own messages (replies, unsolicited, `send`) the control acknowledged, in order.
    const std::vector<std::string>& sent() const { return sent_; }
    /// Own messages given up after every attempt, in order.
    const std::vector<std::string>& failed() const { return failed_; }
    /// Texts of the test frames received, in order.
    const std::vector<std::string>& testRequests() const { return testRequests_; }
    /// Every byte in (from the control) and out (to the control), with the port's time.
    const WireLog& wire() const { return wire_; }

    /// True when nothing is in progress, queued or scheduled: no session either way, no reply
    /// waiting for its processing delay, no pending test reply.
    bool idle() const;

  private:
    enum class Rx { Idle, Session, Frame, AwaitEot };
    enum class Tx { Idle, Waiting, WaitEnqAck, FramePause, Writing, WaitFrameAck, Closing, Pause };

    // Timers: `after` runs work later unless the terminal is gone; the rx and tx timers are
    // one-shot slots that a new arm or a cancel replaces.
    void after(int32_t delayMs, std::function<void()> work);
    void armRx(int32_t delayMs, std::function<void()> work);
    void cancelRx() { ++rxGen_; }
    void armTx(int32_t delayMs, std::function<void()> work);
    void cancelTx() { ++txGen_; }

    void log(const std::string& what);
    void writeNow(const std::string& bytes);
    void writeAfter(int32_t delayMs, const std::string& bytes);
    /// Writes a frame with the reply behaviours applied; `checkBytes` is 1 (LRC) or 2 (CRC).
    /// `done` runs once the last piece is written.
    void writeFrame(std::string frame, int checkBytes, std::function<void()> done);

    // Receiving.
    void onBytes(const std::string& bytes);
    void onByte(char b);
    bool senderTakes(char b);
    void receiverTakes(char b);
    void onControlEnq();
    void startFrame(bool inSession);
    void frameByte(char b);
    void lrcFrameComplete(int32_t waitedMs);
    void testFrameComplete();
    void badFrame(const char* why);
    void commit();
    void respond(const std::string& request);
    void receiverIdle();

    // Sending.
    void enqueue(const std::string& text);
    void pump();
    void whenLineFree(std::function<void()> next);
    void tryContinue();
    void beginSession();
    void sendEnq();
    void sendFrame();
    void senderAck();
    void ackTimedOut();
    void afterRetryPause(bool enqPhase);
    void finishOutgoing(bool delivered, const char* why);
    void unsolicitedTick();
    /// Milliseconds until the hold after the last exchange ends (0 when it has).
    int32_t msUntilHoldEnds() const;
    void hold();

    HostLoop& loop_;
    TerminalPort& port_;
    TerminalOptions options_;
    Responder responder_;
    Responder testResponder_;
    Logger logger_;
    OutgoingObserver outgoingObserver_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    int64_t t0Us_ = 0;

    TerminalStats stats_;
    std::vector<std::string> received_, sent_, failed_, testRequests_;
    WireLog wire_;

    // Receiver state.
    Rx rx_ = Rx::Idle;
    uint64_t rxGen_ = 0;
    std::string frame_;             ///< bytes after STX
    bool frameInSession_ = false;   ///< the frame followed our ACK to an ENQ
    std::size_t lrcCandidate_ = 0;  ///< length at which a bare frame had a correct LRC
    std::string pending_;           ///< acknowledged text awaiting its EOT
    bool pendingDuplicate_ = false;
    std::optional<std::string> committed_;  ///< committed since the control's last ENQ
    int scheduled_ = 0;                     ///< replies and test replies waiting for their time

    // Sender state.
    Tx tx_ = Tx::Idle;
    uint64_t txGen_ = 0;
    std::deque<std::string> outbox_;
    std::string outgoing_;
    int triesLeft_ = 0;
    int sessionsLeft_ = 0;
    bool answerPending_ = false;  ///< the first byte of the awaited answer has not come yet
    std::function<void()> txNext_;
    int64_t holdUntilUs_ = 0;  ///< port time before which no session of ours starts
};

}  // namespace korvel::sim
