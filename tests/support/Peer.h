// A scripted terminal for exact link tests in virtual time: it reacts to single bytes as told
// and records what the control sent, so a test controls every byte and every delay.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "platform/sim/SimPlatform.h"

namespace korvel::test {

class Peer {
  public:
    explicit Peer(SimPlatform& p) : p_(p) {
        p_.terminal().setReceiver([this](uint8_t b) { onByte(static_cast<char>(b)); });
    }
    ~Peer() { p_.terminal().setReceiver(nullptr); }

    bool ackEnq = true;           ///< answer every ENQ with ACK
    bool ackFrames = true;        ///< answer every complete frame (STX ... ETX LRC) with ACK
    std::function<void()> onEot;  ///< runs when the control's EOT arrives
    std::function<void()> onAck;  ///< runs when the control sends ACK (for reply scripts)

    /// Bytes the terminal received, in order.
    std::string received;

    /// Puts bytes on the line after `delayUs` of virtual time.
    void sendAfter(int64_t delayUs, const std::string& bytes) {
        p_.simLoop().after(delayUs, [this, bytes] { p_.terminal().write(bytes); });
    }
    void send(const std::string& bytes) { p_.terminal().write(bytes); }

    /// Scripts the terminal's own session after `delayUs`: ENQ, then on the control's first
    /// ACK the given frame bytes, on its second ACK the tail (EOT unless told otherwise).
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
        // A frame is complete one byte after its ETX, whatever that check byte is (STX
        // included); otherwise an STX starts a new frame.
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

}  // namespace korvel::test
