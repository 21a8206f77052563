// The terminal's receiving side (the control's sessions, test frames), its timers and its log.
#include "sim/Terminal.h"

#include <algorithm>
#include <cstdio>

#include "sim/Frames.h"

namespace korvel::sim {

Terminal::Terminal(HostLoop& loop, TerminalPort& port, TerminalOptions options)
    : loop_(loop), port_(port), options_(std::move(options)) {
    responder_ = [](const std::string& request) { return std::optional<std::string>(request); };
    testResponder_ = [](const std::string& request) {
        return std::optional<std::string>("OK" + request);
    };
    t0Us_ = port_.nowUs();
    holdUntilUs_ = t0Us_;
    port_.setReceiver([this](const std::string& bytes) { onBytes(bytes); });
    if (options_.behaviours.unsolicited)
        after(std::max<int32_t>(options_.unsolicitedEveryMs, 1), [this] { unsolicitedTick(); });
}

Terminal::~Terminal() {
    port_.setReceiver(nullptr);
    alive_.reset();
}

void Terminal::setResponder(Responder responder) {
    responder_ = std::move(responder);
}

void Terminal::setTestResponder(Responder responder) {
    testResponder_ = std::move(responder);
}

bool Terminal::idle() const {
    return rx_ == Rx::Idle && tx_ == Tx::Idle && outbox_.empty() && scheduled_ == 0;
}

// ---- Timers and output ----------------------------------------------------------------------

void Terminal::after(int32_t delayMs, std::function<void()> work) {
    std::weak_ptr<int> alive = alive_;
    loop_.post(
        [alive, work = std::move(work)] {
            if (!alive.expired()) work();
        },
        std::max<int32_t>(delayMs, 0));
}

void Terminal::armRx(int32_t delayMs, std::function<void()> work) {
    const uint64_t gen = ++rxGen_;
    after(delayMs, [this, gen, work = std::move(work)] {
        if (gen == rxGen_) work();
    });
}

void Terminal::armTx(int32_t delayMs, std::function<void()> work) {
    const uint64_t gen = ++txGen_;
    after(delayMs, [this, gen, work = std::move(work)] {
        if (gen == txGen_) work();
    });
}

void Terminal::log(const std::string& what) {
    if (!logger_) return;
    char head[32];
    std::snprintf(head, sizeof head, "%10.3f ms  ",
                  static_cast<double>(port_.nowUs() - t0Us_) / 1000.0);
    logger_(head + what);
}

void Terminal::writeNow(const std::string& bytes) {
    if (options_.keepHistory) wire_.add(port_.nowUs(), WireLog::Dir::Out, bytes);
    log("-> " + WireLog::describe(bytes));
    port_.write(bytes);
}

void Terminal::writeAfter(int32_t delayMs, const std::string& bytes) {
    after(delayMs, [this, bytes] { writeNow(bytes); });
}

void Terminal::writeFrame(std::string frame, int checkBytes, std::function<void()> done) {
    const Behaviours& b = options_.behaviours;
    if (b.badCheck && frame.size() >= static_cast<std::size_t>(checkBytes))
        frame[frame.size() - static_cast<std::size_t>(checkBytes)] ^= 0x5A;
    if (b.noise) frame = options_.noiseBytes + frame;
    const std::size_t pieces =
        b.split ? static_cast<std::size_t>(std::clamp<int>(options_.splitPieces, 1, 64)) : 1;
    const std::size_t chunk = (frame.size() + pieces - 1) / pieces;
    if (pieces == 1 || chunk == 0) {
        writeNow(frame);
        done();
        return;
    }
    writeNow(frame.substr(0, chunk));
    int32_t delay = 0;
    for (std::size_t off = chunk; off < frame.size(); off += chunk) {
        delay += options_.splitGapMs;
        const bool last = off + chunk >= frame.size();
        after(delay, [this, piece = frame.substr(off, chunk), last, done] {
            writeNow(piece);
            if (last) done();
        });
    }
}

// ---- Receiving ------------------------------------------------------------------------------

void Terminal::onBytes(const std::string& bytes) {
    if (options_.keepHistory) wire_.add(port_.nowUs(), WireLog::Dir::In, bytes);
    log("<- " + WireLog::describe(bytes));
    for (char b : bytes)
        onByte(b);
}

void Terminal::onByte(char b) {
    if (!senderTakes(b)) receiverTakes(b);
}

void Terminal::receiverTakes(char b) {
    switch (rx_) {
        case Rx::Idle:
            // Anything but ENQ or STX here is noise, or the EOT that ends a failed ACK wait.
            if (b == ENQ)
                onControlEnq();
            else if (b == STX)
                startFrame(false);
            break;
        case Rx::Session:
            if (b == STX) {
                startFrame(true);
            } else if (b == ENQ) {
                onControlEnq();  // our ACK went missing: the control asks again
            } else if (b == EOT) {
                log("   the control ended its session before a frame");
                receiverIdle();
            }
            break;
        case Rx::Frame:
            frameByte(b);
            break;
        case Rx::AwaitEot:
            if (b == EOT) {
                commit();
            } else if (b == ENQ || b == STX) {
                // The control has moved on: its EOT was lost.
                ++stats_.eotMissing;
                log("   EOT missing: the control goes on");
                commit();
                onByte(b);
            }
            break;
    }
}

void Terminal::onControlEnq() {
    ++stats_.enqReceived;
    committed_.reset();  // a new message: a frame equal to the last one is no re-send now
    if (options_.behaviours.silent) {
        ++stats_.enqIgnored;
        log("   ENQ left unanswered (silent)");
        return;
    }
    rx_ = Rx::Session;
    writeAfter(options_.replyPauseMs, std::string(1, ACK));
    armRx(options_.replyPauseMs + options_.ackWaitMs, [this] {
        ++stats_.sessionTimeouts;
        log("   no frame after the ENQ");
        receiverIdle();
    });
}

void Terminal::startFrame(bool inSession) {
    rx_ = Rx::Frame;
    frame_.clear();
    frameInSession_ = inSession;
    lrcCandidate_ = 0;
    armRx(options_.silenceMs, [this] { badFrame("no check before the line fell silent"); });
}

void Terminal::frameByte(char b) {
    if (lrcCandidate_ != 0) {
        // A bare frame had a correct LRC one byte ago: this byte either completes a CRC, or
        // the LRC frame ended there and the byte is the next input.
        frame_.push_back(b);
        if (endsWithCrcCheck(frame_)) {
            testFrameComplete();
            return;
        }
        frame_.pop_back();
        lrcFrameComplete(0);
        onByte(b);
        return;
    }
    frame_.push_back(b);
    if (!frameInSession_ && endsWithCrcCheck(frame_)) {
        testFrameComplete();
        return;
    }
    if (endsWithLrcCheck(frame_)) {
        if (frameInSession_) {
            lrcFrameComplete(0);
        } else {
            lrcCandidate_ = frame_.size();
            armRx(options_.checkWaitMs, [this] { lrcFrameComplete(options_.checkWaitMs); });
        }
        return;
    }
    if (frame_.size() >= options_.maxFrameBytes) {
        badFrame("frame too long");
        return;
    }
    armRx(options_.silenceMs, [this] { badFrame("no correct check before the line fell silent"); });
}

void Terminal::lrcFrameComplete(int32_t waitedMs) {
    cancelRx();
    const std::string text = frame_.substr(0, frame_.size() - 2);
    ++stats_.framesReceived;
    const Behaviours& b = options_.behaviours;
    if (b.silent || b.noFrameAck) {
        ++stats_.framesDropped;
        log("   frame " + WireLog::describe(text) + " left unacknowledged");
        receiverIdle();
        return;
    }
    pending_ = text;
    pendingDuplicate_ = !frameInSession_ && committed_ && *committed_ == text;
    if (pendingDuplicate_) ++stats_.duplicates;
    ++stats_.framesAcked;
    const int32_t pause = std::max<int32_t>(options_.replyPauseMs - waitedMs, 0);
    writeAfter(pause, std::string(1, ACK));
    rx_ = Rx::AwaitEot;
    armRx(pause + options_.ackWaitMs, [this] {
        ++stats_.eotMissing;
        log("   no EOT after the frame's ACK");
        commit();
    });
}

void Terminal::testFrameComplete() {
    cancelRx();
    const std::string text = frame_.substr(0, frame_.size() - 3);
    ++stats_.testFramesReceived;
    if (options_.keepHistory) testRequests_.push_back(text);
    log("   test frame " + WireLog::describe(text));
    std::optional<std::string> reply;
    if (options_.behaviours.silent)
        log("   test frame left unanswered (silent)");
    else if (testResponder_)
        reply = testResponder_(text);
    if (reply) {
        ++scheduled_;
        const int32_t delay =
            options_.replyPauseMs + (options_.behaviours.slow ? options_.slowDelayMs : 0);
        after(delay, [this, r = *reply] {
            --scheduled_;
            writeFrame(testFrame(r), 2, [this] { ++stats_.testRepliesSent; });
        });
    }
    receiverIdle();
}

void Terminal::badFrame(const char* why) {
    cancelRx();
    ++stats_.badFrames;
    log(std::string("   frame dropped: ") + why);
    receiverIdle();
}

void Terminal::commit() {
    cancelRx();
    if (pendingDuplicate_) {
        log("   re-sent frame: already processed");
    } else {
        if (options_.keepHistory) received_.push_back(pending_);
        committed_ = pending_;
        log("   message received: " + WireLog::describe(pending_));
        respond(pending_);
    }
    pending_.clear();
    pendingDuplicate_ = false;
    receiverIdle();
}

void Terminal::respond(const std::string& request) {
    ++stats_.messagesProcessed;
    std::optional<std::string> reply;
    if (options_.behaviours.echo)
        reply = request;
    else if (responder_)
        reply = responder_(request);
    if (!reply) {
        log("   no reply to send");
        return;
    }
    ++stats_.repliesQueued;
    ++scheduled_;
    const int32_t delay =
        options_.processingDelayMs + (options_.behaviours.slow ? options_.slowDelayMs : 0);
    after(delay, [this, r = *reply] {
        --scheduled_;
        enqueue(r);
    });
}

void Terminal::receiverIdle() {
    cancelRx();
    rx_ = Rx::Idle;
    hold();
    pump();
}

}  // namespace korvel::sim
