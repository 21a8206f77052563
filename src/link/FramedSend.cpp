// Sending a message as an acknowledged frame inside an ENQ/ACK session, with session and frame
// retries.
#include "korvelcom/CardData.h"
#include "link/Frame.h"
#include "link/Link.h"

namespace korvel::link {

bool Link::SendMessage(const std::string& strMessage) {
    return guarded("errorHandlerSendMessage", false, [&] {
        st_.ReceiveError.clear();
        wipe(st_.ReceiveMessage, "ReceiveMessage");
        // Counts below 1 would let the attempts run on until the 16-bit counter wraps.
        int dataLeft = std::max<int>(st_.RetryData, 1);

        // The gap after the previous exchange.  Only a deadline at most the gap then in force
        // ahead is honoured, so the initial 0 or a value from before the tick's wrap never
        // holds a send, and a gap lowered since does not cut the running one short.
        // The wait yields at least once either way: a terminal session whose ENQ has arrived
        // but not yet been handled is received before this send takes the line.
        const int32_t now = tick();
        const int32_t ahead = tickAdd(st_.NextCommandTick, -now);
        const bool honoured = ahead >= 0 && ahead <= std::max(st_.NextCommandGap, 0);
        waitUntil(honoured ? st_.NextCommandTick : now, [] { return false; });

        const auto frame = buildFrame(strMessage);
        if (!frame) {
            reportError("errorHandleraddLRC8toString");
            throw SerialError("message too long for a frame");
        }
        for (;;) {
            if (!OpenSession()) return false;  // its tag and event stand
            for (;;) {
                WaitTOReply();
                comm_.output(*frame);
                if (WaitAck()) {
                    // A frame attempt that failed before this one left its step tag; the send
                    // has recovered, and a stale tag would end the reply wait at once.
                    st_.ReceiveError.clear();
                    WaitTOReply();
                    comm_.output(std::string(1, EOT));
                    WaitTOReply();
                    st_.ReceiveArmed = true;
                    setNextCommandTick();
                    return true;
                }
                // The failed wait already sent EOT and paused; re-send in the same session.
                if (--st_.SessionTriesLeft <= 0) break;
            }
            --dataLeft;
            WaitTORetry();
            if (dataLeft <= 0) break;
        }
        setNextCommandTick();
        reportError("errorHandlerSendMessage");
        return false;
    });
}

bool Link::OpenSession() {
    return guarded("errorHandlerOpenSession", false, [&] {
        st_.ReceiveArmed = false;
        st_.AbortReceive = false;
        st_.SessionTriesLeft = std::max<int16_t>(st_.RetrySession, 1);
        st_.ReceivedEventDeferred = false;
        for (;;) {
            if (SendEnq() && WaitAck()) break;
            if (--st_.SessionTriesLeft <= 0) break;
        }
        if (st_.SessionTriesLeft > 0) {
            // What is left bounds the frame attempts of this session.
            st_.ReceiveError.clear();
            return true;
        }
        reportError("errorHandlerOpenSession");
        return false;
    });
}

bool Link::SendEnq() {
    try {
        if (CommOpen()) {
            comm_.output(std::string(1, ENQ));  // no reply pause before ENQ
            return true;
        }
    } catch (...) {
        // A port failure takes the same path as a port that does not open.
    }
    storeTag("errorHandlerSendEnq");
    return false;
}

bool Link::WaitAck() {
    try {
        if (comm_.portOpen()) {
            const int32_t deadline = tickAdd(tick(), st_.TOwaitChar);
            comm_.setRThreshold(0);  // the wait reads the answer itself
            comm_.setInputLen(0);
            // The receive handler may have taken the answer while the ENQ or frame was going
            // out: only its first character counts.
            if (!st_.CaptureBuffer.empty()) {
                st_.CaptureBuffer.resize(1);
                if (st_.CaptureBuffer[0] == ACK) {
                    st_.CaptureBuffer.clear();
                    comm_.setRThreshold(1);
                    return true;
                }
            }
            st_.CaptureBuffer.clear();
            waitUntil(deadline, [&] { return waitingCount() > 0; });
            if (waitingCount() > 0) {
                const std::string answer = comm_.input();
                if (!answer.empty() && answer[0] == ACK) {
                    comm_.setRThreshold(1);
                    return true;
                }
                // A wrong answer waits out the whole window before the session is ended.
                WaitTimeout(deadline);
            }
        }
    } catch (...) {
        // Any port failure ends the wait as if no ACK came.
    }
    ignoreFailure([&] { comm_.output(std::string(1, EOT)); });
    WaitTORetry();
    ignoreFailure([&] {
        comm_.input();
        comm_.setRThreshold(1);
    });
    storeTag("errorHandlerWaitAck");
    return false;
}

}  // namespace korvel::link
