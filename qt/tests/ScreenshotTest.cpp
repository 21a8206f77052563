// Pictures of the property page and the about box, written into the build folder's
// screenshots/ for people to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTest>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "qt/AboutDialog.h"
#include "qt/KorvelComToolsWidget.h"
#include "qt/PosPropertyDialog.h"

namespace korvel::qt {
namespace {

/// Shows `window`, saves its picture as `name` and checks the file reads back whole.
void snapshot(QWidget& window, const QString& name) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QDir dir(KORVEL_SCREENSHOT_DIR);
    ASSERT_TRUE(dir.mkpath("."));
    const QString path = dir.filePath(name);
    const QPixmap picture = window.grab();
    ASSERT_TRUE(picture.save(path)) << path.toStdString();
    const QImage saved(path);
    EXPECT_EQ(saved.size(), window.size());
    ::testing::Test::RecordProperty(name.toStdString(), path.toStdString());
}

TEST(Screenshot, PropertyPageAboutBoxAndControl) {
    SimPlatform platform;
    KorvelComTools control(platform);
    control.setPOSDev("756");
    PosPropertyDialog page({&control});
    snapshot(page, "pos_page.png");

    AboutDialog about(ui::AboutBox(KorvelComTools::componentInfo(), "/usr/lib"));
    snapshot(about, "about_box.png");
    EXPECT_EQ(about.size(), QSize(637, 297));

    KorvelComToolsWidget widget(platform);
    snapshot(widget, "control.png");
}

}  // namespace
}  // namespace korvel::qt
