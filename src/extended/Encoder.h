// The extended request layouts as data: for each function code, the checks the request
// depends on (in the order they run, each with its tag) and the fields it carries after the
// sequence number and the code.  `Exchange::send` is the one generic encoder that reads
// this table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extended/ExtendedFields.h"

namespace korvel::ext {

/// One check a request runs before it is built.
struct SendCheck {
    Field field;  ///< the field whose stored value is checked
    Rule rule;
    const char* tag;
    /// When set, `field` (the seconds) is first recomputed from this function time-out.
    std::optional<Timeout> secondsFrom = std::nullopt;
};

struct RequestLayout {
    std::vector<std::string_view> codes;  ///< the function codes laid out this way
    std::vector<SendCheck> checks;        ///< run in order; the first failure stops the send
    std::vector<Field> data;              ///< sent from position 5 at their full widths
};

/// Every request layout.
const std::vector<RequestLayout>& requestLayouts();
/// The layout of function code `fct` (exact, case-sensitive), or nullptr for an unlisted code.
const RequestLayout* layoutFor(std::string_view fct);
/// Length of a request of that layout: 4 (sequence and code) plus the widths of its data.
std::size_t requestLength(const RequestLayout& layout);

/// The seconds field sent for a function time-out of `ms` milliseconds: ms / 1000 truncated
/// toward zero, in decimal (a minus sign when negative), "0" put in front while shorter than 3
/// characters, then cut to 3 (999 gives "000", 65000 "065", -5000 "0-5", 1234567 "123").
std::string secondsField(int32_t ms);

}  // namespace korvel::ext
