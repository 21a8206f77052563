// The control's widget: its fixed logo size, the control's events as Qt signals (a payment
// against the simulator on a pseudo-terminal through the Qt loop, and an authorisation in
// virtual time), and the property page it opens on its own control.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <QPushButton>
#include "Modal.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/sim/SimPlatform.h"
#include "qt/KorvelComToolsWidget.h"
#include "qt/PosPropertyDialog.h"
#include "qt/QtPlatform.h"
#include "sim/ExtendedResponder.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"
#include "sim/TerminalPort.h"

namespace korvel::qt {
namespace {

QSize logoSize() {
    return QSize(KorvelComTools::LogoSize().width, KorvelComTools::LogoSize().height);
}

TEST(Widget, KeepsItsLogoSizeWhateverTheHostAsks) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* widget = new KorvelComToolsWidget(&window);
    layout->addWidget(widget);
    layout->addWidget(new QLineEdit(&window), 1);
    window.resize(640, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(widget->size(), logoSize());
    EXPECT_EQ(widget->sizeHint(), logoSize());

    widget->resize(300, 200);
    EXPECT_EQ(widget->size(), logoSize());
    // A host that lifts the fixed size and stretches the control gets the logo size back.
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    widget->resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(widget->size(), logoSize());
    EXPECT_EQ(widget->control().Size().width, logoSize().width());
    EXPECT_EQ(widget->control().Size().height, logoSize().height());

    // The logo is drawn: the widget's face is not blank.
    const QImage face = widget->grab().toImage();
    EXPECT_EQ(face.size(), logoSize());
    const QColor centre = face.pixelColor(face.width() / 2, face.height() / 2);
    EXPECT_NE(centre, window.palette().color(QPalette::Window));
}

TEST(Widget, PaymentOnAPseudoTerminalRaisesReceivedEvent) {
    QtPlatform& platform = QtPlatform::shared();
    KorvelComToolsWidget widget;
    sim::PtyPort pty(platform.loop());
    sim::TerminalOptions options;
    options.processingDelayMs = 50;
    sim::Terminal terminal(platform.loop(), pty, options);
    terminal.setResponder(sim::paymentReply);
    KorvelComTools& control = widget.control();
    PortMap::set(control.CommPort(), pty.slavePath());

    QSignalSpy received(&widget, &KorvelComToolsWidget::ReceivedEvent);
    int errors = 0;
    QObject::connect(&widget, &KorvelComToolsWidget::ErrorEvent, &widget,
                     [&](QString&) { ++errors; });
    control.setPOSAmount("00001500");
    const std::string reply = control.POSMessage();
    PortMap::set(control.CommPort(), "");
    ASSERT_FALSE(reply.empty()) << control.ReceiveError();
    EXPECT_EQ(control.EFTposStat(), "0");
    EXPECT_EQ(control.EFTposAmount(), "00001500");
    EXPECT_EQ(received.count(), 1);
    EXPECT_EQ(errors, 0);
    ASSERT_EQ(terminal.received().size(), 1u);
    EXPECT_EQ(terminal.received()[0].substr(2, 8), "00001500");

    // A message the terminal sends on its own is taken in while the application sits in Qt's
    // own event loop, with no wait of the control running.  (After a payment the control
    // leaves the announcement to its next exchange.)
    terminal.send("HELLO");
    EXPECT_TRUE(QTest::qWaitFor([&] { return control.ReceiveMessage() == "HELLO"; }, 5000));
    EXPECT_EQ(terminal.sent().size(), 2u);
    control.CommClose();
}

TEST(Widget, ErrorEventReceiverMayRewriteTheTag) {
    SimPlatform platform;
    KorvelComToolsWidget widget(platform);
    QStringList tags;
    QObject::connect(&widget, &KorvelComToolsWidget::ErrorEvent, &widget, [&](QString& tag) {
        tags << tag;
        tag = "handled by the host";
    });
    widget.control().setPOSAmount("1500");
    ASSERT_EQ(tags.size(), 1);
    EXPECT_TRUE(tags[0].startsWith("errorPOSAmount")) << tags[0].toStdString();
    EXPECT_EQ(widget.control().ReceiveError(), "handled by the host");

    // A receiver that leaves the tag alone leaves it byte for byte.
    QObject::disconnect(&widget, &KorvelComToolsWidget::ErrorEvent, nullptr, nullptr);
    int errors = 0;
    QObject::connect(&widget, &KorvelComToolsWidget::ErrorEvent, &widget,
                     [&](QString&) { ++errors; });
    widget.control().setPOSNumber("X");
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(widget.control().ReceiveError().rfind("errorPOSNumber", 0) == 0);
}

TEST(Widget, AuthorisationRaisesAbortEnabledThenReceivedInVirtualTime) {
    SimPlatform platform;
    KorvelComToolsWidget widget(platform);
    sim::SimLinePort port(platform.simLoop(), platform.terminal());
    sim::Terminal terminal(platform.simLoop(), port);
    sim::ExtendedOptions extended;
    extended.finalDelayMs = 3000;
    sim::ExtendedResponder responder(platform.simLoop(), terminal, extended);
    terminal.setResponder(responder.responder());

    KorvelComTools& control = widget.control();
    std::vector<std::string> order;
    QObject::connect(&widget, &KorvelComToolsWidget::AbortEnabledEvent, &widget,
                     [&] { order.push_back("AbortEnabledEvent"); });
    QObject::connect(&widget, &KorvelComToolsWidget::ReceivedEvent, &widget,
                     [&] { order.push_back("ReceivedEvent"); });
    control.setPOSAutoCardReader("1");
    ASSERT_FALSE(control.POSAutoReadingCard("2").empty()) << control.ReceiveError();
    order.clear();
    const std::string reply = control.POSAutoAuthorization("000000004200", "978", "4", "");
    ASSERT_FALSE(reply.empty()) << control.ReceiveError();
    EXPECT_EQ(order, (std::vector<std::string>{"AbortEnabledEvent", "ReceivedEvent"}));
    EXPECT_EQ(control.POSAutoStatus(), "00");
}

TEST(Widget, ShowPropertiesOpensThePageOnItsOwnControl) {
    SimPlatform platform;
    KorvelComToolsWidget widget(platform);
    widget.control().setTOwaitChar(650);
    test::whenModal<PosPropertyDialog>([](PosPropertyDialog* page) {
        auto* box = qobject_cast<QLineEdit*>(page->fieldWidget(ui::PosField::txtTOwaitChar));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "650");
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, "700");
        QTest::mouseClick(page->okButton(), Qt::LeftButton);
    });
    EXPECT_EQ(widget.showProperties(), QDialog::Accepted);
    EXPECT_EQ(widget.control().TOwaitChar(), 700);
}

}  // namespace
}  // namespace korvel::qt
