// The sequence number that follows another.
#include "extended/Sequence.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "extended/ExtendedFields.h"

namespace korvel {

std::string ext::nextSequence(std::string_view current) {
    // The nearest integer in the default rounding mode: a half goes to the even neighbour.
    const double rounded = std::nearbyint(numericValue(current));
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max()))
        return "01";
    int next = static_cast<int>(rounded) + 1;
    if (next > 99) next = 1;
    std::string text = std::to_string(next);
    if (text.size() < 2) text = "0" + text;
    return text;
}

}  // namespace korvel
