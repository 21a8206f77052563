#include "qt/AboutDialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <exception>

#include "qt/Logo.h"

namespace korvel::qt {
namespace {

/// The form's margin beyond its right- and bottom-most control, in pixels.
constexpr int kMargin = 8;
/// The smallest size a text is shrunk to so that it fits its room.
constexpr double kSmallestPointSize = 6.0;

int px(int twips) {
    return (twips + AboutDialog::kTwipsPerPixel / 2) / AboutDialog::kTwipsPerPixel;
}

QColor colour(uint32_t rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

/// The form's font families followed by look-alikes a Linux desktop usually has, nearest in
/// width first, so the texts keep to the room the layout gives them.
QStringList familiesFor(const char* family) {
    const QString name = QString::fromUtf8(family);
    if (name == "Arial")
        return {name, "Liberation Sans", "Arimo", "Helvetica", "DejaVu Sans Condensed"};
    if (name == "Verdana") return {name, "DejaVu Sans"};
    if (name == "MS Sans Serif")
        return {name, "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"};
    return {name};
}

bool isLine(const ui::AboutControlLayout& row) {
    return std::strncmp(row.name, "Line", 4) == 0;
}

bool isImage(const ui::AboutControlLayout& row) {
    return std::strncmp(row.name, "Image", 5) == 0;
}

/// What a label of the form shows once loaded.
QString textOf(const ui::AboutBox& box, const ui::AboutControlLayout& row) {
    const std::string name = row.name;
    if (name == "lblTitle") return QString::fromStdString(box.title());
    if (name == "lblVersion") return QString::fromStdString(box.versionLine());
    if (name == "lblDescription") return QString::fromUtf8(ui::AboutBox::description());
    // The paragraphs are separated by carriage return and line feed; a label breaks lines at
    // the line feed alone.
    if (name == "lblDisclaimer") return QString::fromUtf8(ui::AboutBox::disclaimer()).remove('\r');
    if (name == "Label3") return QString::fromUtf8(ui::AboutBox::webAddress());
    if (name == "Label1") return QString::fromUtf8(ui::AboutBox::helpLabel());
    if (name == "Label2") return QString::fromUtf8(ui::AboutBox::exitLabel());
    return QString::fromUtf8(row.text);
}

}  // namespace

AboutDialog::AboutDialog(const ui::AboutBox& box, QWidget* parent)
    : QDialog(parent),
      box_(box),
      opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setObjectName("frmAbout");
    setModal(true);
    setWindowTitle(QString::fromStdString(box_.caption()));
    build();
}

AboutDialog::~AboutDialog() = default;

QLabel* AboutDialog::label(const char* name) const {
    return findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
}

void AboutDialog::build() {
    int right = 0, bottom = 0;
    for (const ui::AboutControlLayout& row : ui::AboutBox::layout()) {
        if (isLine(row)) {
            right = std::max(right, px(row.left + row.width));
            continue;
        }
        auto* label = new QLabel(this);
        label->setObjectName(row.name);
        if (isImage(row)) {
            // The image's size is in pixels.
            const QSize size(row.width, row.height);
            label->setPixmap(aboutLogo(size));
            label->setGeometry(px(row.left), px(row.top), size.width(), size.height());
        } else {
            label->setText(textOf(box_, row));
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            QFont font;
            font.setFamilies(familiesFor(row.fontFamily));
            font.setPointSizeF(row.pointSize);
            font.setBold(row.bold);
            label->setFont(font);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, colour(row.rgb));
            label->setPalette(palette);
            label->setGeometry(px(row.left), px(row.top), px(row.width), px(row.height));
            // On a desktop with neither the form's fonts nor their look-alikes, a text that
            // would overflow its room is set a little smaller until it fits.
            while (label->heightForWidth(label->width()) > label->height() &&
                   font.pointSizeF() > kSmallestPointSize) {
                font.setPointSizeF(font.pointSizeF() - 0.25);
                label->setFont(font);
            }
        }
        right = std::max(right, label->geometry().right() + 1);
        bottom = std::max(bottom, label->geometry().bottom() + 1);
    }
    help_ = label("Label1");
    exit_ = label("Label2");
    for (QLabel* clickable : {help_, exit_}) {
        if (!clickable) continue;
        clickable->setCursor(Qt::PointingHandCursor);
        clickable->installEventFilter(this);
    }
    setFixedSize(right + kMargin, bottom + kMargin);
}

void AboutDialog::openHelp() {
    // Runs from Qt's event handlers: nothing may be thrown into its loop.
    try {
        if (const auto file = box_.helpToOpen()) {
            if (opener_) opener_(QUrl::fromLocalFile(QString::fromStdString(*file)));
        }
    } catch (const std::exception& e) {
        qWarning("the help file could not be opened: %s", e.what());
    } catch (...) {
        qWarning("the help file could not be opened");
    }
}

void AboutDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        openHelp();
        event->accept();
        return;
    }
    // The form closes through "Exit" or the window's own close button, not by Escape.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == help_ || watched == exit_) && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* target = static_cast<QWidget*>(watched);
        // A click is a press and release of the left button over the label.
        if (mouse->button() == Qt::LeftButton &&
            target->rect().contains(mouse->position().toPoint())) {
            if (watched == help_) {
                // Help sends F1 to the form, as the key itself would.
                QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
                QCoreApplication::sendEvent(this, &press);
                QKeyEvent release(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
                QCoreApplication::sendEvent(this, &release);
            } else {
                reject();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    for (const ui::AboutControlLayout& row : ui::AboutBox::layout()) {
        if (!isLine(row)) continue;
        painter.setPen(QPen(colour(row.rgb), 1));
        const int y = px(row.top);
        painter.drawLine(px(row.left), y, px(row.left + row.width) - 1, y + px(row.height));
    }
}

}  // namespace korvel::qt
