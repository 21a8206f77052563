// Test-only: lets a script that cannot bind events (Wine's script host) receive the control's.
// `Set f = CreateObject("KorvelComTest.Events")`, `f.Connect control, handlerObject`: each
// event then calls the handler's method of the same name (ErrorEvent's argument by reference).
// Registered only in the test prefix, by scripts/windows-com.sh; never shipped.
#include <windows.h>

#include <dispex.h>
#include <ocidl.h>

#include "KorvelCom_h.h"

namespace {

// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}: not in mingw-w64's libuuid.
const IID kIDispatchEx = {
    0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};
// {6A1B5D4E-3C2F-4E8A-9B7D-1F0E2D3C4B5A}: the forwarder's class.
const CLSID kClsid = {0x6a1b5d4e, 0x3c2f, 0x4e8a, {0x9b, 0x7d, 0x1f, 0x0e, 0x2d, 0x3c, 0x4b, 0x5a}};

struct Object : IDispatch {
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID___KorvelComTools)
            return *out = nullptr, E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&refs);
        if (n == 0) delete this;
        return n;
    }
    virtual ~Object() = default;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                            DISPID* id) override {
        *id = lstrcmpiW(names[0], L"Connect") == 0 ? 1 : DISPID_UNKNOWN;
        return *id == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
};

// The sink advised on the control: calls the handler's method named like the event.
struct Sink : Object {
    IDispatch* handler;
    explicit Sink(IDispatch* h) : handler(h) { handler->AddRef(); }
    ~Sink() override { handler->Release(); }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        static const wchar_t* names[] = {L"", L"ReceivedEvent", L"ErrorEvent",
                                         L"AbortEnabledEvent"};
        if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
        BSTR name = SysAllocString(names[id]);
        // A script's variable holds a variant: ErrorEvent's string goes by reference through one.
        VARIANT text, arg;
        VariantInit(&text);
        if (id == 2) {
            text.vt = VT_BSTR;
            text.bstrVal = SysAllocString(*p->rgvarg[0].pbstrVal);
            arg.vt = VT_BYREF | VT_VARIANT;
            arg.pvarVal = &text;
        }
        DISPPARAMS args{&arg, nullptr, id == 2 ? 1u : 0u, 0};
        DISPID member = DISPID_UNKNOWN;
        IDispatchEx* ex = nullptr;
        HRESULT hr;
        if (SUCCEEDED(handler->QueryInterface(kIDispatchEx, (void**)&ex))) {
            hr = ex->GetDispID(name, fdexNameCaseInsensitive, &member);
            if (SUCCEEDED(hr))
                hr = ex->InvokeEx(member, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &args, nullptr,
                                  nullptr, nullptr);
            ex->Release();
        } else {
            hr = handler->GetIDsOfNames(IID_NULL, &name, 1, 0, &member);
            if (SUCCEEDED(hr))
                hr = handler->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &args, nullptr, nullptr,
                                     nullptr);
        }
        if (id == 2 && SUCCEEDED(VariantChangeType(&text, &text, 0, VT_BSTR))) {
            SysFreeString(*p->rgvarg[0].pbstrVal);
            *p->rgvarg[0].pbstrVal = SysAllocString(text.bstrVal);
        }
        VariantClear(&text);
        SysFreeString(name);
        return hr;
    }
};

// The script's object: Connect(control, handler) advises a sink that lives with the control.
struct Forwarder : Object {
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        if (id != 1) return DISP_E_MEMBERNOTFOUND;
        if (p->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        VARIANT control, handler;
        VariantInit(&control), VariantInit(&handler);
        HRESULT hr = VariantChangeType(&control, &p->rgvarg[1], 0, VT_DISPATCH);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&handler, &p->rgvarg[0], 0, VT_DISPATCH);
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(hr))
            hr =
                control.pdispVal->QueryInterface(IID_IConnectionPointContainer, (void**)&container);
        if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID___KorvelComTools, &point);
        if (SUCCEEDED(hr)) {
            Sink* sink = new Sink(handler.pdispVal);
            DWORD cookie = 0;
            hr = point->Advise(sink, &cookie);
            sink->Release();
            point->Release();
        }
        if (container) container->Release();
        VariantClear(&control), VariantClear(&handler);
        return hr;
    }
};

struct Factory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return *out = nullptr, E_NOINTERFACE;
        return *out = this, S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
        Forwarder* f = new Forwarder;
        const HRESULT hr = f->QueryInterface(riid, out);
        f->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, out);
}

// Stays loaded for the process: scripts are short.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}
