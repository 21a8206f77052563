// The technician's command line: one function per sub-command.
#pragma once

#include <string>
#include <vector>

namespace korvel::cli {

using Args = std::vector<std::string>;

/// A sub-command: `run` receives the arguments after the sub-command's name and returns the
/// process exit status (0 success, 1 the operation failed, 2 usage error).
struct Command {
    const char* name;
    const char* usage;  ///< one line: "checksum lrc8|crc16|sum FILE [--start N] ..."
    int (*run)(const Args& args);
};

/// Every sub-command, in the order `korvelcom help` lists them.
const std::vector<Command>& commands();

int cmdInfo(const Args& args);
int cmdGet(const Args& args);
int cmdChecksum(const Args& args);
int cmdSim(const Args& args);
int cmdMessage(const Args& args);
int cmdPay(const Args& args);
int cmdDemo(const Args& args);
int cmdAuto(const Args& args);
int cmdProps(const Args& args);
int cmdAbout(const Args& args);

}  // namespace korvel::cli
