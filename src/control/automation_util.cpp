// Registration of the check, parity and digit-test members.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {
namespace {

using K = KorvelComTools;
using VT = ValueType;

constexpr int16_t kCrcInitial = 0x5555;
constexpr int16_t kCrcPolynomial = -24575;  // the bit pattern 0xA001
constexpr int32_t kEnd = 2147483647;

Param in(const char* name, VT type) {
    return Param{name, type, std::nullopt, false};
}
Param opt16(const char* name, int16_t def) {
    return Param{name, VT::I16, Value(def), false};
}
Param range(const char* name, int32_t def) {
    return Param{name, VT::I32, Value(def), true};
}

// The string forms: (text, start, end, initial[, polynomial]).
template <class R, class... Extra>
void stringForm(AutomationTable& t, const char* name,
                R (K::*fn)(const std::string&, int16_t, int16_t, int16_t, Extra...),
                std::vector<Param> optional, VT result) {
    std::vector<Param> params{in("strPacket", VT::String), in("intStart", VT::I16),
                              in("intEnd", VT::I16)};
    params.insert(params.end(), optional.begin(), optional.end());
    t.add(Member{name, MemberKind::Method, std::move(params), result,
                 [fn](K& c, std::vector<Value>& a) -> Value {
                     if constexpr (sizeof...(Extra) == 0) {
                         return (c.*fn)(std::get<std::string>(a[0]), std::get<int16_t>(a[1]),
                                        std::get<int16_t>(a[2]), std::get<int16_t>(a[3]));
                     } else {
                         return (c.*fn)(std::get<std::string>(a[0]), std::get<int16_t>(a[1]),
                                        std::get<int16_t>(a[2]), std::get<int16_t>(a[3]),
                                        std::get<int16_t>(a[4]));
                     }
                 }});
}

// The file and array forms: (source, start&, end&, initial[, polynomial]); the range is written
// back into the arguments.
template <class Source, class R, class... Extra>
void rangeForm(AutomationTable& t, const char* name,
               R (K::*fn)(const Source&, int32_t&, int32_t&, int16_t, Extra...), Param source,
               int32_t defaultStart, std::vector<Param> optional, VT result) {
    std::vector<Param> params{std::move(source), range("longStart", defaultStart),
                              range("longEnd", kEnd)};
    params.insert(params.end(), optional.begin(), optional.end());
    t.add(Member{name, MemberKind::Method, std::move(params), result,
                 [fn](K& c, std::vector<Value>& a) -> Value {
                     int32_t start = std::get<int32_t>(a[1]);
                     int32_t end = std::get<int32_t>(a[2]);
                     R r{};
                     if constexpr (sizeof...(Extra) == 0) {
                         r = (c.*fn)(std::get<Source>(a[0]), start, end, std::get<int16_t>(a[3]));
                     } else {
                         r = (c.*fn)(std::get<Source>(a[0]), start, end, std::get<int16_t>(a[3]),
                                     std::get<int16_t>(a[4]));
                     }
                     a[1] = start;
                     a[2] = end;
                     return r;
                 }});
}

void stringTest(AutomationTable& t, const char* name, auto fn, VT result) {
    t.add(Member{name,
                 MemberKind::Method,
                 {in("str", VT::String)},
                 result,
                 [fn](K& c, std::vector<Value>& a) -> Value {
                     return (c.*fn)(std::get<std::string>(a[0]));
                 }});
}

}  // namespace

void registerChecksumMembers(AutomationTable& t) {
    using Str = std::string;
    using File = int16_t (K::*)(const Str&, int32_t&, int32_t&, int16_t);
    using Buf = int16_t (K::*)(const ByteArray&, int32_t&, int32_t&, int16_t);
    using CrcFile = int32_t (K::*)(const Str&, int32_t&, int32_t&, int16_t, int16_t);
    using CrcBuf = int32_t (K::*)(const ByteArray&, int32_t&, int32_t&, int16_t, int16_t);
    const Param fileName = in("strFileName", VT::String);
    const Param buffer = in("Buffer", VT::Bytes);

    t.add(Member{"addLRC8toString",
                 MemberKind::Method,
                 {in("strPacket", VT::String), opt16("initValue", 0)},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.addLRC8toString(std::get<Str>(a[0]), std::get<int16_t>(a[1]));
                 }});
    stringForm(t, "cLRC8str", &K::cLRC8str, {opt16("intInitial", 0)}, VT::I16);
    rangeForm(t, "cLRC8file", static_cast<File>(&K::cLRC8file), fileName, 1,
              {opt16("intInitial", 0)}, VT::I16);
    rangeForm(t, "cLRC8buffer", static_cast<Buf>(&K::cLRC8buffer), buffer, 0,
              {opt16("intInitial", 0)}, VT::I16);

    t.add(Member{"addCRC16toString",
                 MemberKind::Method,
                 {in("strPacket", VT::String), opt16("initValue", kCrcInitial),
                  opt16("Polynomial", kCrcPolynomial)},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.addCRC16toString(std::get<Str>(a[0]), std::get<int16_t>(a[1]),
                                               std::get<int16_t>(a[2]));
                 }});
    const std::vector<Param> crcOptional{opt16("intInitial", kCrcInitial),
                                         opt16("intPolynomial", kCrcPolynomial)};
    stringForm(t, "cCRC16str", &K::cCRC16str, crcOptional, VT::I32);
    rangeForm(t, "cCRC16file", static_cast<CrcFile>(&K::cCRC16file), fileName, 1, crcOptional,
              VT::I32);
    rangeForm(t, "cCRC16buffer", static_cast<CrcBuf>(&K::cCRC16buffer), buffer, 0, crcOptional,
              VT::I32);

    stringForm(t, "cCHECKSUMstr", &K::cCHECKSUMstr, {opt16("intInitial", 0)}, VT::I16);
    rangeForm(t, "cCHECKSUMfile", static_cast<File>(&K::cCHECKSUMfile), fileName, 1,
              {opt16("intInitial", 0)}, VT::I16);
    rangeForm(t, "cCHECKSUMbuffer", static_cast<Buf>(&K::cCHECKSUMbuffer), buffer, 0,
              {opt16("intInitial", 0)}, VT::I16);

    stringTest(t, "TestStrHexa", &K::TestStrHexa, VT::Bool);
    stringTest(t, "TestStrDec", &K::TestStrDec, VT::Bool);
    stringTest(t, "AddParityString", &K::AddParityString, VT::String);
    stringTest(t, "SupParityString", &K::SupParityString, VT::String);
}

}  // namespace korvel
