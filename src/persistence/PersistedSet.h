// The persisted property set, derived from the member table: one entry per value saved, in the
// order of saving, and the order of loading.
#pragma once

#include <string>
#include <vector>

#include "korvelcom/Automation.h"
#include "korvelcom/platform/PropertyBag.h"

namespace korvel::persistence {

struct Entry {
    const Member* get;  ///< the property's get; its put is the line's other half
    const Member* put;
    std::string key;  ///< the bag's key
    PropValue saveDefault;
    PropValue loadDefault;
    bool unchecked = false;          ///< loading stores without the put's checks
    bool expectedOperation = false;  ///< the operation number the replies must carry
};

/// The entries in the order of saving: the persisted properties in the order of their table
/// lines, the expected operation number right after the operation number.
const std::vector<Entry>& savingOrder();
/// The same entries in the order of loading: the ranked ones by rank, then the others as saved.
const std::vector<const Entry*>& loadingOrder();

/// A value of a persisted property as the bag holds it, and back.  Throws `std::logic_error`
/// for a value a bag cannot hold (empty, byte array).
PropValue toPropValue(const Value& value);
Value fromPropValue(const PropValue& value);

}  // namespace korvel::persistence
