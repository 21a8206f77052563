// Property files on the command line: a control's persisted properties saved as text.
#pragma once

#include <string>

#include "commands.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel::cli {

/// Loads the persisted properties saved in the property file `file` into `control`, as the
/// container loads a placed control.  Lines of the file that cannot be understood are skipped
/// and named on standard error.  False (after printing why) when the file cannot be read.
bool loadProps(KorvelComTools& control, const std::string& file);

/// Takes "--props FILE" (or "--props=FILE") out of `args` and returns FILE; empty when absent.
/// Throws std::invalid_argument when FILE is missing.
std::string takeProps(Args& args);

}  // namespace korvel::cli
