// KorvelComTools: the control a cash-register application uses to drive an electronic payment
// terminal over a serial line.  One object with a flat automation interface: properties
// (getter `X()`, setter `setX(v)`), methods, and three events delivered to an event sink.
//
// Threading: everything runs on the thread that created the control.  Waits poll and yield to
// the host loop, so serial notifications and the host's own handlers run nested inside them.
//
// Failures: members report as the automation interface requires and never throw to the host,
// except where a member's comment says that the call itself fails.  The operations of the
// link, payment and checksum families follow the error convention: on failure they store their
// tag in `ReceiveError`, raise `ErrorEvent(ReceiveError)` only when `ErrorEnabled` is true, and
// return their failure value (false, 0 or an empty string).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "korvelcom/ByteArray.h"
#include "korvelcom/platform/Platform.h"

namespace korvel {

/// The event interface.  Handlers run synchronously inside the member that raises them.
struct KorvelComToolsEvents {
    virtual ~KorvelComToolsEvents() = default;
    /// A message arrived; read it from `ReceiveMessage` (or the reply fields after an exchange).
    virtual void ReceivedEvent() {}
    /// A failure occurred.  `errType` is the control's `ReceiveError` itself: assigning to it
    /// changes `ReceiveError`.
    virtual void ErrorEvent(std::string& errType) { (void)errType; }
    /// An authorisation sent its intermediate reply; the host may now abort the second wait.
    virtual void AbortEnabledEvent() {}
};

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
    int32_t TOWaitBetweenCommand = 100;  ///< ms: minimum gap between two exchanges
    int16_t RetrySession = 3;            ///< ENQ attempts to open a session
    int16_t RetryData = 3;               ///< sessions per send
    bool EscapeKeyEnabled = true;        ///< the Escape key may end waits
    bool ErrorEnabled = true;            ///< `ErrorEvent` is raised on failures
    bool ReceiveEnabled = true;          ///< `ReceivedEvent` may be raised
    bool MessageReady = false;           ///< a message was stored since the last reset
    bool ReceivedEventDeferred = false;  ///< a running exchange raises `ReceivedEvent` itself
};

/// Size of the control on its host window, in pixels.
struct Extent {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Extent&, const Extent&) = default;
};

class KorvelComTools {
  public:
    // ---- Life cycle ----------------------------------------------------------------------

    /// Creation: builds the state record with its initial values and creates `Comm` (port 1,
    /// "9600,e,7,1", closed) from `platform`, which must outlive the control.
    explicit KorvelComTools(Platform& platform);
    /// Creation on this thread's default (POSIX) platform.
    KorvelComTools();
    /// Termination: closes the port when it is open, ignoring failures.
    ~KorvelComTools();
    KorvelComTools(const KorvelComTools&) = delete;
    KorvelComTools& operator=(const KorvelComTools&) = delete;

    /// New-instance initialisation, called by the container for a newly placed control that
    /// has no saved properties: sets the defaults again (leaving `ReceiveArmed` and
    /// `ReceivedEventDeferred` untouched).
    void InitNewInstance();

    /// The host resized the control: it takes the size of its logo again.
    void Resize();
    /// The control's current size on its host window.
    Extent Size() const { return size_; }
    /// The size of the logo picture the control shows (its fixed appearance).
    static Extent LogoSize();

    /// Sets the event sink (nullptr: no events are delivered).  Not owned.
    void setEventSink(KorvelComToolsEvents* sink) { sink_ = sink; }
    /// Sets the container's property-changed hook, told the name of a persisted property after
    /// every successful put of it.
    void setPropertyChangedHandler(std::function<void(const std::string&)> handler) {
        propertyChanged_ = std::move(handler);
    }

    /// The version: major, ".", minor, then the revision with no separator ("3.00").
    std::string Version() const;
    /// The version rule applied to any triple: (3, 0, 0) gives "3.00", (1, 2, 15) "1.215".
    static std::string formatVersion(int major, int minor, int revision);

    /// The last error tag.  Setting it stores the host's text (empty clears it).
    std::string ReceiveError() const { return st_.ReceiveError; }
    void setReceiveError(const std::string& value) { st_.ReceiveError = value; }
    /// The last message received (frame text without STX, ETX and LRC).
    std::string ReceiveMessage() const { return st_.ReceiveMessage; }
    void setReceiveMessage(const std::string& value) { st_.ReceiveMessage = value; }

    // ---- Port management and raw I/O -----------------------------------------------------

    /// (Re)opens the port without receive notifications: closes it when open, applies
    /// `strSettings` when not empty and `intPort` when not 0, opens, sets both thresholds,
    /// `InputLen` and `InputMode` to 0, and discards all waiting input.  Returns whether the
    /// port is open; false with "errorHandlerCommInit" when a step fails.
    bool CommInit(int16_t intPort = 0, const std::string& strSettings = "");
    /// Opens the port when closed (an open one stays open), enables receive notifications and
    /// discards all waiting input.  Returns whether the port is open; false with
    /// "errorHandlerCommOpen" when a step fails.
    bool CommOpen();
    /// Disables notifications, discards input and closes the port.  True when every step
    /// succeeded; false with "errorHandlerCommClose" otherwise.
    bool CommClose();

    /// Port number used by the next open.  The getter fails (throws `SerialError`) when the
    /// component does; the setter ignores a refusal (for example while the port is open).
    /// Both setters mark the property changed even when the component refused the value.
    int16_t CommPort() const;
    void setCommPort(int16_t value);
    /// Line settings such as "9600,e,7,1"; a string the component refuses leaves the old one.
    std::string CommSettings() const;
    void setCommSettings(const std::string& value);
    /// Whether the port is open; writing opens or closes it (failures ignored).
    bool CommPortOpen() const;
    void setCommPortOpen(bool value);
    /// Takes the waiting characters (all while `InputLen` is 0).  Throws `SerialError` when the
    /// component fails (port closed, device gone).
    std::string CommInput();
    /// Queues bytes for transmission; failures ignored.
    void setCommOutput(const std::string& value);
    void setCommOutput(const ByteArray& value);
    /// Getter: the number of characters waiting (not the value last set); throws
    /// `SerialError` when the component fails.  Setter: writes `InputLen`.
    int16_t CommInputLen();
    void setCommInputLen(int16_t value);
    /// Writes `InputMode` (0 = text).
    void setCommInputMode(int16_t value);

    /// When false, `ReceivedEvent` is never raised (messages are still received).
    bool ReceiveEnabled() const { return st_.ReceiveEnabled; }
    void setReceiveEnabled(bool value);
    /// When false, `ErrorEvent` is never raised (tags are still stored).
    bool ErrorEnabled() const { return st_.ErrorEnabled; }
    void setErrorEnabled(bool value);
    /// When true, every wait ends early while the Escape key is held down.
    bool EscapeKeyEnabled() const { return st_.EscapeKeyEnabled; }
    void setEscapeKeyEnabled(bool value);
    /// Set true (typically from a handler) to make a running message wait stop.
    bool AbortReceive() const { return st_.AbortReceive; }
    void setAbortReceive(bool value);

    // ---- Link timing and waits -----------------------------------------------------------
    // Link parameters: stored without checks; each put marks the property changed.

    /// Milliseconds: longest wait for an expected answer character (default 600).
    int32_t TOwaitChar() const { return st_.TOwaitChar; }
    void setTOwaitChar(int32_t value);
    /// Milliseconds of silence that end a reception (default 50).
    int32_t TOBetweenChar() const { return st_.TOBetweenChar; }
    void setTOBetweenChar(int32_t value);
    /// Milliseconds paused before the control transmits an ACK, frame or EOT (default 20).
    int32_t TOwaitReply() const { return st_.TOwaitReply; }
    void setTOwaitReply(int32_t value);
    /// Milliseconds paused before a retry (default 1200).
    int32_t TOwaitRetry() const { return st_.TOwaitRetry; }
    void setTOwaitRetry(int32_t value);
    /// Minimum milliseconds between the end of one exchange and the next send (default 100).
    int32_t TOWaitBetweenCommand() const { return st_.TOWaitBetweenCommand; }
    void setTOWaitBetweenCommand(int32_t value);
    /// ENQ attempts allowed to open a session (default 3; values below 1 act as 1).
    int16_t RetrySession() const { return st_.RetrySession; }
    void setRetrySession(int16_t value);
    /// Sessions allowed per send (default 3; values below 1 act as 1).
    int16_t RetryData() const { return st_.RetryData; }
    void setRetryData(int16_t value);

    /// Waits until the tick count is later than the absolute tick `longTimeOut`, or an Escape
    /// abort.  At least one yield always happens, so a deadline already passed (or a duration
    /// passed by mistake) returns after one yield.  Deadlines are compared wrap-safe: a tick
    /// counts as later when the deadline lies within the 2^31 - 1 ms before it.  Never fails.
    void WaitTimeout(int32_t longTimeOut);
    /// Waits `TOwaitRetry` milliseconds from the call, or until an Escape abort.
    void WaitTORetry();

    // ---- Checksums, parity and digit tests --------------------------------------------------
    // (checksum section: begin)
    // (checksum section: end)

    // ---- Diagnostics (not part of the automation interface) ------------------------------

    /// The link state record, read-only.
    const LinkState& linkState() const { return st_; }
    /// The serial port component `Comm`.
    SerialComm& comm() { return *comm_; }
    /// The platform the control runs on.
    Platform& platform() { return platform_; }

  private:
    enum class WaitEnd { Condition, Deadline, Escape };

    // Error convention: store the tag, raise ErrorEvent when enabled.
    void reportError(const char* tag);
    // The one failure path of an operation: runs `body`; when it throws, reports `tag` by the
    // error convention and returns `failureValue`.  Defined in control/Guarded.h.
    template <class R, class F>
    R guarded(const char* tag, R failureValue, F&& body);
    // Stores a tag without raising the event (internal steps).
    void storeTag(const char* tag) { st_.ReceiveError = tag; }
    void markChanged(const char* name);
    // Runs `step`, ignoring a failure of the component (property setters).
    template <class F>
    void ignoreFailure(F&& step) noexcept;

    // The waiting pattern: yield; Escape ends it; then the condition; repeat until the tick is
    // later than `deadline`.  Exceptions from the condition propagate to the caller.
    template <class Cond>
    WaitEnd waitUntil(int32_t deadline, Cond&& cond);
    WaitEnd waitFor(int32_t durationMs);
    void WaitTOReply();
    int32_t tick() { return platform_.loop().tick(); }

    // Takes every waiting character out of `Comm` and empties `CaptureBuffer`.
    void flush();
    void setLineDefaults(int16_t rThreshold);
    void onComm();

    Platform& platform_;
    std::unique_ptr<SerialComm> comm_;
    KorvelComToolsEvents* sink_ = nullptr;
    std::function<void(const std::string&)> propertyChanged_;
    LinkState st_;
    Extent size_{};
};

}  // namespace korvel
