// The control object and the by-name surface every automation host calls through: the whole
// member table against its expectation, every member by name against C++ on a twin control.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "korvelcom/Automation.h"
#include "support/World.h"

namespace korvel {
namespace {

using Args = std::vector<Value>;
using K = KorvelComTools;
using S = std::string;
using VT = ValueType;
using I = int16_t;
using L = int32_t;

S code(VT t) {
    return S(1, "-bilsyv"[static_cast<int>(t)]);
}

// A parameter list as name:T[=default], & in front when the member writes the argument back,
// ? after a default whose type is not the parameter's.
S params(const Member& m) {
    S out;
    for (const Param& p : m.params) {
        out += (out.empty() ? "" : ",") + S(p.byRef ? "&" : "") + p.name + ":" + code(p.type);
        if (p.defaultValue) out += "=" + formatValue(*p.defaultValue);
        if (p.defaultValue && convertValue(*p.defaultValue, p.type) != *p.defaultValue) out += "?";
    }
    return out;
}

// Every member as one token: Name(params)R a method (R - without result), Name[params]R an
// indexed read, Name=T read-write, Name:T read-only, Name<params write-only.
std::set<S> surface() {
    std::map<S, std::map<MemberKind, const Member*>> byName;
    for (const Member& m : AutomationTable::instance().members())
        byName[m.name][m.kind] = &m;
    std::set<S> out;
    for (auto& [name, kinds] : byName) {
        const Member *get = kinds[MemberKind::Get], *put = kinds[MemberKind::Put];
        if (const Member* m = kinds[MemberKind::Method])
            out.insert(name + "(" + params(*m) + ")" + code(m->result));
        const bool pair = get && put && get->params.empty() && put->params[0].type == get->result;
        if (pair) out.insert(name + "=" + code(get->result));
        if (get && !pair)
            out.insert(name + (get->params.empty() ? ":" : "[" + params(*get) + "]") +
                       code(get->result));
        if (put && !pair) out.insert(name + "<" + params(*put));
    }
    return out;
}

// The automation interface as the host sees it.  A brace group lists alternatives.
constexpr const char* kSurface = R"(
Version:s ShowAbout()- ReceiveError=s ReceiveMessage=s CommOpen()b CommClose()b CommPort=i
CommInit(intPort:i=0,strSettings:s=)b CommSettings=s CommPortOpen=b CommInput:v CommInputLen=i
CommOutput<value:v CommInputMode<value:i {ReceiveEnabled,ErrorEnabled,EscapeKeyEnabled}=b
AbortReceive=b {TOwaitChar,TOBetweenChar,TOwaitReply,TOwaitRetry,TOWaitBetweenCommand}=l
{RetrySession,RetryData}=i WaitTimeout(longTimeOut:l)- WaitTORetry()- ReceivePacket()-
SendMessage(strMessage:s)b {OpenSession,SendEnq,WaitAck}()b RecMessage(longTimeOut:l)s
Message(strMessage:s,longTimeOut:l)s SendMessageTestK7200(&strSend:s)b RecMessageTestK7200(
&strRec:s,&intStatus:i,&longTimeOut:l=3000)- MessageTestK7200(&strSend:s,&strRec:s,&intStatus:i,
&longTimeOut:l=3000)- {POSNumber,POSAmount,POSRep,POSMode,POSType,POSDev}=s POSTimeout=l POSsend()b
POSMessage()s {EFTposNumber,EFTposStat,EFTposAmount,EFTposMode,EFTposRep,EFTposDev}:s
POSAuto{Sequence,Operation,Amount,Currency,Control,Class,CardInfo,TrackISO1,TrackISO2}=s
POSAuto{TrackISO3,ReadingType,TimeOut,Text,InputType,MinLength,MaxLength,InputOffset}=s
POSAuto{TreatmentCard,CardReader,Printer,Buzzer,RetroPinPad,ApplicationCode,EFTNumber}=s
POSAuto{Data,NumBeep,TicketRequest}=s POSAutoIncSequence()- POSAutoIncSequenceEnabled=b
POSAutoTOfct{Authorization,AuthorizationInter,Recording,ReceiptMerchant,SettingExtReader}=l
POSAutoTOfct{ReadingCard,DisplayingPinPadRequest,StatusRequest,SoftwareStatus,Beep}=l
POSAutoTOfct{ClearTransactionFile,AbortOperation,SettingEFTConfiguration,CardReader}=l
POSAutoTOfct{SettingEFTApplication,CBInit,TicketRequest}=l POSAutoSend(Fct:s)b POSAuto{Status,
StatusCard,Application,Receipt,Private,NbCharacter,String,StatusEFT}:s POSAutoMessage(Fct:s,
lngTimeout:l=0)s POSAuto{Code,Version}[index:i]s POSAutoAuthorization(strAmount:s=,strCurrency:s=,
strControl:s=,strClass:s=,lngTimeout:l=0)s POSAutoRecording(strAmount:s=,strCurrency:s=,
lngTimeout:l=0)s POSAuto{ReceiptMerchant,TicketRequested,CardReaderOperation,StatusRequest}(
lngTimeout:l=0)s POSAuto{SoftwareStatus,ClearTransactionFile}(lngTimeout:l=0)s
POSAutoSettingExtReader(strTrackISO1:s=,strTrackISO2:s=,strTrackISO3:s=,lngTimeout:l=0)s
POSAutoReadingCard(strReadingType:s=,lngTimeout:l=0)s POSAutoBeep(strNumBeep:s=,lngTimeout:l=0)s
POSAutoDisplayingPinPadRequest(strText:s=,strInputType:s=,strMinLength:s=,strMaxLength:s=,
strInputOffset:s=,lngTimeout:l=0)s POSAutoAbortOperation(strTreatment:s=0,lngTimeout:l=0)s
POSAutoSettingEFTConfiguration(strCardReader:s=,strPrinter:s=,strBuzzer:s=,strRetroPinPad:s=,
lngTimeout:l=0)s POSAutoSettingEFTApplication(strApplicationCode:s=,strEFTNumber:s=,lngTimeout:l=0)s
addLRC8toString(strPacket:s,initValue:i=0)s addCRC16toString(strPacket:s,initValue:i=21845,
Polynomial:i=-24575)s c{LRC8,CHECKSUM}str(strPacket:s,intStart:i,intEnd:i,intInitial:i=0)i
c{LRC8,CHECKSUM}file(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=0)i
c{LRC8,CHECKSUM}buffer(Buffer:y,&longStart:l=0,&longEnd:l=2147483647,intInitial:i=0)i
cCRC16str(strPacket:s,intStart:i,intEnd:i,intInitial:i=21845,intPolynomial:i=-24575)l
cCRC16file(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=21845,
intPolynomial:i=-24575)l cCRC16buffer(Buffer:y,&longStart:l=0,&longEnd:l=2147483647,
intInitial:i=21845,intPolynomial:i=-24575)l {TestStrHexa,TestStrDec}(str:s)b {AddParityString,
SupParityString}(str:s)s {ConvertStrhToDec,ConvertStrdToDec}(strToConvert:s)l {cStr1DtoDec,
cStr2DtoDec,cStr3DtoDec,cStr1HtoDec,cStr2HtoDec,c2DecToAsc,c3DecToAsc,c2HexToAsc}(strPacket:s,
&intStart:i=1,&intEnd:i=32767)s EncryptFile(strFileName:s,&strBuffer:s,intLength:i)b WinDir()s
WinSysDir()s DecryptFile(strFileName:s,&byteBuffer:y,intLength:i)b {TwipsToPixel,PixelToTwips}(
&intXvalue:i,&intYvalue:i)- IsActive(hprog:v)l SuspendActivateExe(strNameExe:s)- GetCommandLine(
&ArgArray:v)s
)";

TEST(AutomationSurface, EveryMemberWithItsKindParametersDefaultsAndWriteBack) {
    // Tokens end at a blank; a line ending in "(", "," or "=" goes on on the next line.
    std::istringstream in(kSurface);
    S joined;
    for (S line; std::getline(in, line);)
        joined += line + (line.empty() || S("(,=").find(line.back()) == S::npos ? " " : "");
    std::set<S> want;
    std::istringstream tokens(joined);
    for (S t; tokens >> t;) {
        const auto open = t.find('{'), close = t.find('}');
        std::istringstream alts(open == S::npos ? "" : t.substr(open + 1, close - open - 1));
        if (open == S::npos) want.insert(t);
        for (S a; std::getline(alts, a, ',');)
            want.insert(t.substr(0, open) + a + t.substr(close + 1));
    }
    S wanted, had;
    for (const auto& t : want)
        wanted += t + "\n";
    for (const auto& t : surface())
        had += t + "\n";
    EXPECT_EQ(had, wanted);
}

TEST(Control, CreationDefaultsAndNewInstanceInitialisation) {
    test::World w;
    const auto show = [&] {
        std::istringstream in(
            "TOwaitChar TOwaitRetry TOwaitReply TOBetweenChar TOWaitBetweenCommand RetrySession "
            "RetryData EscapeKeyEnabled ErrorEnabled ReceiveEnabled AbortReceive ReceiveMessage "
            "ReceiveError POSTimeout CommSettings Version POSAutoTimeOut");
        S out;
        for (S n; in >> n;)
            out += n + "=" + formatValue(getProperty(*w, n)) + " ";
        return out;
    };
    const S defaults =
        "TOwaitChar=600 TOwaitRetry=1200 TOwaitReply=20 TOBetweenChar=50 "
        "TOWaitBetweenCommand=100 RetrySession=3 RetryData=3 EscapeKeyEnabled=true "
        "ErrorEnabled=true ReceiveEnabled=true AbortReceive=false ReceiveMessage= ReceiveError= "
        "POSTimeout=10000 CommSettings=9600,e,7,1 Version=3.00 POSAutoTimeOut=";
    EXPECT_EQ(show(), defaults + "002 ");
    EXPECT_EQ(K::formatVersion(1, 2, 15) + " " + K::formatVersion(10, 0, 7), "1.215 10.07");
    // Newly placed: the defaults again, POSAutoTimeOut "065"; an armed receive path stays armed.
    w->setRetryData(7);
    w->setPOSTimeout(5);
    ASSERT_TRUE(w->SendMessage("X"));
    w->InitNewInstance();
    EXPECT_EQ(show(), defaults + "065 ");
    EXPECT_TRUE(w->linkState().ReceiveArmed);
}

TEST(Control, ErrorConventionAndTermination) {
    test::World w;
    w.p.missingPorts.insert(1);
    EXPECT_FALSE(w->CommOpen());
    w.events.onError = [](S& tag) { tag = "seen:" + tag; };  // the tag is ReceiveError itself
    EXPECT_FALSE(w->CommOpen());
    w.p.missingPorts.clear();  // success does not clear an old tag
    EXPECT_TRUE(w->CommOpen());
    EXPECT_EQ(w->ReceiveError(), "seen:errorHandlerCommOpen");
    EXPECT_EQ(w.events.errors, (std::vector<S>{"errorHandlerCommOpen", "errorHandlerCommOpen"}));
    // Termination closes an open port, and only an open one.
    SimPlatform p;
    EXPECT_TRUE(std::make_unique<KorvelComTools>(p)->CommOpen());  // destroyed right after
    (void)std::make_unique<KorvelComTools>(p);                     // never opened
    EXPECT_EQ(p.closes, 1);
}

// The arguments of a direct call: a[i] binds to the C++ parameter i as a reference.
struct Ref {
    Args& a;
    std::size_t i = 0;
    Ref operator[](std::size_t k) const { return Ref{a, k}; }
    template <class T>
    operator T&() const {
        return std::get<std::remove_const_t<T>>(a[i]);
    }
};
#define F(expr) [](K& c, [[maybe_unused]] Ref a) -> Value { return expr; }
#define V(expr) [](K& c, [[maybe_unused]] Ref a) -> Value { return expr, Value(); }

// What a host sees after a call: result, arguments, properties, events, wire, virtual time.
std::string seen(test::World& w, const std::function<Value()>& call, const Args& args) {
    std::ostringstream o;
    try {
        o << formatValue(call());
    } catch (const std::exception&) {
        o << "(call failed)";
    }
    for (const Value& v : args)
        o << " " << formatValue(v);
    for (const Member& m : AutomationTable::instance().members()) {
        if (m.kind != MemberKind::Get || !m.params.empty()) continue;
        try {
            o << "\n" << m.name << "=" << formatValue(getProperty(*w, m.name));
        } catch (const AutomationError&) {
            o << "\n" << m.name << " failed";
        }
    }
    for (const auto& e : w.events.errors)
        o << "\n" << e;
    o << "\n"
      << w.events.received << w.events.abortEnabled << " " << w.trace(true, true) << " @"
      << w.nowUs();
    return o.str();
}

// The arguments of a call by name, text given as plain literals.
struct A : Args {
    template <class... T>
    A(T... values) : Args{arg(values)...} {}
    static Value arg(const char* text) { return S(text); }
    static Value arg(Value v) { return v; }
};

struct TwinCase {
    const char* name;
    Args args;  ///< of the parameters' types, with values that differ pairwise
    std::function<Value(K&, Ref)> direct;
    MemberKind kind = MemberKind::Method;
};

TEST(AutomationBinding, EachArgumentReachesItsParameter) {
    constexpr auto G = MemberKind::Get, P = MemberKind::Put;
    const S t1(107, '1'), t2(40, '2'), t3(79, '3'), text(80, 'T');
    const std::vector<TwinCase> cases = {
        {"CommInit", A(I(2), "4800,n,8,1"), F(c.CommInit(a[0], a[1]))},
        {"CommOpen", A(), F(c.CommOpen())},
        {"CommClose", A(), F(c.CommClose())},
        {"WaitTimeout", A(L(1'000'450)), V(c.WaitTimeout(a[0]))},
        {"WaitTORetry", A(), V(c.WaitTORetry())},
        {"SendMessage", A("HELLO"), F(c.SendMessage(a[0]))},
        {"OpenSession", A(), F(c.OpenSession())},
        {"SendEnq", A(), F(c.SendEnq())},
        {"WaitAck", A(), F(c.WaitAck())},
        {"ReceivePacket", A(), V(c.ReceivePacket())},
        {"RecMessage", A(L(700)), F(c.RecMessage(a[0]))},
        {"Message", A("PING", L(1500)), F(c.Message(a[0], a[1]))},
        {"SendMessageTestK7200", A("T1"), F(c.SendMessageTestK7200(a[0]))},
        {"RecMessageTestK7200", A("r", I(5), L(800)), V(c.RecMessageTestK7200(a[0], a[1], a[2]))},
        {"MessageTestK7200", A("T2", "r", I(3), L(1100)),
         V(c.MessageTestK7200(a[0], a[1], a[2], a[3]))},
        {"POSsend", A(), F(c.POSsend())},
        {"POSMessage", A(), F(c.POSMessage())},
        {"POSAutoIncSequence", A(), V(c.POSAutoIncSequence())},
        {"POSAutoSend", A("14"), F(c.POSAutoSend(a[0]))},
        {"POSAutoMessage", A("15", L(650)), F(c.POSAutoMessage(a[0], a[1]))},
        {"POSAutoAuthorization", A("000000001234", "978", "1", "21", L(610)),
         F(c.POSAutoAuthorization(a[0], a[1], a[2], a[3], a[4]))},
        {"POSAutoRecording", A("000000004321", "840", L(620)),
         F(c.POSAutoRecording(a[0], a[1], a[2]))},
        {"POSAutoReceiptMerchant", A(L(630)), F(c.POSAutoReceiptMerchant(a[0]))},
        {"POSAutoTicketRequested", A(L(640)), F(c.POSAutoTicketRequested(a[0]))},
        {"POSAutoCardReaderOperation", A(L(650)), F(c.POSAutoCardReaderOperation(a[0]))},
        {"POSAutoSettingExtReader", A(t1, t2, t3, L(660)),
         F(c.POSAutoSettingExtReader(a[0], a[1], a[2], a[3]))},
        {"POSAutoReadingCard", A("2", L(670)), F(c.POSAutoReadingCard(a[0], a[1]))},
        {"POSAutoDisplayingPinPadRequest", A(text, "9", "3", "8", "12", L(680)),
         F(c.POSAutoDisplayingPinPadRequest(a[0], a[1], a[2], a[3], a[4], a[5]))},
        {"POSAutoStatusRequest", A(L(690)), F(c.POSAutoStatusRequest(a[0]))},
        {"POSAutoSoftwareStatus", A(L(710)), F(c.POSAutoSoftwareStatus(a[0]))},
        {"POSAutoClearTransactionFile", A(L(720)), F(c.POSAutoClearTransactionFile(a[0]))},
        {"POSAutoAbortOperation", A("1", L(730)), F(c.POSAutoAbortOperation(a[0], a[1]))},
        {"POSAutoSettingEFTConfiguration", A("1", "0", "0", "1", L(740)),
         F(c.POSAutoSettingEFTConfiguration(a[0], a[1], a[2], a[3], a[4]))},
        {"POSAutoSettingEFTApplication", A("4321", "765", L(750)),
         F(c.POSAutoSettingEFTApplication(a[0], a[1], a[2]))},
        {"POSAutoBeep", A("7", L(760)), F(c.POSAutoBeep(a[0], a[1]))},
        {"POSAutoCode", A(I(3)), F(c.POSAutoCode(a[0])), G},
        {"POSAutoVersion", A(I(40)), F(c.POSAutoVersion(a[0])), G},
        {"CommOutput", A("AB"), V(c.setCommOutput(S("AB"))), P},
        {"CommOutput", {ByteArray(1, {5})}, V(c.setCommOutput(ByteArray(1, {5}))), P},
        {"CommInputMode", A(I(0)), V(c.setCommInputMode(0)), P},
    };
    for (const TwinCase& tc : cases) {
        SCOPED_TRACE(tc.name);
        test::World byName, direct;
        for (test::World* w : {&byName, &direct}) {
            (*w)->CommOpen();
            w->peer->replyAfter(1'000'000, test::Peer::frame("0012345678"));
        }
        Args a = tc.args, b = tc.args;
        const auto viaName = [&] { return invoke(*byName, tc.name, tc.kind, a); };
        const auto viaCpp = [&] { return tc.direct(*direct, Ref{b}); };
        EXPECT_EQ(seen(byName, viaName, a), seen(direct, viaCpp, b));
    }
}
#undef F
#undef V

TEST(AutomationValues, ConvertToTheParameterTypeOrFailTheCall) {
    // Each value converted to `type`: its text, ? when the result is not of that type, ! when
    // the conversion fails.
    auto all = [](VT type, const Args& values) {
        S out;
        for (const Value& v : values) {
            try {
                const Value r = convertValue(v, type);
                out += formatValue(r) + (code(type) == code(VT(r.index())) ? " " : "? ");
            } catch (const AutomationError&) {
                out += "! ";
            }
        }
        return out;
    };
    const ByteArray ab = ByteArray::fromString("AB");
    EXPECT_EQ(
        all(VT::Bool, A("on", "Yes", "TRUE", "off", "No", "false", "0", "-1", I(2), "maybe", ab)),
        "true true true false false false false true true ! ! ");
    EXPECT_EQ(all(VT::I16, A("0x10", "+5", "-32768", "32767", "32768", "-32769", 70000, true, "3x",
                             "", "0x", "+")),
              "16 5 -32768 32767 ! ! ! -1 ! ! ! ! ");
    EXPECT_EQ(all(VT::I32, A("0X1f", "2147483647", "2147483648", I(-3), false)),
              "31 2147483647 ! -3 0 ");
    EXPECT_EQ(all(VT::String, A(true, false, I(-7), ab, "x")), "True False -7 AB x ");
    EXPECT_EQ(all(VT::Bytes, A("AB", ab, 1)), "[0] 41 42 [0] 41 42 ! ");
    EXPECT_EQ(all(VT::Any, A(I(5), "x")) + all(VT::Empty, A("x")), "5? x?  ");
}

TEST(AutomationValues, CallsByNameTakeDefaultsAndRefuseWhatDoesNotFit) {
    test::World w;
    Args args{Value(), S("19200,n,8,1")};  // an empty argument takes its default
    EXPECT_EQ(invoke(*w, "comminit", MemberKind::Method, args), Value(true));
    setProperty(*w, "towaitchar", S("750"));  // names ignore case
    EXPECT_EQ(w->CommSettings() + " " + std::to_string(w->TOwaitChar()), "19200,n,8,1 750");
    constexpr auto M = MemberKind::Method, G = MemberKind::Get, P = MemberKind::Put;
    const std::vector<std::tuple<MemberKind, const char*, Args>> refused = {
        {M, "CommInit", {1, S(""), true}},
        {M, "WaitTimeout", {}},
        {M, "NoSuchMember", {}},
        {G, "CommOutput", {}},
        {P, "Version", {S("4.00")}},
        {P, "RetryData", {S("70000")}},
        {M, "EncryptFile", {S("f"), S("ABC"), int16_t{0}}}};
    for (auto [kind, name, a] : refused)
        EXPECT_THROW(invoke(*w, name, kind, a), AutomationError) << name;
    EXPECT_EQ(w->RetryData(), 3) << "a refused put changes nothing";
    AutomationTable copy = AutomationTable::instance();
    EXPECT_THROW(copy.add(copy.members().front()), std::logic_error);
}

}  // namespace
}  // namespace korvel
