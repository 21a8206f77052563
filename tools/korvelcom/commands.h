// The technician's command line: what the commands share (exit statuses, the options of the
// commands that talk to a terminal, JSON of byte strings, failures told in plain words) and
// one registration function per command.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "korvelcom/KorvelComTools.h"

namespace korvel::cli {

/// Exit statuses, listed by `korvelcom help`.
enum Exit : int {
    kOk = 0,               ///< the reply came (or the command did what it was asked)
    kFailed = 1,           ///< no reply, a refusal, or the operation failed
    kUsage = 2,            ///< the command line is wrong
    kPortUnavailable = 3,  ///< the port could not be opened
};

/// Appended to the help of what needs a pseudo-terminal: said on Windows, where it does not run.
#ifdef _WIN32
#define kLinuxOnly " (Linux only)"
#else
#define kLinuxOnly ""
#endif

/// What a command runs once the command line is parsed; returns the exit status.
using Run = std::function<int()>;

/// Options of every command that drives a control.
struct ControlOptions {
    std::vector<std::string> sets;  ///< NAME=VALUE, in order
    std::string props;              ///< a saved control to start from
};

/// Options of the commands that talk to a terminal.
struct LineOptions : ControlOptions {
    std::string device;
    int port = 0;
    bool json = false;
    bool trace = false;
};

/// Adds --set (and, with `props`, --props) to `cmd`.
void addControlOptions(CLI::App& cmd, ControlOptions& o, bool props = true);
/// Adds --device/--port (one of them required), --json, --trace and the control options.
void addLineOptions(CLI::App& cmd, LineOptions& o);

/// Loads --props, applies --set through the automation table and maps --device to the
/// control's port.  Prints why and returns false when something is refused.
bool prepare(KorvelComTools& control, const ControlOptions& o, const LineOptions* line = nullptr);

/// A byte string as a JSON value: null when it is only code-0 filler (a field never written),
/// else a string of one code point per byte, card data masked unless shown.
nlohmann::ordered_json bytes(const std::string& raw);
/// `j` on one line, every character outside printable ASCII escaped as \u00XX.
std::string dump(const nlohmann::ordered_json& j);

/// After an exchange without reply: prints the tag (unchanged, for scripts) followed by what
/// it means in plain words and, where the system gave one, its cause, or "no reply within N
/// ms" without a tag.  Returns `kPortUnavailable` when the port could not be opened, else
/// `kFailed`.
int reportNoReply(KorvelComTools& control, const std::string& tag, int32_t timeoutMs, bool escaped);
/// The plain words for an error tag (a field name and what is wrong with it, or what failed).
std::string plainWords(const std::string& tag, KorvelComTools& control);

void addPay(CLI::App& app, Run& run);
void addDemo(CLI::App& app, Run& run);
void addMessage(CLI::App& app, Run& run);
void addAuto(CLI::App& app, Run& run);
void addSim(CLI::App& app, Run& run);
void addChecksum(CLI::App& app, Run& run);
void addScramble(CLI::App& app, Run& run);
void addConvert(CLI::App& app, Run& run);
void addCall(CLI::App& app, Run& run);
void addInfo(CLI::App& app, Run& run);
void addGet(CLI::App& app, Run& run);
void addProps(CLI::App& app, Run& run);
void addAbout(CLI::App& app, Run& run);
/// `completion` (a bash completion script) and `manpage` (roff), generated from the parser's
/// own help and the automation table; hidden from the command list.
void addDocs(CLI::App& app, Run& run);

}  // namespace korvel::cli
