// The control on a Qt window: a widget that owns a `KorvelComTools`, shows its logo at the
// logo's own size, re-emits the control's events as Qt signals, shows the about box when the
// control's `ShowAbout` is called, and opens the "POS" property page on the control.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>

#include "korvelcom/KorvelComTools.h"

namespace korvel::qt {

class KorvelComToolsWidget : public QWidget {
    Q_OBJECT

  public:
    /// A control on the application's shared Qt platform (`QtPlatform::shared()`).
    explicit KorvelComToolsWidget(QWidget* parent = nullptr);
    /// A control on `platform` (a test's virtual-time platform, say), which must outlive the
    /// widget.
    explicit KorvelComToolsWidget(Platform& platform, QWidget* parent = nullptr);
    /// Destroys the control (which closes its port).
    ~KorvelComToolsWidget() override;

    /// The control itself: properties, methods, `ShowAbout`.  Its event sink and about-box
    /// presenter belong to this widget; replace them only to take over those duties.
    KorvelComTools& control() { return *control_; }

    /// The logo's size (`KorvelComTools::LogoSize()`), which is the widget's fixed size.
    QSize sizeHint() const override;

  public slots:
    /// Opens the "POS" property page on this control, modally, and returns when it closes
    /// (with `QDialog::Accepted` for OK, `QDialog::Rejected` otherwise).
    int showProperties();

  signals:
    /// A message arrived; read it from `ReceiveMessage` or the reply fields.
    void ReceivedEvent();
    /// A failure occurred.  `errType` is the error tag; a receiver connected directly may
    /// assign to it, which changes the control's `ReceiveError`, as the control's event does.
    void ErrorEvent(QString& errType);
    /// An authorisation sent its intermediate reply; the host may now abort the second wait.
    void AbortEnabledEvent();

  protected:
    void paintEvent(QPaintEvent* event) override;
    /// The host resized the control: it takes the size of its logo again.
    void resizeEvent(QResizeEvent* event) override;

  private:
    class Sink;
    void init();

    std::unique_ptr<KorvelComTools> control_;
    std::unique_ptr<Sink> sink_;
    QPixmap logo_;
};

}  // namespace korvel::qt
