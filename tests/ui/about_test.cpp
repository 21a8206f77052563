// The about box: the texts set when it loads and the help file it opens.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/ui/AboutBox.h"
#include "support/TempDir.h"

namespace korvel::ui {
namespace {

using S = std::string;

S texts(const AboutBox& box) {
    return box.caption() + "|" + box.title() + "|" + box.versionLine() + "|" + box.helpFile() +
           "|" + std::to_string(box.helpContext()) + "\n";
}

// The help file's path uses this system's separator ("\\" on Windows).
const S kSep(1, static_cast<char>(std::filesystem::path::preferred_separator));

TEST(AboutBox, TextsAndLabels) {
    EXPECT_EQ(texts(AboutBox({"Other", 10, 2, 15, "beta 4"}, "/sys")),
              "About... Other|Other|Version 10.2.15 beta 4|/sys" + kSep + "KorvelComTools.hlp|1\n");
    S labels;
    for (const auto& row : AboutBox::layout())
        if (*row.text) labels += S(row.name) + "=" + row.text + " ";
    EXPECT_EQ(labels, "lblDescription=" + S(AboutBox::description()) +
                          " Label3=" + AboutBox::webAddress() + " Label1=Help Label2=Exit ");
    EXPECT_EQ(S(AboutBox::helpLabel()) + AboutBox::exitLabel(), "HelpExit");
}

TEST(AboutBox, HelpOpensOnlyAnExistingFile) {
    const auto dir = test::ownTempDir("ui");
    const AboutBox box(KorvelComTools::componentInfo(), dir.string());
    std::filesystem::remove(box.helpFile());  // left by an earlier run
    EXPECT_EQ(box.helpToOpen(), std::nullopt);
    std::ofstream(box.helpFile()) << "help";
    EXPECT_EQ(box.helpToOpen(), dir.string() + kSep + "KorvelComTools.hlp");
    const AboutBox folder(KorvelComTools::componentInfo(), (dir / "sub").string());
    std::filesystem::create_directories(folder.helpFile());
    EXPECT_EQ(folder.helpToOpen(), std::nullopt) << "a folder of that name is no help file";
}

}  // namespace
}  // namespace korvel::ui
