// The container's property bag: where a placed control's persisted properties are saved.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "korvelcom/Export.h"

namespace korvel {

/// A persisted value: a string, a 16-bit or 32-bit integer, or a boolean.
using PropValue = std::variant<std::string, int16_t, int32_t, bool>;

class KORVELCOM_API PropertyBag {
  public:
    virtual ~PropertyBag() = default;
    /// The value saved under `key`, converted to the type of `defaultValue`, or `defaultValue`
    /// when the key is absent.  May throw on a value that cannot be converted; the control
    /// guards every read on its own.
    virtual PropValue read(const std::string& key, const PropValue& defaultValue) = 0;
    /// Saves `value` under `key`; `defaultValue` tells the bag what a missing key would mean.
    virtual void write(const std::string& key, const PropValue& value,
                       const PropValue& defaultValue) = 0;
};

}  // namespace korvel
