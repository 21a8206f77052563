// The product's pictures, drawn at run time: a stylised payment terminal with the name
// "KorvelCom" for the about box, and the small terminal the control shows on its host window.
#pragma once

#include <QPixmap>
#include <QSize>

namespace korvel::qt {

/// The about box's picture: a payment terminal beside the name "KorvelCom" on a light
/// background, at `size` pixels (the box uses 285 x 238).
QPixmap aboutLogo(QSize size);

/// The control's face on its host window: a small terminal with a card in its slot, at `size`
/// pixels (the control's logo size).
QPixmap controlLogo(QSize size);

}  // namespace korvel::qt
