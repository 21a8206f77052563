// frmAbout on Windows: an empty modal dialog template filled at WM_INITDIALOG with one static
// control per row of the model's layout (texts, fonts and colours as the model gives them),
// the logo drawn by the control's own drawing, "Help" and "Exit" as clickable labels.
#include "AboutDialog.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Logo.h"

namespace korvel::com {
namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kMargin = 8;

int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

std::wstring fromUtf8(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(),
                                 static_cast<int>(w.size())));
    return w;
}

COLORREF colour(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

bool startsWith(const char* name, const char* prefix) {
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// What a label shows once the form is loaded.
std::string textOf(const ui::AboutBox& box, const ui::AboutControlLayout& row) {
    const std::string name = row.name;
    if (name == "lblTitle") return box.title();
    if (name == "lblVersion") return box.versionLine();
    if (name == "lblDescription") return ui::AboutBox::description();
    if (name == "lblDisclaimer") return ui::AboutBox::disclaimer();
    if (name == "Label3") return ui::AboutBox::webAddress();
    if (name == "Label1") return ui::AboutBox::helpLabel();
    if (name == "Label2") return ui::AboutBox::exitLabel();
    return row.text;
}

// The showing's state, reached from the dialog procedure.
struct Showing {
    const ui::AboutBox& box;
    std::vector<HFONT> fonts;
    std::vector<HBRUSH> brushes;  // the lines' colours, by row
};

int rowOf(HWND control) {
    return GetDlgCtrlID(control) - kAboutFirstId;
}

// F1, and a click on "Help": the help file through the system's help viewer, when it exists.
void openHelp(HWND dialog, const ui::AboutBox& box) {
    if (const auto file = box.helpToOpen())
        WinHelpW(dialog, fromUtf8(*file).c_str(), HELP_CONTEXT,
                 static_cast<ULONG_PTR>(box.helpContext()));
}

void build(HWND dialog, Showing& s) {
    SetWindowTextW(dialog, fromUtf8(s.box.caption()).c_str());
    const auto& layout = ui::AboutBox::layout();
    int right = 0, bottom = 0;
    HDC screen = GetDC(dialog);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(dialog, screen);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const ui::AboutControlLayout& row = layout[i];
        const bool image = startsWith(row.name, "Image"), line = startsWith(row.name, "Line");
        int x = px(row.left), y = px(row.top);
        int w = image ? row.width : px(row.width), h = image ? row.height : px(row.height);
        if (line) h = 1;
        DWORD style = WS_CHILD | WS_VISIBLE;
        if (image) style |= SS_OWNERDRAW;
        // The clickable labels tell their clicks.
        if (std::strcmp(row.name, "Label1") == 0 || std::strcmp(row.name, "Label2") == 0)
            style |= SS_NOTIFY;
        HWND control = CreateWindowExW(
            0, L"STATIC", fromUtf8(textOf(s.box, row)).c_str(), style | SS_NOPREFIX, x, y, w, h,
            dialog, reinterpret_cast<HMENU>(kAboutFirstId + i), GetModuleHandleW(nullptr), nullptr);
        s.brushes.push_back(line ? CreateSolidBrush(colour(row.rgb)) : nullptr);
        if (row.pointSize > 0) {
            HFONT font = CreateFontW(-MulDiv(static_cast<int>(row.pointSize * 100), dpi, 7200), 0,
                                     0, 0, row.bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                                     0, 0, DEFAULT_QUALITY, 0, fromUtf8(row.fontFamily).c_str());
            s.fonts.push_back(font);
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
        right = std::max(right, x + w);
        bottom = std::max(bottom, y + h);
    }
    RECT frame = {0, 0, right + kMargin, bottom + kMargin};
    AdjustWindowRectEx(&frame, GetWindowLongW(dialog, GWL_STYLE), FALSE,
                       GetWindowLongW(dialog, GWL_EXSTYLE));
    const int fw = frame.right - frame.left, fh = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - fw) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - fh) / 2, fw, fh, SWP_NOZORDER);
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    auto* s = reinterpret_cast<Showing*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, l);
            build(dialog, *reinterpret_cast<Showing*>(l));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int row = rowOf(reinterpret_cast<HWND>(l));
            const auto& layout = ui::AboutBox::layout();
            if (!s || row < 0 || row >= static_cast<int>(layout.size())) break;
            if (s->brushes[row]) return reinterpret_cast<INT_PTR>(s->brushes[row]);
            HDC dc = reinterpret_cast<HDC>(w);
            SetTextColor(dc, colour(layout[row].rgb));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            drawAboutLogo(item->hDC, item->rcItem);
            return TRUE;
        }
        case WM_HELP:
            if (s) openHelp(dialog, s->box);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(w);
            if (id == IDCANCEL || id == IDOK) {
                EndDialog(dialog, id);
                return TRUE;
            }
            const int row = id - kAboutFirstId;
            const auto& layout = ui::AboutBox::layout();
            if (HIWORD(w) != STN_CLICKED || row < 0 || row >= static_cast<int>(layout.size()))
                break;
            if (std::strcmp(layout[row].name, "Label1") == 0 && s) openHelp(dialog, s->box);
            if (std::strcmp(layout[row].name, "Label2") == 0) EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void showAboutBox(const ui::AboutBox& box) {
    // An empty template (no menu, the default class, no title): the controls are made at
    // WM_INITDIALOG in pixels, which a template's dialog units cannot give exactly.
    struct alignas(4) Template {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } tmpl{};
    tmpl.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    Showing showing{box, {}, {}};
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &tmpl.header, nullptr, &dialogProc,
                            reinterpret_cast<LPARAM>(&showing));
    for (HFONT f : showing.fonts)
        DeleteObject(f);
    for (HBRUSH b : showing.brushes)
        if (b) DeleteObject(b);
}

}  // namespace korvel::com
