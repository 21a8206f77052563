// The terminal's sending side: its own sessions (replies, unsolicited messages), one at a time,
// with the same attempts and pauses as the control's send.
#include <algorithm>

#include "sim/Frames.h"
#include "sim/Terminal.h"

namespace korvel::sim {

void Terminal::send(const std::string& text) {
    enqueue(text);
}

void Terminal::enqueue(const std::string& text) {
    outbox_.push_back(text);
    log("   queued " + WireLog::describe(text));
    if (outgoingObserver_) outgoingObserver_(Outgoing::Queued, text);
    pump();
}

void Terminal::hold() {
    holdUntilUs_ = port_.nowUs() + static_cast<int64_t>(options_.processingDelayMs) * 1000;
}

int32_t Terminal::msUntilHoldEnds() const {
    const int64_t us = holdUntilUs_ - port_.nowUs();
    return us <= 0 ? 0 : static_cast<int32_t>((us + 999) / 1000);
}

void Terminal::pump() {
    if (tx_ == Tx::Waiting) {
        tryContinue();
        return;
    }
    if (tx_ != Tx::Idle || outbox_.empty()) return;
    outgoing_ = outbox_.front();
    outbox_.pop_front();
    sessionsLeft_ = std::max(options_.sessions, 1);
    whenLineFree([this] { beginSession(); });
}

void Terminal::whenLineFree(std::function<void()> next) {
    tx_ = Tx::Waiting;
    txNext_ = std::move(next);
    tryContinue();
}

void Terminal::tryContinue() {
    if (tx_ != Tx::Waiting) return;
    if (rx_ != Rx::Idle) return;  // the receiver pumps again when the control's session ends
    if (const int32_t wait = msUntilHoldEnds(); wait > 0) {
        armTx(wait, [this] { tryContinue(); });
        return;
    }
    cancelTx();
    auto next = std::move(txNext_);
    txNext_ = nullptr;
    next();
}

bool Terminal::senderTakes(char b) {
    switch (tx_) {
        case Tx::WaitEnqAck:
            if (b == ENQ || b == STX) {
                // The control is sending: withdraw this attempt, serve it, and try again later.
                cancelTx();
                ++stats_.collisions;
                log("   ENQ withdrawn: the control is sending");
                tx_ = Tx::Waiting;
                txNext_ = [this] { sendEnq(); };
                return false;
            }
            [[fallthrough]];
        case Tx::WaitFrameAck:
            // Only the first byte of the answer counts; a wrong one lets the wait run out.
            if (answerPending_) {
                answerPending_ = false;
                if (b == ACK) senderAck();
            }
            return true;
        case Tx::FramePause:
        case Tx::Writing:
        case Tx::Closing:
            return true;  // our session holds the line
        case Tx::Idle:
        case Tx::Waiting:
        case Tx::Pause:
            return false;
    }
    return false;
}

void Terminal::beginSession() {
    triesLeft_ = std::max(options_.enqAttempts, 1);
    sendEnq();
}

void Terminal::sendEnq() {
    ++stats_.enqSent;
    tx_ = Tx::WaitEnqAck;
    answerPending_ = true;
    writeNow(std::string(1, ENQ));
    armTx(options_.ackWaitMs, [this] { ackTimedOut(); });
}

void Terminal::sendFrame() {
    ++stats_.framesSent;
    tx_ = Tx::Writing;
    if (outgoingObserver_) outgoingObserver_(Outgoing::Framed, outgoing_);
    writeFrame(lrcFrame(outgoing_), 1, [this] {
        tx_ = Tx::WaitFrameAck;
        answerPending_ = true;
        armTx(options_.ackWaitMs, [this] { ackTimedOut(); });
    });
}

void Terminal::senderAck() {
    cancelTx();
    if (tx_ == Tx::WaitEnqAck) {
        tx_ = Tx::FramePause;
        armTx(options_.replyPauseMs, [this] { sendFrame(); });
    } else {
        tx_ = Tx::Closing;
        armTx(options_.replyPauseMs, [this] {
            writeNow(std::string(1, EOT));
            finishOutgoing(true, nullptr);
        });
    }
}

void Terminal::ackTimedOut() {
    const bool enqPhase = tx_ == Tx::WaitEnqAck;
    log(enqPhase ? "   no ACK to the ENQ" : "   no ACK to the frame");
    writeNow(std::string(1, EOT));
    tx_ = Tx::Pause;
    armTx(options_.retryPauseMs, [this, enqPhase] { afterRetryPause(enqPhase); });
}

void Terminal::afterRetryPause(bool enqPhase) {
    if (--triesLeft_ > 0) {
        if (enqPhase) {
            whenLineFree([this] { sendEnq(); });
        } else {
            // The same frame again, without a new ENQ.
            whenLineFree([this] {
                tx_ = Tx::FramePause;
                armTx(options_.replyPauseMs, [this] { sendFrame(); });
            });
        }
        return;
    }
    if (enqPhase) {
        finishOutgoing(false, "no ACK to any ENQ");
        return;
    }
    // Every frame try of this session failed: one more pause, then a new session if allowed.
    tx_ = Tx::Pause;
    armTx(options_.retryPauseMs, [this] {
        if (--sessionsLeft_ > 0)
            whenLineFree([this] { beginSession(); });
        else
            finishOutgoing(false, "no ACK to the frame in any session");
    });
}

void Terminal::finishOutgoing(bool delivered, const char* why) {
    if (delivered) {
        ++stats_.messagesSent;
        if (options_.keepHistory) sent_.push_back(outgoing_);
        log("   message delivered: " + WireLog::describe(outgoing_));
    } else {
        ++stats_.sessionsFailed;
        if (options_.keepHistory) failed_.push_back(outgoing_);
        log(std::string("   message given up (") + why + "): " + WireLog::describe(outgoing_));
    }
    if (outgoingObserver_)
        outgoingObserver_(delivered ? Outgoing::Delivered : Outgoing::GivenUp, outgoing_);
    outgoing_.clear();
    tx_ = Tx::Idle;
    hold();
    pump();
}

void Terminal::unsolicitedTick() {
    if (idle()) {
        ++stats_.unsolicitedQueued;
        enqueue(options_.unsolicitedText);
    }
    after(std::max<int32_t>(options_.unsolicitedEveryMs, 1), [this] { unsolicitedTick(); });
}

}  // namespace korvel::sim
