// The far end of a simulated line: a scripted terminal (`Peer`, every byte and delay under the
// test's control), and `trace`, which renders the wire as one short string so that a whole
// exchange is one expectation.  Needs no control.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "link/Frame.h"
#include "platform/sim/SimPlatform.h"

namespace korvel::test {

/// A scripted terminal: acknowledges ENQ and complete frames as told, records what the control
/// sent, and puts bytes on the line when the test says.
class Peer {
  public:
    explicit Peer(SimPlatform& p) : p_(p) {
        p_.terminal().setReceiver([this](uint8_t b) { onByte(static_cast<char>(b)); });
    }
    ~Peer() { p_.terminal().setReceiver(nullptr); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool ackEnq = true;           ///< answer every ENQ with ACK
    bool ackFrames = true;        ///< answer every complete frame (STX ... ETX check) with ACK
    std::function<void()> onEot;  ///< runs when the control's EOT arrives
    std::function<void()> onAck;  ///< runs when the control sends ACK
    std::string received;         ///< bytes the terminal received, in order

    void send(const std::string& bytes) { p_.terminal().write(bytes); }
    /// Sends bytes and runs the loop until they have arrived (their wire time and a little).
    void arrive(const std::string& bytes) {
        send(bytes);
        p_.simLoop().runFor(static_cast<int64_t>(bytes.size() + 1) * 1100);
    }
    /// Puts bytes on the line after `delayUs` of virtual time.
    void sendAfter(int64_t delayUs, const std::string& bytes) {
        p_.simLoop().after(delayUs, [this, bytes] { p_.terminal().write(bytes); });
    }
    /// The terminal's own session after `delayUs`: ENQ; on the control's first ACK the frame
    /// bytes, on its second ACK the tail (EOT unless told otherwise).
    void replyAfter(int64_t delayUs, std::string frameBytes, std::string tail = "\x04") {
        acks_ = 0;
        onAck = [this, frameBytes, tail] {
            ++acks_;
            if (acks_ == 1) send(frameBytes);
            if (acks_ == 2 && !tail.empty()) send(tail);
        };
        sendAfter(delayUs, std::string(1, link::ENQ));
    }
    static std::string frame(const std::string& text) { return *link::buildFrame(text); }

  private:
    void onByte(char c) {
        received.push_back(c);
        if (c == link::ENQ && ackEnq) send(std::string(1, link::ACK));
        if (c == link::EOT && onEot) onEot();
        if (c == link::ACK && onAck) onAck();
        // A frame is complete one byte after its ETX, whatever that check byte is.
        frame_.push_back(c);
        if (frame_.size() >= 3 && frame_[0] == link::STX &&
            frame_[frame_.size() - 2] == link::ETX) {
            frame_.clear();
            if (ackFrames) send(std::string(1, link::ACK));
        } else if (c == link::STX) {
            frame_ = std::string(1, c);
        }
    }

    SimPlatform& p_;
    std::string frame_;
    int acks_ = 0;
};

/// The wire as tokens separated by spaces, in time order.  The control's bytes are upper case,
/// the terminal's lower case: E/e ENQ, A/a ACK, T/t EOT, F/f a frame (STX up to ETX and the
/// one check byte after it; with `texts`, F(text)), other bytes as x41.  With `times` each
/// token is prefixed by the virtual millisecond (rounded down) of its first byte: "24:F".
inline std::string trace(const WireLog& log, bool times = false, bool texts = false) {
    std::string out;
    const auto& es = log.entries();
    for (std::size_t i = 0; i < es.size();) {
        const bool ctl = es[i].dir == WireLog::Dir::Out;
        const auto up = [ctl](char c) { return ctl ? c : static_cast<char>(c + ('a' - 'A')); };
        std::string tok;
        const int64_t at = es[i].timeUs;
        const char b = static_cast<char>(es[i].byte);
        std::size_t next = i + 1;
        if (b == link::STX) {
            std::string text;
            while (next < es.size() && es[next].dir == es[i].dir &&
                   static_cast<char>(es[next].byte) != link::ETX)
                text.push_back(static_cast<char>(es[next++].byte));
            // ETX and its check byte, when they came.
            for (int k = 0; k < 2 && next < es.size() && es[next].dir == es[i].dir; ++k)
                ++next;
            tok = std::string(1, up('F')) + (texts ? "(" + text + ")" : "");
        } else if (b == link::ENQ) {
            tok = std::string(1, up('E'));
        } else if (b == link::ACK) {
            tok = std::string(1, up('A'));
        } else if (b == link::EOT) {
            tok = std::string(1, up('T'));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "x%02X", static_cast<unsigned char>(b));
            tok = hex;
        }
        if (!out.empty()) out += ' ';
        if (times) out += std::to_string(at / 1000) + ":";
        out += tok;
        i = next;
    }
    return out;
}

}  // namespace korvel::test
