// The POS page on Windows.  The model holds every value, the key filter, the changed mark and
// the applying; this file only draws it: frames as group boxes, labels, text boxes, check
// boxes and drop-down lists with tooltips, each input forwarded to the model and each field
// the model reports redrawn from it.
#include "PropertyPage.h"

#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ComControl.h"
#include "Module.h"
#include "korvelcom/ui/PosPropertyPage.h"

namespace korvel::com {
namespace {

using ui::FieldKind;
using ui::PosField;
using ui::PosFieldLayout;

constexpr int kRow = 26;       // a row's height in a frame
constexpr int kFrameTop = 20;  // a frame's caption above its first row
constexpr int kLabelWidth = 160;
constexpr SIZE kPageSize = {640, 360};

std::wstring wide(const std::string& utf8) {
    std::wstring w(utf8.size(), L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
                                 static_cast<int>(w.size())));
    return w;
}

std::string utf8(const std::wstring& w) {
    std::string s(w.size() * 3, '\0');
    s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(),
                                 static_cast<int>(s.size()), nullptr, nullptr));
    return s;
}

std::wstring windowText(HWND window) {
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
    return text;
}

// Rows a frame needs: one per labelled field or lone check box, one for the fields side by
// side.
int rowsOf(const char* frame) {
    int rows = 0;
    bool inlineRow = false;
    for (const PosFieldLayout& row : ui::posPageLayout()) {
        if (std::strcmp(row.frame, frame) != 0) continue;
        if (*row.label || row.kind == FieldKind::CheckBox)
            ++rows;
        else
            inlineRow = true;
    }
    return rows + (inlineRow ? 1 : 0);
}

int frameHeight(const char* frame) {
    return kFrameTop + rowsOf(frame) * kRow + 6;
}

class PosPage final : public IPropertyPage {
  public:
    PosPage() { lockModule(); }
    PosPage(const PosPage&) = delete;
    PosPage& operator=(const PosPage&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPropertyPage) return E_NOINTERFACE;
        *out = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL) override {
        if (!rect) return E_POINTER;
        if (window_) return E_UNEXPECTED;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &PosPage::windowProc;
        wc.hInstance = moduleHandle();
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = kPageWindowClass;
        RegisterClassExW(&wc);  // fails harmlessly when already registered
        window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kPageWindowClass, L"", WS_CHILD, rect->left,
                                  rect->top, rect->right - rect->left, rect->bottom - rect->top,
                                  parent, nullptr, moduleHandle(), this);
        if (!window_) return E_FAIL;
        build();
        for (const PosFieldLayout& row : ui::posPageLayout())
            redraw(row.field);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Deactivate() override {
        if (window_) DestroyWindow(window_);
        window_ = tooltip_ = nullptr;
        fields_.fill(nullptr);
        if (font_) DeleteObject(font_);
        font_ = nullptr;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
        if (!info) return E_POINTER;
        info->cb = sizeof *info;
        info->pszTitle = taskString(L"POS");
        info->size = kPageSize;
        info->pszDocString = taskString(wide(ui::kPosPageCaption));
        info->pszHelpFile = nullptr;
        info->dwHelpContext = 0;
        return info->pszTitle && info->pszDocString ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override {
        for (IUnknown* o : objects_)
            o->Release();
        objects_.clear();
        std::vector<KorvelComTools*> selection;
        for (ULONG i = 0; objects && i < count; ++i) {
            ComControl* control = nullptr;
            if (objects[i] && SUCCEEDED(objects[i]->QueryInterface(
                                  kIidComControl, reinterpret_cast<void**>(&control)))) {
                objects_.push_back(objects[i]);  // keeps the reference QueryInterface gave
                selection.push_back(&control->control());
            }
        }
        return guarded([&] { page_.selectionChanged(selection); });
    }

    HRESULT STDMETHODCALLTYPE Show(UINT command) override {
        if (!window_) return E_UNEXPECTED;
        ShowWindow(window_, static_cast<int>(command));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
        if (!rect) return E_POINTER;
        if (!window_) return E_UNEXPECTED;
        MoveWindow(window_, rect->left, rect->top, rect->right - rect->left,
                   rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE IsPageDirty() override { return page_.changed() ? S_OK : S_FALSE; }

    /// Like the model's Apply: only edits not yet applied are written.  A refusal the model
    /// throws is shown, and the page keeps its edits (E_FAIL keeps the frame open).
    HRESULT STDMETHODCALLTYPE Apply() override {
        if (!page_.changed()) return S_OK;
        return guarded([&] { page_.applyChanges(); });
    }

    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

  private:
    ~PosPage() {
        page_.setFieldObserver(nullptr);
        page_.setChangedHandler(nullptr);
        Deactivate();
        for (IUnknown* o : objects_)
            o->Release();
        if (site_) site_->Release();
        unlockModule();
    }

    static LPOLESTR taskString(const std::wstring& s) {
        auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
        if (out) std::memcpy(out, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
        return out;
    }

    template <class F>
    HRESULT guarded(F&& f) {
        try {
            f();
            return S_OK;
        } catch (const std::exception& e) {
            if (window_)
                MessageBoxW(window_, wide(e.what()).c_str(), wide(ui::kPosPageCaption).c_str(),
                            MB_OK | MB_ICONWARNING);
            return E_FAIL;
        }
    }

    HWND child(const wchar_t* cls, const std::wstring& text, DWORD style, RECT r, int id) {
        HWND w = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), moduleHandle(),
                                 nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return w;
    }

    void tip(HWND w, const char* text) {
        if (!*text || !tooltip_) return;
        tips_.push_back(wide(text));
        TOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = window_;
        ti.uId = reinterpret_cast<UINT_PTR>(w);
        ti.lpszText = tips_.back().data();
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }

    // The page's layout: the header across the top, "Low level parameters" on the left,
    // "COM port properties" and "POS high level protocol" (holding "Fields" and "POS devise")
    // on the right.
    void build() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        font_ = CreateFontIndirectW(&metrics.lfMessageFont);
        tooltip_ =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                            0, 0, window_, nullptr, moduleHandle(), nullptr);
        tips_.clear();
        tips_.reserve(2 * ui::kPosFieldCount);  // the tools keep pointers into it
        child(L"STATIC", wide(ui::kPosPageHeader), SS_NOPREFIX, {8, 4, kPageSize.cx - 8, 22}, -1);

        struct Place {
            const char* frame;
            RECT r;
        };
        const int right = 316, rightWidth = kPageSize.cx - 8 - right;
        const int comTop = 28, highTop = comTop + frameHeight(ui::kFrameComPort) + 6;
        const int fieldsTop = highTop + 18;
        const int deviseTop = fieldsTop + frameHeight(ui::kFrameFields) + 6;
        const Place places[] = {
            {ui::kFrameLowLevel, {8, 28, 308, 28 + frameHeight(ui::kFrameLowLevel)}},
            {ui::kFrameComPort,
             {right, comTop, right + rightWidth, comTop + frameHeight(ui::kFrameComPort)}},
            {ui::kFrameFields,
             {right + 8, fieldsTop, right + rightWidth - 8,
              fieldsTop + frameHeight(ui::kFrameFields)}},
            {ui::kFramePosDevise,
             {right + 8, deviseTop, right + rightWidth - 8,
              deviseTop + frameHeight(ui::kFramePosDevise)}},
        };
        child(
            L"BUTTON", wide(ui::kFramePosHigh), BS_GROUPBOX,
            {right, highTop, right + rightWidth, deviseTop + frameHeight(ui::kFramePosDevise) + 8},
            -1);
        for (const Place& p : places) {
            child(L"BUTTON", wide(p.frame), BS_GROUPBOX, p.r, -1);
            int y = p.r.top + kFrameTop, inlineX = p.r.left + 10, inlineY = -1;
            for (const PosFieldLayout& row : ui::posPageLayout()) {
                if (std::strcmp(row.frame, p.frame) != 0) continue;
                const int index = static_cast<int>(row.field);
                int x = p.r.left + 10 + kLabelWidth, top = y;
                if (*row.label) {
                    HWND label = child(L"STATIC", wide(row.label), SS_NOPREFIX | SS_NOTIFY,
                                       {p.r.left + 10, y + 3, x - 4, y + 21}, kPageLabelId + index);
                    tip(label, row.labelTooltip);
                    y += kRow;
                } else if (row.kind == FieldKind::CheckBox) {
                    x = p.r.left + 10;
                    y += kRow;
                } else {
                    if (inlineY < 0) inlineY = y, y += kRow;
                    x = inlineX, top = inlineY;
                }
                fields_[index] = makeField(row, x, top, p.r.right - 8);
                if (!*row.label && row.kind != FieldKind::CheckBox) inlineX += fieldWidth(row) + 8;
                tip(fields_[index], row.tooltip);
            }
        }
    }

    static int fieldWidth(const PosFieldLayout& row) {
        if (row.kind == FieldKind::FixedList) return 130;
        if (row.kind == FieldKind::CheckBox) return 130;
        return row.maxLength > 0 ? 16 + 8 * row.maxLength : 110;
    }

    HWND makeField(const PosFieldLayout& row, int x, int y, int limit) {
        const int id = kPageFieldId + static_cast<int>(row.field);
        const int w = std::min(fieldWidth(row), limit - x);
        HWND field = nullptr;
        switch (row.kind) {
            case FieldKind::TextBox:
                field = child(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                              {x, y, x + w, y + 22}, id);
                // Every key and double-click reaches the model first.
                SetWindowSubclass(field, &PosPage::editProc, static_cast<UINT_PTR>(row.field),
                                  reinterpret_cast<DWORD_PTR>(this));
                break;
            case FieldKind::CheckBox:
                field = child(L"BUTTON", wide(row.caption), BS_AUTOCHECKBOX | WS_TABSTOP,
                              {x, y, x + w, y + 22}, id);
                break;
            case FieldKind::FixedList:
                field = child(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                              {x, y, x + w, y + 200}, id);
                for (const char* item : row.items)
                    SendMessageW(field, CB_ADDSTRING, 0,
                                 reinterpret_cast<LPARAM>(wide(item).c_str()));
                break;
        }
        return field;
    }

    // Draws one field from the model; the controls' own notifications are not forwarded
    // while it does.
    void redraw(PosField field) {
        HWND w = fields_[static_cast<std::size_t>(field)];
        if (!w) return;
        const PosFieldLayout& row = ui::layoutOf(field);
        redrawing_ = true;
        switch (row.kind) {
            case FieldKind::TextBox: {
                const std::wstring text = wide(page_.text(field));
                if (windowText(w) != text) SetWindowTextW(w, text.c_str());
                // The maximum length limits typing only: a longer loaded text is shown whole.
                const int limit = row.maxLength > 0
                                      ? std::max<int>(row.maxLength, static_cast<int>(text.size()))
                                      : 0;
                SendMessageW(w, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
                break;
            }
            case FieldKind::CheckBox:
                SendMessageW(w, BM_SETCHECK, page_.checked(field) ? BST_CHECKED : BST_UNCHECKED, 0);
                break;
            case FieldKind::FixedList:
                SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(page_.selectedIndex(field)), 0);
                break;
        }
        EnableWindow(w, page_.enabled(field));
        redrawing_ = false;
    }

    // A control's notification of the developer's input, forwarded to the model; the field is
    // then redrawn from it (a text cut to its length, say).  Other notifications are left.
    void command(int id, int code, HWND w) {
        const int index = id - kPageFieldId;
        if (redrawing_ || index < 0 || index >= ui::kPosFieldCount) return;
        const auto field = static_cast<PosField>(index);
        const FieldKind kind = ui::layoutOf(field).kind;
        if (kind == FieldKind::TextBox && code == EN_CHANGE)
            page_.setText(field, utf8(windowText(w)));
        else if (kind == FieldKind::CheckBox && code == BN_CLICKED)
            page_.setChecked(field, SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED);
        else if (kind == FieldKind::FixedList && code == CBN_SELCHANGE)
            page_.select(field, static_cast<int>(SendMessageW(w, CB_GETCURSEL, 0, 0)));
        else
            return;
        redraw(field);
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(
                window, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
        auto* self = reinterpret_cast<PosPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_COMMAND && self && l) {
            self->command(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
            return 0;
        }
        return DefWindowProcW(window, message, w, l);
    }

    // A text box's keys pass the model's key filter (a pasted text: each of its characters);
    // a double-click is the model's too.
    static LRESULT CALLBACK editProc(HWND w, UINT message, WPARAM wp, LPARAM lp, UINT_PTR id,
                                     DWORD_PTR data) {
        auto* self = reinterpret_cast<PosPage*>(data);
        const auto field = static_cast<PosField>(id);
        if (message == WM_CHAR && !self->page_.keyPress(field, static_cast<char32_t>(wp))) return 0;
        if (message == WM_PASTE && ui::layoutOf(field).digitsOnly) {
            std::wstring pasted;
            if (OpenClipboard(w)) {
                if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
                    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(h))) pasted = p;
                    GlobalUnlock(h);
                }
                CloseClipboard();
            }
            for (wchar_t c : pasted)
                if (!self->page_.keyPress(field, static_cast<char32_t>(c))) return 0;
        }
        if (message == WM_LBUTTONDBLCLK) {
            self->page_.doubleClick(field);
            return 0;
        }
        if (message == WM_NCDESTROY) RemoveWindowSubclass(w, &PosPage::editProc, id);
        return DefSubclassProc(w, message, wp, lp);
    }

  public:
    void connectModel() {
        page_.setBeepHandler([] { MessageBeep(MB_OK); });
        page_.setFieldObserver([this](PosField field) { redraw(field); });
        page_.setChangedHandler([this](bool changed) {
            if (site_ && changed)
                site_->OnStatusChange(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
        });
    }

  private:
    std::atomic<ULONG> refs_{1};
    ui::PosPropertyPage page_;
    IPropertyPageSite* site_ = nullptr;
    std::vector<IUnknown*> objects_;
    HWND window_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    std::array<HWND, ui::kPosFieldCount> fields_{};
    std::vector<std::wstring> tips_;
    bool redrawing_ = false;
};

}  // namespace

HRESULT createPosPage(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        auto* page = new PosPage();
        page->connectModel();
        const HRESULT hr = page->QueryInterface(riid, out);
        page->Release();
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace korvel::com
