// `korvelcom scramble` / `unscramble` (the control's reversible file scrambling, NOT
// encryption), `korvelcom convert` (every numeric string conversion member by name) and
// `korvelcom call` (any method by name, as an automation host calls it).
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "commands.h"
#include "korvelcom/Automation.h"
#include "korvelcom/CardData.h"
#include "korvelcom/platform/WireLog.h"
#include "util/Scramble.h"

namespace korvel::cli {
namespace {

struct ScrambleOptions {
    std::string file;
    std::string key;  // the key code; empty: from the settings store, as the control reads it
};

std::string keyCode(const ScrambleOptions& o) {
    if (!o.key.empty()) return o.key;
    KorvelComTools control;
    return control.platform().settings().get(util::kScrambleApplication, util::kScrambleSection,
                                             util::kScrambleKey, util::kScrambleDefaultCode);
}

int scramble(const ScrambleOptions& o) {
    std::string data(std::istreambuf_iterator<char>(std::cin), {});
    if (data.empty() || data.size() > 32766) {
        std::cerr << "korvelcom scramble: standard input must hold 1 to 32766 bytes (it held "
                  << data.size() << ")\n";
        return kFailed;
    }
    const auto length = static_cast<int16_t>(data.size());
    if (!util::scrambleToFile(o.file, data, length, keyCode(o))) {
        std::cerr << "korvelcom scramble: cannot write " << o.file
                  << " (or the key code does not fit 16 bits)\n";
        return kFailed;
    }
    return kOk;
}

int unscramble(const ScrambleOptions& o) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(o.file, ec);
    if (ec || size == 0 || size > 32767) {
        std::cerr << "korvelcom unscramble: cannot read " << o.file << ": "
                  << (ec ? ec.message() : "it must hold 1 to 32767 bytes") << '\n';
        return kFailed;
    }
    ByteArray out(0, std::vector<uint8_t>(size));
    if (!util::unscrambleFromFile(o.file, out, static_cast<int16_t>(size - 1), keyCode(o))) {
        std::cerr << "korvelcom unscramble: cannot unscramble " << o.file
                  << " (unreadable, or the key code does not fit 16 bits)\n";
        return kFailed;
    }
    std::cout.write(reinterpret_cast<const char*>(out.bytes.data()),
                    static_cast<std::streamsize>(out.bytes.size()));
    return kOk;
}

constexpr const char* kConversions[] = {
    "ConvertStrhToDec", "ConvertStrdToDec", "cStr1DtoDec", "cStr2DtoDec", "cStr3DtoDec",
    "cStr1HtoDec",      "cStr2HtoDec",      "c2DecToAsc",  "c3DecToAsc",  "c2HexToAsc"};

struct ConvertOptions {
    std::string name, text;
    std::optional<int16_t> start, end;
};

int convert(const ConvertOptions& o) {
    KorvelComTools control;
    std::vector<Value> args{Value(o.text)};
    const Member* m = AutomationTable::instance().find(o.name, MemberKind::Method);
    const bool ranged = m && m->params.size() == 3;
    if (!ranged && (o.start || o.end)) {
        std::cerr << "korvelcom convert: " << o.name << " takes no range\n";
        return kUsage;
    }
    if (o.start || o.end) args.emplace_back(o.start.value_or(1));
    if (o.end) args.emplace_back(*o.end);
    const Value result = invoke(control, o.name, MemberKind::Method, args);
    if (const auto* text = std::get_if<std::string>(&result))
        std::cout << WireLog::describe(*text) << '\n';
    else
        std::cout << formatValue(result) << '\n';
    // The range as the member wrote it back.
    if (args.size() > 1) std::cout << "intStart " << formatValue(args[1]);
    if (args.size() > 2) std::cout << " intEnd " << formatValue(args[2]);
    if (args.size() > 1) std::cout << '\n';
    return kOk;
}

struct CallOptions : ControlOptions {
    std::string name;
    std::vector<std::string> args;
};

// Calls a method with text arguments (each converted to its parameter's type; an array
// parameter gets an empty variable), then prints the result and every written-back argument.
int call(const CallOptions& o) {
    const Member* m = AutomationTable::instance().find(o.name, MemberKind::Method);
    if (!m) {
        std::cerr << "korvelcom call: no method named " << o.name << '\n';
        return kUsage;
    }
    KorvelComTools control;
    if (!prepare(control, o)) return kUsage;
    std::vector<Value> args(o.args.begin(), o.args.end());
    args.resize(std::max(args.size(), m->params.size()));  // omitted: defaults, empty arrays
    auto show = [](const Value& v) {
        const auto* text = std::get_if<std::string>(&v);
        return text ? WireLog::describe(*text) : cardDataForDisplay(formatValue(v));
    };
    try {
        const Value result = invoke(control, *m, args);
        if (m->result != ValueType::Empty) std::cout << show(result) << '\n';
        for (std::size_t i = 0; i < m->params.size(); ++i)
            if (m->params[i].writesBack)
                std::cout << m->params[i].name << " = " << show(args[i]) << '\n';
    } catch (const AutomationError& e) {
        std::cerr << "korvelcom call: " << e.what() << '\n';
        return kUsage;
    }
    const std::string tag = control.ReceiveError();
    if (!tag.empty()) std::cerr << tag << ": " << plainWords(tag, control) << '\n';
    return control.ReceiveError().empty() ? kOk : kFailed;
}

}  // namespace

void addCall(CLI::App& app, Run& run) {
    auto o = std::make_shared<CallOptions>();
    auto* cmd = app.add_subcommand(
        "call",
        "any method by name with text arguments; prints its result and written-back "
        "arguments (e.g. korvelcom call GetCommandLine)");
    cmd->add_option("NAME", o->name, "the method")->required();
    cmd->add_option("ARGS", o->args, "its arguments in order; omitted ones take their defaults");
    addControlOptions(*cmd, *o);
    cmd->callback([o, &run] { run = [o] { return call(*o); }; });
}

void addScramble(CLI::App& app, Run& run) {
    for (const bool in : {true, false}) {
        auto o = std::make_shared<ScrambleOptions>();
        auto* cmd = app.add_subcommand(
            in ? "scramble" : "unscramble",
            in ? "scramble standard input into FILE (reversible scrambling, NOT encryption)"
               : "unscramble FILE onto standard output");
        cmd->add_option("FILE", o->file,
                        "the scrambled file; its base name is part of the key stream")
            ->required();
        cmd->add_option("--key", o->key,
                        "the key code instead of the settings store's DataCode (default 27315)")
            ->type_name("CODE");
        cmd->callback(
            [o, in, &run] { run = [o, in] { return in ? scramble(*o) : unscramble(*o); }; });
    }
}

void addConvert(CLI::App& app, Run& run) {
    auto o = std::make_shared<ConvertOptions>();
    auto* cmd = app.add_subcommand(
        "convert", "one numeric string conversion member by name, with its written-back range");
    std::vector<std::string> names(std::begin(kConversions), std::end(kConversions));
    cmd->add_option("NAME", o->name, "the member")->required()->check(CLI::IsMember(names));
    cmd->add_option("TEXT", o->text, "strPacket or strToConvert")->required();
    cmd->add_option("--start", o->start, "intStart (1-based; default 1)")->type_name("N");
    cmd->add_option("--end", o->end, "intEnd (default 32767)")->type_name("N");
    cmd->callback([o, &run] { run = [o] { return convert(*o); }; });
}

}  // namespace korvel::cli
