// Registration of the conversion, file-scrambling and system-helper members.
#include <string>
#include <vector>

#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {
namespace {

using K = KorvelComTools;
using VT = ValueType;

// The by-name form of an array of strings (the command-line arguments): the elements joined by
// line feeds, element 0 first, so "\n-a\nb" stands for the elements "", "-a" and "b".
std::string joinLines(const std::vector<std::string>& elements) {
    std::string out;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i) out += '\n';
        out += elements[i];
    }
    return out;
}

// A packer or unpacker: `strPacket` and the range, written back when the caller passed it.
template <std::string (K::*Fn)(const std::string&, int16_t&, int16_t&) const>
Member rangeMember(const char* name) {
    return Member{name,
                  MemberKind::Method,
                  {Param{"strPacket", VT::String, std::nullopt},
                   Param{"intStart", VT::I16, Value(int16_t{1}), true},
                   Param{"intEnd", VT::I16, Value(int16_t{32767}), true}},
                  VT::String,
                  [](K& c, std::vector<Value>& a) -> Value {
                      return (c.*Fn)(std::get<std::string>(a[0]), std::get<int16_t>(a[1]),
                                     std::get<int16_t>(a[2]));
                  }};
}

template <void (K::*Fn)(int16_t&, int16_t&)>
Member pairMember(const char* name) {
    return Member{name,
                  MemberKind::Method,
                  {Param{"intXvalue", VT::I16, std::nullopt, true},
                   Param{"intYvalue", VT::I16, std::nullopt, true}},
                  VT::Empty,
                  [](K& c, std::vector<Value>& a) -> Value {
                      (c.*Fn)(std::get<int16_t>(a[0]), std::get<int16_t>(a[1]));
                      return std::monostate{};
                  }};
}

}  // namespace

void registerUtilityMembers(AutomationTable& t) {
    // Conversions.
    t.add(Member{"ConvertStrhToDec",
                 MemberKind::Method,
                 {Param{"strToConvert", VT::String, std::nullopt}},
                 VT::I32,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.ConvertStrhToDec(std::get<std::string>(a[0]));
                 }});
    t.add(Member{"ConvertStrdToDec",
                 MemberKind::Method,
                 {Param{"strToConvert", VT::String, std::nullopt}},
                 VT::I32,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.ConvertStrdToDec(std::get<std::string>(a[0]));
                 }});
    t.add(rangeMember<&K::cStr1DtoDec>("cStr1DtoDec"));
    t.add(rangeMember<&K::cStr2DtoDec>("cStr2DtoDec"));
    t.add(rangeMember<&K::cStr3DtoDec>("cStr3DtoDec"));
    t.add(rangeMember<&K::cStr1HtoDec>("cStr1HtoDec"));
    t.add(rangeMember<&K::cStr2HtoDec>("cStr2HtoDec"));
    t.add(rangeMember<&K::c2DecToAsc>("c2DecToAsc"));
    t.add(rangeMember<&K::c3DecToAsc>("c3DecToAsc"));
    t.add(rangeMember<&K::c2HexToAsc>("c2HexToAsc"));

    // File scrambling: the argument errors the members throw fail the call itself.
    t.add(Member{"EncryptFile",
                 MemberKind::Method,
                 {Param{"strFileName", VT::String, std::nullopt},
                  Param{"strBuffer", VT::String, std::nullopt, true},
                  Param{"intLength", VT::I16, std::nullopt}},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.EncryptFile(std::get<std::string>(a[0]), std::get<std::string>(a[1]),
                                          std::get<int16_t>(a[2]));
                 }});
    t.add(Member{"DecryptFile",
                 MemberKind::Method,
                 {Param{"strFileName", VT::String, std::nullopt},
                  Param{"byteBuffer", VT::Bytes, std::nullopt, true},
                  Param{"intLength", VT::I16, std::nullopt}},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.DecryptFile(std::get<std::string>(a[0]), std::get<ByteArray>(a[1]),
                                          std::get<int16_t>(a[2]));
                 }});

    // System helpers.
    t.add(Member{
        "WinDir", MemberKind::Method, {}, VT::String, [](K& c, std::vector<Value>&) -> Value {
            return c.WinDir();
        }});
    t.add(Member{
        "WinSysDir", MemberKind::Method, {}, VT::String, [](K& c, std::vector<Value>&) -> Value {
            return c.WinSysDir();
        }});
    t.add(pairMember<&K::TwipsToPixel>("TwipsToPixel"));
    t.add(pairMember<&K::PixelToTwips>("PixelToTwips"));
    t.add(Member{"IsActive",
                 MemberKind::Method,
                 {Param{"hprog", VT::Any, std::nullopt}},
                 VT::I32,
                 [](K& c, std::vector<Value>& a) -> Value {
                     // A variant that holds no 32-bit process identifier names no process.
                     int32_t pid = 0;
                     try {
                         pid = std::get<int32_t>(convertValue(a[0], VT::I32));
                     } catch (const AutomationError&) {
                         return int32_t{0};
                     }
                     return c.IsActive(pid);
                 }});
    t.add(Member{"SuspendActivateExe",
                 MemberKind::Method,
                 {Param{"strNameExe", VT::String, std::nullopt}},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     c.SuspendActivateExe(std::get<std::string>(a[0]));
                     return std::monostate{};
                 }});
    // `ArgArray` and the result are arrays of strings, given by name as their lines (see
    // `joinLines`); whatever the caller passes in is replaced.
    t.add(Member{"GetCommandLine",
                 MemberKind::Method,
                 {Param{"ArgArray", VT::Any, std::nullopt, true}},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     std::vector<std::string> args;
                     const std::vector<std::string> copy = c.GetCommandLine(args);
                     a[0] = joinLines(args);
                     return joinLines(copy);
                 }});
}

}  // namespace korvel
