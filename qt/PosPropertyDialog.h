// The "POS" property page as a Qt dialog.  It draws the page's layout table and forwards the
// developer's keys, edits, clicks and double-clicks to the page model; every rule of the page
// (the mappings, the key filter, the changed mark, the currency code box, loading and
// applying) is the model's.  The dialog redraws a field whenever the model says it changed.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <functional>
#include <vector>

#include "korvelcom/ui/PosPropertyPage.h"

class QDialogButtonBox;
class QKeyEvent;
class QLabel;
class QPushButton;

namespace korvel::qt {

class PosPropertyDialog : public QDialog {
    Q_OBJECT

  public:
    /// Builds the page and loads the first control of `selection` into it (the others are
    /// neither read nor written).  A fault while loading is shown to the developer (see
    /// `setFaultHandler`) and the page keeps what it had loaded up to it.
    explicit PosPropertyDialog(std::vector<KorvelComTools*> selection, QWidget* parent = nullptr);
    ~PosPropertyDialog() override;

    /// The host changed the selection: loads its first control.  Returns false after showing
    /// a fault that ended the loading.
    bool setSelection(std::vector<KorvelComTools*> selection);
    /// Writes the fields to the first selected control (the Apply button).  Returns false
    /// after showing a fault that ended the apply; the changed mark then stays set.
    bool apply();

    /// The page model behind the dialog.
    ui::PosPropertyPage& page() { return page_; }
    /// The widget drawing `field`: a `QLineEdit`, `QCheckBox` or `QComboBox` whose object
    /// name is the field's name.
    QWidget* fieldWidget(ui::PosField field) const;
    /// The label beside `field`, or nullptr when the field has none.
    QLabel* fieldLabel(ui::PosField field) const;
    QPushButton* applyButton() const { return apply_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    /// How many refused keys sounded the beep since the dialog was built.
    int beepCount() const { return beeps_; }
    /// Replaces how a fault of loading or applying is shown (default: a warning box).  Faults
    /// never leave the dialog.
    void setFaultHandler(std::function<void(const QString& message)> handler) {
        faultHandler_ = std::move(handler);
    }

  protected:
    /// Key filter and double-clicks of the field widgets.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildWidgets();
    QWidget* makeField(const ui::PosFieldLayout& row);
    void layOut();
    /// Redraws one field from the model.
    void redraw(ui::PosField field);
    /// Runs a host request, showing a fault instead of letting it reach Qt's event loop.
    bool guarded(const char* what, const std::function<void()>& request);
    /// Whether a key press reaches the field: false when the model refuses what it types.
    bool keyPasses(ui::PosField field, const QKeyEvent& key);
    ui::PosField fieldOf(const QObject* widget) const;

    ui::PosPropertyPage page_;
    std::array<QWidget*, ui::kPosFieldCount> fields_{};
    std::array<QLabel*, ui::kPosFieldCount> labels_{};
    QLabel* header_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    int beeps_ = 0;
    std::function<void(const QString&)> faultHandler_;
};

}  // namespace korvel::qt
