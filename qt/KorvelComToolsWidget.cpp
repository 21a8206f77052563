#include "qt/KorvelComToolsWidget.h"

#include <QPainter>
#include <QResizeEvent>

#include "qt/AboutDialog.h"
#include "qt/Logo.h"
#include "qt/PosPropertyDialog.h"
#include "qt/QtPlatform.h"

namespace korvel::qt {
namespace {

QSize logoSize() {
    const Extent logo = KorvelComTools::LogoSize();
    return QSize(logo.width, logo.height);
}

}  // namespace

/// Hands the control's events to the widget's signals, synchronously.
class KorvelComToolsWidget::Sink : public KorvelComToolsEvents {
  public:
    explicit Sink(KorvelComToolsWidget& widget) : widget_(widget) {}
    void ReceivedEvent() override { emit widget_.ReceivedEvent(); }
    void ErrorEvent(std::string& errType) override {
        QString text = QString::fromStdString(errType);
        const QString before = text;
        emit widget_.ErrorEvent(text);
        // Only a receiver's assignment is written back, so a tag's bytes survive untouched.
        if (text != before) errType = text.toStdString();
    }
    void AbortEnabledEvent() override { emit widget_.AbortEnabledEvent(); }

  private:
    KorvelComToolsWidget& widget_;
};

KorvelComToolsWidget::KorvelComToolsWidget(QWidget* parent)
    : KorvelComToolsWidget(QtPlatform::shared(), parent) {}

KorvelComToolsWidget::KorvelComToolsWidget(Platform& platform, QWidget* parent)
    : QWidget(parent),
      control_(std::make_unique<KorvelComTools>(platform)),
      sink_(std::make_unique<Sink>(*this)) {
    init();
}

KorvelComToolsWidget::~KorvelComToolsWidget() {
    // The control goes first: its port may still deliver events while it closes.
    control_->setEventSink(nullptr);
    control_.reset();
}

void KorvelComToolsWidget::init() {
    control_->setEventSink(sink_.get());
    // Every showing builds a fresh form from the fresh model the control hands over.
    control_->setAboutPresenter([](const ui::AboutBox& box) {
        AboutDialog dialog(box);
        dialog.exec();
    });
    logo_ = controlLogo(logoSize());
    setFixedSize(logoSize());
    setToolTip(QString::fromStdString("KorvelComTools " + control_->Version()));
}

QSize KorvelComToolsWidget::sizeHint() const {
    return logoSize();
}

int KorvelComToolsWidget::showProperties() {
    PosPropertyDialog dialog({control_.get()}, this);
    return dialog.exec();
}

void KorvelComToolsWidget::paintEvent(QPaintEvent* event) {
    (void)event;
    QPainter painter(this);
    painter.drawPixmap(0, 0, logo_);
}

void KorvelComToolsWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    control_->Resize();
    const Extent size = control_->Size();
    const QSize wanted(size.width, size.height);
    if (this->size() != wanted) setFixedSize(wanted);
}

}  // namespace korvel::qt
