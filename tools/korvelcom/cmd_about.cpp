// `korvelcom about`: the control's about box, shown as text.
#include <iostream>
#include <string>

#include "commands.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel::cli {
namespace {

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

}  // namespace

int cmdAbout(const Args& args) {
    if (!args.empty()) {
        std::cerr << "usage: korvelcom about\n";
        return 2;
    }
    KorvelComTools control;
    control.setAboutPresenter(printAbout);
    control.ShowAbout();
    return 0;
}

}  // namespace korvel::cli
