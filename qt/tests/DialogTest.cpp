// The "POS" property page and the about box driven by keys and clicks.  The rules are the
// models'; these tests check that the dialogs draw them and forward every key, click and fault.
#include <fstream>

#include "Rig.h"
#include "platform/sim/SimPlatform.h"
#include "qt/AboutDialog.h"
#include "qt/PosPropertyDialog.h"
#include "support/TempDir.h"

namespace korvel::qt {
namespace {

using F = ui::PosField;

const auto click = [](QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); };

struct PosDialog : ::testing::Test {
    SimPlatform platform;
    KorvelComTools control{platform};
    std::unique_ptr<PosPropertyDialog> dialog;
    QStringList faults;

    void SetUp() override { open({&control}); }
    /// A fresh page on `selection`, collecting its faults.
    void open(std::vector<KorvelComTools*> selection) {
        dialog = std::make_unique<PosPropertyDialog>(std::move(selection));
        dialog->setFaultHandler([this](const QString& fault) { faults << fault; });
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    QLineEdit* box(F f) { return qobject_cast<QLineEdit*>(dialog->fieldWidget(f)); }
    /// Types `keys` over a box's whole text (selected with Ctrl+A), or into a list, which
    /// picks the first item they begin.
    void type(F f, const QString& keys) {
        if (box(f)) QTest::keyClick(box(f), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dialog->fieldWidget(f), keys);
    }
    /// How the page shows `fields`, separated by "|": a box's text or a list's chosen item; a
    /// disabled field starts with "~".
    std::string shown(std::initializer_list<F> fields) {
        QStringList out;
        for (F f : fields) {
            QWidget* w = dialog->fieldWidget(f);
            const char* what = w->inherits("QComboBox") ? "currentText" : "text";
            out << (w->isEnabled() ? "" : "~") + w->property(what).toString();
        }
        return out.join('|').toStdString();
    }
};

TEST_F(PosDialog, DrawsTheLayoutAndTheControlsValues) {
    for (const ui::PosFieldLayout& row : ui::posPageLayout()) {
        SCOPED_TRACE(row.name);
        QWidget* w = dialog->fieldWidget(row.field);
        EXPECT_EQ(w->objectName() + "|" + w->toolTip(), row.name + ("|" + QString(row.tooltip)));
        EXPECT_EQ(qobject_cast<QGroupBox*>(w->parentWidget())->title(), row.frame);
        QLabel* label = dialog->fieldLabel(row.field);
        EXPECT_EQ(label ? label->text() : "", row.label);
        EXPECT_EQ(label ? label->buddy() : w, w);
    }

    control.setTOwaitChar(750);
    control.setCommPort(3);
    control.setPOSDev("756");
    open({&control});
    EXPECT_EQ(shown({F::txtTOwaitChar, F::txtCommPort, F::txtPOSDev, F::txtPOSDevSpec}),
              "750|Com3|Autre|756");
    test::snapshot(*dialog, "pos_page.png");
}

TEST_F(PosDialog, NumberBoxesPassOnlyWhatTheirKeyFilterTakes) {
    // After End: "*" selects all first, "^" pastes the rest, "%" types it with AltGr, "~" first
    // clicks the middle button at the start (where its selection paste lands); else typed.
    const std::tuple<F, const char*, const char*, int> rows[] = {
        // field, act, text, beeps
        {F::txtTOwaitChar, "5x", "6005", 1},     {F::txtTOwaitChar, "%@", "600", 1},
        {F::txtTOwaitChar, "*7", "7", 0},        {F::txtTOwaitChar, "^12ab", "600", 1},
        {F::txtTOwaitChar, "^5", "6005", 0},     {F::txtTOwaitChar, "~5", "6005", 0},
        {F::txtPOSAmount, "123", "00000001", 0}, {F::txtPOSNumber, "*AB", "AB", 0},
        {F::txtTOwaitChar, "\b", "60", 0},
    };
    for (const auto& [field, act, text, beeps] : rows) {
        SCOPED_TRACE(act);
        open({&control});
        QLineEdit* edit = box(field);
        const QString before = edit->text(), rest = QString(act).mid(1);
        const char how = QString("*~^%").contains(act[0]) ? act[0] : ' ';
        QTest::keyClick(edit, Qt::Key_End);
        if (how == '*') QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (how == '~') QTest::mouseClick(edit, Qt::MiddleButton, {}, QPoint(3, 5));
        if (how == '^') QGuiApplication::clipboard()->setText(rest);
        if (how == '^') QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        if (how == '%') QTest::keyClicks(edit, rest, Qt::ControlModifier | Qt::AltModifier);
        if (how == '*' || how == '~') QTest::keyClicks(edit, rest);
        if (how == ' ') QTest::keyClicks(edit, act);
        EXPECT_EQ(edit->text(), text);
        EXPECT_EQ(dialog->beepCount(), beeps);
        EXPECT_EQ(dialog->applyButton()->isEnabled(), edit->text() != before);
    }
}

TEST_F(PosDialog, ListsCheckBoxesAndDoubleClicksReachTheControl) {
    type(F::txtPOSDev, "Autre");
    type(F::txtPOSDevSpec, "756");
    type(F::TxtPosMode, "Ch");
    type(F::txtPOSType, "R");
    type(F::txtCommPort, "Com5");
    type(F::txtCommSettings, "19200,n,8,1");
    click(dialog->fieldWidget(F::chkPOSRep));
    click(dialog->fieldWidget(F::chkEnableEscapeKey));
    // A double-click on the line settings restores their default; elsewhere it does nothing.
    QTest::mouseDClick(box(F::txtCommSettings), Qt::LeftButton);
    QTest::mouseDClick(box(F::txtTOwaitChar), Qt::LeftButton);
    EXPECT_EQ(shown({F::txtCommSettings, F::txtTOwaitChar}), "9600,e,7,1|600");
    click(dialog->applyButton());
    EXPECT_EQ(control.POSDev() + "|" + control.POSMode() + "|" + control.POSType() + "|" +
                  control.POSRep() + "|" + std::to_string(control.CommPort()),
              "756|C|1|0|5");
    EXPECT_FALSE(control.EscapeKeyEnabled());
    QTest::keyClick(dialog->fieldWidget(F::txtPOSDev), Qt::Key_Up);
    EXPECT_EQ(shown({F::txtPOSDev, F::txtPOSDevSpec}), "Euro|~756");
}

TEST_F(PosDialog, OkAppliesOnlyUnappliedEditsAndCancelNothing) {
    int puts = 0;
    control.setPropertyChangedHandler([&](const std::string&) { ++puts; });
    for (const std::string how : {"Cancel", "OK untouched", "OK"}) {
        SCOPED_TRACE(how);
        open({&control});
        if (how != "OK untouched") type(F::txtTOwaitRetry, "1500");
        click(how == "Cancel" ? dialog->cancelButton() : dialog->okButton());
        EXPECT_EQ(dialog->result(), how == "Cancel" ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(control.TOwaitRetry(), how == "OK" ? 1500 : 1200);
        EXPECT_EQ(puts > 0, how == "OK") << "no property is put before";
    }
}

TEST_F(PosDialog, FaultsAreShownAndNeverThrown) {
    // A host whose error handler throws: the fault ends the apply at the amount.
    struct ThrowingSink : KorvelComToolsEvents {
        void ErrorEvent(std::string&) override { throw std::runtime_error("host failed"); }
    } sink;
    control.setEventSink(&sink);
    type(F::txtPOSAmount, "1500");
    EXPECT_NO_THROW(click(dialog->okButton()));
    control.setEventSink(nullptr);
    EXPECT_EQ(faults.join('|'), "Applying the properties failed: POSAmount: host failed");
    EXPECT_TRUE(dialog->isVisible()) << "OK with a failing apply leaves the page open";
    EXPECT_TRUE(dialog->applyButton()->isEnabled()) << "the edits stay unapplied";

    // Without a handler of the host's, a fault is shown in a box that does not block.
    PosPropertyDialog page({&control});
    page.page().setFieldObserver([](F) { throw std::runtime_error("field lost"); });
    control.setTOwaitChar(650);
    EXPECT_FALSE(page.setSelection({&control}));
    auto* box = page.findChild<QMessageBox*>();
    ASSERT_TRUE(box && box->isVisible());
    EXPECT_EQ(box->text(), "Loading the properties failed: field lost");
}

TEST(About, ShowsItsTextsAndOnlyExitClosesIt) {
    const auto dir = test::ownTempDir("qt");
    std::ofstream(dir / "KorvelComTools.hlp") << "help";
    AboutDialog about(ui::AboutBox(KorvelComTools::componentInfo(), dir.string()));
    QStringList opened;
    // The opener fails: nothing may be thrown into Qt's loop.
    about.setUrlOpener([&](const QUrl& url) -> bool {
        opened << url.fileName();
        throw std::runtime_error("no viewer");
    });
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QStringList texts{about.windowTitle()};
    for (const char* name : {"lblTitle", "lblVersion", "Label1", "Label2"})
        texts << about.label(name)->text();
    EXPECT_EQ(texts.join('|'), "About... KorvelComTools|KorvelComTools|Version 3.0.0 |Help|Exit");
    EXPECT_EQ(about.label("Label3")->text(), ui::AboutBox::webAddress());
    EXPECT_EQ(about.label("lblDescription")->text(), ui::AboutBox::description());
    EXPECT_EQ(about.label("lblDisclaimer")->text(),
              QString(ui::AboutBox::disclaimer()).remove('\r'))
        << "paragraphs broken at line feeds alone";
    EXPECT_EQ(about.size(), QSize(637, 297));
    for (const ui::AboutControlLayout& row : ui::AboutBox::layout()) {
        QLabel* label = about.label(row.name);
        if (!label) continue;  // the separator's lines are drawn
        EXPECT_EQ(label->pos(), QPoint((row.left + 7) / 15, (row.top + 7) / 15)) << row.name;
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << row.name << " fits";
    }
    test::snapshot(about, "about_box.png");

    for (const char* name : {"Label1", "Label3", "lblTitle"})
        EXPECT_NO_THROW(click(about.label(name)));
    EXPECT_NO_THROW(QTest::keyClick(&about, Qt::Key_F1));
    QTest::keyClick(&about, Qt::Key_Escape);
    QTest::mousePress(about.label("Label2"), Qt::LeftButton);
    QTest::mouseRelease(about.label("Label2"), Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_EQ(opened.join('|'), "KorvelComTools.hlp|KorvelComTools.hlp") << "by Help and F1";
    EXPECT_TRUE(about.isVisible()) << "the web address, Escape, a press released off Exit";
    click(about.label("Label2"));
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace korvel::qt
