// The test exchange of one terminal model: a CRC16-protected frame with no session, answered
// by a frame whose text must begin with "OK".
#include "link/Frame.h"
#include "link/Link.h"

namespace korvel::link {

namespace {
constexpr int16_t kStatusNothing = 72;   // 'H': port closed or no reply in time
constexpr int16_t kStatusBadReply = 69;  // 'E': reply too short or its CRC did not match
constexpr int16_t kStatusNotOk = 1;
constexpr int16_t kStatusOk = 0;
}  // namespace

bool Link::SendMessageTestK7200(std::string& strSend) {
    try {
        if (CommOpen()) {
            st_.ReceivedEventDeferred = false;
            const auto framed = appendTestCrc(strSend + ETX);
            if (framed) {
                strSend = *framed;
                comm_.output(STX + strSend);  // no pause, no ENQ, no EOT
                return true;
            }
        }
    } catch (...) {
        // Any port failure takes the failure path below.
    }
    reportError("errorHandlerSendMessageTestK7200");
    return false;
}

void Link::RecMessageTestK7200(std::string& strRec, int16_t& intStatus, int32_t& longTimeOut) {
    strRec.clear();
    intStatus = kStatusNothing;
    try {
        if (comm_.portOpen()) {
            st_.ReceivedEventDeferred = false;
            comm_.setRThreshold(0);  // stays off until the next CommOpen
            comm_.setInputLen(0);
            // A reply the receive handler already took counts from its STX on.
            if (!st_.CaptureBuffer.empty()) {
                const auto stx = st_.CaptureBuffer.find(STX);
                strRec = stx == std::string::npos ? std::string() : st_.CaptureBuffer.substr(stx);
                st_.CaptureBuffer.clear();
            }
            bool replied = !strRec.empty();
            if (!replied) {
                longTimeOut = tickAdd(tick(), longTimeOut);
                waitUntil(longTimeOut, [&] { return waitingCount() > 0; });
                if (waitingCount() > 0) {
                    strRec = comm_.input();
                    replied = true;
                }
            }
            if (replied) {
                gather(strRec, longTimeOut, keepFrame);
                const auto stx = strRec.find(STX);
                strRec = stx == std::string::npos ? std::string() : strRec.substr(stx + 1);
                if (strRec.size() < 3) {
                    intStatus = kStatusBadReply;
                } else {
                    const int received = 256 * static_cast<uint8_t>(strRec.back()) +
                                         static_cast<uint8_t>(strRec[strRec.size() - 2]);
                    strRec.resize(strRec.size() - 2);
                    if (strRec.size() > kMaxFrameText + 1 || testCrc(strRec) != received) {
                        intStatus = kStatusBadReply;
                        return;  // a CRC mismatch reports through the status alone
                    }
                    if (strRec.rfind("OK", 0) == 0) {
                        intStatus = kStatusOk;
                        return;
                    }
                    intStatus = kStatusNotOk;
                }
            }
        }
    } catch (...) {
        // Any port failure takes the failure path below.
    }
    reportError("errorHandlerRecMessageTestK7200");
}

void Link::MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus,
                            int32_t& longTimeOut) {
    intStatus = kStatusNothing;
    try {
        if (SendMessageTestK7200(strSend)) {
            loop_.yield();
            strRec.clear();
            RecMessageTestK7200(strRec, intStatus, longTimeOut);
            return;
        }
    } catch (...) {
        // Falls through to the failure path below.
    }
    reportError("errorHandlerMessageTestK7200");
}

}  // namespace korvel::link
