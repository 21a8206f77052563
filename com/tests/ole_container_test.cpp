// KorvelCom.dll on a form: in Wine's ActiveX host window, and in a container of our own that
// calls what form designers call.  Needs a display (scripts/windows-com.sh runs it under
// Xvfb); KORVEL_SCREENSHOTS names a folder for pictures of the page and the about box.
#include <winsock2.h>

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "AboutDialog.h"
#include "ComTest.h"
#include "PropertyPage.h"
#include "korvelcom/ui/PosPropertyPage.h"

namespace {

using W = std::wstring;
using korvel::ui::PosField;

HRESULT dllCanUnloadNow() {
    auto f = (HRESULT(STDAPICALLTYPE*)())GetProcAddress(GetModuleHandleW(L"KorvelCom.dll"),
                                                        "DllCanUnloadNow");
    return f ? f() : E_FAIL;
}
SIZEL logoExtent() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return {MulDiv(32, 2540, dpi), MulDiv(32, 2540, dpi)};
}
W windowText(HWND w) {
    wchar_t buffer[256] = L"";
    GetWindowTextW(w, buffer, 256);
    return buffer;
}
// The first window below `root` (or of this thread, for null) that `match` accepts.
struct Search {
    std::function<bool(HWND)> match;
    HWND found = nullptr;
};
BOOL CALLBACK searchOne(HWND w, LPARAM l) {
    auto* s = (Search*)l;
    if (s->match(w)) s->found = w;
    return !s->found;
}
HWND findWindow(HWND root, std::function<bool(HWND)> match) {
    Search s{std::move(match)};
    root ? EnumChildWindows(root, &searchOne, (LPARAM)&s)
         : EnumThreadWindows(GetCurrentThreadId(), &searchOne, (LPARAM)&s);
    return s.found;
}
bool hasClass(HWND w, const wchar_t* name) {
    wchar_t cls[64] = L"";
    GetClassNameW(w, cls, 64);
    return lstrcmpiW(cls, name) == 0;
}

// A white 64 x 64 memory bitmap to draw on; `colours` counts those of its top-left square.
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(64, 64, 1, 32, nullptr);
    Canvas() { SelectObject(dc, bitmap), PatBlt(dc, 0, 0, 64, 64, WHITENESS); }
    ~Canvas() { DeleteDC(dc), DeleteObject(bitmap); }
    size_t colours(int size) const {
        std::set<COLORREF> seen;
        for (int i = 0; i < size * size; ++i)
            seen.insert(GetPixel(dc, i % size, i / size));
        return seen.size();
    }
};

// The window's picture on the screen as a BMP file in KORVEL_SCREENSHOTS (converted to PNG
// by the script).
void screenshot(HWND w, const char* name) {
    const char* dir = getenv("KORVEL_SCREENSHOTS");
    if (!dir) return;
    RECT r;
    GetWindowRect(w, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFOHEADER bi{sizeof bi, width, height, 1, 24, BI_RGB};
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, (BITMAPINFO*)&bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    const DWORD size = ((width * 3 + 3) & ~3) * height;
    BITMAPFILEHEADER fh{0x4D42, DWORD(sizeof fh + sizeof bi + size), 0, 0, sizeof fh + sizeof bi};
    if (FILE* f = fopen((std::string(dir) + "/" + name + ".bmp").c_str(), "wb")) {
        fwrite(&fh, sizeof fh, 1, f), fwrite(&bi, sizeof bi, 1, f), fwrite(bits, size, 1, f);
        fclose(f);
    }
    DeleteDC(mem), DeleteObject(bmp), ReleaseDC(nullptr, screen);
}

// Runs `step` from a timer inside whatever modal loop the thread is in, every 300 ms, until it
// returns true.
std::function<bool()> pending;
void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (pending && pending()) pending = nullptr, KillTimer(nullptr, id);
}
void whileModal(std::function<bool()> step) {
    pending = std::move(step);
    SetTimer(nullptr, 0, 300, &onTimer);
}

HWND topWindow() {
    return CreateWindowExW(0, L"STATIC", L"form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                           nullptr, nullptr, nullptr, nullptr);
}

// ---- Wine's ActiveX host window ------------------------------------------------------------

TEST(WineHost, CreatesInitialisesOnceSizesToItsLogoAndClosesThePortAtTheEnd) {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    ASSERT_NE(atl, nullptr);
    ((BOOL(WINAPI*)())GetProcAddress(atl, "AtlAxWinInit"))();
    auto getControl = (HRESULT(WINAPI*)(HWND, IUnknown**))GetProcAddress(atl, "AtlAxGetControl");
    HWND form = topWindow();
    HWND host = CreateWindowExW(0, L"AtlAxWin", L"KorvelCom.KorvelComTools", WS_CHILD | WS_VISIBLE,
                                10, 10, 200, 100, form, nullptr, nullptr, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(getControl(host, &unknown), S_OK);
    auto* d = as<IDispatch>(unknown, IID_IDispatch);
    // New-instance initialisation ran (its own default), and only once.
    EXPECT_EQ(get(d, "POSAutoTimeOut"), "s:065");
    auto* persist = as<IPersistStreamInit>(unknown, IID_IPersistStreamInit);
    EXPECT_EQ(persist->InitNew(), E_UNEXPECTED);
    // In place, in a window of its own at its logo's size, whatever size the host gave (the
    // extents' refusal of other sizes is the own container's test).
    auto* inPlace = as<IOleInPlaceObject>(unknown, IID_IOleInPlaceObject);
    HWND own = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&own), S_OK);
    RECT r;
    GetClientRect(own, &r);
    EXPECT_EQ(GetParent(own), host);
    EXPECT_EQ(W(L"w") + std::to_wstring(r.right) + L" h" + std::to_wstring(r.bottom), L"w32 h32");
    // The port it opens (here a loopback TCP port standing in for a device server) is
    // closed when the form goes: the far end then reads the end of the stream.
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{AF_INET, 0, {}, {}};
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof at;
    bind(listener, (sockaddr*)&at, sizeof at), listen(listener, 1);
    getsockname(listener, (sockaddr*)&at, &length);
    _putenv(("KORVELCOM_COM9=tcp://127.0.0.1:" + std::to_string(ntohs(at.sin_port))).c_str());
    put(d, "CommPort|s:9");
    put(d, "CommPortOpen|s:True");
    ASSERT_EQ(get(d, "CommPortOpen"), "bool:1");
    SOCKET peer = accept(listener, nullptr, nullptr);
    const auto ended = [&](long seconds) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(peer, &readable);
        timeval wait{seconds, 0};
        char c;
        return select(0, &readable, nullptr, nullptr, &wait) == 1 && recv(peer, &c, 1, 0) == 0;
    };
    EXPECT_FALSE(ended(0));  // still open
    for (IUnknown* u : {(IUnknown*)d, (IUnknown*)persist, (IUnknown*)inPlace, unknown})
        u->Release();
    DestroyWindow(form);
    EXPECT_FALSE(IsWindow(own));
    EXPECT_TRUE(ended(5));
    closesocket(peer), closesocket(listener), WSACleanup();
    EXPECT_EQ(dllCanUnloadNow(), S_OK);  // no object left alive
}

// ---- A container of our own ------------------------------------------------------------------

// The site: a window, the ambient back colour, and what the control told it.
struct Site : IOleInPlaceSite, IOleClientSite, SinkDispatch, IPropertyNotifySink {
    HWND window = topWindow();
    RECT pos = {5, 5, 205, 105}, reported{};
    OLE_COLOR back = RGB(10, 200, 30);
    int events = 0, changes = 0;
    ~Site() { DestroyWindow(window); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) *out = (IOleClientSite*)this;
        if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) *out = (IOleInPlaceSite*)this;
        if (riid == IID_IDispatch || riid == DIID___KorvelComTools) *out = (IDispatch*)this;
        if (riid == IID_IPropertyNotifySink) *out = (IPropertyNotifySink*)this;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override { return *w = window, S_OK; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** d,
                                               LPRECT p, LPRECT c, OLEINPLACEFRAMEINFO*) override {
        return *f = nullptr, *d = nullptr, *p = *c = pos, S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT r) override { return reported = *r, S_OK; }
    // The ambients, and the control's events (counted).
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* v,
                                     EXCEPINFO*, UINT*) override {
        if (flags & DISPATCH_PROPERTYGET && id == DISPID_AMBIENT_BACKCOLOR && v)
            return v->vt = VT_I4, v->lVal = (LONG)back, S_OK;
        if (flags == DISPATCH_METHOD) return ++events, S_OK;
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID) override { return ++changes, S_OK; }
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
};

TEST(OwnContainer, QuickActivatesDrawsItsLogoAndKeepsItsSize) {
    IDispatch* d = create();
    Site site;
    auto* quick = as<IQuickActivate>(d, IID_IQuickActivate);
    QACONTAINER c{sizeof c};
    c.pClientSite = &site, c.pUnkEventSink = (IDispatch*)&site, c.pPropertyNotifySink = &site;
    c.colorBack = site.back;
    QACONTROL q{sizeof q};
    ASSERT_EQ(quick->QuickActivate(&c, &q), S_OK);
    EXPECT_EQ(q.dwMiscStatus, 131473u);
    // The sinks handed over are advised: a put notifies, a refused value raises ErrorEvent,
    // and frozen events are not raised.
    put(d, "TOwaitChar|s:700");
    put(d, "POSTimeout|s:0");
    auto* control = as<IOleControl>(d, IID_IOleControl);
    control->FreezeEvents(TRUE);
    put(d, "POSTimeout|s:0");
    control->FreezeEvents(FALSE);
    EXPECT_EQ(std::to_string(site.changes) + " " + std::to_string(site.events), "1 1");
    // Every extent is the logo's, whatever was asked.
    auto* object = as<IOleObject>(d, IID_IOleObject);
    auto* view = as<IViewObject2>(d, IID_IViewObject2);
    SIZEL big{5000, 4000}, a{}, b{}, e{};
    EXPECT_EQ(quick->SetContentExtent(&big), S_OK);
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, &big), S_OK);
    quick->GetContentExtent(&a), object->GetExtent(DVASPECT_CONTENT, &b);
    view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &e);
    for (SIZEL s : {a, b, e})
        EXPECT_EQ(std::make_pair(s.cx, s.cy), std::make_pair(logoExtent().cx, logoExtent().cy));
    // Drawn at the bounds given on a memory bitmap: the ambient back colour in the corner, the
    // logo's colours inside, nothing outside; again after the ambient changed; and through
    // an enhanced metafile.
    Canvas dib;
    const RECTL bounds{0, 0, 32, 32};
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, 0, 0, 0, dib.dc, &bounds, 0, 0, 0), S_OK);
    EXPECT_EQ(GetPixel(dib.dc, 0, 0), (COLORREF)site.back);
    EXPECT_GE(dib.colours(32), 5u);
    EXPECT_EQ(GetPixel(dib.dc, 40, 40), RGB(255, 255, 255));
    site.back = RGB(200, 0, 0);
    control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR);
    HDC meta = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, 0, 0, 0, meta, &bounds, 0, 0, 0), S_OK);
    HENHMETAFILE picture = CloseEnhMetaFile(meta);
    Canvas played;
    const RECT target{0, 0, 32, 32};
    PlayEnhMetaFile(played.dc, picture, &target);
    DeleteEnhMetaFile(picture);
    EXPECT_EQ(GetPixel(played.dc, 0, 0), RGB(200, 0, 0));
    EXPECT_GE(played.colours(32), 5u);
    // In place: a window of its own at the logo's size, the container told the size; gone
    // after Close.
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &site.pos),
              S_OK);
    auto* inPlace = as<IOleInPlaceObject>(d, IID_IOleInPlaceObject);
    HWND own = nullptr;
    inPlace->GetWindow(&own);
    RECT r{};
    GetWindowRect(own, &r);
    MapWindowPoints(nullptr, site.window, (POINT*)&r, 2);
    EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right, r.bottom}),
              std::vector<LONG>({5, 5, 37, 37}));
    EXPECT_EQ(site.reported.right - site.reported.left, 32);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_FALSE(IsWindow(own));
    EXPECT_EQ(inPlace->GetWindow(&own), E_FAIL);
    object->SetClientSite(nullptr);
    for (IUnknown* u : {(IUnknown*)quick, (IUnknown*)control, (IUnknown*)object, (IUnknown*)view,
                        (IUnknown*)inPlace, (IUnknown*)d})
        u->Release();
}

IStorage* newStorage() {
    ILockBytes* bytes = nullptr;
    IStorage* storage = nullptr;
    CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                 &storage);
    bytes->Release();  // the storage keeps it
    return storage;
}

TEST(OwnContainer, KeepsEveryKeyThroughACompoundFile) {
    // Placed (initialised once), edited, saved into a compound file.
    IDispatch* first = create();
    IStorage* storage = newStorage();
    auto* saver = as<IPersistStorage>(first, IID_IPersistStorage);
    ASSERT_EQ(saver->InitNew(storage), S_OK);
    EXPECT_EQ(saver->InitNew(storage), CO_E_ALREADYINITIALIZED);
    put(first, "TOwaitChar|s:777");
    put(first, "CommSettings|s:4800,n,8,1");
    put(first, "POSAutoTimeOut|s:042");
    ASSERT_EQ(saver->Save(storage, TRUE), S_OK);
    CLSID saved{};
    ReadClassStg(storage, &saved);
    EXPECT_TRUE(IsEqualCLSID(saved, CLSID_KorvelComTools));
    // Loaded from it into a new control: the same keys and values (the stream form holds all
    // 62; the property bag's round trip is the client test's).
    IDispatch* second = create();
    auto* loader = as<IPersistStorage>(second, IID_IPersistStorage);
    ASSERT_EQ(loader->Load(storage), S_OK);
    EXPECT_EQ(get(second, "TOwaitChar") + get(second, "POSAutoTimeOut"), "i4:777s:042");
    EXPECT_EQ(streamOf(second), streamOf(first));
    IStorage* empty = newStorage();
    EXPECT_EQ(loader->Load(empty), STG_E_FILENOTFOUND);
    for (IUnknown* u : {(IUnknown*)saver, (IUnknown*)loader, (IUnknown*)first, (IUnknown*)second,
                        (IUnknown*)storage, (IUnknown*)empty})
        u->Release();
}

// ---- The property page and the about box ---------------------------------------------------

HWND pageField(HWND page, PosField f) {
    return GetDlgItem(page, korvel::com::kPageFieldId + (int)f);
}

// The page object as a frame drives it (Wine's property frame shows pages but never applies
// them, so Apply and OK are the frame's calls here), then shown by OleCreatePropertyFrame.
TEST(PropertyPage, DrivenByMessagesChangesTheControlAsThePageModelSays) {
    IDispatch* d = create();
    auto* pages = as<ISpecifyPropertyPages>(d, IID_ISpecifyPropertyPages);
    CAUUID ids{};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(CoCreateInstance(ids.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               (void**)&page),
              S_OK);
    IUnknown* object = d;
    HWND owner = topWindow();
    const RECT area{0, 0, 640, 360};
    page->SetObjects(1, &object);
    ASSERT_EQ(page->Activate(owner, &area, TRUE), S_OK);
    HWND window =
        findWindow(owner, [](HWND w) { return hasClass(w, korvel::com::kPageWindowClass); });
    // A letter is refused by the digits-only box; a typed text, a list pick and a check box
    // click reach the model, which marks the page dirty; Apply writes them.
    HWND wait = pageField(window, PosField::txtTOwaitChar);
    SendMessageW(wait, WM_CHAR, 'x', 0);
    EXPECT_EQ(windowText(wait), L"600");
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    SetWindowTextW(wait, L"750");
    HWND port = pageField(window, PosField::txtCommPort);
    SendMessageW(port, CB_SETCURSEL, 6, 0);
    SendMessageW(window, WM_COMMAND,
                 MAKEWPARAM(korvel::com::kPageFieldId + (int)PosField::txtCommPort, CBN_SELCHANGE),
                 (LPARAM)port);
    SendMessageW(pageField(window, PosField::chkEnableEscapeKey), BM_CLICK, 0, 0);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(get(d, "TOwaitChar"), "i4:600");  // nothing written before Apply
    ASSERT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(get(d, "TOwaitChar") + " " + get(d, "CommPort") + " " + get(d, "EscapeKeyEnabled"),
              "i4:750 i2:7 bool:0");
    // OK: the frame applies and deactivates.
    SetWindowTextW(pageField(window, PosField::txtTOwaitRetry), L"1300");
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(get(d, "TOwaitRetry"), "i4:1300");
    page->Release();
    // The property frame shows the page loaded from the control; photographed, cancelled.
    W shown;
    whileModal([&] {
        HWND frame = findWindow(nullptr, [](HWND w) { return hasClass(w, L"#32770"); });
        HWND w = frame
                     ? findWindow(frame,
                                  [](HWND w) { return hasClass(w, korvel::com::kPageWindowClass); })
                     : nullptr;
        if (!w) return false;
        shown = windowText(pageField(w, PosField::txtTOwaitChar));
        screenshot(frame, "property-page");
        PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    EXPECT_EQ(OleCreatePropertyFrame(owner, 0, 0, L"KorvelComTools", 1, &object, ids.cElems,
                                     ids.pElems, 0, 0, nullptr),
              S_OK);
    EXPECT_EQ(shown, L"750");
    CoTaskMemFree(ids.pElems);
    DestroyWindow(owner);
    pages->Release(), d->Release();
}

TEST(AboutBox, ShowsTheModelFreshEachTimeHelpKeepsItOpenExitClosesIt) {
    IDispatch* d = create();
    W seen;
    for (int showing = 0; showing < 2; ++showing) {
        whileModal([&] {
            HWND box = findWindow(nullptr, [](HWND w) {
                return hasClass(w, L"#32770") && windowText(w).find(L"About") == 0;
            });
            if (!box) return false;
            const auto label = [&](int row) {
                return GetDlgItem(box, korvel::com::kAboutFirstId + row);
            };
            seen += windowText(box) + L"|" + windowText(label(1)) + L"|";
            if (showing == 0) screenshot(box, "about-box");
            SendMessageW(box, WM_COMMAND, MAKEWPARAM(korvel::com::kAboutFirstId + 7, STN_CLICKED),
                         (LPARAM)label(7));  // Help
            seen += IsWindowVisible(box) ? L"open " : L"closed ";
            SendMessageW(box, WM_COMMAND, MAKEWPARAM(korvel::com::kAboutFirstId + 8, STN_CLICKED),
                         (LPARAM)label(8));  // Exit
            return true;
        });
        DISPPARAMS none{};
        EXPECT_EQ(d->Invoke(DISPID_ABOUTBOX, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                            nullptr),
                  S_OK);
    }
    EXPECT_EQ(seen,
              L"About... KorvelComTools|Version 3.0.0 |open About... KorvelComTools|Version "
              L"3.0.0 |open ");
    d->Release();
}

}  // namespace

int main(int argc, char** argv) {
    OleInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    OleUninitialize();
    return status;
}
