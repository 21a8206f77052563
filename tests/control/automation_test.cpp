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

// Every member as one token, in the order of dispatch ids, the id first ("2/-552:" with a
// standard id, "~" before an event's): Name(params)R a method or event (R - without result),
// Name[params]R an indexed read, Name=T read-write, Name:T read-only, Name<params write-only.
std::map<std::pair<bool, int>, S> surface() {
    std::map<S, std::map<MemberKind, const Member*>> byName;
    for (const Member& m : AutomationTable::instance().members())
        byName[m.name][m.kind] = &m;
    std::map<std::pair<bool, int>, S> out;
    for (auto& [name, kinds] : byName) {
        const Member *get = kinds[MemberKind::Get], *put = kinds[MemberKind::Put];
        const Member* any = get ? get : put ? put : kinds[MemberKind::Method];
        S& t = out[{!any, any ? any->id : kinds[MemberKind::Event]->id}];
        if (!any) any = kinds[MemberKind::Event], t = "~";
        t += std::to_string(any->id) +
             (any->standardId ? "/" + std::to_string(any->standardId) : "") + ":";
        if (const Member* m = any->kind >= MemberKind::Method ? any : nullptr)
            t += name + "(" + params(*m) + ")" + code(m->result);
        const bool pair = get && put && get->params.empty() && put->params[0].type == get->result;
        if (pair) t += name + "=" + code(get->result);
        if (get && !pair)
            t += name + (get->params.empty() ? ":" : "[" + params(*get) + "]") + code(get->result);
        if (put && !pair) t += name + "<" + params(*put);
    }
    return out;
}

// The automation interface as the host sees it.  A brace group lists alternatives, with
// consecutive ids from the one given.
constexpr const char* kSurface = R"(
1:Version:s 2/-552:ShowAbout()- 3:Receive{Error,Message}=s 5:CommInit(intPort:i=0,strSettings:s=)b
6:Comm{Open,Close}()b 8:CommPort=i 9:CommSettings=s 10:CommPortOpen=b 11:CommInput:v
12:CommOutput<value:v 13:CommInputLen=i 14:CommInputMode<value:i 15:{TOwaitChar,TOwaitRetry,
TOwaitReply,TOBetweenChar,TOWaitBetweenCommand}=l 20:Retry{Session,Data}=i 22:{ErrorEnabled,
ReceiveEnabled,EscapeKeyEnabled,AbortReceive}=b 26:WaitTimeout(longTimeOut:l)- 27:WaitTORetry()-
28:SendMessage(strMessage:s)b 29:{OpenSession,SendEnq,WaitAck}()b 32:ReceivePacket()- 33:RecMessage(
longTimeOut:l)s 34:Message(strMessage:s,longTimeOut:l)s 35:SendMessageTestK7200(&strSend:s)b
36:RecMessageTestK7200(&strRec:s,&intStatus:i,&longTimeOut:l=3000)- 37:MessageTestK7200(&strSend:s,
&strRec:s,&intStatus:i,&longTimeOut:l=3000)- 38:{POSNumber,POSAmount,POSRep,POSMode,POSType,POSDev}=
s 44:POSTimeout=l 45:POSsend()b 46:POSMessage()s 47:EFTpos{Number,Stat,Amount,Mode,Rep,Dev}:s
53:POSAuto{Sequence,Operation,Amount,Currency,Control,Class,ReadingType,CardInfo,TimeOut,Text,
InputType,MinLength,MaxLength,InputOffset,TreatmentCard,CardReader,Printer,Buzzer,RetroPinPad,
ApplicationCode,EFTNumber,NumBeep,TicketRequest,TrackISO1,TrackISO2,TrackISO3,Data}=s
80:POSAutoIncSequence()- 81:POSAutoTOfct{Authorization,AuthorizationInter,Recording,ReceiptMerchant,
SettingExtReader,ReadingCard,DisplayingPinPadRequest,StatusRequest,SoftwareStatus,
ClearTransactionFile,AbortOperation,SettingEFTConfiguration,SettingEFTApplication,Beep,CardReader,
CBInit,TicketRequest}=l 98:POSAutoIncSequenceEnabled=b 99:POSAutoSend(Fct:s)b 100:POSAuto{Status,
StatusCard}:s 102:POSAutoMessage(Fct:s,lngTimeout:l=0)s 103:POSAuto{Application,Receipt,Private,
NbCharacter,String,StatusEFT}:s 109:POSAuto{Code,Version}[index:i]s 111:POSAutoAuthorization(
strAmount:s=,strCurrency:s=,strControl:s=,strClass:s=,lngTimeout:l=0)s 112:POSAutoRecording(
strAmount:s=,strCurrency:s=,lngTimeout:l=0)s 113:POSAuto{ReceiptMerchant,TicketRequested,
CardReaderOperation}(lngTimeout:l=0)s 116:POSAutoSettingExtReader(strTrackISO1:s=,strTrackISO2:s=,
strTrackISO3:s=,lngTimeout:l=0)s 117:POSAutoReadingCard(strReadingType:s=,lngTimeout:l=0)s
118:POSAutoDisplayingPinPadRequest(strText:s=,strInputType:s=,strMinLength:s=,strMaxLength:s=,
strInputOffset:s=,lngTimeout:l=0)s 119:POSAuto{StatusRequest,SoftwareStatus,ClearTransactionFile}(
lngTimeout:l=0)s 122:POSAutoAbortOperation(strTreatment:s=0,lngTimeout:l=0)s
123:POSAutoSettingEFTConfiguration(strCardReader:s=,strPrinter:s=,strBuzzer:s=,strRetroPinPad:s=,
lngTimeout:l=0)s 124:POSAutoSettingEFTApplication(strApplicationCode:s=,strEFTNumber:s=,
lngTimeout:l=0)s 125:POSAutoBeep(strNumBeep:s=,lngTimeout:l=0)s 126:addLRC8toString(strPacket:s,
initValue:i=0)s 127:cLRC8str(strPacket:s,intStart:i,intEnd:i,intInitial:i=0)i 128:cLRC8file(
strFileName:s,&longStart:l=1,&longEnd:l=2147483647,intInitial:i=0)i 129:cLRC8buffer(Buffer:y,
&longStart:l=0,&longEnd:l=2147483647,intInitial:i=0)i 130:addCRC16toString(strPacket:s,initValue:i=
21845,Polynomial:i=-24575)s 131:cCRC16str(strPacket:s,intStart:i,intEnd:i,intInitial:i=21845,
intPolynomial:i=-24575)l 132:cCRC16file(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,
intInitial:i=21845,intPolynomial:i=-24575)l 133:cCRC16buffer(Buffer:y,&longStart:l=0,&longEnd:l=
2147483647,intInitial:i=21845,intPolynomial:i=-24575)l 134:cCHECKSUMstr(strPacket:s,intStart:i,
intEnd:i,intInitial:i=0)i 135:cCHECKSUMfile(strFileName:s,&longStart:l=1,&longEnd:l=2147483647,
intInitial:i=0)i 136:cCHECKSUMbuffer(Buffer:y,&longStart:l=0,&longEnd:l=2147483647,intInitial:i=0)i
137:TestStr{Hexa,Dec}(str:s)b 139:{AddParityString,SupParityString}(str:s)s 141:Convert{StrhToDec,
StrdToDec}(strToConvert:s)l 143:c{Str1DtoDec,Str2DtoDec,Str3DtoDec,Str1HtoDec,Str2HtoDec,2DecToAsc,
3DecToAsc,2HexToAsc}(strPacket:s,&intStart:i=1,&intEnd:i=32767)s 151:EncryptFile(strFileName:s,
&strBuffer:s,intLength:i)b 152:DecryptFile(strFileName:s,&byteBuffer:y,intLength:i)b 153:Win{Dir,
SysDir}()s 155:{TwipsToPixel,PixelToTwips}(&intXvalue:i,&intYvalue:i)- 157:IsActive(hprog:v)l
158:SuspendActivateExe(strNameExe:s)- 159:GetCommandLine(&ArgArray:v)s ~1:ReceivedEvent()-
~2:ErrorEvent(&errType:s)- ~3:AbortEnabledEvent()-
)";

TEST(AutomationSurface, EveryMemberWithItsIdKindParametersDefaultsAndWriteBack) {
    // Tokens end at a blank; a line ending in "(", "," or "=" goes on on the next line.
    std::istringstream in(kSurface);
    S joined;
    for (S line; std::getline(in, line);)
        joined += line + (line.empty() || S("(,=").find(line.back()) == S::npos ? " " : "");
    S wanted, had;
    std::istringstream tokens(joined);
    for (S t; tokens >> t;) {
        const auto colon = t.find(':'), open = t.find('{'), close = t.find('}');
        const S event = t[0] == '~' ? "~" : "", rest = t.substr(colon + 1);
        const int id = std::stoi(t.substr(event.size()));
        const S ids =
            t.substr(event.size(), colon - event.size()).substr(std::to_string(id).size());
        if (open == S::npos) wanted += t + "\n";
        std::istringstream alts(open == S::npos ? "" : t.substr(open + 1, close - open - 1));
        int k = 0;
        for (S a; std::getline(alts, a, ',');)
            wanted += event + std::to_string(id + k++) + ids + ":" +
                      rest.substr(0, open - colon - 1) + a + t.substr(close + 1) + "\n";
    }
    for (const auto& [key, t] : surface())
        had += t + "\n";
    EXPECT_EQ(had, wanted);
    // Ids are unique within their space: a second name under a taken id is refused.
    AutomationTable copy = AutomationTable::instance();
    Member twin = copy.members().front();
    twin.name = "Twin";
    EXPECT_THROW(copy.add(twin), std::logic_error);
    EXPECT_EQ(copy.find(kAboutBoxDispatchId, MemberKind::Method)->name, "ShowAbout");
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

// One case per shape of binding (argument counts, write-back, indexed reads, the hand-bound
// lines); every other member is bound by the same code.
TEST(AutomationBinding, EachArgumentReachesItsParameter) {
    constexpr auto G = MemberKind::Get, P = MemberKind::Put;
    const S t1(107, '1'), t2(40, '2'), t3(79, '3'), text(80, 'T');
    const std::vector<TwinCase> cases = {
        {"CommInit", A(I(2), "4800,n,8,1"), F(c.CommInit(a[0], a[1]))},
        {"WaitTimeout", A(L(1'000'450)), V(c.WaitTimeout(a[0]))},
        {"ReceivePacket", A(), V(c.ReceivePacket())},
        {"Message", A("PING", L(1500)), F(c.Message(a[0], a[1]))},
        {"SendMessageTestK7200", A("T1"), F(c.SendMessageTestK7200(a[0]))},
        {"RecMessageTestK7200", A("r", I(5), L(800)), V(c.RecMessageTestK7200(a[0], a[1], a[2]))},
        {"MessageTestK7200", A("T2", "r", I(3), L(1100)),
         V(c.MessageTestK7200(a[0], a[1], a[2], a[3]))},
        {"POSMessage", A(), F(c.POSMessage())},
        {"POSAutoAuthorization", A("000000001234", "978", "1", "21", L(610)),
         F(c.POSAutoAuthorization(a[0], a[1], a[2], a[3], a[4]))},
        {"POSAutoSettingExtReader", A(t1, t2, t3, L(660)),
         F(c.POSAutoSettingExtReader(a[0], a[1], a[2], a[3]))},
        {"POSAutoDisplayingPinPadRequest", A(text, "9", "3", "8", "12", L(680)),
         F(c.POSAutoDisplayingPinPadRequest(a[0], a[1], a[2], a[3], a[4], a[5]))},
        {"POSAutoAbortOperation", A("1", L(730)), F(c.POSAutoAbortOperation(a[0], a[1]))},
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
