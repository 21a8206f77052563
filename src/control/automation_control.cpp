// Registration of the control's own members, port management and link timing.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void registerControlMembers(AutomationTable& t) {
    using K = KorvelComTools;
    using VT = ValueType;
    auto noArgs = [](auto fn) {
        return [fn](K& c, std::vector<Value>&) -> Value { return fn(c); };
    };

    t.readOnly("Version", VT::String, &K::Version);
    // Containers know ShowAbout as the standard about-box member (dispatch identifier -552).
    t.add(Member{"ShowAbout", MemberKind::Method, {}, VT::Empty, noArgs([](K& c) {
                     c.ShowAbout();
                     return std::monostate{};
                 })});
    t.property<std::string>("ReceiveError", VT::String, &K::ReceiveError, &K::setReceiveError);
    t.property<std::string>("ReceiveMessage", VT::String, &K::ReceiveMessage,
                            &K::setReceiveMessage);

    // Port management and raw I/O.
    t.add(Member{"CommInit",
                 MemberKind::Method,
                 {Param{"intPort", VT::I16, Value(int16_t{0})},
                  Param{"strSettings", VT::String, Value(std::string())}},
                 VT::Bool,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.CommInit(std::get<int16_t>(a[0]), std::get<std::string>(a[1]));
                 }});
    t.add(Member{
        "CommOpen", MemberKind::Method, {}, VT::Bool, noArgs([](K& c) { return c.CommOpen(); })});
    t.add(Member{
        "CommClose", MemberKind::Method, {}, VT::Bool, noArgs([](K& c) { return c.CommClose(); })});
    t.property<int16_t>("CommPort", VT::I16, &K::CommPort, &K::setCommPort);
    t.property<std::string>("CommSettings", VT::String, &K::CommSettings, &K::setCommSettings);
    t.property<bool>("CommPortOpen", VT::Bool, &K::CommPortOpen, &K::setCommPortOpen);
    t.readOnly("CommInput", VT::Any, &K::CommInput);
    t.add(Member{"CommOutput",
                 MemberKind::Put,
                 {Param{"value", VT::Any, std::nullopt}},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     if (auto* bytes = std::get_if<ByteArray>(&a[0])) {
                         c.setCommOutput(*bytes);
                     } else {
                         c.setCommOutput(std::get<std::string>(convertValue(a[0], VT::String)));
                     }
                     return std::monostate{};
                 }});
    t.property<int16_t>("CommInputLen", VT::I16, &K::CommInputLen, &K::setCommInputLen);
    t.add(Member{"CommInputMode",
                 MemberKind::Put,
                 {Param{"value", VT::I16, std::nullopt}},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     c.setCommInputMode(std::get<int16_t>(a[0]));
                     return std::monostate{};
                 }});
    t.property<bool>("ReceiveEnabled", VT::Bool, &K::ReceiveEnabled, &K::setReceiveEnabled);
    t.property<bool>("ErrorEnabled", VT::Bool, &K::ErrorEnabled, &K::setErrorEnabled);
    t.property<bool>("EscapeKeyEnabled", VT::Bool, &K::EscapeKeyEnabled, &K::setEscapeKeyEnabled);
    t.property<bool>("AbortReceive", VT::Bool, &K::AbortReceive, &K::setAbortReceive);

    // Link timing and waits.
    t.property<int32_t>("TOwaitChar", VT::I32, &K::TOwaitChar, &K::setTOwaitChar);
    t.property<int32_t>("TOBetweenChar", VT::I32, &K::TOBetweenChar, &K::setTOBetweenChar);
    t.property<int32_t>("TOwaitReply", VT::I32, &K::TOwaitReply, &K::setTOwaitReply);
    t.property<int32_t>("TOwaitRetry", VT::I32, &K::TOwaitRetry, &K::setTOwaitRetry);
    t.property<int32_t>("TOWaitBetweenCommand", VT::I32, &K::TOWaitBetweenCommand,
                        &K::setTOWaitBetweenCommand);
    t.property<int16_t>("RetrySession", VT::I16, &K::RetrySession, &K::setRetrySession);
    t.property<int16_t>("RetryData", VT::I16, &K::RetryData, &K::setRetryData);
    t.add(Member{"WaitTimeout",
                 MemberKind::Method,
                 {Param{"longTimeOut", VT::I32, std::nullopt}},
                 VT::Empty,
                 [](K& c, std::vector<Value>& a) -> Value {
                     c.WaitTimeout(std::get<int32_t>(a[0]));
                     return std::monostate{};
                 }});
    t.add(Member{"WaitTORetry", MemberKind::Method, {}, VT::Empty, noArgs([](K& c) {
                     c.WaitTORetry();
                     return std::monostate{};
                 })});
}

}  // namespace korvel
