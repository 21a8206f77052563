// The COM object of KorvelComTools: one control on the creating thread's platform, reached
// through IDispatch over the automation member table, with its events on connection points
// and its persisted properties in a property bag or a stream.  Behaviour: docs/com.md.
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

    std::atomic<ULONG> refs_{1};
    KorvelComTools control_;
    ConnectionPoint events_;
    ConnectionPoint notify_;
    bool dirty_ = false;
};

}  // namespace korvel::com
