// Registration of the framed link, the receive path and the test exchange.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void registerLinkProtocolMembers(AutomationTable& t) {
    using K = KorvelComTools;
    using VT = ValueType;
    auto method0 = [&t](const char* name, bool (K::*fn)()) {
        t.add(Member{
            name, MemberKind::Method, {}, VT::Bool, [fn](K& c, std::vector<Value>&) -> Value {
                return (c.*fn)();
            }});
    };
    const Param message{"strMessage", VT::String, std::nullopt};
    const Param timeout{"longTimeOut", VT::I32, std::nullopt};

    t.add(Member{"SendMessage",
                 MemberKind::Method,
                 {message},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.SendMessage(std::get<std::string>(a[0]));
                 }});
    method0("OpenSession", &K::OpenSession);
    method0("SendEnq", &K::SendEnq);
    method0("WaitAck", &K::WaitAck);
    t.add(Member{
        "ReceivePacket", MemberKind::Method, {}, VT::Empty, [](K& c, std::vector<Value>&) -> Value {
            c.ReceivePacket();
            return std::monostate{};
        }});
    t.add(Member{"RecMessage",
                 MemberKind::Method,
                 {timeout},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.RecMessage(std::get<int32_t>(a[0]));
                 }});
    t.add(Member{"Message",
                 MemberKind::Method,
                 {message, timeout},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.Message(std::get<std::string>(a[0]), std::get<int32_t>(a[1]));
                 }});

    t.add(Member{"SendMessageTestK7200",
                 MemberKind::Method,
                 {Param{"strSend", VT::String, std::nullopt, true}},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.SendMessageTestK7200(std::get<std::string>(a[0]));
                 }});
    const Param rec{"strRec", VT::String, std::nullopt, true};
    const Param status{"intStatus", VT::I16, std::nullopt, true};
    const Param testTimeout{"longTimeOut", VT::I32, Value(int32_t{3000}), true};
    t.add(Member{"RecMessageTestK7200",
                 MemberKind::Method,
                 {rec, status, testTimeout},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     c.RecMessageTestK7200(std::get<std::string>(a[0]), std::get<int16_t>(a[1]),
                                           std::get<int32_t>(a[2]));
                     return std::monostate{};
                 }});
    t.add(Member{"MessageTestK7200",
                 MemberKind::Method,
                 {Param{"strSend", VT::String, std::nullopt, true}, rec, status, testTimeout},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     c.MessageTestK7200(std::get<std::string>(a[0]), std::get<std::string>(a[1]),
                                        std::get<int16_t>(a[2]), std::get<int32_t>(a[3]));
                     return std::monostate{};
                 }});
}

}  // namespace korvel
