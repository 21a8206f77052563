// The about box: the texts of a freshly loaded model, placed as its layout says; Help acting
// as F1 (the help file opens only when it exists, and the form stays open); Exit closing; the
// web address doing nothing; and a fresh form for every ShowAbout.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include <fstream>
#include <vector>

#include "Modal.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "qt/AboutDialog.h"
#include "qt/KorvelComToolsWidget.h"
#include "support/TempDir.h"

namespace korvel::qt {
namespace {

class About : public ::testing::Test {
  protected:
    std::vector<QUrl> opened;

    std::unique_ptr<AboutDialog> show(const std::string& systemDirectory) {
        auto dialog = std::make_unique<AboutDialog>(
            ui::AboutBox(KorvelComTools::componentInfo(), systemDirectory));
        dialog->setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        return dialog;
    }
    static void click(QLabel* label) {
        ASSERT_NE(label, nullptr);
        QTest::mouseClick(label, Qt::LeftButton);
    }
};

TEST_F(About, ShowsTheLoadedTextsWhereTheLayoutPutsThem) {
    auto dialog = show("/nonexistent");
    EXPECT_EQ(dialog->objectName(), "frmAbout");
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "About... KorvelComTools");
    EXPECT_EQ(dialog->label("lblTitle")->text(), "KorvelComTools");
    EXPECT_EQ(dialog->label("lblVersion")->text(), "Version 3.0.0 ");
    EXPECT_EQ(dialog->label("lblDescription")->text(),
              QString::fromUtf8(ui::AboutBox::description()));
    EXPECT_TRUE(dialog->label("lblDescription")->text().startsWith("AciveX 32 bit OCX control"));
    const QString disclaimer = dialog->label("lblDisclaimer")->text();
    EXPECT_EQ(disclaimer.split('\n').size(), 3) << "three paragraphs";
    EXPECT_TRUE(disclaimer.startsWith("IMPORTANT READ CAREFULLY: DISCLAIMER OF WARRANTY\n"));
    EXPECT_TRUE(disclaimer.contains("\nNO WARRANTIES."));
    EXPECT_TRUE(disclaimer.contains("\nNO LIABILITY FOR DAMAGES."));
    EXPECT_TRUE(disclaimer.endsWith(":"));
    EXPECT_EQ(dialog->label("Label3")->text(), QString::fromUtf8(ui::AboutBox::webAddress()));
    EXPECT_EQ(dialog->label("Label1")->text(), "Help");
    EXPECT_EQ(dialog->label("Label2")->text(), "Exit");

    for (const ui::AboutControlLayout& row : ui::AboutBox::layout()) {
        SCOPED_TRACE(row.name);
        QLabel* label = dialog->label(row.name);
        if (QString(row.name).startsWith("Line")) {
            EXPECT_EQ(label, nullptr);
            continue;
        }
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->x(), (row.left + 7) / 15);
        EXPECT_EQ(label->y(), (row.top + 7) / 15);
        if (QString(row.name).startsWith("Image")) {
            EXPECT_EQ(label->size(), QSize(285, 238));
            EXPECT_EQ(label->pixmap().size(), QSize(285, 238));
            continue;
        }
        EXPECT_EQ(label->width(), (row.width + 7) / 15);
        // The layout's size, or a little less where this desktop's fonts would overflow.
        EXPECT_LE(label->font().pointSizeF(), row.pointSize);
        EXPECT_GT(label->font().pointSizeF(), row.pointSize - 2);
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << "the text fits its room: " << label->text().toStdString();
        EXPECT_EQ(label->font().bold(), row.bold);
        EXPECT_EQ(label->palette().color(QPalette::WindowText).rgb() & 0xFFFFFFu,
                  row.rgb & 0xFFFFFFu);
    }
    // The form holds every control.
    for (QLabel* label : dialog->findChildren<QLabel*>())
        EXPECT_TRUE(dialog->rect().contains(label->geometry()))
            << label->objectName().toStdString();
}

TEST_F(About, SeparatorIsAGrayAndAWhiteLine) {
    auto dialog = show("/nonexistent");
    const QImage image = dialog->grab().toImage();
    const int y = (ui::AboutBox::kSeparatorTop + 7) / 15;
    EXPECT_EQ(image.pixelColor(100, y), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(image.pixelColor(100, y + 1), QColor(0xFF, 0xFF, 0xFF));
}

TEST_F(About, HelpWithoutAHelpFileDoesNothingAndTheFormStaysOpen) {
    auto dialog = show(test::ownTempDir("qt").string());
    click(dialog->label("Label1"));
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(About, HelpAndF1OpenAnExistingHelpFile) {
    const auto dir = test::ownTempDir("qt");
    const auto file = dir / "KorvelComTools.hlp";
    std::ofstream(file) << "help";
    auto dialog = show(dir.string());
    click(dialog->label("Label1"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(file.string())));
    EXPECT_TRUE(dialog->isVisible()) << "the form stays open";
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(About, WebAddressDoesNothingAndExitCloses) {
    const auto dir = test::ownTempDir("qt");
    std::ofstream(dir / "KorvelComTools.hlp") << "help";
    auto dialog = show(dir.string());
    click(dialog->label("Label3"));
    click(dialog->label("lblTitle"));
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(dialog->isVisible());
    // A press on Exit released elsewhere is no click.
    QLabel* exit = dialog->label("Label2");
    QTest::mousePress(exit, Qt::LeftButton);
    QTest::mouseRelease(exit, Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_TRUE(dialog->isVisible());
    // Escape does not close the form; only Exit or the window's close button do.
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    click(exit);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(About, EveryShowAboutShowsAFreshFormUntilItIsClosed) {
    SimPlatform platform;
    KorvelComToolsWidget widget(platform);
    int shown = 0;
    auto closeAndCheck = [&](AboutDialog* dialog) {
        ++shown;
        EXPECT_EQ(dialog->parentWidget(), nullptr) << "no owner window";
        EXPECT_EQ(dialog->windowTitle(), "About... KorvelComTools");
        EXPECT_EQ(dialog->label("lblTitle")->text(), "KorvelComTools");
        EXPECT_FALSE(dialog->property("seen").isValid()) << "a form of an earlier showing";
        // Leave a mark a reused form would still carry.
        dialog->setProperty("seen", true);
        dialog->label("lblTitle")->setText("changed");
        QTest::mouseClick(dialog->label("Label2"), Qt::LeftButton);
    };
    test::whenModal<AboutDialog>(closeAndCheck);
    widget.control().ShowAbout();
    EXPECT_EQ(shown, 1) << "ShowAbout returns once the form was closed";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    test::whenModal<AboutDialog>(closeAndCheck);
    widget.control().ShowAbout();
    EXPECT_EQ(shown, 2);
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<AboutDialog*>(window), nullptr) << "the form was released";
}

}  // namespace
}  // namespace korvel::qt
