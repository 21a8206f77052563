// Shared option handling of the sub-commands.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel::cli {

/// Takes every "--set NAME=VALUE" (or "--set=NAME=VALUE") out of `args` and returns the pairs
/// in order.  Throws std::invalid_argument on a malformed one.
std::vector<std::pair<std::string, std::string>> takeSets(Args& args);

/// Writes each NAME=VALUE through the automation table, converting the text to the property's
/// type.  Returns false (after printing the reason on standard error) when a name is unknown
/// or a value does not convert.
bool applySets(KorvelComTools& control,
               const std::vector<std::pair<std::string, std::string>>& sets);

}  // namespace korvel::cli
