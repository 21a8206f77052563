// The control's widget: its logo, its events as Qt signals, the property page and about box it
// opens; and the cash-register example, paying over a pseudo-terminal, as a process.
#include "Rig.h"
#include "qt/AboutDialog.h"
#include "qt/KorvelComToolsWidget.h"
#include "qt/PosPropertyDialog.h"
#include "sim/ExtendedResponder.h"
#include "support/Process.h"
#include "support/World.h"

namespace korvel::qt {
namespace {

TEST(Widget, KeepsItsLogoSizeWhateverTheHostAsks) {
    const QSize logo(KorvelComTools::LogoSize().width, KorvelComTools::LogoSize().height);
    KorvelComToolsWidget widget;
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    // A host that lifts the fixed size and stretches the control gets the logo size back.
    widget.setMinimumSize(0, 0);
    widget.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    widget.resize(300, 200);
    EXPECT_EQ(widget.size(), logo);
    // The logo is drawn: the centre of the face is not the window's background.
    EXPECT_NE(widget.grab().toImage().pixelColor(logo.width() / 2, logo.height() / 2),
              widget.palette().color(QPalette::Window));
    test::snapshot(widget, "control.png");
}

TEST(Widget, ReemitsTheControlsEventsAsSignals) {
    test::World w;
    KorvelComToolsWidget widget(w.p);
    KorvelComTools& control = widget.control();
    QStringList seen;
    QObject::connect(&widget, &KorvelComToolsWidget::ErrorEvent, [&](QString& tag) {
        seen << tag.left(14);
        tag = "handled by the host";
    });
    control.setPOSAmount("1500");
    EXPECT_EQ(control.ReceiveError(), "handled by the host") << "a receiver may rewrite the tag";

    sim::ExtendedResponder responder(w.p.simLoop(), w.simulate());
    w.terminal->setResponder(responder.responder());
    QObject::connect(&widget, &KorvelComToolsWidget::AbortEnabledEvent, [&] { seen << "abort"; });
    QObject::connect(&widget, &KorvelComToolsWidget::ReceivedEvent, [&] { seen << "received"; });
    control.setPOSAutoCardReader("1");
    EXPECT_NE(control.POSAutoReadingCard("2"), "");
    EXPECT_NE(control.POSAutoAuthorization("000000004200", "978", "4", ""), "");
    EXPECT_EQ(seen.join(' '), "errorPOSAmount received abort received");
}

TEST(Widget, OpensThePropertyPageAndAFreshAboutBoxOnItsControl) {
    KorvelComToolsWidget widget;
    widget.control().setTOwaitChar(650);
    test::whenModal<PosPropertyDialog>([](PosPropertyDialog* page) {
        auto* box = qobject_cast<QLineEdit*>(page->fieldWidget(ui::PosField::txtTOwaitChar));
        EXPECT_EQ(box->text(), "650");
        QTest::keyClicks(box, "7");
        QTest::mouseClick(page->okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(widget.showProperties(), QDialog::Accepted);
    EXPECT_EQ(widget.control().TOwaitChar(), 6507);

    // Every ShowAbout shows a new form and returns once it is closed.
    int shown = 0;
    for (int i = 1; i <= 2; ++i) {
        test::whenModal<AboutDialog>([&shown](AboutDialog* about) {
            ++shown;
            EXPECT_EQ(about->label("lblTitle")->text(), "KorvelComTools") << "an earlier form";
            about->label("lblTitle")->setText("changed");
            QTest::mouseClick(about->label("Label2"), Qt::LeftButton);
        });
        widget.control().ShowAbout();
        EXPECT_EQ(shown, i) << "ShowAbout returns once the form is closed";
    }
}

TEST(Example, DemoPaysOnceAndExitsWithTheOutcome) {
    const std::tuple<std::string, int, const char*> rows[] = {
        {"00001500", 0, "(?s)ReceivedEvent.*EFTposStat 0  EFTposAmount 00001500.*payment approved"},
        {"00002599", 1, "payment refused by the card issuer"}};
    for (const auto& [amount, status, says] : rows) {
        SCOPED_TRACE(amount);
        const test::RunResult r = test::run(
            {KORVEL_QT_POS_PATH, "--demo", "--auto-pay", "--think", "100", "--amount", amount});
        EXPECT_EQ(r.status, status) << r.out << r.err;
        EXPECT_TRUE(QString::fromStdString(r.out).contains(QRegularExpression(says))) << r.out;
    }
}

}  // namespace
}  // namespace korvel::qt
