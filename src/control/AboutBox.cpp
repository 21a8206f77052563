// The about box: the texts set when the form loads, its fixed layout, and where Help leads.
#include "korvelcom/ui/AboutBox.h"

#include <filesystem>
#include <system_error>

namespace korvel::ui {
namespace {

// The help file lives in the system directory under this name; the separator is this
// platform's own ("\" on Windows, "/" elsewhere).
constexpr const char* kHelpFileName = "KorvelComTools.hlp";
constexpr char kPathSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
// F1 on the form opens the help file at this context.
constexpr int kHelpContext = 1;

constexpr const char* kDescription = "AciveX 32 bit OCX control 2026 KorvelCom";
constexpr const char* kWebAddress = "https://korvelcom.example";

constexpr const char* kDisclaimer =
    "IMPORTANT READ CAREFULLY: DISCLAIMER OF WARRANTY\r\n"
    "NO WARRANTIES. This software is provided \"as is\", without warranty of any kind, either "
    "express or implied, including without limitation any implied warranty of merchantability "
    "or fitness for a particular purpose.\r\n"
    "NO LIABILITY FOR DAMAGES. To the maximum extent permitted by applicable law, in no event "
    "shall the maker be liable for any damages whatsoever (including damages for loss of "
    "business profits, business interruption, loss of business information or any other "
    "pecuniary loss) arising out of the use of or inability to use this software. For any "
    "questions, please get in touch with us at:";

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kGray = 0x808080;
constexpr uint32_t kWhite = 0xFFFFFF;

}  // namespace

AboutBox::AboutBox(const ComponentInfo& info, const std::string& systemDirectory) {
    caption_ = "About... " + info.title;
    version_ = "Version " + std::to_string(info.major) + "." + std::to_string(info.minor) + "." +
               std::to_string(info.revision) + " " + info.comments;
    title_ = info.title;
    helpFile_ = systemDirectory + kPathSeparator + kHelpFileName;
    helpContext_ = kHelpContext;
}

const char* AboutBox::description() {
    return kDescription;
}
const char* AboutBox::disclaimer() {
    return kDisclaimer;
}
const char* AboutBox::webAddress() {
    return kWebAddress;
}
const char* AboutBox::helpLabel() {
    return "Help";
}
const char* AboutBox::exitLabel() {
    return "Exit";
}

const std::vector<AboutControlLayout>& AboutBox::layout() {
    // Positions in twips; the two lines of the separator are one pixel (15 twips) apart, the
    // gray one above, so that together they look etched into the form.
    static const std::vector<AboutControlLayout> table = {
        {"lblTitle", 240, 120, 4005, 480, "Verdana", 18, true, kBlack, ""},
        {"lblVersion", 240, 660, 4725, 225, "Verdana", 9, true, kBlack, ""},
        {"lblDescription", 240, 960, 4725, 270, "Verdana", 9, true, kBlack, kDescription},
        {"Line1(0)", 120, kSeparatorTop, 4890, 0, "", 0, false, kGray, ""},
        {"Line1(1)", 120, kSeparatorTop + 15, 4890, 0, "", 0, false, kWhite, ""},
        {"lblDisclaimer", 120, 1440, 4890, 2145, "Arial", 8.25, false, kBlack, ""},
        {"Label3", 120, 3600, 4875, 255, "Verdana", 9, true, kBlue, kWebAddress},
        {"Label1", 2460, 3960, 1155, 375, "MS Sans Serif", 9.75, true, kBlack, "Help"},
        {"Label2", 3780, 3960, 1155, 375, "MS Sans Serif", 9.75, true, kBlack, "Exit"},
        // The logo beside the texts; its size is in pixels.
        {"Image1", 5160, 120, kLogoWidth, kLogoHeight, "", 0, false, kBlack, ""},
    };
    return table;
}

std::optional<std::string> AboutBox::helpToOpen() const {
    std::error_code ec;
    if (std::filesystem::is_regular_file(helpFile_, ec)) return helpFile_;
    return std::nullopt;
}

}  // namespace korvel::ui
