// Property persistence by name.  Saving, loading and new-instance initialisation are the
// container's calls with a property bag, not members a host reaches through the automation
// interface, so nothing is registered here; the persisted properties themselves are
// registered by their own subsystems.
#include "control/automation_registry.h"

namespace korvel {

void registerPersistenceMembers(AutomationTable& table) {
    (void)table;
}

}  // namespace korvel
