#include "qt/Logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace korvel::qt {
namespace {

const QColor kBody(0x23, 0x3a, 0x5e);
const QColor kBodyLight(0x3d, 0x5f, 0x91);
const QColor kScreen(0xc8, 0xe6, 0xc9);
const QColor kScreenText(0x1b, 0x5e, 0x20);
const QColor kKey(0xe8, 0xec, 0xf2);
const QColor kCard(0xf2, 0xa9, 0x00);

/// A terminal filling `r`: a card in the slot on top, a body, a screen, a 3 x 4 keypad.
/// `detail` draws the screen's text and the keys' outlines (for large sizes).
void drawTerminal(QPainter& p, const QRectF& r, bool detail) {
    const double w = r.width(), h = r.height();
    // The card standing in the slot.
    const QRectF card(r.left() + w * 0.22, r.top(), w * 0.56, h * 0.22);
    p.setPen(Qt::NoPen);
    p.setBrush(kCard);
    p.drawRoundedRect(card, w * 0.04, w * 0.04);
    p.setBrush(QColor(0x5d, 0x40, 0x37));
    p.drawRect(
        QRectF(card.left(), card.top() + card.height() * 0.3, card.width(), card.height() * 0.18));

    const QRectF body(r.left(), r.top() + h * 0.14, w, h * 0.86);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, kBodyLight);
    shade.setColorAt(1, kBody);
    p.setBrush(shade);
    p.drawRoundedRect(body, w * 0.12, w * 0.12);

    const QRectF screen(body.left() + w * 0.14, body.top() + h * 0.1, w * 0.72, h * 0.22);
    p.setBrush(kScreen);
    p.drawRoundedRect(screen, w * 0.03, w * 0.03);
    if (detail) {
        QFont font("DejaVu Sans Mono");
        font.setPixelSize(static_cast<int>(std::min(screen.height() * 0.34, w * 0.075)));
        font.setBold(true);
        p.setFont(font);
        p.setPen(kScreenText);
        p.drawText(screen.adjusted(w * 0.03, 0, -w * 0.03, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   "15.00 EUR\nOK");
        p.setPen(Qt::NoPen);
    }

    // The keypad: three columns of four keys, the last row red, yellow and green.
    const QRectF pad(body.left() + w * 0.14, screen.bottom() + h * 0.08, w * 0.72, h * 0.4);
    const double kw = pad.width() / 3, kh = pad.height() / 4;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            QColor colour = kKey;
            if (row == 3)
                colour = col == 0   ? QColor(0xd3, 0x2f, 0x2f)
                         : col == 1 ? QColor(0xfb, 0xc0, 0x2d)
                                    : QColor(0x38, 0x8e, 0x3c);
            p.setBrush(colour);
            const QRectF key(pad.left() + col * kw + kw * 0.12, pad.top() + row * kh + kh * 0.14,
                             kw * 0.76, kh * 0.72);
            p.drawRoundedRect(key, kw * 0.15, kw * 0.15);
        }
    }
}

}  // namespace

QPixmap aboutLogo(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF all(0, 0, size.width(), size.height());

    QLinearGradient sky(all.topLeft(), all.bottomLeft());
    sky.setColorAt(0, QColor(0xf5, 0xf8, 0xfc));
    sky.setColorAt(1, QColor(0xd6, 0xe2, 0xf0));
    p.setPen(QPen(QColor(0x9a, 0xae, 0xc8), 2));
    p.setBrush(sky);
    p.drawRoundedRect(all.adjusted(1, 1, -1, -1), 14, 14);

    // The terminal on the left half, the name and a line of text on the right.
    const double h = all.height();
    drawTerminal(p, QRectF(all.width() * 0.07, h * 0.1, all.width() * 0.38, h * 0.8), true);

    const QRectF text(all.width() * 0.5, h * 0.28, all.width() * 0.47, h * 0.44);
    QFont name("DejaVu Sans");
    name.setBold(true);
    name.setPixelSize(static_cast<int>(h * 0.11));
    p.setFont(name);
    p.setPen(kBody);
    p.drawText(text, Qt::AlignLeft | Qt::AlignTop, "Korvel");
    p.setPen(QColor(0xf2, 0x8c, 0x00));
    p.drawText(text.adjusted(0, h * 0.12, 0, 0), Qt::AlignLeft | Qt::AlignTop, "Com");
    QFont tagline("DejaVu Sans");
    tagline.setPixelSize(static_cast<int>(h * 0.055));
    p.setFont(tagline);
    p.setPen(QColor(0x45, 0x5a, 0x64));
    p.drawText(text.adjusted(0, h * 0.28, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               "payment terminal\ncontrol");
    return pixmap;
}

QPixmap controlLogo(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = size.width(), h = size.height();
    drawTerminal(p, QRectF(w * 0.15, h * 0.04, w * 0.7, h * 0.92), false);
    return pixmap;
}

}  // namespace korvel::qt
