// The OLE control interfaces of the COM object: the container's site and extents, in-place
// activation with a window of the control's own, drawing on any device context, ambient
// properties, quick activation, compound-file persistence and the property page's class.
// The control always shows exactly its logo: every size a container asks for is answered
// with the logo's.
#include <olectl.h>

#include <new>

#include "ComControl.h"
#include "KorvelCom_h.h"
#include "Logo.h"
#include "Module.h"
#include "PropertyPage.h"

namespace korvel::com {
namespace {

// What registration writes as MiscStatus\1, and GetMiscStatus answers.
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;
constexpr const wchar_t* kWindowClass = L"KorvelComToolsWindow";
constexpr const wchar_t* kContentsStream = L"Contents";

int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

ATOM windowClass(WNDPROC proc) {
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.hInstance = moduleHandle();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kWindowClass;
        atom = RegisterClassExW(&wc);
    }
    return atom;
}

}  // namespace

SIZEL ComControl::logoExtent() {
    const Extent px = KorvelComTools::LogoSize();
    const int dpi = screenDpi();
    return {MulDiv(px.width, 2540, dpi), MulDiv(px.height, 2540, dpi)};
}

void ComControl::paint(HDC dc, const RECT& r) {
    HBRUSH back = CreateSolidBrush(backColour_);
    FillRect(dc, &r, back);
    DeleteObject(back);
    drawControlLogo(dc, r);
}

void ComControl::readAmbients() {
    IDispatch* ambients = nullptr;
    if (!site_ || FAILED(site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambients))))
        return;
    VARIANT v;
    VariantInit(&v);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (SUCCEEDED(ambients->Invoke(DISPID_AMBIENT_BACKCOLOR, IID_NULL, LOCALE_USER_DEFAULT,
                                   DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr)) &&
        SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
        COLORREF colour;
        if (SUCCEEDED(OleTranslateColor(static_cast<OLE_COLOR>(v.lVal), nullptr, &colour)))
            backColour_ = colour;
    }
    VariantClear(&v);
    ambients->Release();
    if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void ComControl::releaseSite() {
    InPlaceDeactivate();
    release(viewSink_);
    if (oleAdvise_) oleAdvise_->SendOnClose();
    release(oleAdvise_);
    release(site_);
}

// ---- IPersistStorage ----------------------------------------------------------------------

HRESULT ComControl::InitNew(IStorage*) {
    return initialised_ ? CO_E_ALREADYINITIALIZED : InitNew();
}

HRESULT ComControl::Load(IStorage* storage) {
    if (!storage) return E_POINTER;
    IStream* stream = nullptr;
    HRESULT hr =
        storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr)) return hr;
    hr = Load(stream);
    stream->Release();
    return hr;
}

HRESULT ComControl::Save(IStorage* storage, BOOL) {
    if (!storage) return E_POINTER;
    HRESULT hr = WriteClassStg(storage, CLSID_KorvelComTools);
    IStream* stream = nullptr;
    if (SUCCEEDED(hr))
        hr = storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                   0, 0, &stream);
    if (FAILED(hr)) return hr;
    hr = Save(stream, TRUE);
    stream->Release();
    return hr;
}

HRESULT ComControl::SaveCompleted(IStorage*) {
    return S_OK;
}

HRESULT ComControl::HandsOffStorage() {
    return S_OK;  // the control keeps no storage open between calls
}

// ---- IOleObject ---------------------------------------------------------------------------

HRESULT ComControl::SetClientSite(IOleClientSite* site) {
    if (site == site_) return S_OK;
    if (!site) {
        releaseSite();
        return S_OK;
    }
    if (site_) site_->Release();
    site_ = site;
    site_->AddRef();
    readAmbients();
    return S_OK;
}

HRESULT ComControl::GetClientSite(IOleClientSite** out) {
    if (!out) return E_POINTER;
    *out = site_;
    if (site_) site_->AddRef();
    return S_OK;
}

HRESULT ComControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

HRESULT ComControl::Close(DWORD saveOption) {
    InPlaceDeactivate();
    if (site_ && dirty_ &&
        (saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE))
        site_->SaveObject();
    if (oleAdvise_) oleAdvise_->SendOnClose();
    release(viewSink_);
    return S_OK;
}

HRESULT ComControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

HRESULT ComControl::GetMoniker(DWORD, DWORD, IMoniker** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT ComControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

HRESULT ComControl::GetClipboardData(DWORD, IDataObject** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT ComControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT) {
    if (site && !site_) SetClientSite(site);
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return activateInPlace();
        case OLEIVERB_HIDE:
            return InPlaceDeactivate();
        case OLEIVERB_PROPERTIES: {
            IUnknown* self = static_cast<IDispatch*>(this);
            CLSID page = kClsidPosPage;
            return OleCreatePropertyFrame(parent, 0, 0, L"KorvelComTools", 1, &self, 1, &page,
                                          LOCALE_USER_DEFAULT, 0, nullptr);
        }
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT ComControl::EnumVerbs(IEnumOLEVERB** out) {
    return OleRegEnumVerbs(CLSID_KorvelComTools, out);
}

HRESULT ComControl::Update() {
    return S_OK;
}

HRESULT ComControl::IsUpToDate() {
    return S_OK;
}

HRESULT ComControl::GetUserClassID(CLSID* out) {
    return GetClassID(out);
}

HRESULT ComControl::GetUserType(DWORD form, LPOLESTR* out) {
    return OleRegGetUserType(CLSID_KorvelComTools, form, out);
}

HRESULT ComControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    // The resize rule: whatever the container asks, the control takes its logo's size again.
    control_.Resize();
    return S_OK;
}

HRESULT ComControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = logoExtent();
    return S_OK;
}

HRESULT ComControl::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (!oleAdvise_ && FAILED(CreateOleAdviseHolder(&oleAdvise_))) return E_OUTOFMEMORY;
    return oleAdvise_->Advise(sink, cookie);
}

HRESULT ComControl::Unadvise(DWORD cookie) {
    return oleAdvise_ ? oleAdvise_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

HRESULT ComControl::EnumAdvise(IEnumSTATDATA** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return oleAdvise_ ? oleAdvise_->EnumAdvise(out) : S_OK;
}

HRESULT ComControl::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

HRESULT ComControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// ---- In-place activation ------------------------------------------------------------------

HRESULT ComControl::activateInPlace() {
    if (!site_) return E_UNEXPECTED;
    if (window_) {
        ShowWindow(window_, SW_SHOW);
        return S_OK;
    }
    IOleInPlaceSite* site = nullptr;
    if (FAILED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
        return E_NOINTERFACE;
    HWND parent = nullptr;
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    if (site->CanInPlaceActivate() != S_OK || FAILED(site->OnInPlaceActivate())) {
        site->Release();
        return E_FAIL;
    }
    HRESULT hr = site->GetWindow(&parent);
    if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame, &document, &pos, &clip, &info);
    release(frame);
    release(document);
    if (SUCCEEDED(hr) && windowClass(&ComControl::windowProc)) {
        const Extent px = KorvelComTools::LogoSize();
        window_ =
            CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left,
                            pos.top, px.width, px.height, parent, nullptr, moduleHandle(), this);
    }
    if (!window_) {
        site->OnInPlaceDeactivate();
        site->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    inPlaceSite_ = site;
    SetObjectRects(&pos, &clip);
    return S_OK;
}

LRESULT CALLBACK ComControl::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    auto* self = reinterpret_cast<ComControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_PAINT && self) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        self->paint(dc, r);
        EndPaint(window, &ps);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;  // WM_PAINT covers every pixel
    return DefWindowProcW(window, message, w, l);
}

HRESULT ComControl::GetWindow(HWND* out) {
    if (!out) return E_POINTER;
    *out = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT ComControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

HRESULT ComControl::InPlaceDeactivate() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (inPlaceSite_) {
        inPlaceSite_->OnInPlaceDeactivate();
        release(inPlaceSite_);
    }
    return S_OK;
}

HRESULT ComControl::UIDeactivate() {
    return S_OK;  // no menus or tools of its own
}

HRESULT ComControl::SetObjectRects(LPCRECT pos, LPCRECT) {
    if (!pos) return E_POINTER;
    control_.Resize();
    const Extent px = control_.Size();
    if (window_)
        SetWindowPos(window_, nullptr, pos->left, pos->top, px.width, px.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (inPlaceSite_ &&
        (pos->right - pos->left != px.width || pos->bottom - pos->top != px.height)) {
        const RECT own = {pos->left, pos->top, pos->left + px.width, pos->top + px.height};
        inPlaceSite_->OnPosRectChange(&own);
    }
    return S_OK;
}

HRESULT ComControl::ReactivateAndUndo() {
    return INPLACE_E_NOTUNDOABLE;
}

HRESULT ComControl::TranslateAccelerator(LPMSG) {
    return S_FALSE;
}

HRESULT ComControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}

HRESULT ComControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}

HRESULT ComControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}

HRESULT ComControl::EnableModeless(BOOL) {
    return S_OK;
}

// ---- IOleControl --------------------------------------------------------------------------

HRESULT ComControl::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT ComControl::OnMnemonic(MSG*) {
    return E_NOTIMPL;
}

HRESULT ComControl::OnAmbientPropertyChange(DISPID id) {
    if (id == DISPID_AMBIENT_BACKCOLOR || id == DISPID_UNKNOWN) readAmbients();
    return S_OK;
}

HRESULT ComControl::FreezeEvents(BOOL freeze) {
    if (freeze)
        ++frozen_;
    else if (frozen_ > 0)
        --frozen_;
    return S_OK;
}

// ---- IViewObject2 -------------------------------------------------------------------------

HRESULT ComControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                         LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc) return E_INVALIDARG;
    RECT r;
    if (bounds)
        r = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    else if (window_)
        GetClientRect(window_, &r);
    else
        return E_INVALIDARG;
    const int saved = SaveDC(dc);
    paint(dc, r);
    RestoreDC(dc, saved);
    return S_OK;
}

HRESULT ComControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) {
    if (out) *out = nullptr;
    return S_FALSE;  // no palette of its own
}

HRESULT ComControl::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}

HRESULT ComControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

HRESULT ComControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    if (sink) sink->AddRef();
    release(viewSink_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

HRESULT ComControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) {
        *sink = viewSink_;
        if (viewSink_) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT ComControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// ---- IQuickActivate -----------------------------------------------------------------------

HRESULT ComControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    if (container->cbSize < offsetof(QACONTAINER, pFont) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    COLORREF colour;
    if (SUCCEEDED(OleTranslateColor(container->colorBack, nullptr, &colour))) backColour_ = colour;
    if (container->pClientSite) {
        if (site_) site_->Release();
        site_ = container->pClientSite;
        site_->AddRef();
    }
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    if (container->pUnkEventSink) events_.Advise(container->pUnkEventSink, &control->dwEventCookie);
    if (container->pPropertyNotifySink)
        notify_.Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
    control->dwMiscStatus = kMiscStatus;
    control->dwViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

HRESULT ComControl::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}

HRESULT ComControl::GetContentExtent(LPSIZEL size) {
    return GetExtent(DVASPECT_CONTENT, size);
}

// ---- ISpecifyPropertyPages ----------------------------------------------------------------

HRESULT ComControl::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = kClsidPosPage;
    return S_OK;
}

}  // namespace korvel::com
