// The serial link's working state record, shared by the link and the control that exposes it.
#pragma once

#include <cstdint>
#include <string>

#include "korvelcom/Export.h"

namespace korvel {

/// The control's working state record for the serial link.  Exposed read-only for diagnostics
/// and tests; hosts change it only through the automation members.
struct LinkState {
    std::string CaptureBuffer;     ///< characters the receive handler took and nobody consumed
    int16_t SessionTriesLeft = 0;  ///< attempts left in the current send session
    bool ReceiveArmed = false;     ///< whether arriving characters may start a terminal session
    std::string ReceiveMessage;    ///< the last message received
    std::string ReceiveError;      ///< the last error tag
    bool AbortReceive = false;     ///< host's request to stop waiting for a message
    int32_t TOwaitChar = 600;      ///< ms: longest wait for an expected answer character
    int32_t TOwaitRetry = 1200;    ///< ms: pause before a retry
    int32_t TOwaitReply = 20;      ///< ms: pause before the control transmits
    int32_t TOBetweenChar = 50;    ///< ms: silence that ends a reception
    int32_t NextCommandTick = 0;   ///< tick after which the next send may start
    int32_t NextCommandGap = 0;    ///< ms: the gap in force when `NextCommandTick` was set
    int32_t TOWaitBetweenCommand = 100;  ///< ms: minimum gap between two exchanges
    int16_t RetrySession = 3;            ///< ENQ attempts to open a session
    int16_t RetryData = 3;               ///< sessions per send
    bool EscapeKeyEnabled = true;        ///< the Escape key may end waits
    bool ErrorEnabled = true;            ///< `ErrorEvent` is raised on failures
    bool ReceiveEnabled = true;          ///< `ReceivedEvent` may be raised
    bool MessageReady = false;           ///< a message was stored since the last reset
    bool ReceivedEventDeferred = false;  ///< a running exchange raises `ReceivedEvent` itself
};

}  // namespace korvel
