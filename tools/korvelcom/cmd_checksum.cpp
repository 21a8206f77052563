// `korvelcom checksum lrc8|crc16|sum FILE|--string TEXT [--start N] [--end N] [--init V]
// [--poly P]`: a check value computed by the control's own members, printed in decimal.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "commands.h"

namespace korvel::cli {
namespace {

int usage(const std::string& why) {
    std::cerr << "korvelcom checksum: " << why << " (korvelcom checksum --help)\n";
    return kUsage;
}

// A decimal or 0x-prefixed hexadecimal integer with an optional sign, within [lo, hi].
std::optional<int64_t> parseNumber(const std::string& text, int64_t lo, int64_t hi) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
    if (negative) v = -v;
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

enum class Kind { Lrc8, Crc16, Sum };

struct Request {
    Kind kind = Kind::Lrc8;
    ControlOptions control;
    std::optional<std::string> file;
    std::optional<std::string> text;
    std::optional<std::string> start, end, init, poly;
};

int checksum(const Request& rq) {
    if (rq.file.has_value() == rq.text.has_value()) return usage("give either FILE or --string");
    if (rq.poly && rq.kind != Kind::Crc16) return usage("--poly applies to crc16 only");

    // Initial value and polynomial are 16-bit; the CRC also takes them as unsigned patterns.
    const bool crc = rq.kind == Kind::Crc16;
    const int64_t initHigh = crc ? 65535 : 32767;
    int16_t init = crc ? int16_t{0x5555} : int16_t{0};
    int16_t poly = -24575;  // the bit pattern 0xA001
    if (rq.init) {
        const auto v = parseNumber(*rq.init, -32768, initHigh);
        if (!v) return usage("bad --init '" + *rq.init + "'");
        init = static_cast<int16_t>(static_cast<uint16_t>(*v));
    }
    if (rq.poly) {
        const auto v = parseNumber(*rq.poly, -32768, 65535);
        if (!v) return usage("bad --poly '" + *rq.poly + "'");
        poly = static_cast<int16_t>(static_cast<uint16_t>(*v));
    }

    KorvelComTools control;
    if (!prepare(control, rq.control)) return kUsage;
    control.setReceiveError("");
    int32_t value = 0;

    if (rq.text) {
        const std::string& text = *rq.text;
        int16_t start = 1;
        int16_t end = 0;
        if (rq.start) {
            const auto v = parseNumber(*rq.start, INT16_MIN, INT16_MAX);
            if (!v) return usage("bad --start '" + *rq.start + "' (16-bit for --string)");
            start = static_cast<int16_t>(*v);
        }
        if (rq.end) {
            const auto v = parseNumber(*rq.end, INT16_MIN, INT16_MAX);
            if (!v) return usage("bad --end '" + *rq.end + "' (16-bit for --string)");
            end = static_cast<int16_t>(*v);
        } else if (text.size() > 32767) {
            return usage("--string TEXT longer than 32767 characters needs --end");
        } else {
            end = static_cast<int16_t>(text.size());
        }
        switch (rq.kind) {
            case Kind::Lrc8:
                value = control.cLRC8str(text, start, end, init);
                break;
            case Kind::Crc16:
                value = control.cCRC16str(text, start, end, init, poly);
                break;
            case Kind::Sum:
                value = control.cCHECKSUMstr(text, start, end, init);
                break;
        }
    } else {
        int32_t start = 1;
        int32_t end = 2147483647;
        if (rq.start) {
            const auto v = parseNumber(*rq.start, INT32_MIN, INT32_MAX);
            if (!v) return usage("bad --start '" + *rq.start + "'");
            start = static_cast<int32_t>(*v);
        }
        if (rq.end) {
            const auto v = parseNumber(*rq.end, INT32_MIN, INT32_MAX);
            if (!v) return usage("bad --end '" + *rq.end + "'");
            end = static_cast<int32_t>(*v);
        }
        switch (rq.kind) {
            case Kind::Lrc8:
                value = control.cLRC8file(*rq.file, start, end, init);
                break;
            case Kind::Crc16:
                value = control.cCRC16file(*rq.file, start, end, init, poly);
                break;
            case Kind::Sum:
                value = control.cCHECKSUMfile(*rq.file, start, end, init);
                break;
        }
    }

    // The members return 0 on failure, which is also a possible value: the tag tells.
    if (const std::string tag = control.ReceiveError(); !tag.empty()) {
        std::cerr << tag << ": ";
        std::ifstream probe(rq.file.value_or(""), std::ios::binary);
        if (rq.file && !probe)
            std::cerr << "cannot read " << *rq.file << ": " << std::strerror(errno) << '\n';
        else
            std::cerr << "the range or the initial value does not fit the check\n";
        return kFailed;
    }
    std::cout << value << '\n';
    return kOk;
}

}  // namespace

void addChecksum(CLI::App& app, Run& run) {
    auto rq = std::make_shared<Request>();
    auto* cmd = app.add_subcommand(
        "checksum", "a check value computed by the control's own members, in decimal");
    cmd->add_option("CHECK", rq->kind, "lrc8, crc16 or sum")
        ->required()
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, Kind>{
                {"lrc8", Kind::Lrc8}, {"crc16", Kind::Crc16}, {"sum", Kind::Sum}},
            CLI::ignore_case));
    cmd->add_option("FILE", rq->file, "bytes START (default 1) to END (default the end)");
    cmd->add_option("--string", rq->text, "characters START to END of TEXT instead of a file")
        ->type_name("TEXT");
    const char* number = "(decimal or 0x-prefixed hexadecimal)";
    cmd->add_option("--start", rq->start, std::string("first position, 1-based ") + number)
        ->type_name("N");
    cmd->add_option("--end", rq->end, std::string("last position ") + number)->type_name("N");
    cmd->add_option("--init", rq->init,
                    std::string("initial value (lrc8, sum: 0; crc16: 0x5555) ") + number)
        ->type_name("V");
    cmd->add_option("--poly", rq->poly,
                    std::string("CRC16 polynomial, bit-reflected (0xA001) ") + number)
        ->type_name("P");
    addControlOptions(*cmd, rq->control, false);
    cmd->callback([rq, &run] { run = [rq] { return checksum(*rq); }; });
}

}  // namespace korvel::cli
