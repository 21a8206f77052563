// The serial link to the terminal: the port, the waits, the framed send, the receive path and
// the CRC16 test exchange.  It works on a `SerialComm` and the host loop only and reports
// through `link::Events`; it knows nothing of the control that owns it.
//
// The operations keep the names and behaviour of the control's members of the same name: each
// one the control offers forwards here in one line.  Failures follow the error convention:
// `reportError` stores the tag in `ReceiveError` and raises the error event when `ErrorEnabled`
// is set; `storeTag` only stores it.
#pragma once

#include <cstdint>
#include <string>

#include "korvelcom/LinkState.h"
#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/SerialComm.h"

namespace korvel::link {

/// Ms a CRC16 test reply is waited for when the caller gives no time-out.
inline constexpr int32_t kDefaultTestTimeout = 3000;

/// What the link tells its owner.  Both run synchronously inside the operation that raises
/// them, which goes on afterwards.
class Events {
  public:
    virtual ~Events() = default;
    /// A failure was reported while `ErrorEnabled` is set.  `errType` is the link's
    /// `ReceiveError` itself: assigning to it changes the stored tag.
    virtual void errorEvent(std::string& errType) = 0;
    /// A message was stored in `ReceiveMessage` while `ReceiveEnabled` is set and no running
    /// exchange raises the event itself (`ReceivedEventDeferred`).
    virtual void receivedEvent() = 0;
};

/// Runs `step`, ignoring anything it throws (a step the serial component refused).
template <class F>
void ignoreFailure(F&& step) noexcept {
    try {
        step();
    } catch (...) {
        // The caller goes on as if the step had not been asked for.
    }
}

class Link {
  public:
    /// Installs the receive handler on `comm`; `comm`, `loop` and `events` must outlive the link.
    Link(SerialComm& comm, HostLoop& loop, Events& events);
    /// Removes the receive handler and wipes what was received (it may hold card data).  The
    /// port is left as it is.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    LinkState& state() { return st_; }
    const LinkState& state() const { return st_; }
    SerialComm& comm() { return comm_; }
    HostLoop& loop() { return loop_; }
    Events& events() { return events_; }

    // ---- Error convention ------------------------------------------------------------------

    /// Stores `tag` in `ReceiveError` and raises the error event when `ErrorEnabled` is set.
    void reportError(const char* tag);
    /// Stores `tag` without an event (the internal steps of an operation).
    void storeTag(const char* tag) { st_.ReceiveError = tag; }
    /// The one failure path of an operation: runs `body`; when it throws, reports `tag` and
    /// returns `failureValue`.
    template <class R, class F>
    R guarded(const char* tag, R failureValue, F&& body);

    // ---- Port (Port.cpp) -----------------------------------------------------------------

    /// (Re)opens without receive notifications; false with "errorHandlerCommInit".
    bool CommInit(int16_t intPort, const std::string& strSettings);
    /// Opens when closed, enables notifications; false with "errorHandlerCommOpen".
    bool CommOpen();
    /// Disables notifications, discards input, closes; false with "errorHandlerCommClose".
    bool CommClose();

    // ---- Waits (Waits.cpp) ---------------------------------------------------------------

    enum class WaitEnd { Condition, Deadline, Escape };
    /// The waiting pattern: yield; Escape ends it; then the condition; repeat until the tick
    /// is later than `deadline`.  Exceptions from the condition propagate to the caller.
    template <class Cond>
    WaitEnd waitUntil(int32_t deadline, Cond&& cond);
    /// Waits `durationMs` from now (or an Escape abort).
    WaitEnd waitFor(int32_t durationMs);
    /// Waits until the tick is later than the absolute tick `longTimeOut`; never fails.
    void WaitTimeout(int32_t longTimeOut);
    /// Pauses `TOwaitRetry` ms; never fails.
    void WaitTORetry();
    /// Pauses `TOwaitReply` ms, before the link transmits; never fails.
    void WaitTOReply();
    int32_t tick() { return loop_.tick(); }
    /// Ends an exchange: the next send waits `TOWaitBetweenCommand` ms from now.
    void setNextCommandTick();

    // ---- Framed send (FramedSend.cpp) ----------------------------------------------------

    /// One message in an ENQ/ACK session with retries; false with "errorHandlerOpenSession" or
    /// "errorHandlerSendMessage".
    bool SendMessage(const std::string& strMessage);
    /// Up to `RetrySession` ENQ attempts; false with "errorHandlerOpenSession".
    bool OpenSession();
    /// Opens the port if needed and writes ENQ; false with "errorHandlerSendEnq" stored.
    bool SendEnq();
    /// Waits `TOwaitChar` ms for an ACK; false with "errorHandlerWaitAck" stored.
    bool WaitAck();

    // ---- Receive path (Receive.cpp) ------------------------------------------------------

    /// One terminal session after its ENQ; failures report "errorHandlerReceivePacket".
    void ReceivePacket();
    /// Waits up to `longTimeOut` ms for a message; empty on time-out, abort or tag.
    std::string RecMessage(int32_t longTimeOut);
    /// `SendMessage`, then `RecMessage`; failures report "errorHandlerMessage".
    std::string Message(const std::string& strMessage, int32_t longTimeOut);

    // ---- CRC16 test exchange (TestExchange.cpp) ------------------------------------------

    /// Writes STX, text, ETX and CRC; `strSend` becomes text, ETX and CRC.  False with
    /// "errorHandlerSendMessageTestK7200".
    bool SendMessageTestK7200(std::string& strSend);
    /// Receives a test reply into `strRec` with a status code; `longTimeOut` (ms) becomes the
    /// last deadline tick.  Failures other than a CRC mismatch report
    /// "errorHandlerRecMessageTestK7200".
    void RecMessageTestK7200(std::string& strRec, int16_t& intStatus, int32_t& longTimeOut);
    /// Send, one yield, receive; a failed send reports "errorHandlerMessageTestK7200".
    void MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus,
                          int32_t& longTimeOut);

  private:
    // Takes every waiting character out of `Comm` and empties `CaptureBuffer`.
    void flush();
    void setLineDefaults(int16_t rThreshold);
    // The serial component's notification handler; runs inside a yield.
    void onComm();
    void CheckReceiveStart();
    // Appends arriving characters to `into` until `TOBetweenChar` ms pass without one (or an
    // Escape abort); `deadline` holds the last silence deadline afterwards.  `keep` trims
    // `into` after every append to what the caller's checks can still use, so a line that
    // never falls silent cannot make it grow without bound.
    void gather(std::string& into, int32_t& deadline, void (*keep)(std::string&));
    // Trims for `gather`: a frame from its first STX on, at most `kMaxGathered` characters;
    // or only the last character.
    static void keepFrame(std::string& gathered);
    static void keepLast(std::string& gathered);
    bool receivePacketSteps();
    int32_t waitingCount() { return comm_.inBufferCount(); }

    SerialComm& comm_;
    HostLoop& loop_;
    Events& events_;
    LinkState st_;
};

template <class R, class F>
R Link::guarded(const char* tag, R failureValue, F&& body) {
    try {
        return body();
    } catch (...) {
        // Anything the steps throw (the serial component, an allocation, an overflow check)
        // takes the operation's one failure path; nothing reaches the host.
    }
    reportError(tag);
    return failureValue;
}

template <class Cond>
Link::WaitEnd Link::waitUntil(int32_t deadline, Cond&& cond) {
    for (;;) {
        loop_.yieldUntil(deadline);
        // Read at every poll, so a handler that changes the switch during the yield counts.
        if (st_.EscapeKeyEnabled && loop_.escapeDown()) return WaitEnd::Escape;
        const int32_t now = loop_.tick();
        if (cond()) return WaitEnd::Condition;
        if (tickPassed(now, deadline)) return WaitEnd::Deadline;
    }
}

}  // namespace korvel::link
