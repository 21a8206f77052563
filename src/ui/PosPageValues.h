// How the POS property page turns a number box's text into the value of an integer property.
#pragma once

#include <string_view>

#include "korvelcom/Automation.h"

namespace korvel::ui {

/// The value written to the integer property `property` for a box holding `text`: the numeric
/// value at the start of the text (leading spaces and tabs, sign, digits, decimal part; 0 when
/// there is none) rounded to a whole number with ties to even, in the property's own width
/// (`int16_t` or `int32_t`, from the automation table).  Throws `AutomationError("Overflow")`
/// when the number does not fit that width, and `AutomationError` when `property` is not a
/// writable integer property.
Value propertyInteger(std::string_view property, std::string_view text);

}  // namespace korvel::ui
