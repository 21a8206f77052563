// Registration of the basic payment members.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void registerPosMembers(AutomationTable& t) {
    using K = KorvelComTools;
    using VT = ValueType;
    t.property<std::string>("POSNumber", VT::String, &K::POSNumber, &K::setPOSNumber);
    t.property<std::string>("POSAmount", VT::String, &K::POSAmount, &K::setPOSAmount);
    t.property<std::string>("POSRep", VT::String, &K::POSRep, &K::setPOSRep);
    t.property<std::string>("POSMode", VT::String, &K::POSMode, &K::setPOSMode);
    t.property<std::string>("POSType", VT::String, &K::POSType, &K::setPOSType);
    t.property<std::string>("POSDev", VT::String, &K::POSDev, &K::setPOSDev);
    t.property<int32_t>("POSTimeout", VT::I32, &K::POSTimeout, &K::setPOSTimeout);
    t.add(
        Member{"POSsend", MemberKind::Method, {}, VT::Bool, [](K& c, std::vector<Value>&) -> Value {
                   return c.POSsend();
               }});
    t.add(Member{
        "POSMessage", MemberKind::Method, {}, VT::String, [](K& c, std::vector<Value>&) -> Value {
            return c.POSMessage();
        }});
    t.readOnly("EFTposNumber", VT::String, &K::EFTposNumber);
    t.readOnly("EFTposStat", VT::String, &K::EFTposStat);
    t.readOnly("EFTposAmount", VT::String, &K::EFTposAmount);
    t.readOnly("EFTposMode", VT::String, &K::EFTposMode);
    t.readOnly("EFTposRep", VT::String, &K::EFTposRep);
    t.readOnly("EFTposDev", VT::String, &K::EFTposDev);
}

}  // namespace korvel
