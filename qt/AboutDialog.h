// The control's about box, `frmAbout`, as a Qt dialog built from a freshly loaded about-box
// model: the texts the model set at load, placed and styled as its layout says (twips shown at
// 15 twips per pixel), the etched separator, our logo, and the two clickable labels: "Help"
// (which acts as F1 on the form) and "Exit".
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

#include "korvelcom/ui/AboutBox.h"

class QLabel;

namespace korvel::qt {

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    /// Twips per pixel of the form's layout.
    static constexpr int kTwipsPerPixel = 15;

    /// Builds the form from `box` (copied; the dialog does not keep a reference).  Modal,
    /// with no owner unless `parent` is given; its object name is "frmAbout".
    explicit AboutDialog(const ui::AboutBox& box, QWidget* parent = nullptr);
    ~AboutDialog() override;

    /// The model the form was built from.
    const ui::AboutBox& box() const { return box_; }
    /// The label of the form's control `name` ("lblTitle", ..., "Label1", "Label2", "Image1"),
    /// or nullptr.
    QLabel* label(const char* name) const;

    /// Replaces how the help file is opened (default: `QDesktopServices::openUrl`); the
    /// opener receives the file's URL and returns whether it opened.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { opener_ = std::move(opener); }

  protected:
    /// F1 opens the help file when it exists; the form stays open either way.
    void keyPressEvent(QKeyEvent* event) override;
    /// The separator: a gray and a white line, etched across the form.
    void paintEvent(QPaintEvent* event) override;
    /// Clicks on "Help" and "Exit".
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void openHelp();

    ui::AboutBox box_;
    std::function<bool(const QUrl&)> opener_;
    QLabel* help_ = nullptr;
    QLabel* exit_ = nullptr;
};

}  // namespace korvel::qt
