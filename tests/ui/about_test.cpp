// The about box: its texts and help file, ShowAbout with and without a presenter,
// and `korvelcom about`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/ui/AboutBox.h"
#include "platform/sim/SimPlatform.h"
#include "support/Process.h"
#include "support/Recorder.h"
#include "support/TempDir.h"

namespace korvel::ui {
namespace {

using S = std::string;

std::vector<S> paragraphs(const S& text) {
    std::vector<S> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("\r\n", from)) != S::npos; from = at + 2)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

bool startsWith(const S& text, const S& prefix) {
    return text.rfind(prefix, 0) == 0;
}

TEST(AboutBoxTexts, CaptionTitleAndVersionLine) {
    struct Case {
        ComponentInfo info;
        const char* version;
    };
    const Case cases[] = {
        {{"KorvelComTools", 3, 0, 0, ""}, "Version 3.0.0 "},
        {{"KorvelComTools", 1, 2, 15, "beta"}, "Version 1.2.15 beta"},
        {{"Other", 10, 0, 7, "build 4"}, "Version 10.0.7 build 4"},
    };
    for (const Case& k : cases) {
        const AboutBox box(k.info, "/sys");
        EXPECT_EQ(box.versionLine(), k.version);
        EXPECT_EQ(box.title(), k.info.title);
        EXPECT_EQ(box.caption(), "About... " + k.info.title);
        EXPECT_EQ(box.helpContext(), 1);
    }
    const ComponentInfo own = KorvelComTools::componentInfo();
    EXPECT_EQ(AboutBox(own, "/sys").versionLine(), "Version 3.0.0 ");
    EXPECT_EQ(own.title, "KorvelComTools");
}

TEST(AboutBoxTexts, DisclaimerDescriptionAndLabels) {
    const auto parts = paragraphs(AboutBox::disclaimer());
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "IMPORTANT READ CAREFULLY: DISCLAIMER OF WARRANTY");
    EXPECT_TRUE(startsWith(parts[1], "NO WARRANTIES. "));
    EXPECT_NE(parts[1].find("\"as is\""), S::npos);
    EXPECT_NE(parts[1].find("without warranty of any kind"), S::npos);
    EXPECT_TRUE(startsWith(parts[2], "NO LIABILITY FOR DAMAGES. "));
    for (const char* words : {"permitted by applicable law", "business profits", "interruption",
                              "information", "pecuniary loss", "questions"})
        EXPECT_NE(parts[2].find(words), S::npos) << words;
    EXPECT_EQ(parts[2].back(), ':');

    const S description = AboutBox::description();
    EXPECT_TRUE(startsWith(description, "AciveX 32 bit OCX control "));
    EXPECT_GT(description.size(), S("AciveX 32 bit OCX control ").size());
    EXPECT_TRUE(startsWith(AboutBox::webAddress(), "https://"));
    // The clickable labels and the web address carry these texts on the form.
    const std::map<S, S> labelled = {{"Label1", AboutBox::helpLabel()},
                                     {"Label2", AboutBox::exitLabel()},
                                     {"Label3", AboutBox::webAddress()}};
    int found = 0;
    for (const auto& row : AboutBox::layout()) {
        const auto it = labelled.find(row.name);
        if (it == labelled.end()) continue;
        ++found;
        EXPECT_EQ(row.text, it->second);
    }
    EXPECT_EQ(found, 3);
    EXPECT_STREQ(AboutBox::helpLabel(), "Help");
    EXPECT_STREQ(AboutBox::exitLabel(), "Exit");
}

TEST(AboutBoxHelp, HelpFileIsInTheSystemDirectoryAndOpensOnlyWhenPresent) {
    const auto dir = test::ownTempDir("ui");
    const AboutBox box(KorvelComTools::componentInfo(), dir.string());
    EXPECT_EQ(box.helpFile(), dir.string() + "/KorvelComTools.hlp");
    std::filesystem::remove(box.helpFile());  // left by an earlier run
    EXPECT_EQ(box.helpToOpen(), std::nullopt);
    std::ofstream(box.helpFile()) << "help";
    EXPECT_EQ(box.helpToOpen(), box.helpFile());
    // A directory of that name is no help file.
    const AboutBox other(KorvelComTools::componentInfo(), (dir / "sub").string());
    std::filesystem::create_directories(other.helpFile());
    EXPECT_EQ(other.helpToOpen(), std::nullopt);
}

// ---- ShowAbout --------------------------------------------------------------------------------

class ShowAbout : public ::testing::Test {
  protected:
    ShowAbout() { control.setEventSink(&events); }
    SimPlatform sim;
    KorvelComTools control{sim};
    test::Recorder events;
};

TEST_F(ShowAbout, EachShowingLoadsAFreshBox) {
    auto& system = static_cast<SimSystemServices&>(sim.system());
    std::vector<S> shown;
    control.setAboutPresenter([&](const AboutBox& box) {
        shown.push_back(box.caption() + "|" + box.versionLine() + "|" + box.helpFile());
    });
    control.ShowAbout();
    system.systemDir = "/elsewhere/system";
    std::vector<Value> none;
    invoke(control, "ShowAbout", MemberKind::Method, none);  // as a container calls it
    EXPECT_EQ(shown, (std::vector<S>{
                         "About... KorvelComTools|Version 3.0.0 |/sim/windows/system/"
                         "KorvelComTools.hlp",
                         "About... KorvelComTools|Version 3.0.0 |/elsewhere/system/"
                         "KorvelComTools.hlp",
                     }));
}

TEST_F(ShowAbout, WithoutAPresenterOrWithAFaultyOneNothingReachesTheHost) {
    control.ShowAbout();  // no presenter: nothing to show
    int calls = 0;
    control.setAboutPresenter([&](const AboutBox&) {
        ++calls;
        throw std::runtime_error("the window could not be created");
    });
    EXPECT_NO_THROW(control.ShowAbout());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(control.ReceiveError(), "");
    EXPECT_TRUE(events.errors.empty());
    control.setAboutPresenter(nullptr);
    control.ShowAbout();
    EXPECT_EQ(calls, 1);
}

// ---- korvelcom about ---------------------------------------------------------------------------

TEST(AboutCommand, PrintsTheBoxAndWhetherItsHelpFileIsInstalled) {
    const auto dir = test::ownTempDir("ui");
    ::setenv("KORVELCOM_SYSDIR", dir.c_str(), 1);
    const S helpFile = dir.string() + "/KorvelComTools.hlp";
    std::filesystem::remove(helpFile);  // left by an earlier run

    auto r = test::run({KORVEL_CLI_PATH, "about"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(startsWith(r.out, "About... KorvelComTools\n"));
    for (const S& line :
         {S("\nKorvelComTools\n"), S("\nVersion 3.0.0 \n"), "\n" + S(AboutBox::description()),
          S("\nIMPORTANT READ CAREFULLY: DISCLAIMER OF WARRANTY\nNO WARRANTIES. "),
          "\n" + S(AboutBox::webAddress()) + "\n", "Help file: " + helpFile + "   (not installed)"})
        EXPECT_NE(r.out.find(line), S::npos) << line << "\n--- in ---\n" << r.out;
    EXPECT_EQ(r.out.find('\r'), S::npos);

    std::ofstream(helpFile) << "help";
    r = test::run({KORVEL_CLI_PATH, "about"});
    EXPECT_NE(r.out.find("Help file: " + helpFile + "\n"), S::npos) << r.out;
    ::unsetenv("KORVELCOM_SYSDIR");

    r = test::run({KORVEL_CLI_PATH, "about", "extra"});
    EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace korvel::ui
