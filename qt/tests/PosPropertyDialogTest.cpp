// The "POS" property page dialog, driven as a developer drives it: keys typed into its boxes,
// items chosen from its lists' pop-ups, clicks and double-clicks, and its Apply, OK and Cancel
// buttons.  The controls run on the simulated platform (no device is touched).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <stdexcept>
#include <string>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "qt/PosPropertyDialog.h"

namespace korvel::qt {
namespace {

using ui::PosField;

class PosDialog : public ::testing::Test {
  protected:
    SimPlatform platform;
    KorvelComTools control{platform};
    std::unique_ptr<PosPropertyDialog> dialog;
    QStringList faults;

    void open(std::vector<KorvelComTools*> selection) {
        dialog = std::make_unique<PosPropertyDialog>(std::move(selection));
        dialog->setFaultHandler([this](const QString& message) { faults << message; });
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void SetUp() override { open({&control}); }

    QLineEdit* edit(PosField field) {
        auto* widget = qobject_cast<QLineEdit*>(dialog->fieldWidget(field));
        EXPECT_NE(widget, nullptr);
        return widget;
    }
    QComboBox* list(PosField field) {
        auto* widget = qobject_cast<QComboBox*>(dialog->fieldWidget(field));
        EXPECT_NE(widget, nullptr);
        return widget;
    }
    QCheckBox* check(PosField field) {
        auto* widget = qobject_cast<QCheckBox*>(dialog->fieldWidget(field));
        EXPECT_NE(widget, nullptr);
        return widget;
    }
    /// Selects the whole text with the keyboard and types `text` over it.
    void retype(PosField field, const QString& text) {
        QLineEdit* box = edit(field);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    /// Opens the list's pop-up with a click and clicks the item at `index`.
    void choose(PosField field, int index) {
        QComboBox* box = list(field);
        QTest::mouseClick(box, Qt::LeftButton);
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }, 2000));
        // The pop-up ignores a release that follows its opening click too closely.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect item = view->visualRect(view->model()->index(index, 0));
        const QPoint at(view->viewport()->width() / 2, item.center().y());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, 2000));
    }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void apply() {
        ASSERT_TRUE(dialog->applyButton()->isEnabled()) << "nothing to apply";
        click(dialog->applyButton());
    }
};

TEST_F(PosDialog, DrawsTheLayoutTable) {
    // A page with nothing selected shows the table's own initial texts.
    open({});
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(ui::kPosPageCaption));
    auto* header = dialog->findChild<QLabel*>("header");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->text(), QString::fromUtf8(ui::kPosPageHeader));

    for (const ui::PosFieldLayout& row : ui::posPageLayout()) {
        SCOPED_TRACE(row.name);
        QWidget* widget = dialog->fieldWidget(row.field);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), row.name);
        EXPECT_EQ(widget->toolTip(), QString::fromUtf8(row.tooltip));
        // Each field sits in the group box of its frame.
        auto* frame = qobject_cast<QGroupBox*>(widget->parentWidget());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->title(), QString::fromUtf8(row.frame));
        QLabel* label = dialog->fieldLabel(row.field);
        if (*row.label) {
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), QString::fromUtf8(row.label));
            EXPECT_EQ(label->toolTip(), QString::fromUtf8(row.labelTooltip));
            EXPECT_EQ(label->buddy(), widget);
        } else {
            EXPECT_EQ(label, nullptr);
        }
        switch (row.kind) {
            case ui::FieldKind::TextBox:
                EXPECT_EQ(edit(row.field)->text(), QString::fromUtf8(row.initialText));
                EXPECT_EQ(edit(row.field)->maxLength(), row.maxLength > 0 ? row.maxLength : 32767);
                break;
            case ui::FieldKind::CheckBox:
                EXPECT_EQ(check(row.field)->text(), QString::fromUtf8(row.caption));
                EXPECT_FALSE(check(row.field)->isChecked());
                break;
            case ui::FieldKind::FixedList: {
                QComboBox* box = list(row.field);
                EXPECT_FALSE(box->isEditable());
                ASSERT_EQ(box->count(), static_cast<int>(row.items.size()));
                for (int i = 0; i < box->count(); ++i)
                    EXPECT_EQ(box->itemText(i), QString::fromUtf8(row.items[i]));
                EXPECT_EQ(box->currentIndex(), -1);
                break;
            }
        }
    }
    // The two inner frames sit inside "POS high level protocol".
    for (const char* inner : {ui::kFrameFields, ui::kFramePosDevise}) {
        auto* box = dialog->findChild<QGroupBox*>(QString::fromUtf8(inner));
        ASSERT_NE(box, nullptr) << inner;
        auto* outer = qobject_cast<QGroupBox*>(box->parentWidget());
        ASSERT_NE(outer, nullptr);
        EXPECT_EQ(outer->title(), QString::fromUtf8(ui::kFramePosHigh));
    }
    EXPECT_FALSE(dialog->applyButton()->isEnabled());
}

TEST_F(PosDialog, LoadsTheFirstSelectedControlOnly) {
    KorvelComTools other{platform};
    control.setTOwaitChar(750);
    control.setCommSettings("19200,n,8,1");
    control.setEscapeKeyEnabled(false);
    control.setCommPort(3);
    control.setPOSDev("756");
    control.setPOSMode("1");
    control.setPOSType("?");
    other.setTOwaitChar(999);
    open({&control, &other});

    EXPECT_EQ(edit(PosField::txtTOwaitChar)->text(), "750");
    EXPECT_EQ(edit(PosField::txtCommSettings)->text(), "19200,n,8,1");
    EXPECT_FALSE(check(PosField::chkEnableEscapeKey)->isChecked());
    EXPECT_EQ(list(PosField::txtCommPort)->currentText(), "Com3");
    EXPECT_EQ(list(PosField::txtPOSDev)->currentText(), "Autre");
    EXPECT_EQ(edit(PosField::txtPOSDevSpec)->text(), "756");
    EXPECT_TRUE(edit(PosField::txtPOSDevSpec)->isEnabled());
    EXPECT_EQ(list(PosField::TxtPosMode)->currentText(), QString::fromUtf8("Autre (carte)"));
    EXPECT_EQ(list(PosField::txtPOSType)->currentText(), "Autre");
    EXPECT_FALSE(dialog->applyButton()->isEnabled()) << "loading clears the changed mark";

    retype(PosField::txtTOwaitChar, "800");
    apply();
    EXPECT_EQ(control.TOwaitChar(), 800);
    EXPECT_EQ(other.TOwaitChar(), 999) << "the second selected control is not written";
    EXPECT_EQ(control.POSDev(), "756");
    EXPECT_EQ(control.POSMode(), "1");
    EXPECT_EQ(control.POSType(), "?");
}

TEST_F(PosDialog, AmountTakesEffectOnlyWithEightDigits) {
    const std::string before = control.POSAmount();
    retype(PosField::txtPOSAmount, "1500");
    EXPECT_EQ(edit(PosField::txtPOSAmount)->text(), "1500");
    EXPECT_TRUE(dialog->applyButton()->isEnabled());
    apply();
    EXPECT_EQ(control.POSAmount(), before) << "the control refuses fewer than eight digits";
    EXPECT_NE(control.ReceiveError(), "");
    EXPECT_FALSE(dialog->applyButton()->isEnabled()) << "the page goes on and clears its mark";
    EXPECT_TRUE(faults.isEmpty()) << "a refused value is not a fault";

    retype(PosField::txtPOSAmount, "00001500");
    apply();
    EXPECT_EQ(control.POSAmount(), "00001500");

    // The box takes no more than its eight characters.
    QTest::keyClick(edit(PosField::txtPOSAmount), Qt::Key_End);
    QTest::keyClicks(edit(PosField::txtPOSAmount), "7");
    EXPECT_EQ(edit(PosField::txtPOSAmount)->text(), "00001500");
}

TEST_F(PosDialog, KeyFilterDiscardsLettersInNumberBoxes) {
    QLineEdit* box = edit(PosField::txtTOwaitChar);
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, "a");
    EXPECT_EQ(box->text(), "600");
    EXPECT_EQ(dialog->beepCount(), 1);
    EXPECT_FALSE(dialog->applyButton()->isEnabled()) << "a refused key changes nothing";

    QTest::keyClicks(box, "5x");
    EXPECT_EQ(box->text(), "6005");
    EXPECT_EQ(dialog->beepCount(), 2);
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "600");
    // Moving and selecting are no typed characters: no beep.
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(box->selectedText(), "6");
    EXPECT_EQ(dialog->beepCount(), 2);

    // A paste types the clipboard: refused as a whole when a character does not pass.
    QGuiApplication::clipboard()->setText("12ab");
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box->text(), "600");
    EXPECT_EQ(dialog->beepCount(), 3);
    QGuiApplication::clipboard()->setText("5");
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box->text(), "6005");

    // A character typed with modifiers held (AltGr arrives as Ctrl+Alt) is still filtered.
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, "@", Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(box->text(), "6005");
    EXPECT_EQ(dialog->beepCount(), 4);
    // The selection paste of the middle button types nothing into a number box.
    QTest::mouseClick(box, Qt::MiddleButton);
    EXPECT_EQ(box->text(), "6005");

    // The register number has no key filter: letters go in, and the control refuses them.
    QTest::keyClick(edit(PosField::txtPOSNumber), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit(PosField::txtPOSNumber), "AB");
    EXPECT_EQ(edit(PosField::txtPOSNumber)->text(), "AB");
    EXPECT_EQ(dialog->beepCount(), 4);
    const std::string number = control.POSNumber();
    apply();
    EXPECT_EQ(control.POSNumber(), number);
    EXPECT_EQ(control.TOwaitChar(), 6005);
}

TEST_F(PosDialog, ClearedNumberBoxAppliesZero) {
    QLineEdit* box = edit(PosField::txtTOwaitReply);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "");
    apply();
    EXPECT_EQ(control.TOwaitReply(), 0);
}

TEST_F(PosDialog, DoubleClickRestoresTheLineSettings) {
    retype(PosField::txtCommSettings, "19200,n,8,1");
    apply();
    ASSERT_EQ(control.CommSettings(), "19200,n,8,1");
    EXPECT_FALSE(dialog->applyButton()->isEnabled());

    QTest::mouseDClick(edit(PosField::txtCommSettings), Qt::LeftButton);
    EXPECT_EQ(edit(PosField::txtCommSettings)->text(), "9600,e,7,1");
    EXPECT_TRUE(dialog->applyButton()->isEnabled());
    // Double-clicking another box does nothing to it.
    QTest::mouseDClick(edit(PosField::txtTOwaitChar), Qt::LeftButton);
    EXPECT_EQ(edit(PosField::txtTOwaitChar)->text(), "600");
    apply();
    EXPECT_EQ(control.CommSettings(), "9600,e,7,1");
}

TEST_F(PosDialog, OtherCurrencyTakesTheTypedCodeAndEuroIgnoresIt) {
    choose(PosField::txtPOSDev, 2);  // "Autre"
    EXPECT_EQ(list(PosField::txtPOSDev)->currentText(), "Autre");
    ASSERT_TRUE(edit(PosField::txtPOSDevSpec)->isEnabled());
    EXPECT_TRUE(dialog->applyButton()->isEnabled());
    retype(PosField::txtPOSDevSpec, "756");
    apply();
    EXPECT_EQ(control.POSDev(), "756");

    choose(PosField::txtPOSDev, 1);  // "Euro"
    EXPECT_FALSE(edit(PosField::txtPOSDevSpec)->isEnabled());
    EXPECT_EQ(edit(PosField::txtPOSDevSpec)->text(), "756");
    apply();
    EXPECT_EQ(control.POSDev(), "978");
}

TEST_F(PosDialog, ListsAndCheckBoxesWriteTheirMappedValues) {
    choose(PosField::TxtPosMode, 1);   // "Chèque"
    choose(PosField::txtPOSType, 1);   // "Remboursement"
    choose(PosField::txtCommPort, 4);  // "Com5"
    const bool rep = control.POSRep() == "1";
    const bool escape = control.EscapeKeyEnabled();
    click(check(PosField::chkPOSRep));
    click(check(PosField::chkEnableEscapeKey));
    apply();
    EXPECT_EQ(control.POSMode(), "C");
    EXPECT_EQ(control.POSType(), "1");
    EXPECT_EQ(control.CommPort(), 5);
    EXPECT_EQ(control.POSRep(), rep ? "0" : "1");
    EXPECT_EQ(control.EscapeKeyEnabled(), !escape);
}

TEST_F(PosDialog, OkAppliesAndClosesCancelClosesWithoutApplying) {
    retype(PosField::txtTOwaitRetry, "1500");
    click(dialog->cancelButton());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(control.TOwaitRetry(), 1200);

    // OK without edits writes nothing: no property is put again.
    int puts = 0;
    control.setPropertyChangedHandler([&](const std::string&) { ++puts; });
    open({&control});
    click(dialog->okButton());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(puts, 0);

    open({&control});
    retype(PosField::txtTOwaitRetry, "1500");
    click(dialog->okButton());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(control.TOwaitRetry(), 1500);
}

TEST_F(PosDialog, AFaultWhileApplyingIsShownAndNeverThrown) {
    // A host whose error handler throws: the fault ends the apply at the amount.
    struct ThrowingSink : KorvelComToolsEvents {
        void ErrorEvent(std::string&) override { throw std::runtime_error("host handler failed"); }
    } sink;
    control.setEventSink(&sink);
    retype(PosField::txtPOSAmount, "1500");
    retype(PosField::txtTOwaitChar, "700");
    EXPECT_NO_THROW(click(dialog->applyButton()));
    ASSERT_EQ(faults.size(), 1);
    EXPECT_TRUE(faults[0].contains("host handler failed")) << faults[0].toStdString();
    EXPECT_EQ(control.TOwaitChar(), 600) << "later steps are not carried out";
    EXPECT_TRUE(dialog->applyButton()->isEnabled()) << "the edits stay unapplied";

    // OK with a failing apply leaves the page open.
    EXPECT_NO_THROW(click(dialog->okButton()));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(faults.size(), 2);
    control.setEventSink(nullptr);
}

}  // namespace
}  // namespace korvel::qt
