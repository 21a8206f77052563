// Each subsystem registers its members in its own file; automation.cpp calls them all once.
#pragma once

#include "korvelcom/Automation.h"

namespace korvel {

void registerControlMembers(AutomationTable& table);  // control, port, waits
void registerChecksumMembers(AutomationTable& table);
void registerUtilityMembers(AutomationTable& table);       // conversions, scrambling, system
void registerLinkProtocolMembers(AutomationTable& table);  // framed send, receive, test frames
void registerPosMembers(AutomationTable& table);           // basic payment
void registerExtendedMembers(AutomationTable& table);      // extended protocol
void registerExtendedExchangeMembers(
    AutomationTable& table);                              // extended exchange, results, operations
void registerPersistenceMembers(AutomationTable& table);  // property persistence

}  // namespace korvel
