// The COM object of KorvelComTools: one control on the creating thread's platform, reached
// through IDispatch over the automation member table, with its events on connection points,
// its persisted properties in a property bag, a stream or a compound file, and the OLE control
// interfaces a form container places it with (OleControl.cpp).  Behaviour: docs/com.md.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleauto.h>

#include <atomic>

#include "ConnectionPoint.h"
#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel::com {

class ComControl : public IDispatch,
                   public IProvideClassInfo2,
                   public ISupportErrorInfo,
                   public IConnectionPointContainer,
                   public IPersistStreamInit,
                   public IPersistPropertyBag,
                   public IPersistStorage,
                   public IOleObject,
                   public IOleInPlaceObject,
                   public IOleInPlaceActiveObject,
                   public IOleControl,
                   public IViewObject2,
                   public IQuickActivate,
                   public ISpecifyPropertyPages,
                   private KorvelComToolsEvents {
  public:
    /// A control with its creation defaults, on this thread's platform; one reference.
    ComControl();
    ComControl(const ComControl&) = delete;
    ComControl& operator=(const ComControl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch over the member table.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
    /// Member names case-insensitively, then parameter names (their positions); unknown names
    /// give DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    /// Calls the member: DISP_E_MEMBERNOTFOUND (no such id and kind), DISP_E_BADPARAMCOUNT,
    /// DISP_E_PARAMNOTFOUND (a named argument it does not have), DISP_E_PARAMNOTOPTIONAL,
    /// DISP_E_TYPEMISMATCH (`argErr`: the argument's index in DISPPARAMS), DISP_E_EXCEPTION
    /// with EXCEPINFO and IErrorInfo when the call itself fails.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override;

    // ISupportErrorInfo: S_OK for the automation interface.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IConnectionPointContainer: __KorvelComTools and IPropertyNotifySink.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* out) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    /// Loads a stream saved by `Save`; E_FAIL for another format or version or a malformed
    /// payload, STG_E_READFAULT for a stream that ends early; the control then keeps what it
    /// had.
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IPersistStorage: the stream form in the storage's stream "Contents".  `InitNew` (either
    // form) after an initialisation or a load gives CO_E_ALREADYINITIALIZED (storage) or
    // E_UNEXPECTED (stream); a storage without the stream gives STG_E_FILENOTFOUND.
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* storage) override;
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

    // IOleObject.  Extents are HIMETRIC (0.01 mm); the control's is always its logo's.
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** out) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    /// Leaves in-place activation, saves first when asked and dirty, and lets go of the
    /// container's sinks; the port closes when the last reference goes.
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override;
    /// Primary, show, in-place and UI activation open the control's window in the site's
    /// window; hide closes it; properties shows the property page.  Other verbs:
    /// OLEOBJ_S_INVALIDVERB.  E_UNEXPECTED without a client site.
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                     LPCRECT posRect) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** out) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* out) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* out) override;
    /// Any size asked for is answered with the logo's: the control keeps its logo's size.
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** out) override;
    /// The registered status: recompose on resize, can't link inside, inside-out, activate
    /// when visible, set client site first.
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject: the control's own window exists
    // only while it is in-place active.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    /// Places the window at the rectangle's origin at the logo's size; when the container
    /// gave another size, tells it the logo's through `OnPosRectChange`.
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override;

    // IOleControl: no mnemonics; the ambient back colour paints behind the logo; frozen
    // events are not raised.
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

    // IViewObject2: the content aspect, drawn on any device context at the bounds given.
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                   LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                   ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                          LOGPALETTE**) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;

    // IQuickActivate: the site, the ambients, the view sink, the event and notification sinks
    // in one call.
    HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL size) override;
    HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL size) override;

    // ISpecifyPropertyPages: the POS page.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    /// The portable control, for the property page object of this DLL.
    KorvelComTools& control() { return control_; }
    /// The logo's size in HIMETRIC.
    static SIZEL logoExtent();

  private:
    ~ComControl();

    HRESULT call(const Member& m, DISPPARAMS& params, VARIANT* result, EXCEPINFO* excep,
                 UINT* argErr);
    HRESULT fail(const std::string& description, EXCEPINFO* excep);
    HRESULT typeLibrary(ITypeLib** out);
    // Calls `id` with `args` on every advised event sink, in the order advised.
    void fire(DISPID id, VARIANT* args, UINT count);
    void propertyChanged(const std::string& name);

    // KorvelComToolsEvents
    void ReceivedEvent() override;
    void ErrorEvent(std::string& errType) override;
    void AbortEnabledEvent() override;

    // OleControl.cpp
    HRESULT activateInPlace();
    void readAmbients();
    void paint(HDC dc, const RECT& r);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    void releaseSite();

    std::atomic<ULONG> refs_{1};
    KorvelComTools control_;
    ConnectionPoint events_;
    ConnectionPoint notify_;
    bool dirty_ = false;
    bool initialised_ = false;  // InitNew or a load happened
    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;  // while in-place active
    IOleAdviseHolder* oleAdvise_ = nullptr;
    IAdviseSink* viewSink_ = nullptr;
    DWORD viewAspects_ = 0, viewFlags_ = 0;
    HWND window_ = nullptr;
    COLORREF backColour_;  // the container's ambient back colour
    LONG frozen_ = 0;      // FreezeEvents depth
};

/// What QueryInterface answers with the ComControl itself (no reference counted interface of
/// its own): the property page reaches the portable control through it, in this DLL only.
inline constexpr IID kIidComControl = {
    0x8d3b1f20, 0x6a41, 0x4c5e, {0x9b, 0x2a, 0x51, 0x7e, 0x0c, 0x44, 0xd3, 0x19}};

}  // namespace korvel::com
