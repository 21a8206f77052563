// korvelcom: the technician's command line for the payment-terminal control.
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <exception>
#include <iostream>

#include "commands.h"
#include "korvelcom/CardData.h"

namespace korvel::cli {
namespace {

constexpr const char* kExitStatuses =
    "Exit status: 0 the reply came (or the command did what it was asked), 1 no reply, a "
    "refusal or a failed operation, 2 a usage error, 3 the port could not be opened.\n"
    "Failures print the control's error tag first (unchanged, for scripts), then what it means.\n";

}  // namespace
}  // namespace korvel::cli

int main(int argc, char** argv) {
    using namespace korvel::cli;
    // A card read by this process must never end up in a core file.  (Not PR_SET_DUMPABLE: it
    // would also lock out debuggers and the leak checker's tracer.)
#ifndef _WIN32
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
#endif

    CLI::App app{"the technician's command line for the payment-terminal control KorvelComTools",
                 "korvelcom"};
    app.footer(kExitStatuses);
    app.require_subcommand(1);
    app.set_version_flag("--version",
                         [] { return "korvelcom " + korvel::KorvelComTools().Version(); });
    bool showCardData = false;
    app.add_flag("--show-card-data", showCardData,
                 "show card data in clear (a lab only; see the README's \"Card data\")");
    Run run;
    addDemo(app, run);
    addPay(app, run);
    addMessage(app, run);
    addAuto(app, run);
    addSim(app, run);
    addChecksum(app, run);
    addScramble(app, run);
    addConvert(app, run);
    addCall(app, run);
    addInfo(app, run);
    addGet(app, run);
    addProps(app, run);
    addAbout(app, run);
    addDocs(app, run);
    std::string helpFor;
    auto* help = app.add_subcommand("help", "this text, or the help of one command");
    help->add_option("COMMAND", helpFor, "the command to explain");
    help->callback([&] {
        const CLI::App* of = &app;
        if (!helpFor.empty()) {
            try {
                of = app.get_subcommand(helpFor);
            } catch (const CLI::Error&) {
                throw CLI::ValidationError("help", "no command named '" + helpFor + "'");
            }
        }
        std::cout << of->help();
        run = [] { return int(kOk); };
    });

    if (argc < 2) {
        std::cout << app.help();
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
    }
    if (showCardData) korvel::setCardDataShown(true);
    if (korvel::cardDataShown())
        std::cerr << "korvelcom: warning: card data is shown in clear (--show-card-data or "
                     "KORVELCOM_SHOW_CARD_DATA=1); never paste this output outside a lab\n";
    try {
        return run ? run() : int(kUsage);
    } catch (const std::exception& e) {
        std::cerr << "korvelcom: " << e.what() << '\n';
        return kFailed;
    }
}
