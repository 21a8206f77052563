#include "commands.h"

namespace korvel::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"info", "info [--set NAME=VALUE]...   version, link defaults, port mapping", cmdInfo},
        {"get", "get NAME [--set NAME=VALUE]...   read a property by name", cmdGet},
        {"checksum",
         "checksum lrc8|crc16|sum FILE|--string TEXT [--start N] [--end N] [--init V] [--poly P]   "
         "check value in decimal",
         cmdChecksum},
        {"sim",
         "sim (--device PATH | --pty) [--behaviour NAME]... [--reply-delay MS] "
         "[--unsolicited-every MS] [--quiet]   payment-terminal simulator",
         cmdSim},
        {"message",
         "message --device PATH [--timeout MS] [--set NAME=VALUE]... [--trace] [--json] TEXT   "
         "one framed exchange",
         cmdMessage},
    };
    return list;
}

}  // namespace korvel::cli
