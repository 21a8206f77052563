// The control's logo drawn with GDI on any device context (a window, a memory bitmap, a
// metafile, a printer): the payment terminal the Qt front draws, from the same description.
#pragma once

#include <windows.h>

namespace korvel::com {

/// The control's own picture, a terminal filling `r` (the control shows it at its logo size).
void drawControlLogo(HDC dc, const RECT& r);
/// The about box's picture: a framed panel with the terminal and the product's name.
void drawAboutLogo(HDC dc, const RECT& r);

}  // namespace korvel::com
