#include "util/SystemHelpers.h"

#include <cmath>
#include <limits>

namespace korvel::util {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> splitArguments(std::string_view arguments) {
    std::vector<std::string> args(1);  // element 0 stays empty
    bool inArgument = false;
    for (char c : arguments) {
        if (isBlank(c)) {
            inArgument = false;
            continue;
        }
        if (!inArgument) {
            if (static_cast<int>(args.size()) - 1 == kMaxCommandArguments) break;
            args.emplace_back();
            inArgument = true;
        }
        args.back().push_back(c);
    }
    return args;
}

std::vector<std::string> splitProgramCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    bool inWord = false;
    bool quoted = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            if (!inWord) words.emplace_back();  // "" is an empty word of its own
            inWord = true;
        } else if (isBlank(c) && !quoted) {
            inWord = false;
        } else {
            if (!inWord) words.emplace_back();
            inWord = true;
            words.back().push_back(c);
        }
    }
    return words;
}

int twipsFactor(double reported) {
    if (!(reported > 0.0) || !std::isfinite(reported)) return kDefaultTwipsPerPixel;
    const double rounded = std::nearbyint(reported);  // default mode: ties to even
    if (rounded > std::numeric_limits<int16_t>::max()) return std::numeric_limits<int16_t>::max();
    return static_cast<int>(rounded);
}

void twipsToPixels(int16_t& value, int factor) {
    if (factor == 0) return;  // the division cannot be done: the value stays
    const double quotient = std::nearbyint(static_cast<double>(value) / factor);
    if (quotient < std::numeric_limits<int16_t>::min() ||
        quotient > std::numeric_limits<int16_t>::max())
        return;
    value = static_cast<int16_t>(quotient);
}

void pixelsToTwips(int16_t& value, int factor) {
    const int64_t product = int64_t{value} * factor;
    if (product < std::numeric_limits<int16_t>::min() ||
        product > std::numeric_limits<int16_t>::max())
        return;
    value = static_cast<int16_t>(product);
}

std::string directoryAnswer(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path.size() > kMaxDirectoryChars) return {};
    return std::string(path);
}

}  // namespace korvel::util
