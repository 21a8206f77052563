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
    return S(1, "-bilsyva"[static_cast<int>(t)]);
}

// A parameter list as name:T[=default], & in front when the member writes the argument back,
// % when it is passed by value.
S params(const Member& m) {
    S out;
    for (const Param& p : m.params) {
        out += (out.empty() ? "" : ",") + S(p.writesBack ? "&" : "") + S(p.byRef ? "" : "%") +
               p.name + ":" + code(p.type);
        if (p.defaultValue) out += "=" + formatValue(*p.defaultValue);
    }
    return out;
}

// Every member as one token, in the order of dispatch ids, the id first ("2/-552:" with a
// standard id, "~" before an event's): Name(params)R a method or event (R - without result),
// Name[params]R an indexed read, Name=T read-write, Name:T read-only, Name<params write-only.
std::map<std::pair<bool, int>, S> surface() {
    const AutomationTable& table = AutomationTable::instance();
    std::map<std::pair<bool, int>, S> out;
    for (const Member& m : table.members()) {
        const Member *get = table.find(m.name, MemberKind::Get),
                     *put = table.find(m.name, MemberKind::Put);
        const bool pair = get && put && get->params.empty() && put->params[0].type == get->result;
        if (pair && m.kind == MemberKind::Put) continue;  // one token for the pair
        const bool event = m.kind == MemberKind::Event;
        S& t = out[{event, m.id}];
        t += S(event ? "~" : "") + std::to_string(m.id) +
             (m.standardId ? "/" + std::to_string(m.standardId) : "") + ":" + m.name;
        if (m.kind >= MemberKind::Method) t += "(" + params(m) + ")" + code(m.result);
        if (pair) t += "=" + code(m.result);
        if (m.kind == MemberKind::Get && !pair)
            t += (m.params.empty() ? ":" : "[" + params(m) + "]") + code(m.result);
        if (m.kind == MemberKind::Put && !pair) t += "<" + params(m);
    }
    return out;
}

// The automation interface as the host sees it, in the order of dispatch ids: each token takes
// the id after the previous one unless it gives its own.  A brace group lists alternatives.
constexpr const char* kSurface = R"(
1:Version:s 2/-552:ShowAbout()- Receive{Error,Message}=s CommInit(intPort:i=0,strSettings:s=)b
Comm{Open,Close}()b CommPort=i CommSettings=s CommPortOpen=b CommInput:v CommOutput<%value:v
CommInputLen=i CommInputMode<%value:i {TOwaitChar,TOwaitRetry,TOwaitReply,TOBetweenChar,
TOWaitBetweenCommand}=l Retry{Session,Data}=i {ErrorEnabled,ReceiveEnabled,EscapeKeyEnabled,
AbortReceive}=b WaitTimeout(longTimeOut:l)- WaitTORetry()- SendMessage(strMessage:s)b {OpenSession,
SendEnq,WaitAck}()b ReceivePacket()- RecMessage(longTimeOut:l)s Message(strMessage:s,longTimeOut:l)s
SendMessageTestK7200(&strSend:s)b RecMessageTestK7200(&strRec:s,&intStatus:i,&longTimeOut:l=3000)-
MessageTestK7200(&strSend:s,&strRec:s,&intStatus:i,&longTimeOut:l=3000)- {POSNumber,POSAmount,
POSRep,POSMode,POSType,POSDev}=s POSTimeout=l POSsend()b POSMessage()s EFTpos{Number,Stat,Amount,
Mode,Rep,Dev}:s POSAuto{Sequence,Operation,Amount,Currency,Control,Class,ReadingType,CardInfo,
TimeOut,Text,InputType,MinLength,MaxLength,InputOffset,TreatmentCard,CardReader,Printer,Buzzer,
RetroPinPad,ApplicationCode,EFTNumber,NumBeep,TicketRequest,TrackISO1,TrackISO2,TrackISO3,Data}=s
POSAutoIncSequence()v POSAutoTOfct{Authorization,AuthorizationInter,Recording,ReceiptMerchant,
SettingExtReader,ReadingCard,DisplayingPinPadRequest,StatusRequest,SoftwareStatus,
ClearTransactionFile,AbortOperation,SettingEFTConfiguration,SettingEFTApplication,Beep,CardReader,
CBInit,TicketRequest}=l POSAutoIncSequenceEnabled=b POSAutoSend(Fct:s)b POSAuto{Status,StatusCard}:s
POSAutoMessage(Fct:s,lngTimeout:l=0)s POSAuto{Application,Receipt,Private,NbCharacter,String,
StatusEFT}:s POSAuto{Code,Version}[index:i]s POSAutoAuthorization(strAmount:s=,strCurrency:s=,
strControl:s=,strClass:s=,lngTimeout:l=0)s POSAutoRecording(strAmount:s=,strCurrency:s=,
lngTimeout:l=0)s POSAuto{ReceiptMerchant,TicketRequested,CardReaderOperation}(lngTimeout:l=0)s
POSAutoSettingExtReader(strTrackISO1:s=,strTrackISO2:s=,strTrackISO3:s=,lngTimeout:l=0)s
POSAutoReadingCard(strReadingType:s=,lngTimeout:l=0)s POSAutoDisplayingPinPadRequest(strText:s=,
strInputType:s=,strMinLength:s=,strMaxLength:s=,strInputOffset:s=,lngTimeout:l=0)s
POSAuto{StatusRequest,SoftwareStatus,ClearTransactionFile}(lngTimeout:l=0)s POSAutoAbortOperation(
strTreatment:s=0,lngTimeout:l=0)s POSAutoSettingEFTConfiguration(strCardReader:s=,strPrinter:s=,
strBuzzer:s=,strRetroPinPad:s=,lngTimeout:l=0)s POSAutoSettingEFTApplication(strApplicationCode:s=,
strEFTNumber:s=,lngTimeout:l=0)s POSAutoBeep(strNumBeep:s=,lngTimeout:l=0)s addLRC8toString(
strPacket:s,initValue:i=0)s cLRC8str(strPacket:s,intStart:i,intEnd:i,intInitial:i=0)i cLRC8file(
strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=0)i cLRC8buffer(Buffer:y,
&longStart:l=0,&longEnd:l=2147483647,intInitial:i=0)i addCRC16toString(strPacket:s,initValue:i=
21845,Polynomial:i=-24575)s cCRC16str(strPacket:s,intStart:i,intEnd:i,intInitial:i=21845,
intPolynomial:i=-24575)l cCRC16file(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=
21845,intPolynomial:i=-24575)l cCRC16buffer(Buffer:y,&longStart:l=0,&longEnd:l=2147483647,
intInitial:i=21845,intPolynomial:i=-24575)l cCHECKSUMstr(strPacket:s,intStart:i,intEnd:i,
intInitial:i=0)i cCHECKSUMfile(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=0)i
cCHECKSUMbuffer(Buffer:y,&longStart:l=0,&longEnd:l=2147483647,intInitial:i=0)i TestStr{Hexa,Dec}(
str:s)b {AddParityString,SupParityString}(str:s)s Convert{StrhToDec,StrdToDec}(strToConvert:s)l
c{Str1DtoDec,Str2DtoDec,Str3DtoDec,Str1HtoDec,Str2HtoDec,2DecToAsc,3DecToAsc,2HexToAsc}(strPacket:s,
&intStart:i=1,&intEnd:i=32767)s EncryptFile(strFileName:s,&strBuffer:s,intLength:i)b DecryptFile(
strFileName:s,&byteBuffer:y,intLength:i)b Win{Dir,SysDir}()s {TwipsToPixel,PixelToTwips}(
&intXvalue:i,&intYvalue:i)- IsActive(hprog:v)l SuspendActivateExe(strNameExe:s)v GetCommandLine(
&ArgArray:a)v ~1:ReceivedEvent()- ErrorEvent(&errType:s)- AbortEnabledEvent()-
)";

TEST(AutomationSurface, EveryMemberWithItsIdKindParametersDefaultsAndWriteBack) {
    // Tokens end at a blank; a line ending in "(", "," or "=" goes on on the next line.
    std::istringstream in(kSurface);
    S joined;
    for (S line; std::getline(in, line);)
        joined += line + (line.empty() || S("(,=").find(line.back()) == S::npos ? " " : "");
    S wanted, had, mark, standard;
    int next = 1;
    std::istringstream tokens(joined);
    for (S t; tokens >> t; standard.clear()) {
        // "N:", "N/STANDARD:" or "~N:" (events from here on) gives the id; else it is the next.
        if (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '~') {
            mark = t[0] == '~' ? "~" : "";
            const auto colon = t.find(':'), slash = std::min(t.find('/'), colon);
            next = std::stoi(t.substr(mark.size()));
            standard = t.substr(slash, colon - slash);
            t.erase(0, colon + 1);
        }
        const auto open = t.find('{'), close = t.find('}');
        std::vector<S> names;
        if (open == S::npos) names.push_back(t);
        std::istringstream alts(open == S::npos ? "" : t.substr(open + 1, close - open - 1));
        for (S a; std::getline(alts, a, ',');)
            names.push_back(t.substr(0, open) + a + t.substr(close + 1));
        for (const S& n : names)
            wanted += mark + std::to_string(next++) + standard + ":" + n + "\n";
    }
    for (const auto& [key, t] : surface())
        had += t + "\n";
    EXPECT_EQ(had, wanted);
    // A name and kind, and an id within its space, are taken once.
    AutomationTable copy = AutomationTable::instance();
    Member twin = copy.members().front();
    EXPECT_THROW(copy.add(twin), std::logic_error);
    twin.name = "Twin";
    EXPECT_THROW(copy.add(twin), std::logic_error);
    EXPECT_EQ(copy.find(kAboutBoxDispatchId, MemberKind::Method)->name, "ShowAbout");
    // A host calling by dispatch id reaches the member that carries it, and nothing else.
    for (const Member& m : copy.members())
        EXPECT_EQ(copy.find(m.id, m.kind), &m) << m.name;
    EXPECT_EQ(copy.find(0, MemberKind::Method), nullptr);
}

TEST(Control, CreationDefaultsAndNewInstanceInitialisation) {
    test::World w;
    const S defaults =
        "TOwaitChar=600 TOwaitRetry=1200 TOwaitReply=20 TOBetweenChar=50 "
        "TOWaitBetweenCommand=100 RetrySession=3 RetryData=3 EscapeKeyEnabled=true "
        "ErrorEnabled=true ReceiveEnabled=true AbortReceive=false ReceiveMessage= ReceiveError= "
        "POSTimeout=10000 CommSettings=9600,e,7,1 Version=3.00 POSAutoTimeOut=002 ";
    std::istringstream in(defaults);
    S shown;
    for (S n; std::getline(in, n, '=') && in.ignore(1000, ' ');)
        shown += n + "=" + formatValue(getProperty(*w, n)) + " ";
    EXPECT_EQ(shown, defaults);
    EXPECT_EQ(K::formatVersion(1, 2, 15) + " " + K::formatVersion(10, 0, 7), "1.215 10.07");
    // New-instance initialisation (whose values the persistence tests check as saved) leaves
    // an armed receive path armed.
    ASSERT_TRUE(w->SendMessage("X"));
    w->InitNewInstance();
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

// One case per shape of binding (argument counts, write-back, indexed reads, the hand-bound
// lines); every other member is bound by the same code.
TEST(AutomationBinding, EachArgumentReachesItsParameter) {
    constexpr auto G = MemberKind::Get, P = MemberKind::Put;
    const std::vector<TwinCase> cases = {
        {"CommInit", A(I(2), "4800,n,8,1"), F(c.CommInit(a[0], a[1]))},
        {"RecMessageTestK7200", A("r", I(5), L(800)), V(c.RecMessageTestK7200(a[0], a[1], a[2]))},
        {"MessageTestK7200", A("T2", "r", I(3), L(1100)),
         V(c.MessageTestK7200(a[0], a[1], a[2], a[3]))},
        {"POSAutoCode", A(I(3)), F(c.POSAutoCode(a[0])), G},
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
    EXPECT_EQ(all(VT::Array, A(Value(), VariantArray{-1, A(ab, "\"")}, "x")),
              R"([0] {}? [-1] {[0] 41 42, """"}? ! )");
    // Arrays are equal when their lower bounds and all their elements are.
    const VariantArray one{1, A("x")};
    EXPECT_EQ(std::vector<bool>({one == VariantArray{1, A("x")}, one == VariantArray{0, A("x")},
                                 one == VariantArray{1, A("y")}, Value(one) == Value(one)}),
              std::vector<bool>({true, false, false, true}));
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
        {MemberKind::Event, "ErrorEvent", {S("tag")}},
        {G, "CommOutput", {}},
        {P, "Version", {S("4.00")}},
        {P, "RetryData", {S("70000")}},
        {M, "EncryptFile", {S("f"), S("ABC"), int16_t{0}}}};
    for (auto [kind, name, a] : refused)
        EXPECT_THROW(invoke(*w, name, kind, a), AutomationError) << name;
    EXPECT_EQ(w->RetryData(), 3) << "a refused put changes nothing";
}

}  // namespace
}  // namespace korvel
