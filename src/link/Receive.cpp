// The receive path: the serial component's notification handler, the start of a terminal
// session, the reception of one message, and the waits for a message.
#include "korvelcom/CardData.h"
#include "link/Frame.h"
#include "link/Link.h"

namespace korvel::link {

void Link::onComm() {
    // Runs inside a yield; ends quietly on any failure.
    ignoreFailure([&] {
        if (!comm_.portOpen()) return;
        if (comm_.commEvent() != kCommEvReceive) return;
        st_.CaptureBuffer += comm_.input();
        if (st_.ReceiveArmed) {
            st_.ReceiveArmed = false;
            comm_.setRThreshold(0);  // no nested notifications while the session is handled
            CheckReceiveStart();
        }
    });
}

void Link::CheckReceiveStart() {
    // Only the newest character counts; it stays in the buffer afterwards.
    if (st_.CaptureBuffer.size() > 1) st_.CaptureBuffer.erase(0, st_.CaptureBuffer.size() - 1);
    const bool enq = st_.CaptureBuffer.size() == 1 && st_.CaptureBuffer[0] == ENQ;
    if (enq) ReceivePacket();
    st_.ReceiveArmed = true;
    comm_.setRThreshold(1);
    if (!enq) reportError("errorHandlerRecPacket");
}

void Link::gather(std::string& into, int32_t& deadline, void (*keep)(std::string&)) {
    deadline = tickAdd(tick(), st_.TOBetweenChar);
    do {
        loop_.yieldUntil(deadline);
        if (st_.EscapeKeyEnabled && loop_.escapeDown()) break;
        if (waitingCount() > 0) {
            std::string got = comm_.input();
            into += got;
            wipe(got, "received characters");
            keep(into);
            deadline = tickAdd(tick(), st_.TOBetweenChar);
        }
    } while (!tickPassed(tick(), deadline));
    if (waitingCount() > 0) {
        std::string got = comm_.input();
        into += got;
        wipe(got, "received characters");
    }
    keep(into);
}

void Link::keepFrame(std::string& gathered) {
    // The frame checks look only at the text from the first STX on, and refuse a text longer
    // than any frame can be.  Dropping, as characters arrive, what they would drop keeps a
    // reception small however long a noisy or flooding line keeps it open.
    const auto stx = gathered.find(STX);
    if (stx == std::string::npos) {
        gathered.clear();
        return;
    }
    gathered.erase(0, stx);
    if (gathered.size() > kMaxGathered) gathered.resize(kMaxGathered);
}

void Link::keepLast(std::string& gathered) {
    // The end of a terminal's session is judged by its last character alone.
    if (gathered.size() > 1) gathered.erase(0, gathered.size() - 1);
}

bool Link::receivePacketSteps() {
    wipe(st_.ReceiveMessage, "ReceiveMessage");
    st_.MessageReady = false;
    int32_t deadline = 0;

    WaitTOReply();
    comm_.output(std::string(1, ACK));  // answers the terminal's ENQ
    waitUntil(tickAdd(tick(), st_.TOwaitChar), [&] { return waitingCount() > 0; });
    if (waitingCount() == 0) return false;
    // The reception and its text may carry card data: reserved so that they never move, wiped
    // when this step ends.
    std::string received;
    received.reserve(kMaxGathered + 1);
    WipeOnExit wipeReceived(received, "reception");
    gather(received, deadline, keepFrame);
    auto parsed = parseFrame(received);
    if (!parsed) return false;
    std::string text = std::move(*parsed);
    WipeOnExit wipeText(text, "reception text");

    WaitTOReply();
    comm_.output(std::string(1, ACK));  // the frame is accepted
    waitUntil(tickAdd(tick(), st_.TOwaitChar), [&] { return waitingCount() > 0; });
    if (waitingCount() == 0) return false;
    std::string tail;
    gather(tail, deadline, keepLast);
    if (tail.empty() || tail.back() != EOT) return false;

    WaitTOReply();
    st_.ReceiveMessage = text;
    st_.MessageReady = true;
    if (st_.ReceiveEnabled && !st_.ReceivedEventDeferred) {
        events_.receivedEvent();
        loop_.yield();
    }
    return true;
}

void Link::ReceivePacket() {
    bool ok = false;
    try {
        ok = receivePacketSteps();
    } catch (...) {
        // A port failure fails the reception like a bad frame.
    }
    if (ok) return;
    // No NAK and no EOT: the terminal's own time-outs end its session.
    WaitTOReply();
    reportError("errorHandlerReceivePacket");
}

std::string Link::RecMessage(int32_t longTimeOut) {
    std::string result;
    try {
        st_.MessageReady = false;
        const WaitEnd end = waitUntil(tickAdd(tick(), longTimeOut), [&] {
            return !st_.ReceiveError.empty() || st_.AbortReceive || st_.MessageReady;
        });
        if (end == WaitEnd::Escape || !st_.ReceiveError.empty() || st_.AbortReceive) {
            st_.AbortReceive = false;
        } else if (st_.MessageReady) {
            result = st_.ReceiveMessage;
        }
        setNextCommandTick();
        return result;
    } catch (...) {
        // Falls through to the failure path below.
    }
    ignoreFailure([&] { setNextCommandTick(); });
    reportError("errorHandlerRecMessage");
    return result;
}

std::string Link::Message(const std::string& strMessage, int32_t longTimeOut) {
    return guarded("errorHandlerMessage", std::string(), [&] {
        st_.ReceivedEventDeferred = false;
        return SendMessage(strMessage) ? RecMessage(longTimeOut) : std::string();
    });
}

}  // namespace korvel::link
