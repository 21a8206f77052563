// `korvelcom info` (version, link defaults, port mapping), `get NAME` (any property by its
// automation name), `props save|show` (persisted properties as text) and `about` (the about
// box as text).
#include <cstdlib>
#include <iostream>

#include "commands.h"
#include "korvelcom/Automation.h"
#include "korvelcom/PropertyBags.h"
#include "korvelcom/platform/Endpoint.h"

namespace korvel::cli {
namespace {

int info(const ControlOptions& o) {
    KorvelComTools control;
    if (!prepare(control, o)) return kFailed;
    std::cout << "KorvelComTools " << control.Version() << "\n\nLink parameters:\n";
    for (const char* name : {"CommPort", "CommSettings", "TOwaitChar", "TOBetweenChar",
                             "TOwaitReply", "TOwaitRetry", "TOWaitBetweenCommand", "RetrySession",
                             "RetryData", "EscapeKeyEnabled", "ErrorEnabled", "ReceiveEnabled"}) {
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ')
                  << formatValue(getProperty(control, name)) << '\n';
    }
#ifdef _WIN32
    const char* fallback = "COM<N>";
#else
    const char* fallback = "/dev/ttyS<N-1>";
#endif
    std::cout << "\nSerial ports map to devices: port N uses $KORVELCOM_COM<N> when set,\n"
                 "else "
              << fallback << ".\n";
    for (int16_t port = 1; port <= 4; ++port) {
        std::cout << "  port " << port << " -> ";
        try {
            std::cout << control.platform().resolvePort(port).text();
        } catch (const SerialError& e) {
            std::cout << e.what();
        }
        const std::string var = "KORVELCOM_COM" + std::to_string(port);
        if (std::getenv(var.c_str())) std::cout << "   (from $" << var << ")";
        std::cout << '\n';
    }
    return kOk;
}

// The box's paragraphs are separated by CR LF; a terminal wants plain line ends.
std::string plainLines(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

void printAbout(const ui::AboutBox& box) {
    std::cout << box.caption() << "\n\n"
              << box.title() << '\n'
              << box.versionLine() << '\n'
              << ui::AboutBox::description() << "\n\n"
              << plainLines(ui::AboutBox::disclaimer()) << '\n'
              << ui::AboutBox::webAddress() << "\n\n"
              << "Help file: " << box.helpFile() << (box.helpToOpen() ? "" : "   (not installed)")
              << '\n';
}

struct PropsOptions : ControlOptions {
    std::string file;
};

}  // namespace

void addInfo(CLI::App& app, Run& run) {
    auto o = std::make_shared<ControlOptions>();
    auto* cmd = app.add_subcommand("info", "version, link defaults, port mapping");
    addControlOptions(*cmd, *o, false);
    cmd->callback([o, &run] { run = [o] { return info(*o); }; });
}

void addGet(CLI::App& app, Run& run) {
    auto o = std::make_shared<PropsOptions>();
    auto* cmd = app.add_subcommand("get", "read any property by its automation name");
    cmd->add_option("NAME", o->file, "the property")->required();
    addControlOptions(*cmd, *o);
    cmd->callback([o, &run] {
        run = [o] {
            KorvelComTools control;
            if (!prepare(control, *o)) return int(kFailed);
            try {
                std::cout << formatValue(getProperty(control, o->file)) << '\n';
            } catch (const AutomationError& e) {
                std::cerr << "korvelcom get: " << e.what() << '\n';
                return int(kFailed);
            }
            return int(kOk);
        };
    });
}

void addProps(CLI::App& app, Run& run) {
    auto* cmd = app.add_subcommand("props", "a control's persisted properties as a text file");
    cmd->require_subcommand(1);
    auto save = std::make_shared<PropsOptions>();
    auto* saveCmd = cmd->add_subcommand(
        "save", "write a newly placed control's properties, after --set, to FILE");
    saveCmd->add_option("FILE", save->file)->required();
    addControlOptions(*saveCmd, *save, false);
    saveCmd->callback([save, &run] {
        run = [save] {
            KorvelComTools control;
            control.InitProperties();  // a newly placed control
            if (!prepare(control, *save)) return int(kFailed);
            TextPropertyBag bag;
            control.WriteProperties(bag);
            if (!bag.save(save->file)) {
                std::cerr << "cannot write the property file " << save->file << '\n';
                return int(kFailed);
            }
            return int(kOk);
        };
    });
    auto show = std::make_shared<PropsOptions>();
    auto* showCmd =
        cmd->add_subcommand("show", "print what a control loaded from FILE holds, Key = value");
    showCmd->add_option("FILE", show->props)->required();
    showCmd->callback([show, &run] {
        run = [show] {
            KorvelComTools control;
            if (!prepare(control, *show)) return int(kFailed);
            TextPropertyBag bag;
            control.WriteProperties(bag);
            for (const auto& e : bag.entries())
                std::cout << e.key << " = " << TextPropertyBag::formatValue(e.value) << '\n';
            return int(kOk);
        };
    });
}

void addAbout(CLI::App& app, Run& run) {
    auto* cmd = app.add_subcommand("about", "the control's about box as text");
    cmd->callback([&run] {
        run = [] {
            KorvelComTools control;
            control.setAboutPresenter(printAbout);
            control.ShowAbout();
            return int(kOk);
        };
    });
}

}  // namespace korvel::cli
