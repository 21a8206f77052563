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
#include "korvelcom/LinkState.h"
#include "korvelcom/platform/Platform.h"
#include "korvelcom/ui/AboutBox.h"

namespace korvel {

namespace link {
class Link;
}
namespace pos {
class Payment;
}

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
    /// Getter: the number of characters waiting (not the value last set), capped at 32767 so
    /// that a flooded buffer still reads as "characters waiting"; throws `SerialError` when the
    /// component fails.  Setter: writes `InputLen`.
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
    /// Every wait of the control polls this way; on the POSIX loop an idle poll sleeps until
    /// the deadline's tick, an arriving byte or posted work (checking Escape every 10 ms while
    /// an Escape source is set), so waiting costs next to no CPU; the deadline is still met to
    /// the tick.
    void WaitTimeout(int32_t longTimeOut);
    /// Waits `TOwaitRetry` milliseconds from the call, or until an Escape abort.
    void WaitTORetry();

    // ---- Framed send -----------------------------------------------------------------------
    // A message goes to the terminal as STX, the message bytes unchanged, ETX and the LRC (the
    // exclusive-or of the message bytes and ETX), inside a session: ENQ, the terminal's ACK,
    // the frame, its ACK, EOT.

    /// Sends one message: waits until `NextCommandTick` has passed, opens a session, sends the
    /// frame (re-sent while the session's attempts last, in up to `RetryData` sessions), ends
    /// with EOT and arms the receive path for the answer.  Clears `ReceiveError` and
    /// `ReceiveMessage` first.  True when the frame was acknowledged.  False with
    /// "errorHandlerOpenSession" (raised by the session opening) when no session opened, or
    /// "errorHandlerSendMessage" after the last data attempt or on a port failure.  A message
    /// longer than 32766 bytes cannot be framed: it fails with "errorHandleraddLRC8toString"
    /// reported, then "errorHandlerSendMessage", and nothing is sent.
    /// A successful send clears `ReceiveError`: the tag a failed frame attempt stored before a
    /// re-sent frame was acknowledged would otherwise end the following reply wait at once.
    /// `NextCommandTick` is waited for only when it lies at most the gap that was in force when
    /// it was set ahead, so lowering `TOWaitBetweenCommand` keeps the running gap while the
    /// initial 0 or a value from before the tick's wrap never holds a send.
    bool SendMessage(const std::string& strMessage);
    /// Opens a session: up to `RetrySession` ENQ attempts.  True when one was acknowledged
    /// (`ReceiveError` is then cleared); false with "errorHandlerOpenSession".
    bool OpenSession();
    /// Opens the port if needed (`CommOpen`) and writes one ENQ.  False, with
    /// "errorHandlerSendEnq" stored without an event, when the port cannot be opened.
    bool SendEnq();
    /// Waits up to `TOwaitChar` ms for an ACK (one already taken into `CaptureBuffer` counts).
    /// Any other first answer waits out the window.  On failure sends EOT, pauses
    /// `TOwaitRetry`, discards input and returns false with "errorHandlerWaitAck" stored
    /// without an event.
    bool WaitAck();

    // ---- Receive path ----------------------------------------------------------------------

    /// Receives one message on the assumption that the terminal has just sent ENQ: ACK, the
    /// frame until `TOBetweenChar` ms of silence, its checks (STX, LRC, ETX), ACK, the EOT.
    /// Stores the text in `ReceiveMessage` and raises `ReceivedEvent` unless disabled or
    /// deferred.  On any failure stores "errorHandlerReceivePacket" (event when enabled) and
    /// stays silent towards the terminal.
    void ReceivePacket();
    /// Waits up to `longTimeOut` ms for a message completed after the call started and returns
    /// it; empty on time-out, Escape, `AbortReceive` (reset to false) or an error tag (including
    /// one already stored when the call starts).  Sets `NextCommandTick`.  An unexpected failure
    /// reports "errorHandlerRecMessage".
    std::string RecMessage(int32_t longTimeOut);
    /// `SendMessage`, then `RecMessage` when the send succeeded; empty otherwise.  An unexpected
    /// failure reports "errorHandlerMessage".
    std::string Message(const std::string& strMessage, int32_t longTimeOut);

    // ---- Test exchange with CRC16 framing --------------------------------------------------
    // Frame: STX, text, ETX, CRC16 low byte, high byte (CRC-16/ARC of text and ETX); no
    // session, no EOT.  Status codes: 72 nothing usable (port closed, no reply), 69 reply too
    // short or CRC mismatch, 1 reply not beginning with "OK", 0 reply beginning with "OK".

    /// Opens the port if needed and writes STX, text, ETX and the CRC.  `strSend` is changed:
    /// it holds the text followed by ETX and the two CRC bytes.  False with
    /// "errorHandlerSendMessageTestK7200" when the port cannot be opened or a step fails (a
    /// text over 32766 bytes is refused unchanged).
    bool SendMessageTestK7200(std::string& strSend);
    /// Receives a test reply: `strRec` gets the reply text followed by its ETX, `intStatus` a
    /// status code, and `longTimeOut` (ms on entry, 3000 when omitted) the last absolute
    /// deadline tick.  Failures other than a CRC mismatch also store
    /// "errorHandlerRecMessageTestK7200" (event when enabled).  Leaves receive notifications
    /// off until the next `CommOpen`.
    void RecMessageTestK7200(std::string& strRec, int16_t& intStatus, int32_t& longTimeOut);
    void RecMessageTestK7200(std::string& strRec, int16_t& intStatus);
    /// `SendMessageTestK7200`, one yield, then `RecMessageTestK7200`; a failed send also
    /// reports "errorHandlerMessageTestK7200" and leaves `intStatus` 72.
    void MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus,
                          int32_t& longTimeOut);
    void MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus);

    // ---- Basic payment: request fields ------------------------------------------------------
    // The six character fields are held once per thread and shared by every control created
    // on that thread; creating a control (and new-instance initialisation) resets them to
    // their defaults for all of them.  Gets return the full fixed width.  A put checks its
    // value first: a rejected value stores its tag in `ReceiveError`, raises `ErrorEvent` when
    // enabled and leaves the field as it was; an accepted one is stored and announced to the
    // container under the property's name.

    /// Cash-register number: exactly 2 decimal digits ("errorPOSNumberLength",
    /// "errorPOSNumberValue").  Default "01".
    std::string POSNumber() const;
    void setPOSNumber(const std::string& value);
    /// Amount in the currency's smallest unit: exactly 8 decimal digits, not all zero
    /// ("errorPOSAmountLength", "errorPOSAmountValue", "errorPOSAmountNullValue").
    /// Default "00000001".
    std::string POSAmount() const;
    void setPOSAmount(const std::string& value);
    /// Response indicator, one character ("errorPOSRep").  Default "1".
    std::string POSRep() const;
    void setPOSRep(const std::string& value);
    /// Payment mode, one character ("errorPOSMode").  Default "0".
    std::string POSMode() const;
    void setPOSMode(const std::string& value);
    /// Transaction type, one character ("errorPOSType").  Default "?".
    std::string POSType() const;
    void setPOSType(const std::string& value);
    /// Currency code: exactly 3 decimal digits ("errorPOSDevLength", "errorPOSDevValue").
    /// Default "250".
    std::string POSDev() const;
    void setPOSDev(const std::string& value);
    /// Milliseconds to wait for the terminal's reply; per control, not shared.  Any value but 0
    /// ("errorPOSTimeoutNullValue"); default 10000.
    int32_t POSTimeout() const { return posTimeout_; }
    void setPOSTimeout(int32_t value);

    // ---- Basic payment: exchange and reply fields -----------------------------------------

    /// Sends the 26-character request (the six fields, then ten spaces) with `SendMessage`.
    /// Returns its result; an unexpected fault reports "errorHandlerPOSsend".
    bool POSsend();
    /// Blanks the reply fields, sends the request, waits up to `POSTimeout` ms for the reply,
    /// decodes it into the reply fields and returns it (raising `ReceivedEvent` after the
    /// fields are filled, when enabled).  Empty when the send failed or no reply came.  An
    /// unexpected fault reports "errorHandlerPOSMessage" and returns what it held.
    std::string POSMessage();
    /// The reply fields of this thread's last `POSMessage` (code-0 characters before the first
    /// one, spaces when no reply came): cash-register number (2), status (1), amount (8), mode
    /// (1), reply data (55), currency (3).
    std::string EFTposNumber() const;
    std::string EFTposStat() const;
    std::string EFTposAmount() const;
    std::string EFTposMode() const;
    std::string EFTposRep() const;
    std::string EFTposDev() const;

    // ---- Extended protocol: request fields, sequence, time-outs, encoder -------------------
    // (extended section: begin)
    //
    // Extended request fields: per control, fixed-width texts (a get returns the full width,
    // filler included; a field that was never written holds characters of code 0).  A put
    // checks the value first: a rejected value leaves the field as it was, stores the field's
    // tag in `ReceiveError` and raises `ErrorEvent` when `ErrorEnabled` is true; an accepted
    // value is stored with the left-aligned fit (padded with spaces or cut to the width) and
    // announced to the container under the property's name.  Puts never fail towards the
    // caller.  "Numeric value" below is the decimal number at the start of the text (leading
    // spaces, sign and decimal part allowed; 0 when there is none): "1a" counts as 1.
    // Comparisons are exact and case-sensitive.  New-instance initialisation restores the
    // defaults given here; fields shown with code-0 characters are set to them only when the
    // control is created.

    /// Sequence number, 2 characters of numeric value 1 to 99 ("errorPOSAutoSequenceValue").
    /// Default "01".  Sent first in every request; the terminal echoes it.
    std::string POSAutoSequence() const;
    void setPOSAutoSequence(const std::string& value);
    /// Operation number, exactly 4 characters ("errorPOSAutoOperationValue").  Default "0000".
    std::string POSAutoOperation() const;
    void setPOSAutoOperation(const std::string& value);
    /// Amount, exactly 12 characters, digits not checked ("errorPOSAutoAmountValue").
    /// Default "000000000001".
    std::string POSAutoAmount() const;
    void setPOSAutoAmount(const std::string& value);
    /// Numeric currency code, exactly 3 characters ("errorPOSAutoCurrency").  Default "250".
    std::string POSAutoCurrency() const;
    void setPOSAutoCurrency(const std::string& value);
    /// Authorisation control: one of "0" to "5", "p", "q", "s" ("errorPOSAutoControl").
    /// Default "0".
    std::string POSAutoControl() const;
    void setPOSAutoControl(const std::string& value);
    /// Transaction class: "10", "21" or "22" ("errorPOSAutoClass").  Default "10".
    std::string POSAutoClass() const;
    void setPOSAutoClass(const std::string& value);
    /// Card information (27 characters) from the authorisation reply; a put stores any text
    /// and never rejects.  Default 27 spaces.
    std::string POSAutoCardInfo() const;
    void setPOSAutoCardInfo(const std::string& value);
    /// Card tracks for the external reader: exactly 107, 40 and 79 characters
    /// ("errorPOSAutoTrackISO1", "errorPOSAutoTrackISO2", "errorPOSAutoTrackISO3").  Code-0
    /// characters until written.
    std::string POSAutoTrackISO1() const;
    void setPOSAutoTrackISO1(const std::string& value);
    std::string POSAutoTrackISO2() const;
    void setPOSAutoTrackISO2(const std::string& value);
    std::string POSAutoTrackISO3() const;
    void setPOSAutoTrackISO3(const std::string& value);
    /// Card reading type: "0", "1" or "2" ("errorPOSAutoReadingType").  Default "0".
    std::string POSAutoReadingType() const;
    void setPOSAutoReadingType(const std::string& value);
    /// Seconds as 3 characters of numeric value not 0 and at most 65 (negative values pass);
    /// a rejection stores the bare tag "POSAutoTimeOut".  "002" after construction, "065" after
    /// new-instance initialisation.  `POSAutoSend` recomputes it for the card-reading and
    /// PIN-pad requests.
    std::string POSAutoTimeOut() const;
    void setPOSAutoTimeOut(const std::string& value);
    /// Text shown on the PIN pad, exactly 80 characters ("errorPOSAutoText").  Code-0
    /// characters until written.
    std::string POSAutoText() const;
    void setPOSAutoText(const std::string& value);
    /// PIN-pad input type: "0", "1" or "9" ("errorPOSAutoInputType").  Default "0".
    std::string POSAutoInputType() const;
    void setPOSAutoInputType(const std::string& value);
    /// Minimum and maximum input length: one character of code 48 to 63 ("0" to "9", ":" to
    /// "?") ("errorPOSAutoMinLength", "errorPOSAutoMaxLength").  Defaults "0" and "9".
    std::string POSAutoMinLength() const;
    void setPOSAutoMinLength(const std::string& value);
    std::string POSAutoMaxLength() const;
    void setPOSAutoMaxLength(const std::string& value);
    /// Input offset: 2 characters ("errorPOSAutoInputOffset") of numeric value at most 79
    /// ("errorPOSAutoInputOffset " with a trailing space); no lower bound here.  Default "00".
    std::string POSAutoInputOffset() const;
    void setPOSAutoInputOffset(const std::string& value);
    /// Card treatment: exactly 1 character ("errorPOSAutoTreatmentCard"); anything but "1" is
    /// stored as "0".  Default "0".
    std::string POSAutoTreatmentCard() const;
    void setPOSAutoTreatmentCard(const std::string& value);
    /// Card reader: "0", "1" or "2" ("errorPOSAutoCardReader").  Default "0".  Decides which
    /// card requests may be sent ("0" for the external reader, "1" for card reading).
    std::string POSAutoCardReader() const;
    void setPOSAutoCardReader(const std::string& value);
    /// Printer: "0", "1" or "2" ("errorPOSAutoPrinter").  Default "2".
    std::string POSAutoPrinter() const;
    void setPOSAutoPrinter(const std::string& value);
    /// Buzzer and PIN-pad backlight switches: exactly 1 character ("errorPOSAutoBuzzer",
    /// "errorPOSAutoRetroPinPad"); a character of code above 48 is stored as "1", "0" and
    /// lower codes unchanged.  Defaults "1".
    std::string POSAutoBuzzer() const;
    void setPOSAutoBuzzer(const std::string& value);
    std::string POSAutoRetroPinPad() const;
    void setPOSAutoRetroPinPad(const std::string& value);
    /// Application code, exactly 4 characters ("errorPOSAutoApplicationCode").  Code-0
    /// characters until written.
    std::string POSAutoApplicationCode() const;
    void setPOSAutoApplicationCode(const std::string& value);
    /// Terminal number, exactly 3 characters ("errorPOSAutoEFTNumber").  Code-0 characters
    /// until written.
    std::string POSAutoEFTNumber() const;
    void setPOSAutoEFTNumber(const std::string& value);
    /// Application setting data, exactly 16 characters ("errorPOSAutoData").  Code-0
    /// characters until written.
    std::string POSAutoData() const;
    void setPOSAutoData(const std::string& value);
    /// Number of beeps: one character "0" to "9" ("errorPOSAutoNumBeep").  Default "1".
    std::string POSAutoNumBeep() const;
    void setPOSAutoNumBeep(const std::string& value);
    /// Ticket request, exactly 1 character ("errorPOSAutoTicketRequest").  Code-0 character
    /// until written.
    std::string POSAutoTicketRequest() const;
    void setPOSAutoTicketRequest(const std::string& value);

    /// Stores `text` into the extended request field of property name `name` (exact spelling)
    /// as the container's property loading does: left-aligned fit, no check, no notification,
    /// no tag.  False for a name that is not an extended request field.  Not part of the
    /// automation interface.
    bool storeExtendedFieldUnchecked(const std::string& name, const std::string& text);

    // Sequence numbering.

    /// Advances `POSAutoSequence` when `POSAutoIncSequenceEnabled` is true: its numeric value,
    /// rounded to a whole number (ties to even), plus one, 1 after 99, written with at least
    /// two digits ("09" becomes "10", "99" becomes "01", "ab" becomes "01").  The store skips
    /// the check and notifies nothing.  Reports nothing; any fault resets the sequence to "01".
    void POSAutoIncSequence();
    /// Whether `POSAutoIncSequence` advances the sequence (default true).  The put stores any
    /// value and announces "POSAutoIncSequenceEnabled".
    bool POSAutoIncSequenceEnabled() const;
    void setPOSAutoIncSequenceEnabled(bool value);

    // Function time-outs: milliseconds an extended exchange waits for the reply to a function
    // code when the caller gives no wait.  Puts store any value (0 and negative included)
    // without check or tag and announce the property's name.

    /// 01, wait for the final reply after an intermediate one (default 400000).
    int32_t POSAutoTOfctAuthorization() const;
    void setPOSAutoTOfctAuthorization(int32_t value);
    /// 01, wait for the first reply (default 150000).
    int32_t POSAutoTOfctAuthorizationInter() const;
    void setPOSAutoTOfctAuthorizationInter(int32_t value);
    /// 03 (default 40000).
    int32_t POSAutoTOfctRecording() const;
    void setPOSAutoTOfctRecording(int32_t value);
    /// 04 (default 5000).
    int32_t POSAutoTOfctReceiptMerchant() const;
    void setPOSAutoTOfctReceiptMerchant(int32_t value);
    /// 10 (default 30000).
    int32_t POSAutoTOfctSettingExtReader() const;
    void setPOSAutoTOfctSettingExtReader(int32_t value);
    /// 11 (default 65000); also gives the seconds sent in requests 11, 41, 51 and 61.
    int32_t POSAutoTOfctReadingCard() const;
    void setPOSAutoTOfctReadingCard(int32_t value);
    /// 12 (default 65000); also gives the seconds sent in request 12.
    int32_t POSAutoTOfctDisplayingPinPadRequest() const;
    void setPOSAutoTOfctDisplayingPinPadRequest(int32_t value);
    /// 14 (default 40000).
    int32_t POSAutoTOfctStatusRequest() const;
    void setPOSAutoTOfctStatusRequest(int32_t value);
    /// 15 (default 2000).
    int32_t POSAutoTOfctSoftwareStatus() const;
    void setPOSAutoTOfctSoftwareStatus(int32_t value);
    /// 16 (default 1800000).
    int32_t POSAutoTOfctClearTransactionFile() const;
    void setPOSAutoTOfctClearTransactionFile(int32_t value);
    /// 17 (default 30000).
    int32_t POSAutoTOfctAbortOperation() const;
    void setPOSAutoTOfctAbortOperation(int32_t value);
    /// 18 (default 2000).
    int32_t POSAutoTOfctSettingEFTConfiguration() const;
    void setPOSAutoTOfctSettingEFTConfiguration(int32_t value);
    /// 19 (default 2000).
    int32_t POSAutoTOfctSettingEFTApplication() const;
    void setPOSAutoTOfctSettingEFTApplication(int32_t value);
    /// 20 (default 10000).
    int32_t POSAutoTOfctBeep() const;
    void setPOSAutoTOfctBeep(int32_t value);
    /// 21 (default 2000).
    int32_t POSAutoTOfctCardReader() const;
    void setPOSAutoTOfctCardReader(int32_t value);
    /// 22 (default 2000).
    int32_t POSAutoTOfctCBInit() const;
    void setPOSAutoTOfctCBInit(int32_t value);
    /// 23 (default 2000).
    int32_t POSAutoTOfctTicketRequest() const;
    void setPOSAutoTOfctTicketRequest(int32_t value);

    // Request encoding.

    /// Builds the request of function code `Fct` (exactly as passed, case-sensitive) and sends
    /// it with `SendMessage`: `POSAutoSequence`, `Fct`, then the code's fields at their full
    /// widths (code-0 and space filler included).  Codes: 01 (operation, amount, currency,
    /// control, class), 03 (operation, amount, currency), 04 (operation), 10/40/50/60 (the
    /// three tracks), 11/41/51/61 (reading type, seconds), 12 (text, input type, minimum and
    /// maximum length, seconds, input offset), 14 and 15 (nothing), 16 (application code), 17
    /// (operation, treatment card), 18 (card reader, printer, buzzer, backlight, four code-0
    /// bytes), 19 (application code, terminal number, data), 20 (number of beeps), 21
    /// (treatment card), 23 (application code, ticket request).  For 11/41/51/61 and 12 the
    /// seconds are first recomputed into `POSAutoTimeOut` from `POSAutoTOfctReadingCard` or
    /// `POSAutoTOfctDisplayingPinPadRequest` (milliseconds / 1000, truncated, at least three
    /// digits, cut to three), and stay there even when a check fails.  Always sets
    /// `POSAutoStatus` and `POSAutoStatusCard` to "99" first.
    /// Returns `SendMessage`'s result.  False without sending, by the error convention, for an
    /// unlisted code ("errorHandlerPOSAutosend") or a field the code depends on that fails its
    /// check, the first in this order: 01 "errorHandlerPOSAutoControl",
    /// "errorHandlerPOSAutoClass"; 10/40/50/60 card reader not "0"
    /// "errorHandlerPOSAutoCardReaderType"; 11/41/51/61 card reader not "1" (same tag),
    /// "errorHandlerPOSAutoReadingType", seconds 0 or above 65 "errorHandlerPOSAutoTimeout";
    /// 12 "errorHandlerPOSAutoInputType", minimum then maximum length outside codes 48 to 63
    /// "errorHandlerPOSAutoInputLength", seconds (as above), input offset outside 0 to 79
    /// "errorHandlerPOSAutoInputOffset"; 18 "errorHandlerPOSAutoCardReader",
    /// "errorHandlerPOSAutoPrinter".  A failure inside `SendMessage` is reported by it.
    /// Called from a handler while an extended exchange runs, it is refused like a nested
    /// exchange ("errorPOSAutoExchangeBusy", see below) and returns false, sending nothing.
    bool POSAutoSend(const std::string& Fct);

    /// Status of the last extended reply (2 characters); "99" until a reply to the last
    /// request has been decoded.
    std::string POSAutoStatus() const;
    /// Card status of the last authorisation or recording reply (2 characters); "99" likewise.
    std::string POSAutoStatusCard() const;
    // (extended section: end)

    // ---- Extended protocol: exchange, reply decoding, operations --------------------------
    // (extended exchange section: begin)
    //
    // One extended exchange sends the request of a function code, waits for the terminal's
    // reply, checks the echoed sequence number and function code, decodes the reply into the
    // result fields (and into some request fields: operation, amount, currency, card
    // information, tracks), and checks the operation number of a payment reply against the one
    // the last card reading announced ("9999" before any).  Failures follow the error
    // convention and give "".
    //
    // Only one extended exchange runs at a time on a control.  An extended operation or
    // `POSAutoMessage` called while one is running (from a handler during its waits) is refused
    // before it writes any argument or sends anything: it reports "errorPOSAutoExchangeBusy"
    // (stored, and raised with `ErrorEvent` when `ErrorEnabled` is true) and returns "".  Once
    // the event has been delivered, `ReceiveError` gets back the text it held before the
    // refusal, so the running exchange's reply wait goes on undisturbed.

    /// Runs one exchange for function code `Fct` (exact, case-sensitive) and returns the whole
    /// reply (sequence number and function code included), or "" on failure.  Waits
    /// `lngTimeout` ms for the reply, or the code's function time-out when `lngTimeout` is 0.
    /// An authorisation ("01") first answered with an intermediate reply (code "02") raises
    /// `AbortEnabledEvent` and waits again, `POSAutoTOfctAuthorization` ms, for the final reply;
    /// the host may end that wait (Escape, `AbortReceive`).  The sequence number advances once
    /// per exchange in which a reply arrived.  Raises `ReceivedEvent` after decoding, when
    /// `ReceiveEnabled` is true.  Failures: the send's own tag (request not built or not sent);
    /// "errorHandlerPOSAutoMessage" when no reply came within a wait, or on an unexpected fault
    /// (then the reply held so far is returned); "errorHandlerPOSAutoSequence" for a reply
    /// with another sequence number; "errorHandlerPOSAutoFunction" for a reply with another
    /// function code, or a code without reply layout (22, 40, 50, 60, 41, 51, 61); and
    /// "errorHandlerPOSAutoOperation" when a reply to 01, 03, 04 or 23 carries another
    /// operation number than the expected one (its fields stay decoded).
    std::string POSAutoMessage(const std::string& Fct, int32_t lngTimeout = 0);

    // Result fields: the full-width texts of the last decoded replies (code-0 characters until
    // a reply filled them).  `POSAutoStatus` and `POSAutoStatusCard` are above.

    /// Application used by the last authorisation (4 characters).
    std::string POSAutoApplication() const;
    /// Receipt text of the last recording, merchant-receipt or ticket reply (500 characters;
    /// 500 spaces after a merchant-receipt or ticket reply whose status is not "00").
    std::string POSAutoReceipt() const;
    /// Private data of the last card reading (10 characters).
    std::string POSAutoPrivate() const;
    /// Number of characters entered on the PIN pad (1 character).
    std::string POSAutoNbCharacter() const;
    /// The string entered on the PIN pad (15 characters).
    std::string POSAutoString() const;
    /// Terminal status of the last status request (5 characters).
    std::string POSAutoStatusEFT() const;
    /// Software code (4 characters) of entry `index` of the last software-status reply.  For an
    /// index above 31: "" with "errorPOSAutoCode" by the error convention.  A negative index
    /// makes the call itself fail: throws `std::out_of_range`, `ReceiveError` untouched.
    std::string POSAutoCode(int16_t index);
    /// Software version (2 characters) of entry `index`; as `POSAutoCode`, with
    /// "errorPOSAutoVersion".  Throws `std::out_of_range` for a negative index.
    std::string POSAutoVersion(int16_t index);

    // Extended operations.  Each writes its non-empty arguments through the fields' validating
    // puts (a rejected argument reports its tag and the field keeps its value; the exchange
    // still runs, and its send clears `ReceiveError`), runs `POSAutoMessage` with its function
    // code and `lngTimeout` (0: the code's function time-out) and returns its result.  An
    // unexpected fault of the operation itself reports its own tag
    // ("errorHandlerPOSAutoAuthorization" and so on, the operation's name after
    // "errorHandler") and returns "".

    /// 01: authorisation of `POSAutoAmount` in `POSAutoCurrency` with `POSAutoControl` and
    /// `POSAutoClass` (and `POSAutoOperation`).  Waits `POSAutoTOfctAuthorizationInter` by
    /// default, then `POSAutoTOfctAuthorization` after an intermediate reply.
    std::string POSAutoAuthorization(const std::string& strAmount = "",
                                     const std::string& strCurrency = "",
                                     const std::string& strControl = "",
                                     const std::string& strClass = "", int32_t lngTimeout = 0);
    /// 03: recording of an amount; results status, operation, card status, receipt.
    std::string POSAutoRecording(const std::string& strAmount = "",
                                 const std::string& strCurrency = "", int32_t lngTimeout = 0);
    /// 04: merchant receipt of operation `POSAutoOperation`; results status, receipt.
    std::string POSAutoReceiptMerchant(int32_t lngTimeout = 0);
    /// 23: ticket of `POSAutoApplicationCode` (`POSAutoTicketRequest`); status, receipt.
    std::string POSAutoTicketRequested(int32_t lngTimeout = 0);
    /// 21: card reader operation with `POSAutoTreatmentCard`; result status.
    std::string POSAutoCardReaderOperation(int32_t lngTimeout = 0);
    /// 10: hands the external reader's three tracks to the terminal (needs `POSAutoCardReader`
    /// "0"); results status and the operation number a following payment must carry.
    std::string POSAutoSettingExtReader(const std::string& strTrackISO1 = "",
                                        const std::string& strTrackISO2 = "",
                                        const std::string& strTrackISO3 = "",
                                        int32_t lngTimeout = 0);
    /// 11: reads a card on the terminal (needs `POSAutoCardReader` "1"); results status,
    /// operation number (expected by a following payment), three tracks, private data.
    std::string POSAutoReadingCard(const std::string& strReadingType = "", int32_t lngTimeout = 0);
    /// 12: shows `POSAutoText` on the PIN pad and takes an entry; results status, number of
    /// characters, entered string.
    std::string POSAutoDisplayingPinPadRequest(const std::string& strText = "",
                                               const std::string& strInputType = "",
                                               const std::string& strMinLength = "",
                                               const std::string& strMaxLength = "",
                                               const std::string& strInputOffset = "",
                                               int32_t lngTimeout = 0);
    /// 14: terminal status into `POSAutoStatusEFT` (`POSAutoStatus` stays "99").
    std::string POSAutoStatusRequest(int32_t lngTimeout = 0);
    /// 15: status and the 32 software codes and versions.
    std::string POSAutoSoftwareStatus(int32_t lngTimeout = 0);
    /// 16: clears the transaction file of `POSAutoApplicationCode`; result status.
    std::string POSAutoClearTransactionFile(int32_t lngTimeout = 0);
    /// 17: aborts operation `POSAutoOperation`.  `strTreatment` is always written to
    /// `POSAutoTreatmentCard`, even when empty (which is rejected and keeps the old value).
    std::string POSAutoAbortOperation(const std::string& strTreatment = "0",
                                      int32_t lngTimeout = 0);
    /// 18: terminal configuration (card reader, printer, buzzer, PIN-pad backlight); status.
    std::string POSAutoSettingEFTConfiguration(const std::string& strCardReader = "",
                                               const std::string& strPrinter = "",
                                               const std::string& strBuzzer = "",
                                               const std::string& strRetroPinPad = "",
                                               int32_t lngTimeout = 0);
    /// 19: application setting (application code, terminal number, `POSAutoData`); status.
    std::string POSAutoSettingEFTApplication(const std::string& strApplicationCode = "",
                                             const std::string& strEFTNumber = "",
                                             int32_t lngTimeout = 0);
    /// 20: the terminal beeps `POSAutoNumBeep` times; result status.
    std::string POSAutoBeep(const std::string& strNumBeep = "", int32_t lngTimeout = 0);
    // (extended exchange section: end)

    // ---- Property persistence ----------------------------------------------------------------
    // (persistence section: begin)
    //
    // The container saves a placed control's persisted properties into a property bag
    // (include/korvelcom/PropertyBags.h has one in memory and one in a text file) and restores
    // them whenever the control is loaded again; a newly placed control without saved
    // properties is initialised instead.  Saved: the port number and line settings of `Comm`,
    // the link parameters and the four switches, the basic request fields and `POSTimeout`,
    // the extended request fields but the three tracks and `POSAutoData`, the operation number
    // the payment replies must carry (under the key "POSAutoOperation" again, right after the
    // operation number itself), the function time-outs and `POSAutoIncSequenceEnabled` (key
    // "POSAutoIncSequence").  Each entry is written with its default.  None of these members
    // raises an event, stores a tag or announces a property change; each saved or loaded entry
    // is a step of its own, and a step that fails is skipped while the others go on.

    /// Saving: writes the 62 persisted entries in their fixed order, each as key, value and
    /// default.  The port number and line settings are read from `Comm` itself; fixed-width
    /// fields are written at their full width, filler included.  `POSAutoTimeOut` is written
    /// with the default "065".  An entry whose value cannot be read or that the bag refuses is
    /// skipped.
    void WriteProperties(class PropertyBag& bag);
    /// Loading: reads the link parameters, then "CommSettings" and "CommPort" (applied to
    /// `Comm`, settings first, not kept in the control state), the four switches, then the
    /// remaining entries in the order of saving, each with its default ("002" for
    /// "POSAutoTimeOut").  Text is stored into its fixed-width field left-aligned, padded with
    /// spaces or cut to the width, without the checks of the puts.  An entry that does not
    /// convert to the field's type, or a setting `Comm` refuses, leaves the value as it was.
    void ReadProperties(class PropertyBag& bag);
    /// New-instance initialisation for a newly placed control that has no saved properties:
    /// the same as `InitNewInstance` (`POSAutoTimeOut` becomes "065").
    void InitProperties();
    // (persistence section: end)

    // ---- About box ---------------------------------------------------------------------------

    /// Shows the about box: loads a fresh `ui::AboutBox` for `componentInfo()` and the system
    /// directory (`WinSysDir`) and hands it to the presenter, which shows it modally and
    /// returns once it was closed; nothing survives between showings.  Without a presenter
    /// (hosts that show no windows) it does nothing.  A fault of the presenter is ignored:
    /// nothing reaches the host.  Containers know this member as the standard about-box
    /// member (dispatch identifier -552).
    void ShowAbout();
    /// Sets the front that shows the about box modally (empty: none).  Called on the control's
    /// thread; it must return only when the box was closed.
    void setAboutPresenter(std::function<void(const ui::AboutBox&)> presenter) {
        aboutPresenter_ = std::move(presenter);
    }
    /// The component's title ("KorvelComTools"), version (3.0.0) and comments (empty), as
    /// the about box shows them.
    static ui::ComponentInfo componentInfo();

    // ---- Checksums, parity and digit tests --------------------------------------------------
    // (checksum section: begin)
    //
    // Three checks, each over a range of a string, of a file or of a byte array:
    // - LRC8: a 16-bit register starts at the initial value and takes every byte by
    //   exclusive-or (the high byte of the initial value passes through unchanged);
    // - CRC16: bit-reflected (least significant bit first); the 16-bit register starts at the
    //   initial value as it is (not reflected, not inverted) and the result is the register,
    //   0 to 65535, with no final inversion.  With the polynomial 0xA001 and initial 0 it is
    //   CRC-16/ARC, with initial 0xFFFF CRC-16/MODBUS.  A negative initial value or polynomial
    //   stands for its 16-bit pattern (value + 65536): -24575 is 0xA001;
    // - CHECKSUM: a total starts at the initial value; every byte is added and 65536 is
    //   subtracted whenever the total then exceeds 65536; a final total above 32767 fails.
    //
    // String forms: positions are 1-based characters `intStart` to `intEnd`, used as given
    // (never changed); a range that visits a position outside 1 to the length fails; an empty
    // range (start > end) gives the initial value.
    // File forms: positions are 1-based bytes.  The file must be an ordinary file (a regular
    // file, symbolic links followed, whose name does not begin with a dot; directories,
    // devices and hidden files count as absent) or the call fails before opening anything.  The
    // whole file is read into memory.  `longEnd` above the file length is lowered to it and a
    // `longStart` of exactly 0 is raised to 1; both are written back, and stay written back
    // when the call then fails.  A non-empty range that starts below 1 fails.
    // Array forms: positions are indices of `Buffer`.  `longStart` below its lower bound is
    // raised to it and `longEnd` above its upper bound lowered to it (written back), so the
    // defaults cover the whole array whatever its lower bound.  An array without elements
    // fails (the range is then left as it is).
    //
    // Every check member follows the error convention: on failure it stores its tag
    // ("errorHandler" + the member's name, e.g. "errorHandlercCRC16file") in `ReceiveError`,
    // raises `ErrorEvent` only when `ErrorEnabled`, and returns 0 (the append members: the
    // empty string).  The file and array forms have overloads for each prefix of their
    // optional parameters; omitted ones take the defaults: `longStart` 1 (files) or 0 (arrays),
    // `longEnd` 2147483647, `intInitial` 0 (LRC8, CHECKSUM) or 0x5555 (CRC16), `intPolynomial`
    // 0xA001.

    /// `strPacket` followed by one character, its LRC8 (`cLRC8str` over the whole string with
    /// `initValue`; an empty string gives the character of code `initValue`).  Fails with
    /// "errorHandleraddLRC8toString" when the string is longer than 32767 characters or the
    /// value is not a byte (an `initValue` outside 0 to 255).  Should the inner computation
    /// fail, it reports under "errorHandlercLRC8str" and the character of code 0 is appended.
    std::string addLRC8toString(const std::string& strPacket, int16_t initValue = 0);
    /// LRC8 over characters `intStart` to `intEnd`.  Tag "errorHandlercLRC8str".
    int16_t cLRC8str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                     int16_t intInitial = 0);
    /// LRC8 over bytes `longStart` to `longEnd` of a file.  Tag "errorHandlercLRC8file".
    int16_t cLRC8file(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                      int16_t intInitial = 0);
    int16_t cLRC8file(const std::string& strFileName, int32_t& longStart);
    int16_t cLRC8file(const std::string& strFileName);
    /// LRC8 over elements `longStart` to `longEnd` of `Buffer`.  Tag "errorHandlercLRC8buffer".
    int16_t cLRC8buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                        int16_t intInitial = 0);
    int16_t cLRC8buffer(const ByteArray& Buffer, int32_t& longStart);
    int16_t cLRC8buffer(const ByteArray& Buffer);

    /// `strPacket` followed by its CRC16 (`cCRC16str` over the whole string), low byte first,
    /// then high byte: "abc" with the defaults gives "abc" + "\x17\xD7".  Fails with
    /// "errorHandleraddCRC16toString" when the string is longer than 32767 characters.  Should
    /// the inner computation fail, it reports under "errorHandlercCRC16str" and two characters
    /// of code 0 are appended.
    std::string addCRC16toString(const std::string& strPacket, int16_t initValue = 0x5555,
                                 int16_t Polynomial = -24575 /* 0xA001 */);
    /// CRC16 (0 to 65535) over characters `intStart` to `intEnd`.  Tag "errorHandlercCRC16str".
    int32_t cCRC16str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                      int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    /// CRC16 over bytes `longStart` to `longEnd` of a file.  Tag "errorHandlercCRC16file".
    int32_t cCRC16file(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                       int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    int32_t cCRC16file(const std::string& strFileName, int32_t& longStart);
    int32_t cCRC16file(const std::string& strFileName);
    /// CRC16 over elements `longStart` to `longEnd` of `Buffer`.  Tag
    /// "errorHandlercCRC16buffer".
    int32_t cCRC16buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                         int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    int32_t cCRC16buffer(const ByteArray& Buffer, int32_t& longStart);
    int32_t cCRC16buffer(const ByteArray& Buffer);

    /// CHECKSUM over characters `intStart` to `intEnd`.  Tag "errorHandlercCHECKSUMstr".
    int16_t cCHECKSUMstr(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                         int16_t intInitial = 0);
    /// CHECKSUM over bytes `longStart` to `longEnd` of a file.  Tag "errorHandlercCHECKSUMfile".
    int16_t cCHECKSUMfile(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                          int16_t intInitial = 0);
    int16_t cCHECKSUMfile(const std::string& strFileName, int32_t& longStart);
    int16_t cCHECKSUMfile(const std::string& strFileName);
    /// CHECKSUM over elements `longStart` to `longEnd` of `Buffer`.  Tag
    /// "errorHandlercCHECKSUMbuffer".
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                            int16_t intInitial = 0);
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart);
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer);

    // Digit tests and parity: they never fail and report nothing; strings of any length.

    /// True when every character is in "0123456789ABCDEFabcdef" (true for "").
    bool TestStrHexa(const std::string& str) const;
    /// True when every character is in "0123456789" (true for "").
    bool TestStrDec(const std::string& str) const;
    /// Gives each character an even number of 1 bits by setting bit 7 where the count is odd
    /// ("C" becomes "\xC3"); a character of code 128 or more with an odd count is left out.
    std::string AddParityString(const std::string& str) const;
    /// Clears bit 7 of every character.
    std::string SupParityString(const std::string& str) const;
    // (checksum section: end)

    // ---- Conversions, file scrambling and system helpers ---------------------------------
    // (utilities section: begin)
    //
    // Conversions between digit text and byte values.  They never fail and report nothing (no
    // tag, no event): a step that cannot be done is skipped and the conversion goes on.  Digit
    // sets are searched case-sensitively: decimal "0123456789", hexadecimal "0123456789ABCDEF"
    // (lower-case "a" to "f" are not digits here).

    /// Value of a hexadecimal text.  Starting from 0, each character c updates the value v to
    /// v * 16 + p - 1, where p is c's 1-based position in the digit set, 0 for a non-digit (so a
    /// non-digit counts as the digit -1 and does not stop the parse: "ff" gives -17, "1G" 15).
    /// The update is evaluated left to right in signed 32-bit arithmetic, and when any of its
    /// three steps would leave that range the whole update is skipped: "7FFFFFFE" gives
    /// 2147483646, "7FFFFFFF" gives 0x7FFFFFF, "123456789A" gives 0x12345678.  "" gives 0.
    int32_t ConvertStrhToDec(const std::string& strToConvert) const;
    /// Value of a decimal text, by the same rule with base 10: "12a" gives 119, " 5" gives -5,
    /// "2147483646" gives 2147483646 but "2147483647" gives 214748364.
    int32_t ConvertStrdToDec(const std::string& strToConvert) const;

    // Packers and unpackers work on characters `intStart` to `intEnd` (1-based) of `strPacket`
    // (defaults 1 and 32767).  First the range is prepared, and the changes are written back
    // to the caller's variables: an `intEnd` beyond the string's length is lowered to it, then
    // an `intStart` of exactly 0 is raised to 1.  The result is the head (characters 1 to
    // `intStart` - 1, unchanged), the converted body, and the tail (characters `intEnd` + 1 to
    // the end, unchanged).  A range whose end lies before its start converts nothing but still
    // copies head and tail ("abcdefg" over 5 to 2 gives "abcdcdefg").  Positions below 1
    // (negative `intStart` or `intEnd`) contribute nothing to head, tail and the packers'
    // body; negative starts are not supported by the unpackers (each such position repeats the
    // text written before it, "00" or "000" when none).  Strings longer than 32767 characters
    // keep everything beyond position 32767 in the tail.  The empty string gives "".
    //
    // Packers: for i = `intStart`, `intStart` + N, ... while i <= `intEnd`, the N characters at
    // i (fewer at the end of the string) are parsed with `ConvertStrdToDec` (names with D) or
    // `ConvertStrhToDec` (names with H), and the character of that code is appended; a value
    // outside 0 to 255 drops the group ("1x2" gives codes 1 and 2; "300" gives nothing).  A
    // group is not cut at `intEnd`, and the tail then repeats its last characters: "12345"
    // over 1 to 3 in groups of 2 gives codes 12 and 34 followed by "45".

    /// Groups of 1 decimal digit ("A7" over 2 to 2 gives "A" and the character of code 7).
    std::string cStr1DtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr1DtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr1DtoDec(const std::string& strPacket) const;
    /// Groups of 2 decimal digits.
    std::string cStr2DtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr2DtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr2DtoDec(const std::string& strPacket) const;
    /// Groups of 3 decimal digits ("065" gives "A").
    std::string cStr3DtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr3DtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr3DtoDec(const std::string& strPacket) const;
    /// Groups of 1 hexadecimal digit.
    std::string cStr1HtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr1HtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr1HtoDec(const std::string& strPacket) const;
    /// Groups of 2 hexadecimal digits ("1A2B" gives the characters of codes 0x1A and 0x2B).
    std::string cStr2HtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr2HtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr2HtoDec(const std::string& strPacket) const;

    // Unpackers: each character of the body is replaced by its code as text, left-padded with
    // "0" to the width in the name; longer texts are written whole.

    /// Decimal, at least 2 digits ("A" gives "65", code 200 gives "200").
    std::string c2DecToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c2DecToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c2DecToAsc(const std::string& strPacket) const;
    /// Decimal, at least 3 digits ("A" gives "065").
    std::string c3DecToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c3DecToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c3DecToAsc(const std::string& strPacket) const;
    /// Upper-case hexadecimal, 2 digits ("AB" gives "4142").
    std::string c2HexToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c2HexToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c2HexToAsc(const std::string& strPacket) const;

    // File scrambling.  REVERSIBLE SCRAMBLING, NOT ENCRYPTION: it keeps data from a casual
    // look and protects nothing against anyone who has the key code or can guess a few bytes.
    //
    // Each data byte is combined by exclusive-or with a key stream built from the key code K,
    // the file's base name and the data itself.  K is read at every call from the settings
    // store (application "KorvelServices", section "Settings", key "DataCode"; "27315" when
    // absent; POSIX: `$XDG_CONFIG_HOME/korvelcom/KorvelServices.ini`, section [Settings],
    // line DataCode=...): the leading number of the text, rounded to the nearest whole number
    // (ties to even), which must fit a signed 16-bit integer.  The base name is the file name
    // without everything up to its last "\" or "/", ASCII letters lowered, so a file's bytes
    // never depend on its directory; other bytes of the name enter as they are.  With
    // H = K / 256 (truncated toward zero), the state s starts at H and takes each byte of the
    // base name (s + byte, minus 256 when that reaches 256).  Byte i with plaintext p is p xor
    // s, after which s becomes ((s + p + i) xor H) and 255.  The file holds exactly the
    // scrambled bytes.  These members return false on failure without tag or event; only the
    // argument errors named below make the call itself fail.

    /// Deletes the file `strFileName` if it exists (failures ignored), then takes the first
    /// `intLength` characters (bytes) out of `strBuffer`, scrambles them and writes them as the
    /// whole file.  True when the file was written; on return `strBuffer` holds only the
    /// characters beyond the first `intLength` ("ABCDE" with 3 leaves "DE").  False when
    /// `strBuffer` is shorter than `intLength`, the key code does not fit 16 bits or gives a
    /// key byte outside 0 to 255 (possible with a negative code), the 16-bit stream sum
    /// overflows (near 32767 bytes), or the file cannot be written; no file then remains, and
    /// the characters already taken stay removed from `strBuffer`.
    /// The call itself fails (throws `std::out_of_range`, before anything is done) when
    /// `strFileName` is empty or `intLength` is below 1.
    bool EncryptFile(const std::string& strFileName, std::string& strBuffer, int16_t intLength);
    /// Reads the first `intLength` + 1 bytes of the file `strFileName` (bytes beyond its end
    /// count as 0) and unscrambles them into `byteBuffer` at the indices 0 to `intLength`
    /// (array indices, whatever the lower bound; the array is never resized).  `intLength` is
    /// the last index, not a count: a file written with length n is read back whole with n - 1.
    /// True when every index was filled.  False when the file is not an ordinary file (missing,
    /// a directory, a hidden dot-file), cannot be read, the key code fails as for
    /// `EncryptFile`, or an index does not exist in `byteBuffer`: the array is untouched when
    /// the file is missing, and keeps the bytes decoded before the failure otherwise.  An
    /// `intLength` of 32767 always ends false after the last byte (the index cannot count on).
    /// The call itself fails (throws `std::out_of_range`, before anything is done) when
    /// `strFileName` is empty or `intLength` is below 0.
    bool DecryptFile(const std::string& strFileName, ByteArray& byteBuffer, int16_t intLength);

    // System helpers.  They never fail and report nothing: a step that fails is skipped.

    /// The directory that plays the role of the Windows directory, without trailing "/" (except
    /// for "/" itself); empty when unknown or longer than 254 characters.  POSIX: "/etc", the
    /// system-wide configuration root, or `$KORVELCOM_WINDIR` when set.
    std::string WinDir();
    /// The directory that plays the role of the Windows system directory, shaped like
    /// `WinDir`.  POSIX: "/usr/lib", where shared system components live, or
    /// `$KORVELCOM_SYSDIR` when set.
    std::string WinSysDir();
    /// Twips (1/1440 inch) to screen pixels, in place: each value is divided by the screen's
    /// twips-per-pixel factor (horizontal for x, vertical for y; read at every call, rounded to
    /// a whole number, 15 when no screen is known, as on POSIX unless the host set its screen)
    /// and rounded to the nearest whole number, ties to even: 1000 gives 67, 22 gives 1.
    void TwipsToPixel(int16_t& intXvalue, int16_t& intYvalue);
    /// Screen pixels to twips, in place: each value times its factor (see `TwipsToPixel`); a
    /// product outside -32768 to 32767 leaves that value unchanged (at 15: 100 gives 1500,
    /// 3000 stays 3000).
    void PixelToTwips(int16_t& intXvalue, int16_t& intYvalue);
    /// -1 while the process `hprog` is running, 0 otherwise: once it has ended, and for an
    /// identifier that belongs to no process.  POSIX: any existing process that is not a
    /// zombie counts as running, whoever owns it.
    int32_t IsActive(int32_t hprog);
    /// Starts a program and waits for its end.  `strNameExe` is split into the program and its
    /// arguments at spaces and tabs, a part in double quotation marks keeping its spaces
    /// (`"/opt/my tools/run" -x`); no shell is involved, so nothing else in it is interpreted
    /// (no variables, patterns, redirections or command separators).  A program name without
    /// "/" is looked for on `PATH`.  While the program runs, the control yields to the host
    /// loop at every pass, so host events keep flowing.  When the Escape key is down and
    /// `EscapeKeyEnabled` is true, the call returns at once and leaves the program running:
    /// the final unlimited wait is skipped after Escape.  Otherwise, once the program has
    /// ended, a final wait (which does not yield) collects it.  Returns at once when the
    /// program cannot be started.
    void SuspendActivateExe(const std::string& strNameExe);
    /// Splits the process's command-line arguments (the text after the program's name) into
    /// `ArgArray`, which is resized to indices 0 to count: element 0 stays empty and elements 1
    /// to count hold the arguments.  Spaces and tabs separate arguments; quotation marks are
    /// ordinary characters (a quoted text with a space is split there); at most 10 arguments
    /// are collected, the rest is ignored.  Returns a copy of `ArgArray`.  POSIX: the text the
    /// host set with `SystemServices::setCommandLineArguments`, else this process's own
    /// arguments (/proc/self/cmdline) joined by single spaces.
    std::vector<std::string> GetCommandLine(std::vector<std::string>& ArgArray);
    // (utilities section: end)

    // ---- Diagnostics (not part of the automation interface) ------------------------------

    /// The link state record, read-only.
    const LinkState& linkState() const { return st_; }
    /// The serial port component `Comm`.
    SerialComm& comm() { return *comm_; }
    /// The platform the control runs on.
    Platform& platform() { return platform_; }

  private:
    // Error convention: store the tag, raise ErrorEvent when enabled (the link keeps the tag).
    void reportError(const char* tag);
    // The one failure path of an operation: runs `body`; when it throws, reports `tag` by the
    // error convention and returns `failureValue`.  Defined in control/Guarded.h.
    template <class R, class F>
    R guarded(const char* tag, R failureValue, F&& body);
    void markChanged(const char* name);
    // Runs `step`, ignoring a failure of the component (property setters).
    template <class F>
    void ignoreFailure(F&& step) noexcept;
    void putPosField(int field, const std::string& value);

    // Relays the link's events to the sink (control/KorvelComTools.cpp).
    struct LinkEvents;

    Platform& platform_;
    std::unique_ptr<SerialComm> comm_;
    KorvelComToolsEvents* sink_ = nullptr;
    std::function<void(const std::string&)> propertyChanged_;
    std::unique_ptr<LinkEvents> linkEvents_;
    std::unique_ptr<link::Link> link_;
    std::unique_ptr<pos::Payment> payment_;
    // The link's state record: the properties the container sees read and write it.
    LinkState& st_;
    Extent size_{};
    int32_t posTimeout_ = 10000;
    std::function<void(const ui::AboutBox&)> aboutPresenter_;
    // (extended private: begin)
    struct ExtendedState;  // src/extended/ExtendedState.h
    struct ExtendedStateDeleter {
        void operator()(ExtendedState* state) const noexcept;
    };
    std::unique_ptr<ExtendedState, ExtendedStateDeleter> ext_;
    // Creation (`newInstance` false) or new-instance initialisation of the extended state.
    void resetExtended(bool newInstance);
    // The generic read and validating write of an extended request field (`ext::Field`).
    std::string extendedField(int field) const;
    void putExtendedField(int field, const std::string& value);
    int32_t functionTimeOut(int timeout) const;
    void putFunctionTimeOut(int timeout, int32_t value);
    // The reply wait of an extended exchange: `lngTimeout` when it is not 0, else the function
    // time-out that serves code `Fct` as its default wait (`POSAutoTOfctAuthorizationInter`
    // for "01"), else 0 (codes 40, 50, 60, 41, 51, 61 and unlisted codes).
    int32_t extendedReplyWait(const std::string& Fct, int32_t lngTimeout) const;
    // (extended private: end)
    // (extended exchange private: begin)
    // Refuses an extended exchange started while one is running; true when refused.
    bool refuseNestedExchange();
    // `POSAutoSend` without the nested-exchange refusal: the exchange's own send.
    bool sendExtendedRequest(const std::string& Fct);
    // The exchange's steps after the send; `reply` holds the reply text as it goes.
    std::string extendedExchange(const std::string& Fct, int32_t wait, std::string& reply);
    // Decodes `reply` by the layout of `Fct`; false when the code has none.
    bool decodeExtendedReply(const std::string& Fct, const std::string& reply);
    // Whether `reply` starts with `POSAutoSequence`.
    bool sequenceEchoed(const std::string& reply) const;
    // A software table entry (`codes` true: `POSAutoCode`).
    std::string softwareEntry(int16_t index, bool codes);
    // One extended operation: each (field, argument) pair written when the argument is not
    // empty (always when `always` is set), then the exchange of `Fct`.
    struct OperationArg {
        int field;
        const std::string* value;
        bool always = false;
    };
    std::string extendedOperation(const char* tag, const char* Fct, int32_t lngTimeout,
                                  std::initializer_list<OperationArg> args);
    // (extended exchange private: end)
};

}  // namespace korvel
