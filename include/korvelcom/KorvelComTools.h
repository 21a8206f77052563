// KorvelComTools: the control a cash-register application uses to drive an electronic payment
// terminal over a serial line.  One object with a flat automation interface: properties
// (getter `X()`, setter `setX(v)`), methods, and three events delivered to a sink.
//
// Everything runs on the creating thread; waits yield to the host loop, so notifications and
// host handlers run nested inside them.  No member throws to the host except where its entry
// says so.  "Tag" below: on failure the member stores that error tag in `ReceiveError`, raises
// `ErrorEvent` when `ErrorEnabled`, and returns its failure value (false, 0 or "").
// Explanations, layouts and examples: docs/ (control.md, link.md, payment.md, extended.md,
// utilities.md, persistence-and-ui.md, platform.md).
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

namespace ext {
class Exchange;
}
namespace link {
class Link;
}
namespace pos {
class Payment;
}

/// The event interface.  Handlers run synchronously inside the member that raises them.
struct KORVELCOM_API KorvelComToolsEvents {
    virtual ~KorvelComToolsEvents() = default;
    /// A message arrived (`ReceiveMessage`), or an exchange filled its reply fields.
    virtual void ReceivedEvent() {}
    /// A failure was reported; `errType` is `ReceiveError` itself (assigning changes it).
    virtual void ErrorEvent(std::string& errType) { (void)errType; }
    /// An authorisation sent its intermediate reply; the host may now end the final wait.
    virtual void AbortEnabledEvent() {}
};

/// Size of the control on its host window, in pixels.
struct Extent {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Extent&, const Extent&) = default;
};

class KORVELCOM_API KorvelComTools {
  public:
    // ---- Control life cycle and events (docs/control.md) ---------------------------------

    /// Builds the control with its defaults and `Comm` (port 1, "9600,e,7,1", closed) from
    /// `platform`, which must outlive it.  Resets this thread's basic request fields.
    explicit KorvelComTools(Platform& platform);
    /// The same on this thread's default (POSIX) platform.
    KorvelComTools();
    /// Closes the port when open; failures ignored.
    ~KorvelComTools();
    KorvelComTools(const KorvelComTools&) = delete;
    KorvelComTools& operator=(const KorvelComTools&) = delete;

    /// Sets every default of creation again, except the receive path's working flags.
    void InitNewInstance();

    /// The host resized the control: it takes its logo's size again.
    void Resize();
    /// Current size on the host window, in pixels.
    Extent Size() const { return size_; }
    /// The logo's size in pixels.
    static Extent LogoSize();

    /// Sets the event sink (not owned; nullptr: no events).
    void setEventSink(KorvelComToolsEvents* sink) { sink_ = sink; }
    /// Sets the container's hook, told a persisted property's name after each successful put.
    void setPropertyChangedHandler(std::function<void(const std::string&)> handler) {
        propertyChanged_ = std::move(handler);
    }

    /// "3.00": major, ".", minor, then the revision with no separator.
    std::string Version() const;
    /// The version rule for any triple: (1, 2, 15) gives "1.215".
    static std::string formatVersion(int major, int minor, int revision);

    /// The last error tag ("" when none); writable by the host.
    std::string ReceiveError() const { return st_.ReceiveError; }
    void setReceiveError(const std::string& value) { st_.ReceiveError = value; }
    /// The last message received: frame text without STX, ETX and LRC.
    std::string ReceiveMessage() const { return st_.ReceiveMessage; }
    void setReceiveMessage(const std::string& value) { st_.ReceiveMessage = value; }

    // ---- Link: port and raw I/O (docs/link.md) -------------------------------------------

    /// Reopens the port with receive notifications off; applies `strSettings` when not empty
    /// and `intPort` when not 0; discards input.  Whether open; tag "errorHandlerCommInit".
    bool CommInit(int16_t intPort = 0, const std::string& strSettings = "");
    /// Opens the port when closed, turns notifications on, discards input.  Whether open; tag
    /// "errorHandlerCommOpen".
    bool CommOpen();
    /// Notifications off, input discarded, port closed.  Tag "errorHandlerCommClose".
    bool CommClose();

    /// Port number (1 = first) for the next open.  Get throws `SerialError` when `Comm` fails;
    /// a refused put is ignored but still announced.
    int16_t CommPort() const;
    void setCommPort(int16_t value);
    /// Line settings "baud,parity,data,stop", e.g. "9600,e,7,1"; a refused string is ignored.
    std::string CommSettings() const;
    void setCommSettings(const std::string& value);
    /// Whether the port is open; a put opens or closes it (failures ignored).
    bool CommPortOpen() const;
    void setCommPortOpen(bool value);
    /// Takes the waiting characters (all while `InputLen` is 0).  Throws `SerialError`.
    std::string CommInput();
    /// Queues bytes for transmission; failures ignored.
    void setCommOutput(const std::string& value);
    void setCommOutput(const ByteArray& value);
    /// Get: characters waiting, capped at 32767; throws `SerialError`.  Put: `InputLen`.
    int16_t CommInputLen();
    void setCommInputLen(int16_t value);
    /// Writes `InputMode` (0 = text); failures ignored.
    void setCommInputMode(int16_t value);

    /// Whether `ReceivedEvent` is raised (default true).
    bool ReceiveEnabled() const { return st_.ReceiveEnabled; }
    void setReceiveEnabled(bool value);
    /// Whether `ErrorEvent` is raised (default true); tags are stored either way.
    bool ErrorEnabled() const { return st_.ErrorEnabled; }
    void setErrorEnabled(bool value);
    /// Whether a held Escape key ends waits (default true).
    bool EscapeKeyEnabled() const { return st_.EscapeKeyEnabled; }
    void setEscapeKeyEnabled(bool value);
    /// Set true to end a running message wait; the wait resets it.
    bool AbortReceive() const { return st_.AbortReceive; }
    void setAbortReceive(bool value);

    // ---- Link: time-outs and waits -------------------------------------------------------
    // Puts store any value without check and are announced.

    /// Ms: longest wait for an expected answer character (default 600).
    int32_t TOwaitChar() const { return st_.TOwaitChar; }
    void setTOwaitChar(int32_t value);
    /// Ms of silence that end a reception (default 50).
    int32_t TOBetweenChar() const { return st_.TOBetweenChar; }
    void setTOBetweenChar(int32_t value);
    /// Ms paused before the control sends an ACK, frame or EOT (default 20).
    int32_t TOwaitReply() const { return st_.TOwaitReply; }
    void setTOwaitReply(int32_t value);
    /// Ms paused before a retry (default 1200).
    int32_t TOwaitRetry() const { return st_.TOwaitRetry; }
    void setTOwaitRetry(int32_t value);
    /// Minimum ms between the end of one exchange and the next send (default 100).
    int32_t TOWaitBetweenCommand() const { return st_.TOWaitBetweenCommand; }
    void setTOWaitBetweenCommand(int32_t value);
    /// ENQ attempts to open a session (default 3; below 1 acts as 1).
    int16_t RetrySession() const { return st_.RetrySession; }
    void setRetrySession(int16_t value);
    /// Sessions per send (default 3; below 1 acts as 1).
    int16_t RetryData() const { return st_.RetryData; }
    void setRetryData(int16_t value);

    /// Waits until the tick is later than the absolute tick `longTimeOut` (wrap-safe) or
    /// Escape; always yields at least once.  Never fails.
    void WaitTimeout(int32_t longTimeOut);
    /// Waits `TOwaitRetry` ms, or until Escape.  Never fails.
    void WaitTORetry();

    // ---- Link: framed send (STX text ETX LRC inside ENQ/ACK ... EOT) ---------------------

    /// Sends one message after the gap since the last exchange; retries as `RetrySession` and
    /// `RetryData` allow, then arms the receive path.  Clears `ReceiveError` and
    /// `ReceiveMessage` first.  False with tag "errorHandlerOpenSession" (no session) or
    /// "errorHandlerSendMessage" (frame not acknowledged, port failure, over 32766 bytes).
    bool SendMessage(const std::string& strMessage);
    /// Up to `RetrySession` ENQ attempts.  True clears `ReceiveError`; tag
    /// "errorHandlerOpenSession".
    bool OpenSession();
    /// Opens the port if needed and writes ENQ.  False stores "errorHandlerSendEnq", no event.
    bool SendEnq();
    /// Waits up to `TOwaitChar` ms for ACK.  False after EOT and a `TOwaitRetry` pause, with
    /// "errorHandlerWaitAck" stored, no event.
    bool WaitAck();

    // ---- Link: receive -------------------------------------------------------------------

    /// Receives one terminal session after its ENQ into `ReceiveMessage`; raises
    /// `ReceivedEvent` unless an exchange defers it.  Tag "errorHandlerReceivePacket".
    void ReceivePacket();
    /// Waits up to `longTimeOut` ms for a message completed after the call.  "" on time-out,
    /// Escape, `AbortReceive` or any tag in `ReceiveError`; tag "errorHandlerRecMessage".
    std::string RecMessage(int32_t longTimeOut);
    /// `SendMessage`, then `RecMessage(longTimeOut)`; "" when the send failed.  Tag
    /// "errorHandlerMessage".
    std::string Message(const std::string& strMessage, int32_t longTimeOut);

    // ---- Link: test frames (STX text ETX CRC16, no session) ------------------------------
    // `intStatus`: 0 reply begins "OK", 1 it does not, 69 short or bad CRC, 72 nothing usable.

    /// Writes the test frame; `strSend` becomes text, ETX and the two CRC bytes.  Tag
    /// "errorHandlerSendMessageTestK7200".
    bool SendMessageTestK7200(std::string& strSend);
    /// Receives a test reply into `strRec` (text and ETX) and `intStatus`; `longTimeOut` is
    /// ms on entry (3000 when omitted) and the last deadline tick on return.  Tag
    /// "errorHandlerRecMessageTestK7200" (not for a CRC mismatch).  Notifications stay off.
    void RecMessageTestK7200(std::string& strRec, int16_t& intStatus, int32_t& longTimeOut);
    void RecMessageTestK7200(std::string& strRec, int16_t& intStatus);
    /// Send, one yield, receive.  A failed send also reports "errorHandlerMessageTestK7200"
    /// and leaves `intStatus` 72.
    void MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus,
                          int32_t& longTimeOut);
    void MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus);

    // ---- Basic payment (docs/payment.md) -------------------------------------------------
    // Request fields: shared by every control of the thread; gets return the full width.  A
    // rejected put reports its tag and keeps the field; an accepted one is announced.

    /// Cash-register number, 2 digits ("errorPOSNumberLength", "errorPOSNumberValue"); "01".
    std::string POSNumber() const;
    void setPOSNumber(const std::string& value);
    /// Amount in the currency's smallest unit, 8 digits, not all zero ("errorPOSAmountLength",
    /// "errorPOSAmountValue", "errorPOSAmountNullValue"); "00000001".
    std::string POSAmount() const;
    void setPOSAmount(const std::string& value);
    /// Response indicator, 1 character ("errorPOSRep"); "1".
    std::string POSRep() const;
    void setPOSRep(const std::string& value);
    /// Payment mode, 1 character ("errorPOSMode"); "0".
    std::string POSMode() const;
    void setPOSMode(const std::string& value);
    /// Transaction type, 1 character ("errorPOSType"); "?".
    std::string POSType() const;
    void setPOSType(const std::string& value);
    /// Currency code, 3 digits ("errorPOSDevLength", "errorPOSDevValue"); "250".
    std::string POSDev() const;
    void setPOSDev(const std::string& value);
    /// Ms to wait for the reply, per control; not 0 ("errorPOSTimeoutNullValue"); 10000.
    int32_t POSTimeout() const { return posTimeout_; }
    void setPOSTimeout(int32_t value);

    /// Sends the 26-character request with `SendMessage`.  Tag "errorHandlerPOSsend".
    bool POSsend();
    /// Sends the request, waits `POSTimeout` ms, fills the reply fields and returns the reply;
    /// "" when the send failed or no reply came.  Tag "errorHandlerPOSMessage".
    std::string POSMessage();
    /// Reply fields of the thread's last `POSMessage` (spaces when no reply came, code 0
    /// before any): number (2), status (1), amount (8), mode (1), reply data (55), currency (3).
    std::string EFTposNumber() const;
    std::string EFTposStat() const;
    std::string EFTposAmount() const;
    std::string EFTposMode() const;
    std::string EFTposRep() const;
    std::string EFTposDev() const;

    // ---- Extended payment: request fields (docs/extended.md) -----------------------------
    // Per control, fixed width (code-0 characters until written).  A rejected put reports its
    // tag and keeps the field; an accepted one is fitted to the width and announced.

    /// Sequence number, 2 characters, value 1 to 99 ("errorPOSAutoSequenceValue"); "01".
    std::string POSAutoSequence() const;
    void setPOSAutoSequence(const std::string& value);
    /// Operation number, 4 characters ("errorPOSAutoOperationValue"); "0000".
    std::string POSAutoOperation() const;
    void setPOSAutoOperation(const std::string& value);
    /// Amount, 12 characters ("errorPOSAutoAmountValue"); "000000000001".
    std::string POSAutoAmount() const;
    void setPOSAutoAmount(const std::string& value);
    /// Currency code, 3 characters ("errorPOSAutoCurrency"); "250".
    std::string POSAutoCurrency() const;
    void setPOSAutoCurrency(const std::string& value);
    /// Authorisation control: "0" to "5", "p", "q", "s" ("errorPOSAutoControl"); "0".
    std::string POSAutoControl() const;
    void setPOSAutoControl(const std::string& value);
    /// Transaction class: "10", "21", "22" ("errorPOSAutoClass"); "10".
    std::string POSAutoClass() const;
    void setPOSAutoClass(const std::string& value);
    /// Card information, 27 characters; any text accepted; 27 spaces.
    std::string POSAutoCardInfo() const;
    void setPOSAutoCardInfo(const std::string& value);
    /// Card tracks, exactly 107, 40 and 79 characters ("errorPOSAutoTrackISO1" to "...3").
    std::string POSAutoTrackISO1() const;
    void setPOSAutoTrackISO1(const std::string& value);
    std::string POSAutoTrackISO2() const;
    void setPOSAutoTrackISO2(const std::string& value);
    std::string POSAutoTrackISO3() const;
    void setPOSAutoTrackISO3(const std::string& value);
    /// Card reading type: "0", "1", "2" ("errorPOSAutoReadingType"); "0".
    std::string POSAutoReadingType() const;
    void setPOSAutoReadingType(const std::string& value);
    /// Seconds, 3 characters, value not 0 and at most 65 (bare tag "POSAutoTimeOut"); "002"
    /// when created, "065" after initialisation.
    std::string POSAutoTimeOut() const;
    void setPOSAutoTimeOut(const std::string& value);
    /// PIN-pad text, exactly 80 characters ("errorPOSAutoText").
    std::string POSAutoText() const;
    void setPOSAutoText(const std::string& value);
    /// PIN-pad input type: "0", "1", "9" ("errorPOSAutoInputType"); "0".
    std::string POSAutoInputType() const;
    void setPOSAutoInputType(const std::string& value);
    /// Minimum and maximum input length, one character "0" to "?" ("errorPOSAutoMinLength",
    /// "errorPOSAutoMaxLength"); "0" and "9".
    std::string POSAutoMinLength() const;
    void setPOSAutoMinLength(const std::string& value);
    std::string POSAutoMaxLength() const;
    void setPOSAutoMaxLength(const std::string& value);
    /// Input offset, 2 characters, value at most 79 ("errorPOSAutoInputOffset", with a
    /// trailing space for the value); "00".
    std::string POSAutoInputOffset() const;
    void setPOSAutoInputOffset(const std::string& value);
    /// Card treatment, 1 character, stored as "1" or "0" ("errorPOSAutoTreatmentCard"); "0".
    std::string POSAutoTreatmentCard() const;
    void setPOSAutoTreatmentCard(const std::string& value);
    /// Card reader: "0", "1", "2" ("errorPOSAutoCardReader"); "0".
    std::string POSAutoCardReader() const;
    void setPOSAutoCardReader(const std::string& value);
    /// Printer: "0", "1", "2" ("errorPOSAutoPrinter"); "2".
    std::string POSAutoPrinter() const;
    void setPOSAutoPrinter(const std::string& value);
    /// Buzzer and PIN-pad backlight, 1 character, codes above "0" stored as "1"
    /// ("errorPOSAutoBuzzer", "errorPOSAutoRetroPinPad"); "1".
    std::string POSAutoBuzzer() const;
    void setPOSAutoBuzzer(const std::string& value);
    std::string POSAutoRetroPinPad() const;
    void setPOSAutoRetroPinPad(const std::string& value);
    /// Application code, exactly 4 characters ("errorPOSAutoApplicationCode").
    std::string POSAutoApplicationCode() const;
    void setPOSAutoApplicationCode(const std::string& value);
    /// Terminal number, exactly 3 characters ("errorPOSAutoEFTNumber").
    std::string POSAutoEFTNumber() const;
    void setPOSAutoEFTNumber(const std::string& value);
    /// Application setting data, exactly 16 characters ("errorPOSAutoData").
    std::string POSAutoData() const;
    void setPOSAutoData(const std::string& value);
    /// Number of beeps, "0" to "9" ("errorPOSAutoNumBeep"); "1".
    std::string POSAutoNumBeep() const;
    void setPOSAutoNumBeep(const std::string& value);
    /// Ticket request, exactly 1 character ("errorPOSAutoTicketRequest").
    std::string POSAutoTicketRequest() const;
    void setPOSAutoTicketRequest(const std::string& value);

    /// Stores `text` into the extended field named `name` as property loading does (fit, no
    /// check, no notification).  False for another name.  Not an automation member.
    bool storeExtendedFieldUnchecked(const std::string& name, const std::string& text);

    /// Advances `POSAutoSequence` (after "99" comes "01") when enabled; reports nothing.
    void POSAutoIncSequence();
    /// Whether the sequence advances (default true).
    bool POSAutoIncSequenceEnabled() const;
    void setPOSAutoIncSequenceEnabled(bool value);

    // ---- Extended payment: function time-outs --------------------------------------------
    // Ms an exchange waits for the reply to its code when the caller gives 0.  Puts store any
    // value without check and are announced.

    /// 01, the final reply after an intermediate one (default 400000).
    int32_t POSAutoTOfctAuthorization() const;
    void setPOSAutoTOfctAuthorization(int32_t value);
    /// 01, the first reply (default 150000).
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
    /// 11 (default 65000); also the seconds sent in 11, 41, 51 and 61.
    int32_t POSAutoTOfctReadingCard() const;
    void setPOSAutoTOfctReadingCard(int32_t value);
    /// 12 (default 65000); also the seconds sent in 12.
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

    // ---- Extended payment: operations and results ----------------------------------------

    /// Builds and sends the request of function code `Fct` (exact) with `SendMessage`.  Tag
    /// "errorHandlerPOSAutosend" for an unknown code, or the tag of a field the code needs that
    /// fails its check; "errorPOSAutoExchangeBusy" during an exchange.
    bool POSAutoSend(const std::string& Fct);

    /// Status of the last extended reply, 2 characters; "99" until it is decoded.
    std::string POSAutoStatus() const;
    /// Card status of the last authorisation or recording reply, 2 characters; "99" likewise.
    std::string POSAutoStatusCard() const;

    /// One exchange for code `Fct`: waits `lngTimeout` ms (0: the code's time-out), checks
    /// sequence, code and operation number, decodes the results; returns the whole reply.
    /// "" with the send's tag, "errorHandlerPOSAutoMessage" (no reply),
    /// "errorHandlerPOSAutoSequence", "errorHandlerPOSAutoFunction",
    /// "errorHandlerPOSAutoOperation" or "errorPOSAutoExchangeBusy" (one is running).
    std::string POSAutoMessage(const std::string& Fct, int32_t lngTimeout = 0);

    /// Application of the last authorisation, 4 characters.
    std::string POSAutoApplication() const;
    /// Receipt of the last recording, merchant-receipt or ticket reply, 500 characters.
    std::string POSAutoReceipt() const;
    /// Private data of the last card reading, 10 characters.
    std::string POSAutoPrivate() const;
    /// Number of characters entered on the PIN pad, 1 character.
    std::string POSAutoNbCharacter() const;
    /// The string entered on the PIN pad, 15 characters.
    std::string POSAutoString() const;
    /// Terminal status of the last status request, 5 characters.
    std::string POSAutoStatusEFT() const;
    /// Software code of entry `index` (0 to 31), 4 characters.  Above 31: "" with tag
    /// "errorPOSAutoCode"; negative: throws `std::out_of_range`.
    std::string POSAutoCode(int16_t index);
    /// Software version of entry `index`, 2 characters; as `POSAutoCode` ("errorPOSAutoVersion").
    std::string POSAutoVersion(int16_t index);

    // Operations: write the non-empty arguments through the validating puts, run
    // `POSAutoMessage` with the code (`lngTimeout` 0: the code's time-out), return its result.
    // An unexpected fault: "" with tag "errorHandler" + the operation's name.

    /// 01: authorisation; after an intermediate reply raises `AbortEnabledEvent` and waits
    /// `POSAutoTOfctAuthorization` ms for the final one.
    std::string POSAutoAuthorization(const std::string& strAmount = "",
                                     const std::string& strCurrency = "",
                                     const std::string& strControl = "",
                                     const std::string& strClass = "", int32_t lngTimeout = 0);
    /// 03: recording of an amount.
    std::string POSAutoRecording(const std::string& strAmount = "",
                                 const std::string& strCurrency = "", int32_t lngTimeout = 0);
    /// 04: merchant receipt of `POSAutoOperation`.
    std::string POSAutoReceiptMerchant(int32_t lngTimeout = 0);
    /// 23: ticket of `POSAutoApplicationCode`.
    std::string POSAutoTicketRequested(int32_t lngTimeout = 0);
    /// 21: card reader operation with `POSAutoTreatmentCard`.
    std::string POSAutoCardReaderOperation(int32_t lngTimeout = 0);
    /// 10: hands the external reader's tracks to the terminal (card reader "0").
    std::string POSAutoSettingExtReader(const std::string& strTrackISO1 = "",
                                        const std::string& strTrackISO2 = "",
                                        const std::string& strTrackISO3 = "",
                                        int32_t lngTimeout = 0);
    /// 11: reads a card on the terminal (card reader "1") into the track fields.
    std::string POSAutoReadingCard(const std::string& strReadingType = "", int32_t lngTimeout = 0);
    /// 12: shows `POSAutoText` on the PIN pad and takes an entry.
    std::string POSAutoDisplayingPinPadRequest(const std::string& strText = "",
                                               const std::string& strInputType = "",
                                               const std::string& strMinLength = "",
                                               const std::string& strMaxLength = "",
                                               const std::string& strInputOffset = "",
                                               int32_t lngTimeout = 0);
    /// 14: terminal status into `POSAutoStatusEFT`.
    std::string POSAutoStatusRequest(int32_t lngTimeout = 0);
    /// 15: the 32 software codes and versions.
    std::string POSAutoSoftwareStatus(int32_t lngTimeout = 0);
    /// 16: clears the transaction file of `POSAutoApplicationCode`.
    std::string POSAutoClearTransactionFile(int32_t lngTimeout = 0);
    /// 17: aborts `POSAutoOperation`; `strTreatment` is always written, even when empty.
    std::string POSAutoAbortOperation(const std::string& strTreatment = "0",
                                      int32_t lngTimeout = 0);
    /// 18: terminal configuration (card reader, printer, buzzer, PIN-pad backlight).
    std::string POSAutoSettingEFTConfiguration(const std::string& strCardReader = "",
                                               const std::string& strPrinter = "",
                                               const std::string& strBuzzer = "",
                                               const std::string& strRetroPinPad = "",
                                               int32_t lngTimeout = 0);
    /// 19: application setting (application code, terminal number, `POSAutoData`).
    std::string POSAutoSettingEFTApplication(const std::string& strApplicationCode = "",
                                             const std::string& strEFTNumber = "",
                                             int32_t lngTimeout = 0);
    /// 20: the terminal beeps `POSAutoNumBeep` times.
    std::string POSAutoBeep(const std::string& strNumBeep = "", int32_t lngTimeout = 0);

    // ---- Persistence (docs/persistence-and-ui.md) ----------------------------------------
    // No event, tag or change notice; an entry that fails is skipped and the others go on.

    /// Saves the 62 persisted entries (key, value, default) in their fixed order.
    void WriteProperties(class PropertyBag& bag);
    /// Loads them, applying port and settings to `Comm`; fields are fitted without checks.
    void ReadProperties(class PropertyBag& bag);
    /// Initialises a newly placed control without saved properties (as `InitNewInstance`).
    void InitProperties();

    // ---- About box -----------------------------------------------------------------------

    /// Hands a freshly loaded about box to the presenter, which shows it modally; nothing
    /// without one.  Never fails.
    void ShowAbout();
    /// Sets the front that shows the about box modally and returns once closed (empty: none).
    void setAboutPresenter(std::function<void(const ui::AboutBox&)> presenter) {
        aboutPresenter_ = std::move(presenter);
    }
    /// Title "KorvelComTools", version 3.0.0, empty comments.
    static ui::ComponentInfo componentInfo();

    // ---- Checksums (docs/utilities.md) ---------------------------------------------------
    // Ranges: strings 1-based characters as given; files 1-based bytes, arrays indices, both
    // clamped and written back.  On failure: 0 (append members "") with tag "errorHandler" +
    // the member's name.  CRC16 defaults: initial 0x5555, polynomial 0xA001 (reflected).

    /// `strPacket` and its LRC8 character.  Tag "errorHandleraddLRC8toString" (over 32767
    /// characters, `initValue` not a byte).
    std::string addLRC8toString(const std::string& strPacket, int16_t initValue = 0);
    /// LRC8 (exclusive-or) of characters `intStart` to `intEnd`.
    int16_t cLRC8str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                     int16_t intInitial = 0);
    /// LRC8 of bytes `longStart` to `longEnd` of a file.
    int16_t cLRC8file(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                      int16_t intInitial = 0);
    int16_t cLRC8file(const std::string& strFileName, int32_t& longStart);
    int16_t cLRC8file(const std::string& strFileName);
    /// LRC8 of elements `longStart` to `longEnd` of `Buffer`.
    int16_t cLRC8buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                        int16_t intInitial = 0);
    int16_t cLRC8buffer(const ByteArray& Buffer, int32_t& longStart);
    int16_t cLRC8buffer(const ByteArray& Buffer);

    /// `strPacket` and its CRC16, low byte first.  Tag "errorHandleraddCRC16toString" (over
    /// 32767 characters).
    std::string addCRC16toString(const std::string& strPacket, int16_t initValue = 0x5555,
                                 int16_t Polynomial = -24575 /* 0xA001 */);
    /// CRC16 (0 to 65535) of characters `intStart` to `intEnd`.
    int32_t cCRC16str(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                      int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    /// CRC16 of bytes `longStart` to `longEnd` of a file.
    int32_t cCRC16file(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                       int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    int32_t cCRC16file(const std::string& strFileName, int32_t& longStart);
    int32_t cCRC16file(const std::string& strFileName);
    /// CRC16 of elements `longStart` to `longEnd` of `Buffer`.
    int32_t cCRC16buffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                         int16_t intInitial = 0x5555, int16_t intPolynomial = -24575 /* 0xA001 */);
    int32_t cCRC16buffer(const ByteArray& Buffer, int32_t& longStart);
    int32_t cCRC16buffer(const ByteArray& Buffer);

    /// Additive checksum of characters `intStart` to `intEnd`; a total above 32767 fails.
    int16_t cCHECKSUMstr(const std::string& strPacket, int16_t intStart, int16_t intEnd,
                         int16_t intInitial = 0);
    /// Additive checksum of bytes `longStart` to `longEnd` of a file.
    int16_t cCHECKSUMfile(const std::string& strFileName, int32_t& longStart, int32_t& longEnd,
                          int16_t intInitial = 0);
    int16_t cCHECKSUMfile(const std::string& strFileName, int32_t& longStart);
    int16_t cCHECKSUMfile(const std::string& strFileName);
    /// Additive checksum of elements `longStart` to `longEnd` of `Buffer`.
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart, int32_t& longEnd,
                            int16_t intInitial = 0);
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer, int32_t& longStart);
    int16_t cCHECKSUMbuffer(const ByteArray& Buffer);

    // ---- Digit tests and parity: never fail ----------------------------------------------

    /// Whether every character is a hexadecimal digit, either case (true for "").
    bool TestStrHexa(const std::string& str) const;
    /// Whether every character is a decimal digit (true for "").
    bool TestStrDec(const std::string& str) const;
    /// Sets bit 7 where a character's 1 bits are odd; odd characters from 128 up are dropped.
    std::string AddParityString(const std::string& str) const;
    /// Clears bit 7 of every character.
    std::string SupParityString(const std::string& str) const;

    // ---- Conversions: never fail; a step that cannot be done is skipped ------------------

    /// Value of a hexadecimal text (upper-case digits; a non-digit counts as -1).
    int32_t ConvertStrhToDec(const std::string& strToConvert) const;
    /// Value of a decimal text (a non-digit counts as -1).
    int32_t ConvertStrdToDec(const std::string& strToConvert) const;

    // Packers and unpackers convert characters `intStart` to `intEnd` (1-based, defaults 1
    // and 32767, clamped and written back) and keep head and tail unchanged.

    /// Groups of 1 decimal digit to the character of that code.
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
    /// Groups of 2 hexadecimal digits ("1A2B" gives codes 0x1A 0x2B).
    std::string cStr2HtoDec(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string cStr2HtoDec(const std::string& strPacket, int16_t& intStart) const;
    std::string cStr2HtoDec(const std::string& strPacket) const;
    /// Each character as its decimal code, at least 2 digits ("A" gives "65").
    std::string c2DecToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c2DecToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c2DecToAsc(const std::string& strPacket) const;
    /// Each character as its decimal code, at least 3 digits ("A" gives "065").
    std::string c3DecToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c3DecToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c3DecToAsc(const std::string& strPacket) const;
    /// Each character as 2 upper-case hexadecimal digits ("AB" gives "4142").
    std::string c2HexToAsc(const std::string& strPacket, int16_t& intStart, int16_t& intEnd) const;
    std::string c2HexToAsc(const std::string& strPacket, int16_t& intStart) const;
    std::string c2HexToAsc(const std::string& strPacket) const;

    // ---- File scrambling: reversible, NOT encryption; false on failure, no tag -----------

    /// Takes the first `intLength` bytes out of `strBuffer` and writes them scrambled as the
    /// whole file.  Throws `std::out_of_range` for an empty name or `intLength` below 1.
    bool EncryptFile(const std::string& strFileName, std::string& strBuffer, int16_t intLength);
    /// Unscrambles the file's first `intLength` + 1 bytes into indices 0 to `intLength` of
    /// `byteBuffer` (never resized).  Throws `std::out_of_range` for an empty name or
    /// `intLength` below 0.
    bool DecryptFile(const std::string& strFileName, ByteArray& byteBuffer, int16_t intLength);

    // ---- System helpers: never fail; a step that fails is skipped ------------------------

    /// The directory in the Windows directory's role, no trailing "/"; "" when unknown.
    std::string WinDir();
    /// The directory in the Windows system directory's role; "" when unknown.
    std::string WinSysDir();
    /// Twips to pixels in place, rounded to nearest (15 twips a pixel unless the host set one).
    void TwipsToPixel(int16_t& intXvalue, int16_t& intYvalue);
    /// Pixels to twips in place; a result outside 16 bits leaves that value unchanged.
    void PixelToTwips(int16_t& intXvalue, int16_t& intYvalue);
    /// -1 while process `hprog` runs, else 0.
    int32_t IsActive(int32_t hprog);
    /// Starts a program (no shell; double quotes group words) and waits for its end, yielding;
    /// Escape returns at once and leaves it running.
    void SuspendActivateExe(const std::string& strNameExe);
    /// Splits the command-line arguments into `ArgArray[1..n]` (at most 10; element 0 empty)
    /// and returns a copy.
    std::vector<std::string> GetCommandLine(std::vector<std::string>& ArgArray);

    // ---- Diagnostics (not automation members) --------------------------------------------

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
    // The extended protocol, and the adapter through which it reaches the link and reports
    // by the error convention (src/control/ExtendedForwarding.cpp).
    struct ExtendedHost;
    struct ExtendedDeleter {
        void operator()(ExtendedHost* host) const noexcept;
        void operator()(ext::Exchange* exchange) const noexcept;
    };
    std::unique_ptr<ExtendedHost, ExtendedDeleter> extHost_;
    std::unique_ptr<ext::Exchange, ExtendedDeleter> ext_;  // after its host: destroyed first
    // Creation (`newInstance` false) or new-instance initialisation of the extended state.
    void resetExtended(bool newInstance);
    // (extended private: end)
};

}  // namespace korvel
