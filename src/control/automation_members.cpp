// The control's member table: every automation member and event, one line each, with its
// dispatch id.  Types, by-reference parameters and results come from the C++ members
// themselves (see automation_binder.h); a line gives the names, the defaults of optional
// parameters and, for a persisted property, how the property bag sees it.  Persisted
// properties are saved in the order of their lines.  Ids are fixed: a new member takes the
// next free id (members: 160, events: 4); an id is never renumbered or reused.
#include <string>
#include <vector>

#include "control/automation_binder.h"

namespace korvel {
namespace {

using namespace binder;
using VT = ValueType;
using S = std::string;
using I = int16_t;
using L = int32_t;

#define PROPERTY(id, Name, ...) \
    property<&K::Name, &K::set##Name>(id, #Name __VA_OPT__(, ) __VA_ARGS__)
#define READONLY(id, Name, ...) readOnly<&K::Name>(id, #Name __VA_OPT__(, ) __VA_ARGS__)
#define WRITEONLY(id, Name) writeOnly<&K::set##Name>(id, #Name)
#define METHOD(id, Name, ...) method<&K::Name>(id, #Name, {__VA_ARGS__})
#define OVERLOAD(id, Name, Signature, ...) \
    method<pick<Signature>(&K::Name)>(id, #Name, {__VA_ARGS__})
#define INDEXED(id, Name, ...) indexed<&K::Name>(id, #Name, {__VA_ARGS__})
#define EVENT(id, Name, ...) event<&KorvelComToolsEvents::Name>(id, #Name, {__VA_ARGS__})

// A fixed-width request field (or a value the put refuses that loading keeps): loading stores
// the text without the put's checks.
Saved field(Value def) {
    return saved(std::move(def)).stored();
}

// The overloads of the members with optional by-reference parameters, taken with them all.
using FileCheck = I(const S&, L&, L&, I);
using BufferCheck = I(const ByteArray&, L&, L&, I);
using CrcFile = L(const S&, L&, L&, I, I);
using CrcBuffer = L(const ByteArray&, L&, L&, I, I);
using Unpack = S(const S&, I&, I&) const;
using RecTest = void(S&, I&, L&);
using MessageTest = void(S&, S&, I&, L&);

constexpr I kCrcInitial = 0x5555;
constexpr I kCrcPolynomial = -24575;  // the bit pattern 0xA001
constexpr L kEnd = 2147483647;

// An array of strings as the host sees it: an array of variants holding strings, from 0.
Value variantArray(const std::vector<S>& elements) {
    return VariantArray{0, std::vector<Value>(elements.begin(), elements.end())};
}

std::vector<Line> lines() {
    return {
        // The control.
        READONLY(1, Version),
        METHOD(2, ShowAbout),
        PROPERTY(3, ReceiveError),
        PROPERTY(4, ReceiveMessage),

        // Port management and raw I/O.
        METHOD(5, CommInit, {"intPort", 0}, {"strSettings", ""}),
        METHOD(6, CommOpen),
        METHOD(7, CommClose),
        PROPERTY(8, CommPort, saved(1).loadedAt(9)),
        PROPERTY(9, CommSettings, saved("9600,e,7,1").loadedAt(8)),
        PROPERTY(10, CommPortOpen),
        READONLY(11, CommInput, VT::Any),
        custom(12, "CommOutput", MemberKind::Put, {Param{"value", VT::Any, {}, false, false}},
               VT::Empty,
               [](K& c, std::vector<Value>& a) -> Value {
                   if (auto* bytes = std::get_if<ByteArray>(&a[0]))
                       c.setCommOutput(*bytes);
                   else
                       c.setCommOutput(std::get<S>(convertValue(a[0], VT::String)));
                   return std::monostate{};
               }),
        PROPERTY(13, CommInputLen),
        WRITEONLY(14, CommInputMode),

        // Link timing and waits.
        PROPERTY(15, TOwaitChar, saved(600).loadedAt(1)),
        PROPERTY(16, TOwaitRetry, saved(1200).loadedAt(4)),
        PROPERTY(17, TOwaitReply, saved(20).loadedAt(5)),
        PROPERTY(18, TOBetweenChar, saved(50).loadedAt(2)),
        PROPERTY(19, TOWaitBetweenCommand, saved(100).loadedAt(3)),
        PROPERTY(20, RetrySession, saved(3).loadedAt(6)),
        PROPERTY(21, RetryData, saved(3).loadedAt(7)),
        PROPERTY(22, ErrorEnabled, saved(true)),
        PROPERTY(23, ReceiveEnabled, saved(true)),
        PROPERTY(24, EscapeKeyEnabled, saved(true)),
        PROPERTY(25, AbortReceive, saved(false)),
        METHOD(26, WaitTimeout, "longTimeOut"),
        METHOD(27, WaitTORetry),

        // Framed link, receive path and the test exchange.
        METHOD(28, SendMessage, "strMessage"),
        METHOD(29, OpenSession),
        METHOD(30, SendEnq),
        METHOD(31, WaitAck),
        METHOD(32, ReceivePacket),
        METHOD(33, RecMessage, "longTimeOut"),
        METHOD(34, Message, "strMessage", "longTimeOut"),
        METHOD(35, SendMessageTestK7200, "strSend"),
        OVERLOAD(36, RecMessageTestK7200, RecTest, "strRec", "intStatus", {"longTimeOut", 3000}),
        OVERLOAD(37, MessageTestK7200, MessageTest, "strSend", "strRec", "intStatus",
                 {"longTimeOut", 3000}),

        // Basic payment.
        PROPERTY(38, POSNumber, field("01")),
        PROPERTY(39, POSAmount, field("00000001")),
        PROPERTY(40, POSRep, field("1")),
        PROPERTY(41, POSMode, field("0")),
        PROPERTY(42, POSType, field("?")),
        PROPERTY(43, POSDev, field("250")),
        PROPERTY(44, POSTimeout, field(10000)),
        METHOD(45, POSsend),
        METHOD(46, POSMessage),
        READONLY(47, EFTposNumber),
        READONLY(48, EFTposStat),
        READONLY(49, EFTposAmount),
        READONLY(50, EFTposMode),
        READONLY(51, EFTposRep),
        READONLY(52, EFTposDev),

        // Extended protocol: request fields, sequence numbering, function time-outs.
        PROPERTY(53, POSAutoSequence, field("01")),
        PROPERTY(54, POSAutoOperation, field("0000").thenExpectedOperation("9999")),
        PROPERTY(55, POSAutoAmount, field("000000000001")),
        PROPERTY(56, POSAutoCurrency, field("250")),
        PROPERTY(57, POSAutoControl, field("0")),
        PROPERTY(58, POSAutoClass, field("10")),
        PROPERTY(59, POSAutoReadingType, field("0")),
        PROPERTY(60, POSAutoCardInfo, field(S(27, ' '))),
        // Saved with the newly placed control's "065", loaded with the constructed "002".
        PROPERTY(61, POSAutoTimeOut, field("065").loadedWith("002")),
        PROPERTY(62, POSAutoText, field("")),
        PROPERTY(63, POSAutoInputType, field("0")),
        PROPERTY(64, POSAutoMinLength, field("0")),
        PROPERTY(65, POSAutoMaxLength, field("9")),
        PROPERTY(66, POSAutoInputOffset, field("00")),
        PROPERTY(67, POSAutoTreatmentCard, field("0")),
        PROPERTY(68, POSAutoCardReader, field("0")),
        PROPERTY(69, POSAutoPrinter, field("2")),
        PROPERTY(70, POSAutoBuzzer, field("1")),
        PROPERTY(71, POSAutoRetroPinPad, field("1")),
        PROPERTY(72, POSAutoApplicationCode, field("0000")),
        PROPERTY(73, POSAutoEFTNumber, field("000")),
        PROPERTY(74, POSAutoNumBeep, field("1")),
        PROPERTY(75, POSAutoTicketRequest, field("1")),
        PROPERTY(76, POSAutoTrackISO1),
        PROPERTY(77, POSAutoTrackISO2),
        PROPERTY(78, POSAutoTrackISO3),
        PROPERTY(79, POSAutoData),
        variantResult(METHOD(80, POSAutoIncSequence)),
        PROPERTY(81, POSAutoTOfctAuthorization, saved(400000)),
        PROPERTY(82, POSAutoTOfctAuthorizationInter, saved(150000)),
        PROPERTY(83, POSAutoTOfctRecording, saved(40000)),
        PROPERTY(84, POSAutoTOfctReceiptMerchant, saved(5000)),
        PROPERTY(85, POSAutoTOfctSettingExtReader, saved(30000)),
        PROPERTY(86, POSAutoTOfctReadingCard, saved(65000)),
        PROPERTY(87, POSAutoTOfctDisplayingPinPadRequest, saved(65000)),
        PROPERTY(88, POSAutoTOfctStatusRequest, saved(40000)),
        PROPERTY(89, POSAutoTOfctSoftwareStatus, saved(2000)),
        PROPERTY(90, POSAutoTOfctClearTransactionFile, saved(1800000)),
        PROPERTY(91, POSAutoTOfctAbortOperation, saved(30000)),
        PROPERTY(92, POSAutoTOfctSettingEFTConfiguration, saved(2000)),
        PROPERTY(93, POSAutoTOfctSettingEFTApplication, saved(2000)),
        PROPERTY(94, POSAutoTOfctBeep, saved(10000)),
        PROPERTY(95, POSAutoTOfctCardReader, saved(2000)),
        PROPERTY(96, POSAutoTOfctCBInit, saved(2000)),
        PROPERTY(97, POSAutoTOfctTicketRequest, saved(2000)),
        // The key lacks the word Enabled of the property's name.
        PROPERTY(98, POSAutoIncSequenceEnabled, saved(true).underKey("POSAutoIncSequence")),
        METHOD(99, POSAutoSend, "Fct"),
        READONLY(100, POSAutoStatus),
        READONLY(101, POSAutoStatusCard),

        // Extended exchange, its results and the operations.  A negative index of an indexed
        // read fails the call (std::out_of_range becomes the call's failure).
        METHOD(102, POSAutoMessage, "Fct", {"lngTimeout", 0}),
        READONLY(103, POSAutoApplication),
        READONLY(104, POSAutoReceipt),
        READONLY(105, POSAutoPrivate),
        READONLY(106, POSAutoNbCharacter),
        READONLY(107, POSAutoString),
        READONLY(108, POSAutoStatusEFT),
        INDEXED(109, POSAutoCode, "index"),
        INDEXED(110, POSAutoVersion, "index"),
        METHOD(111, POSAutoAuthorization, {"strAmount", ""}, {"strCurrency", ""},
               {"strControl", ""}, {"strClass", ""}, {"lngTimeout", 0}),
        METHOD(112, POSAutoRecording, {"strAmount", ""}, {"strCurrency", ""}, {"lngTimeout", 0}),
        METHOD(113, POSAutoReceiptMerchant, {"lngTimeout", 0}),
        METHOD(114, POSAutoTicketRequested, {"lngTimeout", 0}),
        METHOD(115, POSAutoCardReaderOperation, {"lngTimeout", 0}),
        METHOD(116, POSAutoSettingExtReader, {"strTrackISO1", ""}, {"strTrackISO2", ""},
               {"strTrackISO3", ""}, {"lngTimeout", 0}),
        METHOD(117, POSAutoReadingCard, {"strReadingType", ""}, {"lngTimeout", 0}),
        METHOD(118, POSAutoDisplayingPinPadRequest, {"strText", ""}, {"strInputType", ""},
               {"strMinLength", ""}, {"strMaxLength", ""}, {"strInputOffset", ""},
               {"lngTimeout", 0}),
        METHOD(119, POSAutoStatusRequest, {"lngTimeout", 0}),
        METHOD(120, POSAutoSoftwareStatus, {"lngTimeout", 0}),
        METHOD(121, POSAutoClearTransactionFile, {"lngTimeout", 0}),
        METHOD(122, POSAutoAbortOperation, {"strTreatment", "0"}, {"lngTimeout", 0}),
        METHOD(123, POSAutoSettingEFTConfiguration, {"strCardReader", ""}, {"strPrinter", ""},
               {"strBuzzer", ""}, {"strRetroPinPad", ""}, {"lngTimeout", 0}),
        METHOD(124, POSAutoSettingEFTApplication, {"strApplicationCode", ""}, {"strEFTNumber", ""},
               {"lngTimeout", 0}),
        METHOD(125, POSAutoBeep, {"strNumBeep", ""}, {"lngTimeout", 0}),

        // Checksums, parity and digit tests.
        METHOD(126, addLRC8toString, "strPacket", {"initValue", 0}),
        METHOD(127, cLRC8str, "strPacket", "intStart", "intEnd", {"intInitial", 0}),
        OVERLOAD(128, cLRC8file, FileCheck, "strFileName", {"longStart", 1}, {"longEnd", kEnd},
                 {"intInitial", 0}),
        OVERLOAD(129, cLRC8buffer, BufferCheck, "Buffer", {"longStart", 0}, {"longEnd", kEnd},
                 {"intInitial", 0}),
        METHOD(130, addCRC16toString, "strPacket", {"initValue", kCrcInitial},
               {"Polynomial", kCrcPolynomial}),
        METHOD(131, cCRC16str, "strPacket", "intStart", "intEnd", {"intInitial", kCrcInitial},
               {"intPolynomial", kCrcPolynomial}),
        OVERLOAD(132, cCRC16file, CrcFile, "strFileName", {"longStart", 1}, {"longEnd", kEnd},
                 {"intInitial", kCrcInitial}, {"intPolynomial", kCrcPolynomial}),
        OVERLOAD(133, cCRC16buffer, CrcBuffer, "Buffer", {"longStart", 0}, {"longEnd", kEnd},
                 {"intInitial", kCrcInitial}, {"intPolynomial", kCrcPolynomial}),
        METHOD(134, cCHECKSUMstr, "strPacket", "intStart", "intEnd", {"intInitial", 0}),
        OVERLOAD(135, cCHECKSUMfile, FileCheck, "strFileName", {"longStart", 1}, {"longEnd", kEnd},
                 {"intInitial", 0}),
        OVERLOAD(136, cCHECKSUMbuffer, BufferCheck, "Buffer", {"longStart", 0}, {"longEnd", kEnd},
                 {"intInitial", 0}),
        METHOD(137, TestStrHexa, "str"),
        METHOD(138, TestStrDec, "str"),
        METHOD(139, AddParityString, "str"),
        METHOD(140, SupParityString, "str"),

        // Conversions, file scrambling and system helpers.  The argument errors the scrambling
        // members throw fail the call itself.
        METHOD(141, ConvertStrhToDec, "strToConvert"),
        METHOD(142, ConvertStrdToDec, "strToConvert"),
        OVERLOAD(143, cStr1DtoDec, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(144, cStr2DtoDec, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(145, cStr3DtoDec, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(146, cStr1HtoDec, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(147, cStr2HtoDec, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(148, c2DecToAsc, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(149, c3DecToAsc, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        OVERLOAD(150, c2HexToAsc, Unpack, "strPacket", {"intStart", 1}, {"intEnd", 32767}),
        METHOD(151, EncryptFile, "strFileName", "strBuffer", "intLength"),
        METHOD(152, DecryptFile, "strFileName", "byteBuffer", "intLength"),
        METHOD(153, WinDir),
        METHOD(154, WinSysDir),
        METHOD(155, TwipsToPixel, "intXvalue", "intYvalue"),
        METHOD(156, PixelToTwips, "intXvalue", "intYvalue"),
        custom(157, "IsActive", MemberKind::Method, {Param{"hprog", VT::Any}}, VT::I32,
               [](K& c, std::vector<Value>& a) -> Value {
                   // A variant that holds no 32-bit process identifier names no process.
                   int32_t pid = 0;
                   try {
                       pid = std::get<int32_t>(convertValue(a[0], VT::I32));
                   } catch (const AutomationError&) {
                       return int32_t{0};
                   }
                   return c.IsActive(pid);
               }),
        variantResult(METHOD(158, SuspendActivateExe, "strNameExe")),
        // `ArgArray` is re-dimensioned to the arguments (element 0 empty, lower bound 0), and
        // the result is a variant holding a copy of it; whatever the caller passed is replaced.
        custom(159, "GetCommandLine", MemberKind::Method, {Param{"ArgArray", VT::Array, {}, true}},
               VT::Any,
               [](K& c, std::vector<Value>& a) -> Value {
                   std::vector<S> args;
                   const std::vector<S> copy = c.GetCommandLine(args);
                   a[0] = variantArray(args);
                   return variantArray(copy);
               }),

        // Events, in their own id space.  `errType` is the control's `ReceiveError` itself.
        EVENT(1, ReceivedEvent),
        EVENT(2, ErrorEvent, "errType"),
        EVENT(3, AbortEnabledEvent),
    };
}

#undef PROPERTY
#undef READONLY
#undef WRITEONLY
#undef METHOD
#undef OVERLOAD
#undef INDEXED
#undef EVENT

}  // namespace

const AutomationTable& AutomationTable::instance() {
    static const AutomationTable table = [] {
        AutomationTable t;
        for (Line& line : lines())
            for (Member& m : line) {
                // Containers know ShowAbout as the standard about-box member.
                if (m.name == "ShowAbout") m.standardId = kAboutBoxDispatchId;
                t.add(std::move(m));
            }
        return t;
    }();
    return table;
}

}  // namespace korvel
