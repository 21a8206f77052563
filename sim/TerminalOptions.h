// What a simulated terminal does: its own link timing, and the behaviours a test or a
// technician selects by name to make it misbehave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::sim {

/// Behaviours; any combination may be set.  None set is the "normal" terminal.
struct Behaviours {
    /// "silent": deaf to the control.  No ACK to ENQ, no ACK to a frame, no test reply.  Its
    /// own messages ("unsolicited", `Terminal::send`) are still sent.
    bool silent = false;
    /// "no-frame-ack": ENQ is acknowledged, frames never; an unacknowledged frame is dropped
    /// without being processed.
    bool noFrameAck = false;
    /// "bad-check": its reply frames carry a wrong check character (the LRC, or the low CRC
    /// byte of a test reply, has bits flipped).
    bool badCheck = false;
    /// "noise": `TerminalOptions::noiseBytes` are written right before the STX of its replies.
    bool noise = false;
    /// "slow": replies (and test replies) go out `TerminalOptions::slowDelayMs` later.
    bool slow = false;
    /// "split": its frames are written in `TerminalOptions::splitPieces` pieces,
    /// `TerminalOptions::splitGapMs` apart.
    bool split = false;
    /// "unsolicited": a message of its own (`TerminalOptions::unsolicitedText`) every
    /// `TerminalOptions::unsolicitedEveryMs` while idle.
    bool unsolicited = false;
    /// "echo": requests are answered with their own text, whatever responder is installed.
    bool echo = false;
};

/// Link timing and behaviour of a simulated terminal.  Durations are milliseconds.  The
/// defaults mirror the control's link parameters.
struct TerminalOptions {
    int32_t ackWaitMs = 600;      ///< longest wait for an ACK, for a frame after ENQ, for EOT
    int32_t retryPauseMs = 1200;  ///< pause after the EOT that ends a failed ACK wait
    int32_t replyPauseMs = 20;    ///< pause before each ACK, frame and EOT the terminal sends
    int32_t silenceMs = 50;       ///< silence that ends a frame whose check never matched
    int enqAttempts = 3;          ///< ENQ attempts per session; what is left bounds the frame tries
    int sessions = 3;             ///< sessions per outgoing message

    /// Pause between the end of a control session (its EOT) and the terminal's reply session,
    /// and between two sessions of the terminal.  Must exceed the control's re-arm time (its
    /// reply pause after EOT, plus its silence after the terminal's EOT).
    int32_t processingDelayMs = 100;
    /// A frame that arrives without ENQ and whose byte after ETX is a correct LRC may still be
    /// a test frame with two CRC bytes: the terminal waits this long for another byte.
    int32_t checkWaitMs = 10;
    /// Longest frame body kept (bytes after STX); a longer one is dropped as bad.
    std::size_t maxFrameBytes = 65536;
    /// Whether the terminal keeps its records (`Terminal::received`, `sent`, `failed`,
    /// `testRequests`, `wire`), which grow with every message and byte.  Long runs whose
    /// memory must stay flat turn them off; the statistics and observers still work.
    bool keepHistory = true;

    Behaviours behaviours;
    int32_t slowDelayMs = 3000;         ///< extra reply delay of "slow"
    int32_t splitGapMs = 30;            ///< gap between the pieces of "split" (under 50 ms)
    int splitPieces = 3;                ///< pieces of "split" (at least 1)
    int32_t unsolicitedEveryMs = 5000;  ///< period of "unsolicited"
    std::string unsolicitedText = "UNSOLICITED";  ///< text of "unsolicited"
    std::string noiseBytes = "\x18\xFF\x7F";      ///< junk of "noise" (must not hold STX)
};

/// Sets the behaviour called `name` ("normal" clears them all).  Returns false, changing
/// nothing, for an unknown name.
bool applyBehaviour(Behaviours& behaviours, std::string_view name);

/// Every name `applyBehaviour` accepts, "normal" first.
const std::vector<std::string>& behaviourNames();

/// The names of the behaviours set, separated by commas ("normal" when none).
std::string describeBehaviours(const Behaviours& behaviours);

}  // namespace korvel::sim
