#include "commands.h"

namespace korvel::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"demo", "demo [--amount 8DIGITS] [--think MS]   a payment against the bundled simulator",
         cmdDemo},
        {"pay",
         "pay (--device PATH | --port N) [--amount A] [--number NN] [--rep R] [--mode M] "
         "[--type T] [--currency CCC] [--timeout MS] [--set NAME=VALUE]... [--json] [--trace]   "
         "one basic payment",
         cmdPay},
        {"info", "info [--set NAME=VALUE]...   version, link defaults, port mapping", cmdInfo},
        {"get", "get NAME [--set NAME=VALUE]...   read a property by name", cmdGet},
        {"checksum",
         "checksum lrc8|crc16|sum FILE|--string TEXT [--start N] [--end N] [--init V] [--poly P]   "
         "check value in decimal",
         cmdChecksum},
        {"sim",
         "sim (--device PATH | --pty) [--behaviour NAME]... [--reply-delay MS] "
         "[--unsolicited-every MS] [--responder echo|payment|extended] [--quiet]   "
         "payment-terminal "
         "simulator",
         cmdSim},
        {"message",
         "message --device PATH [--timeout MS] [--set NAME=VALUE]... [--trace] [--json] TEXT   "
         "one framed exchange",
         cmdMessage},
        {"auto",
         "auto OPERATION (--device PATH | --port N) [ARGS]... [--ARGNAME VALUE]... "
         "[--props FILE] [--save-props FILE] [--set NAME=VALUE]... [--json] [--trace]   one "
         "extended operation",
         cmdAuto},
        {"props", "props save FILE [--set NAME=VALUE]... | props show FILE   persisted properties",
         cmdProps},
        {"about", "about   the control's about box as text", cmdAbout},
    };
    return list;
}

}  // namespace korvel::cli
