#include "Logo.h"

#include <algorithm>

namespace korvel::com {
namespace {

constexpr COLORREF kBody = RGB(0x23, 0x3a, 0x5e);
constexpr COLORREF kScreen = RGB(0xc8, 0xe6, 0xc9);
constexpr COLORREF kScreenText = RGB(0x1b, 0x5e, 0x20);
constexpr COLORREF kKey = RGB(0xe8, 0xec, 0xf2);
constexpr COLORREF kCard = RGB(0xf2, 0xa9, 0x00);
constexpr COLORREF kStripe = RGB(0x5d, 0x40, 0x37);
constexpr COLORREF kLastRow[3] = {RGB(0xd3, 0x2f, 0x2f), RGB(0xfb, 0xc0, 0x2d),
                                  RGB(0x38, 0x8e, 0x3c)};

// A rectangle in fractions of `r`'s size, from `r`'s origin.
struct Box {
    double left, top, width, height;
};

RECT at(const RECT& r, const Box& b) {
    const double w = r.right - r.left, h = r.bottom - r.top;
    return {r.left + static_cast<LONG>(b.left * w), r.top + static_cast<LONG>(b.top * h),
            r.left + static_cast<LONG>((b.left + b.width) * w),
            r.top + static_cast<LONG>((b.top + b.height) * h)};
}

// A filled rectangle with rounded corners of `radius` device units, no outline.
void fill(HDC dc, const RECT& r, COLORREF colour, int radius) {
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    // Without an outline GDI leaves the right and bottom edge out: one more unit each way.
    if (radius > 0)
        RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, radius * 2, radius * 2);
    else
        Rectangle(dc, r.left, r.top, r.right + 1, r.bottom + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
}

void text(HDC dc, const RECT& r, const wchar_t* s, int height, bool bold, COLORREF colour,
          const wchar_t* face) {
    HFONT font = CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                             0, 0, ANTIALIASED_QUALITY, 0, face);
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    RECT box = r;
    DrawTextW(dc, s, -1, &box, DT_LEFT | DT_TOP | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}

// A terminal filling `r`: a card in the slot on top, a body, a screen, a 3 x 4 keypad;
// `detail` adds the screen's text (for large sizes).
void drawTerminal(HDC dc, const RECT& r, bool detail) {
    const int w = r.right - r.left;
    const RECT card = at(r, {0.22, 0, 0.56, 0.22});
    fill(dc, card, kCard, w / 25);
    fill(dc, at(card, {0, 0.3, 1, 0.18}), kStripe, 0);
    const RECT body = at(r, {0, 0.14, 1, 0.86});
    fill(dc, body, kBody, w / 8);
    const RECT screen = at(r, {0.14, 0.14 + 0.086, 0.72, 0.19});
    fill(dc, screen, kScreen, w / 33);
    if (detail) {
        const int h = screen.bottom - screen.top;
        RECT line = {screen.left + w / 33, screen.top + h / 8, screen.right, screen.bottom};
        text(dc, line, L"15.00 EUR\nOK", std::max(6, h * 34 / 100), true, kScreenText,
             L"Courier New");
    }
    const RECT pad = at(r, {0.14, 0.14 + 0.086 + 0.19 + 0.07, 0.72, 0.4});
    const double kw = (pad.right - pad.left) / 3.0, kh = (pad.bottom - pad.top) / 4.0;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) {
            const RECT key = {pad.left + static_cast<LONG>(col * kw + kw * 0.12),
                              pad.top + static_cast<LONG>(row * kh + kh * 0.14),
                              pad.left + static_cast<LONG>(col * kw + kw * 0.88),
                              pad.top + static_cast<LONG>(row * kh + kh * 0.86)};
            fill(dc, key, row == 3 ? kLastRow[col] : kKey, static_cast<int>(kw * 0.15));
        }
}

}  // namespace

void drawControlLogo(HDC dc, const RECT& r) {
    drawTerminal(dc, at(r, {0.15, 0.04, 0.7, 0.92}), false);
}

void drawAboutLogo(HDC dc, const RECT& r) {
    const int h = r.bottom - r.top;
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(0x9a, 0xae, 0xc8));
    HBRUSH sky = CreateSolidBrush(RGB(0xe6, 0xed, 0xf6));
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, sky);
    RoundRect(dc, r.left + 1, r.top + 1, r.right - 1, r.bottom - 1, 28, 28);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(sky);
    drawTerminal(dc, at(r, {0.07, 0.1, 0.38, 0.8}), true);
    const RECT name = at(r, {0.5, 0.28, 0.47, 0.44});
    text(dc, name, L"Korvel", h * 11 / 100, true, kBody, L"Arial");
    RECT com = name;
    com.top += h * 12 / 100;
    text(dc, com, L"Com", h * 11 / 100, true, RGB(0xf2, 0x8c, 0x00), L"Arial");
    RECT tagline = name;
    tagline.top += h * 28 / 100;
    text(dc, tagline, L"payment terminal\ncontrol", h * 55 / 1000, false, RGB(0x45, 0x5a, 0x64),
         L"Arial");
}

}  // namespace korvel::com
